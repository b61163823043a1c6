// The one wait, in process: a request to end noted before or during a wait ends it at once, and
// the noted signal takes its course when the watch ends. Each case runs in a child process
// (a death test), since it ends by a signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/console_io.h"
#include "platform/termination.h"
#include "platform/wait.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Prints how the pause ended, for the death test to match.
void ReportPause(std::uint32_t milliseconds) {
  const auto start = Clock::now();
  const plat::WaitResult result = plat::Pause(milliseconds);
  const bool early = Clock::now() - start < 2s;
  std::fprintf(stderr, "%s %s\n", result == plat::WaitResult::Terminated ? "terminated" : "not",
               early ? "early" : "late");
}

TEST(WaitDeathTest, ASignalNotedBeforeThePauseEndsItAtOnceAndThenTheProcess) {
  EXPECT_EXIT(
      {
        const plat::TerminationWatch watch;
        raise(SIGTERM);  // noted only: the process goes on
        ReportPause(10000);
      },
      ::testing::KilledBySignal(SIGTERM), "terminated early");
}

TEST(WaitDeathTest, ASignalDuringThePauseEndsIt) {
  EXPECT_EXIT(
      {
        const plat::TerminationWatch watch;
        std::thread([] {
          std::this_thread::sleep_for(100ms);
          kill(getpid(), SIGHUP);
        }).detach();
        ReportPause(10000);
      },
      ::testing::KilledBySignal(SIGHUP), "terminated early");
}

TEST(WaitDeathTest, OutputThatIsLostEndsTheWaitsAndTheProcessAsABrokenPipeDoes) {
  EXPECT_EXIT(
      {
        const plat::TerminationWatch watch;
        plat::NoteOutputLost();
        ReportPause(10000);
      },
      ::testing::KilledBySignal(SIGPIPE), "terminated early");
}

TEST(WaitDeathTest, ASignalTheCallerIgnoresStaysIgnored) {
  EXPECT_EXIT(
      {
        signal(SIGINT, SIG_IGN);
        {
          const plat::TerminationWatch watch;
          raise(SIGINT);
          std::fprintf(stderr, "%s\n", plat::TerminationRequested() ? "noted" : "ignored");
        }
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "ignored");
}

TEST(Wait, APauseWithoutARequestTakesItsTime) {
  const plat::TerminationWatch watch;
  const auto start = Clock::now();
  EXPECT_EQ(plat::Pause(50), plat::WaitResult::TimedOut);
  EXPECT_GE(Clock::now() - start, 50ms);
  EXPECT_FALSE(plat::TerminationRequested());
}

}  // namespace
