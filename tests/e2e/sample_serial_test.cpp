// The maintenance tool as a technician runs it over a serial line: "sample.ini" names a
// pseudo-terminal whose far end is the emulated adapter.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <optional>
#include <string>

#include "extcmd/frame.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"

namespace e2e {
namespace {

const std::string kLinkPrompt = "Connection type ? 0:Ether / 1:Serial --> ";
const std::string kMenu =
    "\n\n<-- Main Menu -->\n\n 1. Get Status\n 2. PLC Info Resolution\n 3. PLC Remote\n"
    " 4. Update Firmware\n 0. Quit\n\nInput number --> ";

// The tool in a scratch folder whose "sample.ini" names the serial port; it chooses the serial
// link and stands at the main menu.
class SampleOverSerial : public ::testing::Test {
 protected:
  void StartAtMenu(const std::string& port) {
    std::ofstream(scratch_.Path() / "sample.ini") << "[SERIAL]\nPORT=" << port << "\nRATE=115200\n";
    tool_.emplace(PtyProcess::Options{SAMPLE_PROGRAM, {}, scratch_.Path().string(), {}});
    ASSERT_EQ(tool_->ReadUntil(kLinkPrompt), kLinkPrompt);
    tool_->SendLine("1");
    ASSERT_EQ(tool_->ReadUntil(kMenu), "1\n" + kMenu) << tool_->Output();
  }
  void StartWithEmulator() {
    server_.emplace(adapter_, sim::SerialServer::Options{});
    StartAtMenu(server_->PortName());
  }

  // Types the line and returns what the tool shows up to the next key prompt.
  std::string UpToKeyPrompt(const std::string& line) {
    tool_->SendLine(line);
    return tool_->ReadUntil(" Press any key").value_or("(no key prompt) " + tool_->Unconsumed());
  }
  void KeyAndMenu() {
    ASSERT_TRUE(tool_->SendKey('k'));
    EXPECT_EQ(tool_->ReadUntil(kMenu), kMenu);
  }
  void Quit() {
    tool_->SendLine("0");
    EXPECT_EQ(tool_->WaitExit(), 0);
  }

  ScratchDir scratch_;
  sim::Adapter adapter_;
  std::optional<sim::SerialServer> server_;
  std::optional<PtyProcess> tool_;
};

TEST_F(SampleOverSerial, GetStatusPrintsTheRecord) {
  adapter_.Configure([](sim::AdapterProfile& p) {
    p.status.master = false;
    p.status.authenticated = true;
    p.status.mac = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xA2};
    p.status.masterMac = {0x02, 0x03, 0x04, 0x05, 0x06, 0xA3};
    p.status.registeredInfo = 2;
    p.status.etherSpdDpx = 1000;
    p.status.multipleMode = 3;
    p.status.mainVersion = "MAIN 1.2.3";
    p.status.bootVersion = "BOOT 0.9";
    p.status.beaconStatus = 7;
  });
  StartWithEmulator();
  EXPECT_EQ(UpToKeyPrompt("1"),
            "1\n\n"
            " Mode ................... Terminal(authenticated)\n"
            " MAC Address ............ 00-11-aa-bb-cc-a2\n"
            " Master MAC Address ..... 02-03-04-05-06-a3\n"
            " Registered Info ........ 2\n"
            " Ether LinkUp ........... 1\n"
            " Ether SpdDpx ........... 1000\n"
            " Multiple Mode .......... 3\n"
            " Main Version ........... MAIN 1.2.3\n"
            " Boot Version ........... BOOT 0.9\n"
            " Beacon Status .......... 7\n"
            "\n\n Press any key");
  KeyAndMenu();
  Quit();
  const auto received = server_->Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].line,
            (sim::Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00, 0x14, 0x00,
                        0x01, 0xF0, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E, 0x4E, 0x0B,
                        0x41, 0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x24, 0xA2}));
}

TEST_F(SampleOverSerial, InfoResolutionSendsTheAddressTypedAndPrintsTheIdentity) {
  adapter_.Configure([](sim::AdapterProfile& p) {
    p.identity.mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x5F};
    p.identity.ip = {192, 168, 0, 162};
    p.identity.subnetMask = {255, 255, 255, 0};
    p.identity.commandVersion = 0x201;
    p.identity.modelName = "PLC-MODEL-X";
    p.identity.optionFlag = 0x800000A3;
  });
  StartWithEmulator();
  tool_->SendLine("2");
  ASSERT_TRUE(tool_->Expect(" Please enter access IP --> "));
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
  const auto received = server_->Received();
  ASSERT_EQ(received.size(), 1u);
  const sim::Bytes tail(received[0].line.end() - 12, received[0].line.end());
  EXPECT_EQ(tail, (sim::Bytes{0x01, 0xB0, 0x00, 0x00, 0xC0, 0xA8, 0x00, 0xA3, 0x22, 0xE5, 0x3F,
                              0xA2}));
}

TEST_F(SampleOverSerial, LineFaultsAreReportedWithTheirCodes) {
  StartWithEmulator();
  const struct {
    sim::LineFault fault;
    const char* report;
  } cases[] = {
      {sim::LineFault::BadChecksum, "1\n\n Failure:10206\n\n Press any key"},
      {sim::LineFault::Noise, "1\n\n Failure:10106\n\n Press any key"},
  };
  for (const auto& c : cases) {
    server_->AddFault({c.fault, CMD_GET_STATUS, 0, true});
    EXPECT_EQ(UpToKeyPrompt("1"), c.report);
    KeyAndMenu();
  }
  Quit();
}

// The menu still runs; every command then reports that the port could not be opened.
TEST_F(SampleOverSerial, AMissingPortShowsTheMenuAndFailsEachCommandWith10102) {
  StartAtMenu("ttyNONE");
  EXPECT_EQ(UpToKeyPrompt("1"), "1\n\n Failure:10102\n\n Press any key");
  KeyAndMenu();
  tool_->SendLine("2");
  ASSERT_TRUE(tool_->Expect(" Please enter access IP --> "));
  EXPECT_EQ(UpToKeyPrompt("192.168.0.10"), "192.168.0.10\n\n Failure:10102\n\n Press any key");
  KeyAndMenu();
  Quit();
}

// The emulator program makes the pseudo-terminal pair itself and prints the port to use.
TEST_F(SampleOverSerial, AgainstTheEmulatorProgram) {
  PtyProcess emulator({EMULATOR_PROGRAM, {"--serial", "--mode", "master"}, {}, {}});
  ASSERT_TRUE(emulator.Expect("[SERIAL]\nPORT=")) << emulator.Output();
  const auto port = emulator.ReadUntil("\n");
  ASSERT_TRUE(port) << emulator.Output();
  StartAtMenu(port->substr(0, port->size() - 1));
  const std::string shown = UpToKeyPrompt("1");
  EXPECT_NE(shown.find(" Mode ................... Master\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" Main Version ........... EMU-MAIN 1.0.0\n"), std::string::npos) << shown;
  KeyAndMenu();
  Quit();
  kill(emulator.Pid(), SIGTERM);
  EXPECT_EQ(emulator.WaitExit(), 0);
}

}  // namespace
}  // namespace e2e
