// The maintenance tool as a technician runs it: a terminal, "sample.ini", and an adapter on UDP.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "extcmd/frame.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"
#include "tests/toolkit/process.h"

namespace e2e {
namespace {

// Starts the tool in the scene and chooses the UDP link; the main menu is then on screen. What
// showed before it (the arp command's output, say) is kept.
class SampleOverUdp : public ToolTest {
 protected:
  explicit SampleOverUdp(const ToolScene::Settings& settings = {}) : ToolTest(settings) {}

  void StartAtMenu() {
    menu_ = kSampleMenu;
    tool_.emplace(scene_.Launch(SAMPLE_PROGRAM));
    ASSERT_EQ(tool_->ReadUntil(kLinkPrompt), kLinkPrompt);
    tool_->SendLine("0");
    const auto shown = tool_->ReadUntil(kSampleMenu);
    ASSERT_TRUE(shown) << tool_->Output();
    linkOutput_ = *shown;
  }

  std::string linkOutput_;
};

struct StatusCase {
  const char* name;
  bool master;
  bool authenticated;
  const char* modeLines;
  friend void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }
};

class GetStatusOverUdp : public SampleOverUdp, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(GetStatusOverUdp, PrintsTheAdaptersRecord) {
  const StatusCase& c = GetParam();
  scene_.adapter.Configure([&c](sim::AdapterProfile& p) {
    p.status.master = c.master;
    p.status.authenticated = c.authenticated;
    p.status.mac = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD};
    p.status.masterMac = {0x02, 0x03, 0x04, 0x05, 0x06, 0xF7};
    SetStatusValues(p.status);
  });
  StartAtMenu();
  EXPECT_EQ(UpToKeyPrompt("1"),
            std::string("1\n\n") + c.modeLines + kStatusValueLines + "\n\n Press any key");
  KeyMenuAndQuit();
  const auto received = scene_.server->Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].bytes.size(), 34u);
  EXPECT_EQ(received[0].fromAddress, kToolAddress);
  EXPECT_EQ(received[0].fromPort, scene_.port);
}

INSTANTIATE_TEST_SUITE_P(
    E2e, GetStatusOverUdp,
    ::testing::Values(StatusCase{"Master", true, false,
                                 " Mode ................... Master\n"
                                 " MAC Address ............ 00-11-aa-bb-cc-dd\n"},
                      StatusCase{"TerminalAuthenticated", false, true,
                                 " Mode ................... Terminal(authenticated)\n"
                                 " MAC Address ............ 00-11-aa-bb-cc-dd\n"
                                 " Master MAC Address ..... 02-03-04-05-06-f7\n"},
                      StatusCase{"TerminalNotAuthenticated", false, false,
                                 " Mode ................... Terminal(not authenticated)\n"
                                 " MAC Address ............ 00-11-aa-bb-cc-dd\n"
                                 " Master MAC Address ..... 02-03-04-05-06-f7\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(SampleOverUdp, InfoResolutionSendsTheAddressTypedAndPrintsTheIdentity) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) { SetExampleIdentity(p.identity); });
  StartAtMenu();
  tool_->SendLine("2");
  ASSERT_TRUE(tool_->Expect(kIpPrompt));
  EXPECT_EQ(UpToKeyPrompt(kExampleIdentityAddress),
            kExampleIdentityAddress + "\n" + kExampleIdentityScreen);
  KeyMenuAndQuit();
  const auto requests = scene_.adapter.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(frame::Get16(&requests[0][24]), 0xB001);
  EXPECT_EQ(sim::Bytes(requests[0].begin() + frame::kHeaderSize, requests[0].end()),
            (sim::Bytes{0xC0, 0xA8, 0x00, 0x0A}));
}

TEST_F(SampleOverUdp, AResultFailureIsReported) {
  scene_.adapter.AddFault({sim::FaultKind::Result, CMD_GET_STATUS, 5, false});
  StartAtMenu();
  EXPECT_EQ(UpToKeyPrompt("1"), "1\n\n Failure:10207\n Result:5\n\n Press any key");
  KeyMenuAndQuit();
}

TEST_F(SampleOverUdp, NoAnswerIsReportedAfterTheTimeOut) {
  scene_.adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  StartAtMenu();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(UpToKeyPrompt("1", 30s), "1\n\n Failure:10009\n\n Press any key");
  EXPECT_GE(std::chrono::steady_clock::now() - start, 4500ms) << "the tool waits 5000 ms";
  KeyMenuAndQuit();
}

class SampleWithArp : public SampleOverUdp {
 protected:
  SampleWithArp() : SampleOverUdp(WithArp()) {}
  static ToolScene::Settings WithArp() {
    ToolScene::Settings s;
    s.arp = true;
    s.mac = "0011AABBCCDD";
    return s;
  }
};

TEST_F(SampleWithArp, RunsArpBeforeTheFirstDatagram) {
  StartAtMenu();
  // arp has run to its end, on the tool's console, and nothing was sent yet.
  EXPECT_EQ(scene_.arp.Calls(), (std::vector<std::vector<std::string>>{
                                    {"-s", kAdapterAddress, "00-11-aa-bb-cc-dd", kToolAddress}}));
  EXPECT_NE(linkOutput_.find("fake arp -s 127.0.0.2 00-11-aa-bb-cc-dd 127.0.0.1"),
            std::string::npos);
  EXPECT_TRUE(scene_.server->Received().empty());
  // The link opened after it works.
  EXPECT_NE(UpToKeyPrompt("1").find(" Mode ................... Master\n"), std::string::npos);
  KeyMenuAndQuit();
  EXPECT_EQ(scene_.server->Received().size(), 1u);
}

// The console conventions through a real terminal.
class MainMenuRejects : public SampleOverUdp, public ::testing::WithParamInterface<std::string> {};

TEST_P(MainMenuRejects, TheLineAndShowsTheMenuAgain) {
  StartAtMenu();
  tool_->SendLine(GetParam());
  EXPECT_EQ(tool_->ReadUntil(kSampleMenu), GetParam() + "\n" + kRejected + kSampleMenu);
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);
  EXPECT_TRUE(scene_.server->Received().empty());
}

INSTANTIATE_TEST_SUITE_P(E2e, MainMenuRejects,
                         ::testing::Values("", "1a", "-1", "5", "999999999999"));

TEST_F(SampleOverUdp, ALeadingZeroSelectsTheEntry) {
  StartAtMenu();
  tool_->SendLine("04");
  // Entry 4 runs: the firmware prompt, or straight back to the menu while it has none.
  const auto shown = tool_->ReadUntilAny({"Input number --> ", "firmware image file --> "});
  ASSERT_TRUE(shown) << tool_->Output();
  EXPECT_EQ(shown->find("Invalid value"), std::string::npos) << *shown;
}

TEST_F(SampleOverUdp, ZeroEndsTheToolWithStatus0) {
  StartAtMenu();
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);
  EXPECT_EQ(tool_->Unconsumed(), "0\n");
}

TEST_F(SampleOverUdp, EndOfInputAtTheMainMenuEndsTheToolWithStatus0) {
  StartAtMenu();
  tool_->SendEof();
  EXPECT_EQ(tool_->WaitExit(), 0);
}

TEST_F(SampleOverUdp, AnOverlongLineIsRejectedOnce) {
  StartAtMenu();
  // The terminal itself keeps at most 4095 characters of a line; the rest never reaches the tool.
  tool_->SendLine(std::string(5000, '9'));
  const auto shown = tool_->ReadUntil(kSampleMenu);
  ASSERT_TRUE(shown) << tool_->Unconsumed().substr(0, 200);
  EXPECT_EQ(shown->substr(shown->size() - kRejected.size() - kSampleMenu.size()),
            kRejected + kSampleMenu);
  EXPECT_EQ(shown->find(kRejected), shown->rfind(kRejected)) << "one rejection only";
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);
}

TEST_F(SampleOverUdp, WaitKeyTakesOneKeyWithoutEcho) {
  StartAtMenu();
  UpToKeyPrompt("1");
  ASSERT_TRUE(tool_->SendKey('x'));
  // Straight to the menu: no "x" echoed, and no line awaited.
  EXPECT_EQ(tool_->ReadUntil(kSampleMenu), kSampleMenu);
  tool_->SendLine("0");
  EXPECT_EQ(tool_->WaitExit(), 0);
  EXPECT_EQ(tool_->Unconsumed(), "0\n");
}

struct SignalCase {
  const char* name;
  int signo;
};

class SignalDuringKeyWait : public SampleOverUdp,
                            public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalDuringKeyWait, RestoresTheTerminalAndTakesItsCourse) {
  StartAtMenu();
  UpToKeyPrompt("1");
  ASSERT_TRUE(tool_->WaitForKeyMode());
  ASSERT_FALSE(tool_->InLineMode());
  ASSERT_EQ(kill(tool_->Pid(), GetParam().signo), 0);
  EXPECT_EQ(tool_->WaitExit(), -GetParam().signo);
  EXPECT_TRUE(tool_->InLineMode());
}

INSTANTIATE_TEST_SUITE_P(E2e, SignalDuringKeyWait,
                         ::testing::Values(SignalCase{"Interrupt", SIGINT},
                                           SignalCase{"Terminate", SIGTERM},
                                           SignalCase{"Hangup", SIGHUP}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(SampleOverUdp, EndOfInputInsideAHandlerEndsTheToolWithStatus1) {
  StartAtMenu();
  tool_->SendLine("2");
  ASSERT_TRUE(tool_->Expect(kIpPrompt));
  tool_->SendEof();
  EXPECT_EQ(tool_->WaitExit(), 1);
  EXPECT_EQ(scene_.adapter.RequestCount(), 0u);
}

// Runs the program in the scene's folder with standard input from a file instead of a terminal,
// as a script would; returns its exit status and what it printed.
std::pair<int, std::string> RunWithInput(const ToolScene& scene, const std::string& input) {
  const auto dir = scene.scratch.Path();
  std::ofstream(dir / "input.txt", std::ios::binary) << input;
  const toolkit::UniqueFd in = toolkit::OpenFile(dir / "input.txt", O_RDONLY);
  const toolkit::UniqueFd out = toolkit::OpenFile(dir / "output.txt", O_WRONLY | O_CREAT | O_TRUNC);
  toolkit::Child tool = toolkit::Child::Spawn({SAMPLE_PROGRAM, {}, dir.string(), {}},
                                              {.in = in.get(), .out = out.get()});
  // Bounded: the tool ends when its input does.
  const std::optional<int> status = tool.Wait(kDefaultWait);
  if (!status) return {-1, "did not end"};
  std::ostringstream shown;
  shown << std::ifstream(dir / "output.txt", std::ios::binary).rdbuf();
  return {*status, shown.str()};
}

TEST(SampleFromAFile, ALineBeyondTheLineBufferIsRejectedWholeAndNotCutShort) {
  ToolScene scene;
  // 4999 zeros and a 1 would read as 1 (Get Status) if the line were cut short.
  const auto [status, output] = RunWithInput(scene, "0\n" + std::string(4999, '0') + "1\n0\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, kLinkPrompt + kSampleMenu + kRejected + kSampleMenu);
  EXPECT_EQ(scene.adapter.RequestCount(), 0u);
}

TEST(SampleFromAFile, KeyWaitTakesOneByteAndCrLfLinesWork) {
  ToolScene scene;
  const auto [status, output] = RunWithInput(scene, "0\r\n1\r\nk0\r\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(scene.adapter.RequestCount(), 1u);
  EXPECT_NE(output.find(" Press any key" + kSampleMenu), std::string::npos) << output;
}

}  // namespace
}  // namespace e2e
