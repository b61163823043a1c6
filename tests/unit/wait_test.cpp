// The one wait, in process: a request to end noted before or during a wait (a pause, a receive)
// ends it at once, and the noted signal takes its course when the watch ends. Each case runs in a child process
// (a death test), since it ends by a signal.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/console_io.h"
#include "platform/net.h"
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

// A UDP socket on a loopback port of the system's choosing, with the receive time-out set as the
// link sets it before every receive; nothing is ever sent to it.
plat::SocketHandle QuietSocket(int timeoutMs) {
  const plat::SocketHandle socket = plat::UdpSocket();
  plat::Ipv4SockAddr local{};
  local.family = plat::kFamilyInet;
  local.addr = plat::InetAddr("127.0.0.1");
  if (socket == plat::kInvalidSocket || plat::Bind(socket, local) != plat::BindResult::Ok) {
    std::abort();
  }
  plat::SetSocketOption(socket, plat::SockOpt::RecvTimeoutMs, timeoutMs);
  return socket;
}

// Prints how a receive on a quiet socket ended, for the death test to match.
void ReportReceive(int timeoutMs) {
  const plat::SocketHandle socket = QuietSocket(timeoutMs);
  std::uint8_t buffer[64];
  const auto start = Clock::now();
  const long got = plat::RecvFrom(socket, buffer, sizeof buffer, timeoutMs);
  const bool early = Clock::now() - start < 2s;
  std::fprintf(stderr, "received %ld %s\n", got, early ? "early" : "late");
}

// The receive blocks in the system with no poll beside it: a request to end must still reach it.
TEST(WaitDeathTest, ASignalDuringAReceiveEndsIt) {
  EXPECT_EXIT(
      {
        const plat::TerminationWatch watch;
        std::thread([] {
          std::this_thread::sleep_for(100ms);
          kill(getpid(), SIGINT);
        }).detach();
        ReportReceive(10000);
      },
      ::testing::KilledBySignal(SIGINT), "received -1 early");
}

// A signal that comes just before the receive begins does not interrupt it, nor does one that
// another thread takes: the request must end the receive all the same.
TEST(WaitDeathTest, ARequestThatDoesNotInterruptTheReceiveStillEndsIt) {
  EXPECT_EXIT(
      {
        const plat::TerminationWatch watch;
        std::thread([] {
          std::this_thread::sleep_for(100ms);
          kill(getpid(), SIGINT);  // taken by this thread, the only one that lets it through
        }).detach();
        sigset_t interrupt;
        sigemptyset(&interrupt);
        sigaddset(&interrupt, SIGINT);
        pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
        ReportReceive(10000);
        pthread_sigmask(SIG_UNBLOCK, &interrupt, nullptr);
      },
      ::testing::KilledBySignal(SIGINT), "received -1 early");
}

TEST(WaitDeathTest, ASignalNotedBeforeAReceiveEndsItAtOnce) {
  EXPECT_EXIT(
      {
        const plat::TerminationWatch watch;
        raise(SIGTERM);
        ReportReceive(10000);
      },
      ::testing::KilledBySignal(SIGTERM), "received -1 early");
}

void Ignore(int) {}

// A signal that ends nothing interrupts the receive in the system; the receive goes on and
// still waits its whole time, no more.
TEST(Wait, ASignalThatEndsNothingLeavesTheReceiveItsTime) {
  const plat::TerminationWatch watch;
  struct sigaction handler {};
  handler.sa_handler = Ignore;  // no SA_RESTART: the receive comes back with EINTR
  sigemptyset(&handler.sa_mask);
  struct sigaction before {};
  sigaction(SIGUSR1, &handler, &before);
  const plat::SocketHandle socket = QuietSocket(300);
  const pthread_t self = pthread_self();
  std::thread interrupt([self] {
    std::this_thread::sleep_for(100ms);
    pthread_kill(self, SIGUSR1);
  });
  std::uint8_t buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(plat::RecvFrom(socket, buffer, sizeof buffer, 300), -1);
  const auto waited = Clock::now() - start;
  interrupt.join();
  sigaction(SIGUSR1, &before, nullptr);
  plat::CloseSocket(socket);
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 5s);
  EXPECT_FALSE(plat::TerminationRequested());
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
