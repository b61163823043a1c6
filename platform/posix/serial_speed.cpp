// Line speeds through termios2 (TCGETS2/TCSETS2), which carries the rate in baud beside the
// speed bits of the line's flags.
#include "platform/posix/serial_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <optional>

namespace plat::posix {
namespace {

struct Rate {
  std::uint32_t baud;
  tcflag_t speed;
};
constexpr Rate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<tcflag_t> SpeedConstant(std::uint32_t baud) {
  for (const Rate& r : kRates) {
    if (r.baud == baud) return r.speed;
  }
  return std::nullopt;
}

}  // namespace

void SetExactSpeed(int fd, std::uint32_t baud) {
  if (baud == 0) return;
  termios2 t{};
  if (ioctl(fd, TCGETS2, &t) != 0) return;
  // The constant where there is one, so that a driver without free rates takes it too. The
  // input speed bits cleared: the input speed follows the output speed.
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= SpeedConstant(baud).value_or(BOTHER);
  t.c_ispeed = baud;
  t.c_ospeed = baud;
  ioctl(fd, TCSETS2, &t);
}

std::uint32_t LineSpeed(int fd) {
  termios2 t{};
  return ioctl(fd, TCGETS2, &t) == 0 ? t.c_ospeed : 0;
}

}  // namespace plat::posix
