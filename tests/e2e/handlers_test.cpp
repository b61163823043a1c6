// PLC Remote, Update Firmware and the command tool, typed on a terminal against the emulated adapter.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "extcmd/frame.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"

namespace e2e {
namespace {

const std::string kLinkPrompt = "Connection type ? 0:Ether / 1:Serial --> ";
const std::string kSampleMenu =
    "\n\n<-- Main Menu -->\n\n 1. Get Status\n 2. PLC Info Resolution\n 3. PLC Remote\n"
    " 4. Update Firmware\n 0. Quit\n\nInput number --> ";
const std::string kTarvikMenu =
    "\n\n<-- Main Menu -->\n\n 1. System Command\n 2. Restart\n 0. Quit\n\nInput number --> ";
const std::string kSubMenu =
    "\n<-- Sub Menu -->\n 1. Get Status\n 0. Main Menu\n\nInput number --> ";
const std::string kRejected = "\n Invalid value !!\n\n";
const std::string kKeyPrompt = " Press any key";

// One tool on a terminal, its UDP link open to the emulator, the main menu on screen.
class ToolOverUdp : public ::testing::Test {
 protected:
  void StartAtMenu(const char* program, const std::string& menu) {
    menu_ = menu;
    tool_.emplace(scene_.Launch(program));
    ASSERT_EQ(tool_->ReadUntil(kLinkPrompt), kLinkPrompt);
    tool_->SendLine("0");
    ASSERT_TRUE(tool_->Expect(menu_)) << tool_->Output();
  }

  // Types the line and returns what the tool shows up to and with `text`.
  std::string Answer(const std::string& line, const std::string& text,
                     std::chrono::milliseconds wait = kDefaultWait) {
    tool_->SendLine(line);
    return tool_->ReadUntil(text, wait).value_or("(not shown: " + text + ") " + tool_->Unconsumed());
  }

  // A key, the main menu again, and 0 ends the tool with status 0.
  void KeyMenuAndQuit() {
    ASSERT_TRUE(tool_->SendKey('k'));
    EXPECT_EQ(tool_->ReadUntil(menu_), menu_);
    tool_->SendLine("0");
    EXPECT_EQ(tool_->WaitExit(), 0);
  }

  std::string WriteFile(const std::string& name, const sim::Bytes& bytes) const {
    std::ofstream(scene_.scratch.Path() / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return name;  // the tool runs in the scratch folder
  }

  ToolScene scene_;
  std::optional<PtyProcess> tool_;
  std::string menu_;
};

using SampleHandlersOverUdp = ToolOverUdp;
using TarvikOverUdp = ToolOverUdp;

const sim::Mac kRemoteMac = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};

void AddRemote(sim::Adapter& adapter, std::uint8_t result) {
  adapter.Configure([result](sim::AdapterProfile& p) {
    sim::RemoteAdapter remote;
    remote.result = result;
    remote.status.master = false;
    remote.status.authenticated = true;
    remote.status.mac = kRemoteMac;
    remote.status.masterMac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    remote.status.mainVersion = "REMOTE MAIN 2.1";
    remote.status.bootVersion = "REMOTE BOOT 2";
    remote.status.etherSpdDpx = 100;
    p.remotes[kRemoteMac] = remote;
  });
}

TEST_F(SampleHandlersOverUdp, PlcRemotePrintsTheRemoteAdaptersStatus) {
  AddRemote(scene_.adapter, 0);
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  EXPECT_EQ(Answer("3", kSubMenu), "3\n" + kSubMenu);
  EXPECT_EQ(Answer("1", " --> "), "1\n Please enter MAC address (6byte) --> ");
  EXPECT_EQ(Answer("0123456789AB", " --> "),
            "0123456789AB\n Please enter (1-4095) for waitTime[*100ms] --> ");
  EXPECT_EQ(Answer("4095", kKeyPrompt),
            "4095\n\n"
            " Mode ................... Terminal(authenticated)\n"
            " MAC Address ............ 01-23-45-67-89-ab\n"
            " Master MAC Address ..... 00-11-22-33-44-55\n"
            " Registered Info ........ 1\n"
            " Ether LinkUp ........... 1\n"
            " Ether SpdDpx ........... 100\n"
            " Multiple Mode .......... 0\n"
            " Main Version ........... REMOTE MAIN 2.1\n"
            " Boot Version ........... REMOTE BOOT 2\n"
            " Beacon Status .......... 1\n"
            "\n\n Press any key");
  ASSERT_TRUE(tool_->SendKey('k'));
  EXPECT_EQ(tool_->ReadUntil(kSubMenu), kSubMenu);
  EXPECT_EQ(Answer("0", menu_), "0\n" + menu_);
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);

  // One datagram: 00 00, then the 80-byte relay frame with its MAC and wait time.
  const auto received = scene_.server->Received();
  ASSERT_EQ(received.size(), 1u);
  const sim::Bytes& d = received[0].bytes;
  ASSERT_EQ(d.size(), 82u);
  EXPECT_EQ(d[0] | d[1], 0);
  EXPECT_EQ(frame::Get16(&d[2 + 24]), 0x3001);
  EXPECT_EQ(sim::Bytes(d.begin() + 2 + 32, d.begin() + 2 + 40),
            (sim::Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xFF, 0x0F}));
  EXPECT_EQ(frame::Get16(&d[2 + 48 + 24]), 0xA141);
}

struct RemoteFailureCase {
  const char* name;
  const char* mac;
  std::uint8_t remoteResult;
  const char* report;
};

class PlcRemoteFailureOverUdp : public ToolOverUdp,
                         public ::testing::WithParamInterface<RemoteFailureCase> {};

TEST_P(PlcRemoteFailureOverUdp, IsReportedAndTheMainMenuFollows) {
  const RemoteFailureCase& c = GetParam();
  AddRemote(scene_.adapter, c.remoteResult);
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  Answer("3", kSubMenu);
  Answer("1", " --> ");
  Answer(c.mac, " --> ");
  EXPECT_EQ(Answer("1", kKeyPrompt), std::string("1\n") + c.report + kKeyPrompt);
  KeyMenuAndQuit();
}

INSTANTIATE_TEST_SUITE_P(
    E2e, PlcRemoteFailureOverUdp,
    ::testing::Values(
        // The emulator's own result for a MAC that no adapter of its network has.
        RemoteFailureCase{"UnknownMac", "0123456789zz", 0, "\n Failure:10207\n Result:2\n\n"},
        RemoteFailureCase{"RemoteResult", "0123456789ab", 3, "\n Failure:10207\n Result:3\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

sim::Bytes Image(std::size_t size) {
  sim::Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + i / 1024);
  return b;
}

// Slow: the tool pauses 10 s after the last block while the adapter writes its memory.
TEST_F(SampleHandlersOverUdp, FirmwareUpdateDeliversTheImageWhole) {
  const sim::Bytes image = Image(3000);
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  EXPECT_EQ(Answer("4", " --> "), "4\n Please enter firmware image file --> ");
  const std::string name = WriteFile("image.bin", image);
  EXPECT_EQ(Answer(name, "\n Wait for writing memory"), name + "\n ..\n Wait for writing memory");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tool_->ReadUntil(menu_, 30s), "\n Success update firmware\n" + menu_);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9s) << "the tool pauses 10000 ms";
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);

  EXPECT_EQ(scene_.adapter.Images(), std::vector<sim::Bytes>{image});
  EXPECT_TRUE(scene_.adapter.Violations().empty());
  for (const sim::Datagram& d : scene_.server->Received()) EXPECT_EQ(d.bytes.size(), 1062u);
}

TEST_F(SampleHandlersOverUdp, FirmwareBlockRejectedStopsTheTransfer) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    p.firmware.rejectBlock = 5;
    p.firmware.rejectResult = 3;
  });
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  Answer("4", " --> ");
  const std::string name = WriteFile("image.bin", Image(10 * 1024));
  EXPECT_EQ(Answer(name, kKeyPrompt),
            name + "\n .....\n Failure:10207\n Result:3\n\n Press any key");
  KeyMenuAndQuit();
  EXPECT_EQ(scene_.adapter.RequestCount(), 6u);
  EXPECT_TRUE(scene_.adapter.Images().empty());
}

TEST_F(TarvikOverUdp, MenuRejectsAndLeadingZerosSelect) {
  scene_.adapter.AddFault({sim::FaultKind::Result, CMD_RESET_SYS, 5, false});  // no pause
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu);
  for (const char* line : {"3", "-1", "1a", ""}) {
    EXPECT_EQ(Answer(line, menu_), line + ("\n" + kRejected + menu_));
  }
  EXPECT_EQ(Answer("02", kKeyPrompt), "02\n\n Failure:10207\n Result:5\n\n Press any key");
  ASSERT_TRUE(tool_->SendKey('k'));
  EXPECT_EQ(tool_->ReadUntil(menu_), menu_);
  tool_->SendLine("00");
  EXPECT_EQ(tool_->WaitExit(), 0);
  const auto requests = scene_.adapter.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(frame::Get16(&requests[0][frame::kOffCommand]), 0x4001);
}

TEST_F(TarvikOverUdp, SystemCommandPrintsTheReply) {
  scene_.adapter.Configure(
      [](sim::AdapterProfile& p) { p.systemReplies["show version"] = "emulated adapter 1.0"; });
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu);
  EXPECT_EQ(Answer("1", " --> "), "1\n Please enter systemcmd --> ");
  EXPECT_EQ(Answer("show version", kKeyPrompt),
            "show version\n\n emulated adapter 1.0\n\n Press any key");
  ASSERT_TRUE(tool_->SendKey('k'));
  EXPECT_EQ(tool_->ReadUntil(menu_), menu_);
  // A reply without its NUL is printed as far as the answer goes.
  scene_.adapter.AddFault({sim::FaultKind::NoTextEnd, CMD_SYSTEMCMD, 0, true});
  Answer("1", " --> ");
  EXPECT_EQ(Answer("show version", kKeyPrompt),
            "show version\n\n emulated adapter 1.0\n\n Press any key");
  KeyMenuAndQuit();
  const auto requests = scene_.adapter.Requests();
  ASSERT_EQ(requests.size(), 2u);
  // "show version" is 12 characters: the NUL and 3 fill bytes make 16 data bytes.
  EXPECT_EQ(frame::Get16(&requests[0][frame::kOffFrameLength]), 16 + 16);
}

// Slow: the adapter takes 8 s to come back after it confirmed.
TEST_F(TarvikOverUdp, RestartPausesBeforeTheKeyPrompt) {
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu);
  EXPECT_EQ(Answer("2", "...\n"), "2\n\n Recv reset_sys confirmation\n Now restarting...\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tool_->ReadUntil(kKeyPrompt, 30s), "\n Press any key");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 7500ms) << "the tool pauses 8000 ms";
  KeyMenuAndQuit();
}

// Slow: the command tool waits 10 s for an answer, twice as long as the maintenance tool.
TEST_F(TarvikOverUdp, NoAnswerIsReportedAfterTenSeconds) {
  scene_.adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Answer("2", kKeyPrompt, 30s), "2\n\n Failure:10009\n\n Press any key");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9500ms) << "the tool waits 10000 ms";
  KeyMenuAndQuit();
}

}  // namespace
}  // namespace e2e
