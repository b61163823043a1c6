// Pseudo-terminal pairs that stand in for a serial line.
#include "platform/serial_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/clock.h"

namespace plat {
namespace {

// Milliseconds left of a wait that began at start, never negative.
int Remaining(std::uint32_t start, std::int32_t timeoutMs) {
  const auto waited = static_cast<std::int64_t>(TickCount() - start);
  return waited >= timeoutMs ? 0 : static_cast<int>(timeoutMs - waited);
}

}  // namespace

std::unique_ptr<SerialPty> SerialPty::Create() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (master < 0) return nullptr;
  char name[128];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    close(master);
    return nullptr;
  }
  const int keeper = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (keeper < 0) {
    close(master);
    return nullptr;
  }
  // Raw from the start, so that bytes sent before a program opens the port are not echoed.
  termios t{};
  if (tcgetattr(keeper, &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(keeper, TCSANOW, &t);
  }
  constexpr std::string_view kDev = "/dev/";
  std::string_view path(name);
  if (path.starts_with(kDev)) path.remove_prefix(kDev.size());
  return std::make_unique<SerialPty>(Token{}, master, keeper, std::string(path));
}

SerialPty::SerialPty(Token, int master, int keeper, std::string portName)
    : master_(master), keeper_(keeper), portName_(std::move(portName)) {}

SerialPty::~SerialPty() {
  close(keeper_);
  close(master_);
}

std::size_t SerialPty::Read(std::span<std::uint8_t> dest, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  for (;;) {
    const ssize_t got = read(master_, dest.data(), dest.size());
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return 0;
    const int left = Remaining(start, timeoutMs);
    if (left == 0) return 0;
    pollfd p{master_, POLLIN, 0};
    poll(&p, 1, left);
  }
}

bool SerialPty::Write(std::span<const std::uint8_t> bytes, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  while (!bytes.empty()) {
    const ssize_t sent = write(master_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int left = Remaining(start, timeoutMs);
    if (left == 0) return false;
    pollfd p{master_, POLLOUT, 0};
    poll(&p, 1, left);
  }
  return true;
}

}  // namespace plat
