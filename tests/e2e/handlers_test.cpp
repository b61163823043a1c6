// PLC Remote, Update Firmware and the command tool, typed on a terminal against the emulated
// adapter: over UDP, and over a serial line for the exchanges whose bytes the line changes.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>

#include "extcmd/firmware_block.h"
#include "extcmd/frame.h"
#include "extcmd/serial_coding.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

// The same tool over the link of the test's parameter: the scene serves the serial line as well
// when the tool is to choose it.
class ToolOnLink : public ToolTest, public ::testing::WithParamInterface<Link> {
 protected:
  ToolOnLink() : ToolTest(GetParam() == Link::Serial ? WithSerialLine() : ToolScene::Settings{}) {}

  void StartAtMenu(const char* program, const std::string& menu) {
    ToolTest::StartAtMenu(program, menu, GetParam());
  }

  // The request frames as they went out, each checked for its link's wrapping: over UDP two zero
  // bytes in front of the frame, over serial its checksum behind it, stuffed, and the end byte.
  std::vector<sim::Bytes> SentFrames() const {
    std::vector<sim::Bytes> frames;
    if (GetParam() == Link::Udp) {
      for (const sim::Datagram& d : scene_.server->Received()) {
        EXPECT_EQ(d.bytes.at(0) | d.bytes.at(1), 0);
        frames.emplace_back(d.bytes.begin() + frame::kDatagramLead, d.bytes.end());
      }
    } else {
      for (const sim::LineFrame& f : scene_.serialServer->Received()) {
        EXPECT_TRUE(f.checksumOk);
        EXPECT_EQ(f.line, serial_line::Encode(serial_line::Body(f.frame)));
        frames.push_back(f.frame);
      }
    }
    return frames;
  }
};

const auto kBothLinks = ::testing::Values(Link::Udp, Link::Serial);
const auto kLinkName = [](const auto& test) { return LinkName(test.param); };

using SampleHandlersOverUdp = ToolTest;
using TarvikOverUdp = ToolTest;
using SampleHandlers = ToolOnLink;
using Tarvik = ToolOnLink;

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

TEST_P(SampleHandlers, PlcRemotePrintsTheRemoteAdaptersStatus) {
  AddRemote(scene_.adapter, 0);
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  EXPECT_EQ(Answer("3", kSubMenu), "3\n" + kSubMenu);
  EXPECT_EQ(Answer("1", " --> "), "1\n" + kMacPrompt);
  EXPECT_EQ(Answer("0123456789AB", " --> "), "0123456789AB\n" + kWaitPrompt);
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

  // One 80-byte relay frame (an 82-byte datagram, or 80 bytes and the checksum on the line):
  // 20 relay bytes with MAC and wait time, then the nested Get Status request.
  const auto frames = SentFrames();
  ASSERT_EQ(frames.size(), 1u);
  const sim::Bytes& f = frames[0];
  ASSERT_EQ(f.size(), 80u);
  EXPECT_EQ(frame::Get16(&f[frame::kOffCommand]), 0x3001);
  EXPECT_EQ(frame::Get16(&f[frame::kOffFrameLength]), 68);
  EXPECT_EQ(frame::Get32(&f[frame::kOffBodyLength]), 60u);
  const std::uint8_t* relay = &f[frame::kHeaderSize];
  EXPECT_EQ(sim::Bytes(relay + 4, relay + 12),
            (sim::Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xFF, 0x0F}));
  EXPECT_EQ(frame::Get32(relay + 16), 1468u);  // RelayMaxLength
  const std::uint8_t* inner = &f[frame::kInnerFrameOffset];
  EXPECT_EQ(frame::Get16(inner + frame::kOffCommand), 0xA141);
  EXPECT_EQ(frame::Get16(inner + frame::kOffFrameLength), 20);
  EXPECT_EQ(frame::Get32(inner + frame::kOffBodyLength), 12u);
}

struct RemoteFailureCase {
  const char* name;
  const char* mac;
  std::uint8_t remoteResult;
  const char* report;
};

class PlcRemoteFailureOverUdp : public ToolTest,
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
    [](const auto& test) { return std::string(test.param.name); });

INSTANTIATE_TEST_SUITE_P(E2e, SampleHandlers, kBothLinks, kLinkName);

// Slow: the tool pauses 10 s after the last block while the adapter writes its memory. Over the
// serial line the same handler delivers images of several sizes in tests/link, without the pause.
TEST_F(SampleHandlersOverUdp, FirmwareUpdateDeliversTheImageWhole) {
  const sim::Bytes image = FirmwareImage(3000);
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  EXPECT_EQ(Answer("4", " --> "), "4\n" + kImagePrompt);
  const std::string name = WriteFile("image.bin", image);
  EXPECT_EQ(Answer(name, "\n Wait for writing memory"), name + "\n ..\n Wait for writing memory");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tool_->ReadUntil(menu_, 30s), "\n Success update firmware\n" + menu_);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 9s) << "the tool pauses 10000 ms";
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);

  EXPECT_EQ(scene_.adapter.Images(), std::vector<sim::Bytes>{image});
  EXPECT_TRUE(scene_.adapter.Violations().empty());
  const auto received = scene_.server->Received();
  EXPECT_EQ(received.size(), 3u);
  for (const sim::Datagram& d : received) EXPECT_EQ(d.bytes.size(), 1062u);
}

// What the technician sees while the adapter still works on the last block: the marks of every
// block accepted so far, a line of 64 and the next begun, then the wait text. The adapter holds
// its last answer back for a minute, and the run ends by Ctrl-C.
TEST_F(SampleHandlersOverUdp, FirmwareMarksAndTheWaitShowBeforeTheLastAnswer) {
  constexpr std::size_t kBlocks = 66;
  scene_.adapter.Configure([](sim::AdapterProfile& p) { p.firmware.lastBlockDelay = 60s; });
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  Answer("4", " --> ");
  const std::string name = WriteFile("image.bin", FirmwareImage(kBlocks * 1024 - 10));
  std::string marks;
  for (std::size_t k = 1; k < kBlocks; ++k) marks += fwblock::ProgressMark(k);
  EXPECT_EQ(marks, " ." + std::string(63, '.') + "\n .");
  EXPECT_EQ(Answer(name, "\n Wait for writing memory"),
            name + "\n" + marks + "\n Wait for writing memory");
  ASSERT_TRUE(scene_.server->WaitForReceived(kBlocks, kDefaultWait));
  EXPECT_EQ(scene_.server->AnswersSent(), kBlocks - 1);
  ASSERT_EQ(kill(tool_->Pid(), SIGINT), 0);
  EXPECT_EQ(tool_->WaitExit(), -SIGINT);
  EXPECT_EQ(tool_->Unconsumed(), "");
}

TEST_F(SampleHandlersOverUdp, FirmwareBlockRejectedStopsTheTransfer) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    p.firmware.rejectBlock = 5;
    p.firmware.rejectResult = 3;
  });
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  Answer("4", " --> ");
  const std::string name = WriteFile("image.bin", FirmwareImage(10 * 1024));
  EXPECT_EQ(Answer(name, kKeyPrompt),
            name + "\n .....\n Failure:10207\n Result:3\n\n Press any key");
  KeyMenuAndQuit();
  EXPECT_EQ(scene_.adapter.RequestCount(), 6u);
  EXPECT_TRUE(scene_.adapter.Images().empty());
}

// Ctrl-C during a transfer stops it before the next block; the tool then ends by the signal.
TEST_F(SampleHandlersOverUdp, InterruptStopsTheTransferBeforeTheNextBlock) {
  scene_.adapter.AddFault({sim::FaultKind::Delay, CMD_FW_UPDATE, 100, false});
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu);
  Answer("4", " --> ");
  tool_->SendLine(WriteFile("image.bin", FirmwareImage(40 * 1024)));
  ASSERT_TRUE(scene_.server->WaitForReceived(2, 10s));
  ASSERT_EQ(kill(tool_->Pid(), SIGINT), 0);
  EXPECT_EQ(tool_->WaitExit(), -SIGINT);
  // The block in flight when the signal came is answered; no block follows it.
  EXPECT_LE(scene_.server->Received().size(), 3u);
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

TEST_P(Tarvik, SystemCommandPrintsTheReply) {
  scene_.adapter.Configure(
      [](sim::AdapterProfile& p) { p.systemReplies["show version"] = "emulated adapter 1.0"; });
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu);
  EXPECT_EQ(Answer("1", " --> "), "1\n" + kCommandPrompt);
  EXPECT_EQ(Answer("show version", kKeyPrompt),
            "show version\n\n emulated adapter 1.0\n\n Press any key");
  ASSERT_TRUE(tool_->SendKey('k'));
  EXPECT_EQ(tool_->ReadUntil(menu_), menu_);
  // A reply without its NUL is printed as far as the answer goes; over serial the checksum and
  // the end byte follow it in the buffer and must not show.
  scene_.adapter.AddFault({sim::FaultKind::NoTextEnd, CMD_SYSTEMCMD, 0, true});
  Answer("1", " --> ");
  EXPECT_EQ(Answer("show version", kKeyPrompt),
            "show version\n\n emulated adapter 1.0\n\n Press any key");
  KeyMenuAndQuit();
  const auto frames = SentFrames();
  ASSERT_EQ(frames.size(), 2u);
  // "show version" is 12 characters: the NUL and 3 fill bytes make 16 data bytes.
  EXPECT_EQ(frame::Get16(&frames[0][frame::kOffFrameLength]), 16 + 16);
  EXPECT_EQ(sim::Bytes(frames[0].begin() + frame::kHeaderSize + 12, frames[0].end()),
            (sim::Bytes{0x00, 0xFF, 0xFF, 0xFF}));
}

// Slow: the adapter takes 8 s to come back after it confirmed.
TEST_P(Tarvik, RestartPausesBeforeTheKeyPrompt) {
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu);
  EXPECT_EQ(Answer("2", "...\n"), "2\n\n Recv reset_sys confirmation\n Now restarting...\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(tool_->ReadUntil(kKeyPrompt, 30s), "\n Press any key");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 7500ms) << "the tool pauses 8000 ms";
  KeyMenuAndQuit();
  const auto frames = SentFrames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), 32u);
  EXPECT_EQ(frame::Get16(&frames[0][frame::kOffCommand]), 0x4001);
}

INSTANTIATE_TEST_SUITE_P(E2e, Tarvik, kBothLinks, kLinkName);

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
