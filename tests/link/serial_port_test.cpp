// Port names and the terminal attributes the serial link's settings turn into.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/serial_termios.h"
#include "platform/serial.h"

TEST(SerialPortName, NamesADevice) {
  const struct {
    const char* port;
    const char* device;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},      {"com2", "/dev/ttyS1"},
      {"Com12", "/dev/ttyS11"},    {"cOM01", "/dev/ttyS0"},
      {"ttyUSB0", "/dev/ttyUSB0"}, {"ttyACM0", "/dev/ttyACM0"},
      {"pts/5", "/dev/pts/5"},     {"COM0", "/dev/COM0"},
      {"COM", "/dev/COM"},         {"COMx", "/dev/COMx"},
      {"COM1a", "/dev/COM1a"},     {"CON1", "/dev/CON1"},
      {"COM-1", "/dev/COM-1"},     {"", "/dev/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(plat::SerialDevicePath(c.port), c.device) << c.port;
  }
}

namespace {

// A port as a terminal might start: cooked, echoing, 7 data bits, even parity, two stop bits,
// 9600 baud.
termios Cooked() {
  termios t{};
  t.c_iflag = ICRNL | IXON | IXOFF | BRKINT | ISTRIP | INLCR | IGNCR | PARMRK | IMAXBEL;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN;
  t.c_cflag = CS7 | PARENB | CSTOPB | CLOCAL | HUPCL;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  return t;
}

termios Applied(std::uint32_t baud, int byteSize, int parity, int stopBits) {
  termios t = Cooked();
  plat::posix::ApplyLineSettings(
      t, {baud, static_cast<std::uint8_t>(byteSize), static_cast<std::uint8_t>(parity),
          static_cast<std::uint8_t>(stopBits), 0xA2});
  return t;
}

}  // namespace

TEST(SerialLineSettings, RawByteTransparentLineWithParityCheckingKeepingTheRest) {
  const termios t = Applied(115200, 8, 0, 0);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | BRKINT | ISTRIP | INLCR | IGNCR | PARMRK), 0u);
  EXPECT_NE(t.c_iflag & INPCK, 0u);
  EXPECT_NE(t.c_iflag & IMAXBEL, 0u);  // not ours to change
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL | HUPCL), CREAD | CLOCAL | HUPCL);
  // The speed is set apart, exactly (see the serial link's tests).
  EXPECT_EQ(cfgetospeed(&t), B9600);
}

TEST(SerialLineSettings, ParityTable) {
  const struct {
    int parity;
    tcflag_t bits;
  } cases[] = {
      {0, 0},
      {1, PARENB | PARODD},
      {2, PARENB},
      {3, PARENB | PARODD | CMSPAR},
      {4, PARENB | CMSPAR},
      {5, PARENB},  // outside the coding: the port keeps what it had
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Applied(9600, 8, c.parity, 0).c_cflag & (PARENB | PARODD | CMSPAR), c.bits)
        << c.parity;
  }
}

TEST(SerialLineSettings, ByteSizeAndStopBitsTables) {
  const struct {
    int byteSize;
    tcflag_t size;
  } sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}, {4, CS7}, {9, CS7}};
  for (const auto& c : sizes) {
    EXPECT_EQ(Applied(9600, c.byteSize, 0, 0).c_cflag & CSIZE, c.size) << c.byteSize;
  }
  const struct {
    int stopBits;
    tcflag_t bits;
  } stops[] = {{0, 0}, {1, CSTOPB}, {2, CSTOPB}, {3, CSTOPB}};
  for (const auto& c : stops) {
    EXPECT_EQ(Applied(9600, 8, 0, c.stopBits).c_cflag & CSTOPB, c.bits) << c.stopBits;
  }
}
