// The far end of a serial line: pseudo-terminal pairs and serial devices.
#include "sim/serial_end.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/clock.h"
#include "platform/posix/serial_speed.h"
#include "platform/posix/serial_termios.h"

namespace sim {

namespace posix = plat::posix;
using plat::SerialDevicePath;
using plat::SerialLineSettings;
using plat::TickCount;
using posix::UniqueFd;

namespace {

// Milliseconds left of a wait that began at start, never negative.
int Remaining(std::uint32_t start, std::int32_t timeoutMs) {
  const auto waited = static_cast<std::int64_t>(TickCount() - start);
  return waited >= timeoutMs ? 0 : static_cast<int>(timeoutMs - waited);
}

}  // namespace

std::unique_ptr<SerialEnd> SerialEnd::CreatePty() {
  UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!master) return nullptr;
  char name[128];
  const int m = master.get();
  if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
    return nullptr;
  }
  UniqueFd keeper(open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!keeper) return nullptr;
  // Raw from the start, so that bytes sent before a program opens the port are not echoed.
  termios t{};
  if (tcgetattr(keeper.get(), &t) == 0) {
    cfmakeraw(&t);
    tcsetattr(keeper.get(), TCSANOW, &t);
  }
  constexpr std::string_view kDev = "/dev/";
  std::string_view path(name);
  if (path.starts_with(kDev)) path.remove_prefix(kDev.size());
  return std::make_unique<SerialEnd>(Token{}, std::move(master), std::move(keeper),
                                     std::string(path), std::nullopt);
}

std::unique_ptr<SerialEnd> SerialEnd::OpenDevice(const char* portName,
                                                 const SerialLineSettings& settings) {
  const std::string path = SerialDevicePath(portName);
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return nullptr;
  // The lock keeps out a tool of ours (and every program that honours it); exclusive terminal
  // mode keeps out other openers that do not look at locks.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return nullptr;
  ioctl(fd.get(), TIOCEXCL);
  std::optional<termios> found;
  termios t{};
  if (tcgetattr(fd.get(), &t) == 0) found = t;
  const std::uint32_t foundSpeed = posix::LineSpeed(fd.get());
  posix::SetLineSettings(fd.get(), settings);
  return std::make_unique<SerialEnd>(Token{}, std::move(fd), UniqueFd(), portName, found,
                                     foundSpeed);
}

SerialEnd::SerialEnd(Token, UniqueFd fd, UniqueFd keeper, std::string portName,
                     std::optional<termios> found, std::uint32_t foundSpeed)
    : fd_(std::move(fd)),
      keeper_(std::move(keeper)),
      portName_(std::move(portName)),
      found_(found),
      foundSpeed_(foundSpeed) {}

// A device goes back as it was found, open to others; closing the descriptor drops the lock.
SerialEnd::~SerialEnd() {
  if (keeper_) return;  // a pair: it goes with its descriptors
  if (found_) {
    tcsetattr(fd_.get(), TCSANOW, &*found_);
    // The saved attributes cannot carry a rate without a speed constant; it goes back by itself.
    if (posix::LineSpeed(fd_.get()) != foundSpeed_) posix::SetExactSpeed(fd_.get(), foundSpeed_);
  }
  ioctl(fd_.get(), TIOCNXCL);
}

std::size_t SerialEnd::Read(std::span<std::uint8_t> dest, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  for (;;) {
    const ssize_t got = read(fd_.get(), dest.data(), dest.size());
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return 0;
    const int left = Remaining(start, timeoutMs);
    if (left == 0) return 0;
    pollfd p{fd_.get(), POLLIN, 0};
    poll(&p, 1, left);
  }
}

bool SerialEnd::Write(std::span<const std::uint8_t> bytes, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  while (!bytes.empty()) {
    const ssize_t sent = write(fd_.get(), bytes.data(), bytes.size());
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int left = Remaining(start, timeoutMs);
    if (left == 0) return false;
    pollfd p{fd_.get(), POLLOUT, 0};
    poll(&p, 1, left);
  }
  return true;
}

}  // namespace sim
