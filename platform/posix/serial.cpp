// POSIX serial ports behind the serial link's seam (Linux): exclusive open, raw line settings,
// and an end-of-frame event that the port provides itself by watching the received bytes.
#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

#include "platform/clock.h"
#include "platform/posix/serial_speed.h"
#include "platform/posix/serial_termios.h"
#include "platform/posix/wait_fd.h"

namespace plat {

// The terminal interface has no event character, so the port keeps its own receive queue, the
// way a serial driver does: every call moves what has arrived into it, and the end-of-frame event
// is an event character among the bytes queued since the port was armed.
struct SerialPort {
  // Beyond this many unread bytes nothing more is taken from the system, which holds the rest.
  static constexpr std::size_t kQueueLimit = std::size_t{64} * 1024;

  SerialPort(int descriptor, std::optional<termios> original)
      : fd(descriptor), saved(original), savedSpeed(posix::LineSpeed(descriptor)) {}
  ~SerialPort() {
    if (saved) tcsetattr(fd, TCSANOW, &*saved);
    // Attributes hold a rate without a speed constant only as "a free rate", and putting them
    // back keeps the rate the line has now: such a rate is put back by itself.
    if (saved && posix::LineSpeed(fd) != savedSpeed) posix::SetExactSpeed(fd, savedSpeed);
    ioctl(fd, TIOCNXCL);
    close(fd);  // also drops the lock
  }
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Moves the bytes that have arrived into the queue. False when the line can bring no more:
  // it has hung up, or it failed.
  bool Drain() {
    std::array<std::uint8_t, 4096> chunk;
    while (queue.size() < kQueueLimit) {
      const std::size_t room = std::min(chunk.size(), kQueueLimit - queue.size());
      const ssize_t got = read(fd, chunk.data(), room);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;  // nothing more now
      if (got <= 0) return false;
      queue.insert(queue.end(), chunk.begin(), chunk.begin() + got);
    }
    return true;
  }

  // Whether the event character is among the bytes queued since arming; a report is given once,
  // the next one needs a new arrival.
  bool TakeEvent() {
    if (!watchFrom) return false;
    const auto from = queue.begin() + static_cast<std::ptrdiff_t>(*watchFrom);
    if (std::find(from, queue.end(), eventChar) == queue.end()) return false;
    watchFrom = queue.size();
    return true;
  }

  int fd;
  std::optional<termios> saved;
  std::uint32_t savedSpeed;  // in baud
  std::vector<std::uint8_t> queue;
  std::uint8_t eventChar = 0;
  // Queue position from which an event character counts; nothing while the port is not armed.
  std::optional<std::size_t> watchFrom;
};

namespace posix {
namespace {

constexpr std::array<tcflag_t, 4> kByteSizes = {CS5, CS6, CS7, CS8};  // 5 to 8 data bits
// Mark and space parity need "stick" parity: the parity bit is then fixed by PARODD.
constexpr std::array<tcflag_t, 5> kParities = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                               PARENB | CMSPAR};
constexpr tcflag_t kParityMask = PARENB | PARODD | CMSPAR;
constexpr std::array<tcflag_t, 3> kStopBits = {0, CSTOPB, CSTOPB};  // one, one and a half, two

void Replace(tcflag_t& flags, tcflag_t mask, tcflag_t value) { flags = (flags & ~mask) | value; }

}  // namespace

void ApplyLineSettings(termios& t, const SerialLineSettings& s) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXON | IXOFF | IXANY);
  t.c_iflag |= INPCK;
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD;
  if (s.byteSize >= 5 && s.byteSize <= 8) Replace(t.c_cflag, CSIZE, kByteSizes[s.byteSize - 5u]);
  if (s.parity < kParities.size()) Replace(t.c_cflag, kParityMask, kParities[s.parity]);
  if (s.stopBits < kStopBits.size()) Replace(t.c_cflag, CSTOPB, kStopBits[s.stopBits]);
}

void SetLineSettings(int fd, const SerialLineSettings& settings) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;  // not a terminal: nothing to set
  ApplyLineSettings(t, settings);
  tcsetattr(fd, TCSANOW, &t);  // applies what the device accepts; the queue is kept
  SetExactSpeed(fd, settings.baud);
}

}  // namespace posix

std::string SerialDevicePath(std::string_view portName) {
  // "COMn" (any case, n from 1) is the n-th serial port, so the tools' default "COM1" works.
  constexpr std::string_view kCom = "com";
  if (portName.size() > kCom.size() &&
      std::equal(kCom.begin(), kCom.end(), portName.begin(),
                 [](char k, char c) { return k == std::tolower(static_cast<unsigned char>(c)); })) {
    const std::string_view digits = portName.substr(kCom.size());
    unsigned long n = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec == std::errc() && end == digits.data() + digits.size() && n >= 1) {
      return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return "/dev/" + std::string(portName);
}

SerialHandle OpenSerialPort(const char* portName) {
  const std::string path = SerialDevicePath(portName);
  // Non-blocking: neither the open nor a read may wait for the modem lines or for data.
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidSerial;
  // The lock keeps out a second program of ours (and every program that honours it); exclusive
  // terminal mode keeps out other openers that do not look at locks.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return kInvalidSerial;
  }
  ioctl(fd, TIOCEXCL);
  termios original{};
  const bool isTerminal = tcgetattr(fd, &original) == 0;
  auto port = std::make_unique<SerialPort>(fd, isTerminal ? std::optional(original) : std::nullopt);
  return port.release();  // owned through the handle until CloseSerialPort
}

void CloseSerialPort(SerialHandle port) { std::unique_ptr<SerialPort> owned(port); }

void ConfigureSerialPort(SerialHandle port, const SerialLineSettings& settings) {
  if (port == kInvalidSerial) return;
  port->eventChar = settings.eventChar;
  posix::SetLineSettings(port->fd, settings);
}

void OpenCompletion(Overlapped& record) { record = Overlapped{}; }
void CloseCompletion(Overlapped& record) { record = Overlapped{}; }

void ArmSerialEvent(SerialHandle port) {
  if (port == kInvalidSerial) return;
  // Bytes still held by the system arrived after the last call, which at the latest was the
  // write of the request's terminator: they count as arriving now. The writes move everything
  // that came before into the queue, so an answer that came too late for the previous request
  // does not end the wait, while an answer that beats the arming does.
  port->watchFrom = port->queue.size();
}

bool LookForSerialEvent(SerialHandle port, Overlapped& /*read*/) {
  if (port == kInvalidSerial || !port->watchFrom) return false;
  port->Drain();
  return port->TakeEvent();
}

WaitResult WaitForSerialEvent(SerialHandle port, Overlapped& /*read*/, std::int32_t timeoutMs) {
  const std::uint32_t start = TickCount();
  for (;;) {
    const bool open = port != kInvalidSerial && port->Drain();
    if (port != kInvalidSerial && port->TakeEvent()) return WaitResult::Ready;
    std::int32_t left = kWaitForever;
    if (timeoutMs >= 0) {
      const std::uint32_t waited = TickCount() - start;
      if (waited >= static_cast<std::uint32_t>(timeoutMs)) return WaitResult::TimedOut;
      left = static_cast<std::int32_t>(static_cast<std::uint32_t>(timeoutMs) - waited);
    }
    // A line that has hung up or failed, and a full queue, report readable at once without
    // bringing a byte; then, as without arming, only the time or a request to end can end it.
    const bool more = open && port->watchFrom && port->queue.size() < SerialPort::kQueueLimit;
    const WaitResult waited = posix::WaitFd(more ? port->fd : -1, POLLIN, left);
    if (waited != WaitResult::Ready) return waited;
  }
}

std::size_t SerialQueueCount(SerialHandle port) {
  if (port == kInvalidSerial) return 0;
  // Bytes with line errors arrive as NUL bytes (no parity marking), so there is no separate
  // error state to clear.
  port->Drain();
  return port->queue.size();
}

std::size_t ReadSerial(SerialHandle port, Overlapped& /*read*/, std::span<std::uint8_t> dest) {
  if (port == kInvalidSerial) return 0;
  const std::size_t n = std::min(dest.size(), port->queue.size());
  std::copy_n(port->queue.begin(), n, dest.begin());
  port->queue.erase(port->queue.begin(), port->queue.begin() + static_cast<std::ptrdiff_t>(n));
  if (port->watchFrom) port->watchFrom = *port->watchFrom - std::min(*port->watchFrom, n);
  return n;
}

bool WriteSerialByte(SerialHandle port, Overlapped& /*write*/, std::uint8_t byte,
                     std::int32_t timeoutMs) {
  if (port == kInvalidSerial) return false;
  port->Drain();  // what arrives while the request goes out came before its answer
  const std::uint32_t start = TickCount();
  for (;;) {
    const ssize_t sent = ::write(port->fd, &byte, 1);
    if (sent == 1) return true;
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // The output is full: wait for room, but never longer than the time-out in all, and not
    // at all once the run is asked to end.
    const auto waited = static_cast<std::int64_t>(TickCount() - start);
    if (waited >= timeoutMs) return false;
    if (posix::WaitFd(port->fd, POLLOUT, static_cast<std::int32_t>(timeoutMs - waited)) ==
        WaitResult::Terminated) {
      return false;
    }
  }
}

}  // namespace plat
