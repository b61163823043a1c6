// The tools with pipes for standard input and output, as in a script or a pipeline: a signal
// during an exchange, and an output that goes away, end the run as at a terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <cstring>
#include <string>

#include "tests/e2e/pipe_driver.h"
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

}  // namespace
}  // namespace e2e
