// The tools as a technician runs them over a serial line: "sample.ini" names a pseudo-terminal
// whose far end is the emulated adapter, or a port that is not there; and what the line format
// keys of "sample.ini" make of the port.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <string>
#include <utility>
#include <vector>

#include "extcmd/frame.h"
#include "platform/posix/serial_speed.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

// The maintenance tool on the emulator's serial line, at its main menu once started.
class SampleOverSerial : public ToolTest {
 protected:
  SampleOverSerial() : ToolTest(WithSerialLine()) {}
  void StartAtMenu() { ToolTest::StartAtMenu(SAMPLE_PROGRAM, kSampleMenu, Link::Serial); }
};

TEST_F(SampleOverSerial, GetStatusPrintsTheRecord) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    p.status.master = false;
    p.status.authenticated = true;
    p.status.mac = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xA2};
    p.status.masterMac = {0x02, 0x03, 0x04, 0x05, 0x06, 0xA3};
    SetStatusValues(p.status);
  });
  StartAtMenu();
  EXPECT_EQ(UpToKeyPrompt("1"),
            "1\n\n"
            " Mode ................... Terminal(authenticated)\n"
            " MAC Address ............ 00-11-aa-bb-cc-a2\n"
            " Master MAC Address ..... 02-03-04-05-06-a3\n" +
                kStatusValueLines + "\n\n Press any key");
  KeyAndMenu();
  Quit();
  const auto received = scene_.serialServer->Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].line,
            (sim::Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00, 0x14, 0x00,
                        0x01, 0xF0, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E, 0x4E, 0x0B,
                        0x41, 0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x24, 0xA2}));
}

TEST_F(SampleOverSerial, InfoResolutionSendsTheAddressTypedAndPrintsTheIdentity) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    p.identity.mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x5F};
    p.identity.ip = {192, 168, 0, 162};
    p.identity.subnetMask = {255, 255, 255, 0};
    p.identity.commandVersion = 0x201;
    p.identity.modelName = "PLC-MODEL-X";
    p.identity.optionFlag = 0x800000A3;
  });
  StartAtMenu();
  tool_->SendLine("2");
  ASSERT_TRUE(tool_->Expect(kIpPrompt));
  EXPECT_EQ(UpToKeyPrompt("192.168.0.162"),
            "192.168.0.162\n"
            "\n"
            " MAC Address............. 00-11-22-33-44-5f\n"
            " IP Address.............. 192.168.0.162\n"
            " Sub-Net Mask............ 255.255.255.0\n"
            " Model Name.............. PLC-MODEL-X\n"
            " Command Version......... 0x00000201\n"
            " Option Flag............. 0x800000a3\n"
            "\n\n Press any key");
  KeyAndMenu();
  Quit();
  // 192.168.0.162 is C0 A8 00 A2: its last byte is stuffed on the line.
  const auto received = scene_.serialServer->Received();
  ASSERT_EQ(received.size(), 1u);
  const sim::Bytes tail(received[0].line.end() - 12, received[0].line.end());
  EXPECT_EQ(tail,
            (sim::Bytes{0x01, 0xB0, 0x00, 0x00, 0xC0, 0xA8, 0x00, 0xA3, 0x22, 0xE5, 0x3F, 0xA2}));
}

TEST_F(SampleOverSerial, LineFaultsAreReportedWithTheirCodes) {
  StartAtMenu();
  const struct {
    sim::LineFault fault;
    const char* report;
  } cases[] = {
      {sim::LineFault::BadChecksum, "1\n\n Failure:10206\n\n Press any key"},
      {sim::LineFault::Noise, "1\n\n Failure:10106\n\n Press any key"},
  };
  for (const auto& c : cases) {
    scene_.serialServer->AddFault({c.fault, CMD_GET_STATUS, 0, true});
    EXPECT_EQ(UpToKeyPrompt("1"), c.report);
    KeyAndMenu();
  }
  Quit();
}

// The maintenance tool with "PORT" naming the port given.
class SampleOnPort : public ToolTest {
 protected:
  void StartAtMenu(const std::string& port) {
    scene_.WriteIni("[SERIAL]\nPORT=" + port + "\nRATE=115200\n");
    ToolTest::StartAtMenu(SAMPLE_PROGRAM, kSampleMenu, Link::Serial);
  }
};

// The menu still runs; every command asks for what it needs as usual, then reports that the port
// could not be opened.
TEST_F(SampleOnPort, AMissingPortShowsTheMenuAndFailsEachCommandWith10102) {
  StartAtMenu("ttyNONE");
  const std::string image = WriteFile("image.bin", FirmwareImage(3000));
  const std::string failure = "\n Failure:10102\n\n Press any key";
  // For each command: the lines typed, each with what the tool shows up to its next prompt.
  const std::vector<std::vector<std::pair<std::string, std::string>>> commands = {
      {{"1", "1\n" + failure}},
      {{"2", "2\n" + kIpPrompt}, {"192.168.0.10", "192.168.0.10\n" + failure}},
      {{"3", "3\n" + kSubMenu},
       {"1", "1\n" + kMacPrompt},
       {"0123456789ab", "0123456789ab\n" + kWaitPrompt},
       {"10", "10\n" + failure}},
      // The image is read before the first block finds no link (an unreadable file would be
      // reported as such instead).
      {{"4", "4\n" + kImagePrompt}, {image, image + "\n" + failure}},
  };
  for (const auto& steps : commands) {
    SCOPED_TRACE("command " + steps.front().first);
    for (const auto& [line, shown] : steps) EXPECT_EQ(Answer(line, shown), shown);
    KeyAndMenu();
  }
  Quit();
}

// The emulator program makes the pseudo-terminal pair itself and prints the port to use.
TEST_F(SampleOnPort, AgainstTheEmulatorProgram) {
  PtyProcess emulator({EMULATOR_PROGRAM, {"--serial", "--mode", "master"}, {}, {}});
  ASSERT_TRUE(emulator.Expect("[SERIAL]\nPORT=")) << emulator.Output();
  const auto port = emulator.ReadUntil("\n");
  ASSERT_TRUE(port) << emulator.Output();
  StartAtMenu(port->substr(0, port->size() - 1));
  const std::string shown = UpToKeyPrompt("1");
  EXPECT_NE(shown.find(" Mode ................... Master\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" Main Version ........... EMU-MAIN 1.0.0\n"), std::string::npos) << shown;
  KeyMenuAndQuit();
  kill(emulator.Pid(), SIGTERM);
  EXPECT_EQ(emulator.WaitExit(), 0);
}

// "DATABIT", "PARITY" and "STOPBIT" are the command tool's: it hands them to the port as read,
// while the maintenance tool always opens its port as 8N1, whatever the file says.
//
// The settings are read back on the emulator's end of the pseudo-terminal while the tool holds the
// port open. A Linux pseudo-terminal keeps only part of a line format: it clears PARENB and forces
// CS8 on every change, so whether parity is generated at all, the byte size, and the bits that
// would be framed on a wire cannot show here. What survives is CSTOPB (two stop bits), PARODD
// (odd rather than even, or mark rather than space), CMSPAR (mark or space) and INPCK (received
// bytes are checked); that the tool asked for PARENB and its byte size is checked on the
// attributes themselves, without a device, in the serial port tests.
struct LineFormatCase {
  const char* name;
  bool tarvik;       // the command tool, else the maintenance tool
  const char* keys;  // "SERIAL" keys besides "PORT" and "RATE"
  tcflag_t kept;     // CSTOPB | PARODD | CMSPAR as the port has them
  friend void PrintTo(const LineFormatCase& c, std::ostream* os) { *os << c.name; }
};

class LineFormat : public ToolTest, public ::testing::WithParamInterface<LineFormatCase> {
 protected:
  LineFormat() : ToolTest(WithSerialLine(GetParam().keys)) {}
};

constexpr tcflag_t kFormatBits = CSTOPB | PARODD | CMSPAR;

TEST_P(LineFormat, ReachesThePortWhileTheToolHoldsIt) {
  const LineFormatCase& c = GetParam();
  // The port starts out with every bit under test set otherwise and another speed, so each
  // setting shows that the tool made it.
  termios before = SerialLineSettings();
  before.c_cflag |= kFormatBits;
  before.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  cfsetispeed(&before, B9600);
  cfsetospeed(&before, B9600);
  SetSerialLineSettings(before);

  StartAtMenu(c.tarvik ? TARVIK_PROGRAM : SAMPLE_PROGRAM, c.tarvik ? kTarvikMenu : kSampleMenu,
              Link::Serial);
  const termios open = SerialLineSettings();
  EXPECT_EQ(open.c_cflag & kFormatBits, c.kept);
  EXPECT_NE(open.c_iflag & INPCK, 0u);
  EXPECT_EQ(cfgetospeed(&open), B115200);
  Quit();
  // Closed at the tool's end, the port has its settings back.
  EXPECT_EQ(SerialLineSettings().c_cflag & kFormatBits, kFormatBits);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, LineFormat,
    ::testing::Values(
        LineFormatCase{"TarvikEvenParityTwoStopBits", true, "DATABIT=8\nPARITY=2\nSTOPBIT=2\n",
                       CSTOPB},
        LineFormatCase{"TarvikOddParityOneStopBit", true, "DATABIT=8\nPARITY=1\nSTOPBIT=0\n",
                       PARODD},
        LineFormatCase{"SampleKeeps8N1ForEvenAndTwo", false, "DATABIT=8\nPARITY=2\nSTOPBIT=2\n", 0},
        LineFormatCase{"SampleKeeps8N1ForOddAndTwo", false, "DATABIT=7\nPARITY=1\nSTOPBIT=2\n", 0}),
    [](const auto& test) { return std::string(test.param.name); });

// "RATE" is set exactly while the tool holds the port, read back on the emulator's end as the
// kernel holds it: a rate with a speed constant, one without, and 0, which keeps the speed the
// port had. A command goes through at each, and the port has its speed back at the end.
struct RateCase {
  const char* name;
  bool tarvik;
  std::uint32_t rate;
  std::uint32_t speed;  // while the tool runs
  friend void PrintTo(const RateCase& c, std::ostream* os) { *os << c.name; }
};

class Rate : public ToolTest, public ::testing::WithParamInterface<RateCase> {
 protected:
  static ToolScene::Settings Scene() {
    ToolScene::Settings settings = WithSerialLine();
    settings.rate = GetParam().rate;
    return settings;
  }
  Rate() : ToolTest(Scene()) {}
};

constexpr std::uint32_t kSpeedBefore = 9600;

TEST_P(Rate, IsTheLinesSpeedWhileTheToolHoldsThePort) {
  const RateCase& c = GetParam();
  plat::posix::SetExactSpeed(scene_.serialServer->LineHandle(), kSpeedBefore);
  StartAtMenu(c.tarvik ? TARVIK_PROGRAM : SAMPLE_PROGRAM, c.tarvik ? kTarvikMenu : kSampleMenu,
              Link::Serial);
  EXPECT_EQ(plat::posix::LineSpeed(scene_.serialServer->LineHandle()), c.speed);
  if (c.tarvik) {
    scene_.adapter.Configure([](sim::AdapterProfile& p) { p.systemReplies["show"] = "shown"; });
    Answer("1", " --> ");
    EXPECT_EQ(UpToKeyPrompt("show"), "show\n\n shown\n\n Press any key");
  } else {
    scene_.adapter.Configure([](sim::AdapterProfile& p) { SetStatusValues(p.status); });
    const std::string shown = UpToKeyPrompt("1");
    EXPECT_NE(shown.find(kStatusValueLines + "\n\n Press any key"), std::string::npos) << shown;
  }
  KeyAndMenu();
  Quit();
  EXPECT_EQ(plat::posix::LineSpeed(scene_.serialServer->LineHandle()), kSpeedBefore);
}

INSTANTIATE_TEST_SUITE_P(E2e, Rate,
                         ::testing::Values(RateCase{"Sample250000", false, 250000, 250000},
                                           RateCase{"Sample110", false, 110, 110},
                                           RateCase{"Sample0", false, 0, kSpeedBefore},
                                           RateCase{"Tarvik31250", true, 31250, 31250},
                                           RateCase{"Tarvik256000", true, 256000, 256000},
                                           RateCase{"Tarvik0", true, 0, kSpeedBefore}),
                         [](const auto& test) { return std::string(test.param.name); });

// A terminating signal at a prompt or a key wait ends the tool as the end of input does: the
// port is closed and has its settings back, the terminal is in line mode again, and then the
// signal ends the process.
struct SignalCase {
  const char* name;
  bool atKeyWait;  // else at the main menu's line prompt
  int signo;
  friend void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }
};

class SignalOverSerial : public ToolTest, public ::testing::WithParamInterface<SignalCase> {
 protected:
  SignalOverSerial() : ToolTest(WithSerialLine()) {}
};

TEST_P(SignalOverSerial, GivesThePortItsSettingsBack) {
  termios before = SerialLineSettings();
  before.c_cflag |= kFormatBits;  // settings the tool is sure to change
  SetSerialLineSettings(before);
  ToolTest::StartAtMenu(SAMPLE_PROGRAM, kSampleMenu, Link::Serial);
  ASSERT_EQ(SerialLineSettings().c_cflag & kFormatBits, 0u);
  if (GetParam().atKeyWait) {
    UpToKeyPrompt("1");
    ASSERT_TRUE(tool_->WaitForKeyMode());
  }
  ASSERT_EQ(kill(tool_->Pid(), GetParam().signo), 0);
  EXPECT_EQ(tool_->WaitExit(), -GetParam().signo);
  EXPECT_EQ(SerialLineSettings().c_cflag & kFormatBits, kFormatBits);
  EXPECT_TRUE(tool_->InLineMode());
}

INSTANTIATE_TEST_SUITE_P(E2e, SignalOverSerial,
                         ::testing::Values(SignalCase{"InterruptAtTheMenu", false, SIGINT},
                                           SignalCase{"HangupAtTheMenu", false, SIGHUP},
                                           SignalCase{"TerminateAtTheKeyWait", true, SIGTERM}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace e2e
