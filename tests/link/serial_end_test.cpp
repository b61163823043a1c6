// The emulator's end of a serial line on a device: it holds the port alone while it has it and
// gives the port back as it found it. The device is the program's side of a pseudo-terminal pair,
// whose other side stands in for the tool's port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "extcmd/zanto_extcmd_if.h"
#include "platform/posix/unique_fd.h"
#include "sim/serial_end.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using sim::SerialEnd;

constexpr int kTimeoutMs = 400;
constexpr plat::SerialLineSettings k9600{9600, 8, 0, 0, SERIAL_TERMINATOR};

// Whether the port is in exclusive terminal mode, as another opener finds it: refused, or (for a
// privileged opener, which gets past) told so.
bool Exclusive(const std::string& portName) {
  const plat::posix::UniqueFd fd(
      open(("/dev/" + portName).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return errno == EBUSY;
  int exclusive = 0;
  EXPECT_EQ(ioctl(fd.get(), TIOCGEXCL, &exclusive), 0);
  return exclusive != 0;
}

TEST(SerialEndDevice, CarriesBytesBothWaysAndHoldsThePortAlone) {
  const auto pair = SerialEnd::CreatePty();
  ASSERT_TRUE(pair);
  EXPECT_FALSE(Exclusive(pair->PortName()));
  const auto device = SerialEnd::OpenDevice(pair->PortName().c_str(), k9600);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->PortName(), pair->PortName());
  EXPECT_FALSE(SerialEnd::OpenDevice(pair->PortName().c_str(), k9600));
  EXPECT_TRUE(Exclusive(pair->PortName()));
  C_ZANTO_EXTCMD_IF link(kTimeoutMs);
  EXPECT_EQ(link.OpenSerial(pair->PortName().c_str(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_OPEN);

  const Bytes out = {0x0A, 0x0D, 0x11, 0x13, 0x03, 0xA2};  // bytes a cooked line would change
  ASSERT_TRUE(device->Write(out));
  Bytes got(16);
  got.resize(pair->Read(got, 2000));
  EXPECT_EQ(got, out);
  ASSERT_TRUE(pair->Write(out));
  got.resize(16);
  got.resize(device->Read(got, 2000));
  EXPECT_EQ(got, out);
  EXPECT_FALSE(SerialEnd::OpenDevice("ttyNONE", k9600));
}

// The device's own settings (here a cooked line at 2400 baud) are back once the emulator lets it
// go, and the port is open to others again.
TEST(SerialEndDevice, GivesThePortBackAsItFoundIt) {
  const auto pair = SerialEnd::CreatePty();
  ASSERT_TRUE(pair);
  // Attribute requests on the pair's side reach the device's.
  const int device = pair->NativeHandle();
  termios found{};
  ASSERT_EQ(tcgetattr(device, &found), 0);
  found.c_iflag |= ICRNL | IXON;
  found.c_oflag |= OPOST | ONLCR;
  found.c_lflag |= ICANON | ECHO | ISIG;
  cfsetispeed(&found, B2400);
  cfsetospeed(&found, B2400);
  ASSERT_EQ(tcsetattr(device, TCSANOW, &found), 0);
  ASSERT_EQ(tcgetattr(device, &found), 0);

  auto end = SerialEnd::OpenDevice(pair->PortName().c_str(), k9600);
  ASSERT_TRUE(end);
  termios held{};
  ASSERT_EQ(tcgetattr(device, &held), 0);
  EXPECT_EQ(cfgetospeed(&held), B9600);
  EXPECT_EQ(held.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(held.c_oflag & OPOST, 0u);

  end.reset();
  termios after{};
  ASSERT_EQ(tcgetattr(device, &after), 0);
  EXPECT_EQ(after.c_iflag, found.c_iflag);
  EXPECT_EQ(after.c_oflag, found.c_oflag);
  EXPECT_EQ(after.c_lflag, found.c_lflag);
  EXPECT_EQ(after.c_cflag, found.c_cflag);
  EXPECT_EQ(cfgetospeed(&after), B2400);
  EXPECT_FALSE(Exclusive(pair->PortName()));
  C_ZANTO_EXTCMD_IF link(kTimeoutMs);
  EXPECT_EQ(link.OpenSerial(pair->PortName().c_str(), 115200, 8, 0, 0), 1);
  link.CloseSerial();
}

}  // namespace
