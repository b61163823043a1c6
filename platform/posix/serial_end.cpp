// The far end of a serial line: pseudo-terminal pairs and serial devices.
#include "platform/serial_end.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/clock.h"
#include "platform/posix/serial_termios.h"

namespace plat {
namespace {

// Milliseconds left of a wait that began at start, never negative.
int Remaining(std::uint32_t start, std::int32_t timeoutMs) {
  const auto waited = static_cast<std::int64_t>(TickCount() - start);
  return waited >= timeoutMs ? 0 : static_cast<int>(timeoutMs - waited);
}

}  // namespace

std::unique_ptr<SerialEnd> SerialEnd::CreatePty() {
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
  return std::make_unique<SerialEnd>(Token{}, master, keeper, std::string(path));
}

std::unique_ptr<SerialEnd> SerialEnd::OpenDevice(const char* portName,
                                                 const SerialLineSettings& settings) {
  const std::string path = SerialDevicePath(portName);
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return nullptr;
  }
  posix::SetLineSettings(fd, settings);
  return std::make_unique<SerialEnd>(Token{}, fd, -1, portName);
}

SerialEnd::SerialEnd(Token, int fd, int keeper, std::string portName)
    : fd_(fd), keeper_(keeper), portName_(std::move(portName)) {}

SerialEnd::~SerialEnd() {
  if (keeper_ >= 0) close(keeper_);
  close(fd_);  // also drops a device's lock
}

std::size_t SerialEnd::Read(std::span<std::uint8_t> dest, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  for (;;) {
    const ssize_t got = read(fd_, dest.data(), dest.size());
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return 0;
    const int left = Remaining(start, timeoutMs);
    if (left == 0) return 0;
    pollfd p{fd_, POLLIN, 0};
    poll(&p, 1, left);
  }
}

bool SerialEnd::Write(std::span<const std::uint8_t> bytes, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  while (!bytes.empty()) {
    const ssize_t sent = write(fd_, bytes.data(), bytes.size());
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int left = Remaining(start, timeoutMs);
    if (left == 0) return false;
    pollfd p{fd_, POLLOUT, 0};
    poll(&p, 1, left);
  }
  return true;
}

}  // namespace plat
