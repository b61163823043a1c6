// The tools with pipes for standard input and output, as in a script or a pipeline: each prompt
// comes before the tool waits for its answer; every screen comes, whole and in order, when input
// ends or a signal ends the run; a signal during an exchange, and an output that goes away, end
// the run as at a terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/pipe_driver.h"
#include "tests/e2e/piped_cases.h"
#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

class Piped : public ::testing::TestWithParam<Link> {
 protected:
  Piped() : scene_(WithSerialLine()) {}

  termios SerialSettings() const {
    termios t{};
    tcgetattr(scene_.serialServer->LineHandle(), &t);
    return t;
  }

  ToolScene scene_;
};

// The key wait after the failure report used to look at nothing but its input, and waited for
// good: now a signal that cuts the answer wait short ends the run, without a report.
TEST_P(Piped, SignalDuringAnExchangeEndsTheRun) {
  scene_.adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  PipeProcess tool(scene_.Launch(SAMPLE_PROGRAM));
  ASSERT_TRUE(tool.Write(LinkChoice(GetParam()) + "\n1\n"));  // the input stays open
  ASSERT_TRUE(tool.ReadUntil(kSampleMenu));
  const auto deadline = std::chrono::steady_clock::now() + kDefaultWait;
  while (scene_.adapter.RequestCount() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(scene_.adapter.RequestCount(), 1u);
  ASSERT_EQ(kill(tool.Pid(), SIGINT), 0);
  EXPECT_EQ(tool.WaitExit(1s), -SIGINT);
  EXPECT_EQ(tool.Output().find("Failure"), std::string::npos) << tool.Output();
}

// "sample | head -c 20": once nobody reads the output, the tool closes its link (the serial
// port gets its settings back) and ends as a writer to a closed pipe does.
TEST_P(Piped, OutputThatGoesAwayEndsTheRunAndRestoresThePort) {
  const termios before = SerialSettings();
  PipeProcess tool(scene_.Launch(SAMPLE_PROGRAM));
  ASSERT_TRUE(tool.Write(LinkChoice(GetParam()) + "\n"));
  ASSERT_TRUE(tool.ReadUntil("Input number --> "));
  tool.CloseOutput();
  tool.Write("1\n");  // a status screen, which nobody reads
  EXPECT_EQ(tool.WaitExit(), -SIGPIPE);
  const termios after = SerialSettings();
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
}

INSTANTIATE_TEST_SUITE_P(E2e, Piped, ::testing::Values(Link::Udp, Link::Serial),
                         [](const auto& info) { return LinkName(info.param); });

const char* Program(Tool tool) { return tool == Tool::Sample ? SAMPLE_PROGRAM : TARVIK_PROGRAM; }

// A tool over UDP with pipes for its console, in the scene of the piped cases.
class PipedOverUdp {
 protected:
  PipedOverUdp() { PreparePipedScene(scene_); }
  ToolScene scene_;
};

class PipedDialogue : public PipedOverUdp, public ::testing::TestWithParam<DialogueCase> {};

TEST_P(PipedDialogue, EachPromptComesBeforeTheToolWaitsForItsAnswer) {
  PipeProcess tool(scene_.Launch(Program(GetParam().tool)));
  std::string seen;
  for (const auto& [input, shown] : GetParam().steps) {
    ASSERT_TRUE(tool.Write(input));
    const auto got = tool.ReadUntil(shown);
    ASSERT_TRUE(got) << "no \"" << shown << "\" after \"" << input << "\" in " << tool.Output();
    seen += *got;
  }
  ASSERT_TRUE(tool.Write("0\n"));
  EXPECT_EQ(tool.WaitExit(), 0);
  EXPECT_EQ(tool.Output(), seen) << "more came after the last prompt";
}

INSTANTIATE_TEST_SUITE_P(E2e, PipedDialogue, ::testing::ValuesIn(DialogueCases()),
                         [](const auto& info) { return std::string(info.param.name); });

class PipedInputEnds : public PipedOverUdp, public ::testing::TestWithParam<EndCase> {};

TEST_P(PipedInputEnds, EveryScreenComesWholeAndInOrder) {
  PipeProcess tool(scene_.Launch(Program(GetParam().tool)));
  ASSERT_TRUE(tool.Write(GetParam().input));
  tool.CloseInput();
  EXPECT_EQ(tool.WaitExit(), GetParam().status);
  EXPECT_TRUE(tool.Output() == GetParam().output)
      << FirstDifference(tool.Output(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(E2e, PipedInputEnds, ::testing::ValuesIn(EndCases()),
                         [](const auto& info) { return info.param.name; });

// How a case knows the tool waits: a text has come, or the adapter has received (or answered)
// so many requests.
enum class WaitMark { Text, Requests, Answers };

struct SignalCase {
  std::string name;
  std::string input;  // written at once; the input stays open
  WaitMark mark;
  std::string text;   // WaitMark::Text
  std::size_t count;  // WaitMark::Requests, WaitMark::Answers
  bool silentAdapter;
  std::string output;  // all the tool shows, also after the signal
  friend void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }
};

class PipedSignal : public PipedOverUdp, public ::testing::TestWithParam<SignalCase> {};

TEST_P(PipedSignal, EndsTheRunWithAllItShowedBefore) {
  const SignalCase& c = GetParam();
  if (c.silentAdapter) scene_.adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  PipeProcess tool(scene_.Launch(SAMPLE_PROGRAM));
  ASSERT_TRUE(tool.Write(c.input));
  switch (c.mark) {
    case WaitMark::Text:
      ASSERT_TRUE(tool.ReadUntil(c.text)) << tool.Output();
      break;
    case WaitMark::Requests:
      ASSERT_TRUE(scene_.server->WaitForReceived(c.count, kDefaultWait));
      break;
    case WaitMark::Answers:
      ASSERT_TRUE(scene_.server->WaitForAnswers(c.count, kDefaultWait));
      break;
  }
  ASSERT_EQ(kill(tool.Pid(), SIGTERM), 0);
  EXPECT_EQ(tool.WaitExit(), -SIGTERM);
  EXPECT_TRUE(tool.Output() == c.output) << FirstDifference(tool.Output(), c.output);
}

std::vector<SignalCase> SignalCases() {
  const std::string start = kLinkPrompt + kSampleMenu;
  return {
      {"AtTheKeyWait", "0\n1\n", WaitMark::Text, kKeyPrompt, 0, false, start + StatusScreen()},
      {"AtTheMenuAfterACycle", "0\n1\nk", WaitMark::Text, kKeyPrompt + kSampleMenu, 0, false,
       start + StatusScreen() + kSampleMenu},
      {"DuringTheAnswerWait", "0\n1\n", WaitMark::Requests, "", 1, true, start},
      {"InTheFirmwarePause", "0\n4\nimage.bin\n", WaitMark::Answers, "", 3, false,
       start + kImagePrompt + " ..\n Wait for writing memory"},
  };
}

INSTANTIATE_TEST_SUITE_P(E2e, PipedSignal, ::testing::ValuesIn(SignalCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace e2e
