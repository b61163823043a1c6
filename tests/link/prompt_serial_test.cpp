// PromptSerialIf against the emulated adapter on a pseudo-terminal: every command of both tools
// through their handlers, and a request to end during the wait for an answer.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "extcmd/prompt_serial.h"
#include "platform/termination.h"
#include "sample/handlers.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "tarvik/handlers.h"
#include "tests/e2e/tool_test.h"
#include "tests/unit/fixtures.h"

namespace {

using namespace std::chrono_literals;

const sim::Mac kRemoteMac = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};

class PromptOverSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    adapter.Configure([](sim::AdapterProfile& p) {
      e2e::SetStatusValues(p.status);
      e2e::SetExampleIdentity(p.identity);
      sim::RemoteAdapter remote;
      remote.status.master = false;
      remote.status.mac = kRemoteMac;
      remote.status.mainVersion = "REMOTE MAIN 2.1";
      p.remotes[kRemoteMac] = remote;
      // Stuffed on the way back: the reply holds both bytes the line escapes.
      p.systemReplies["show version"] = "adapter \xA2\xA3 1.0";
    });
    ASSERT_EQ(link.OpenSerial(server.PortName().c_str(), 115200, 8, 0, 0), 1);
  }
  void TearDown() override { link.CloseSerial(); }

  sim::Adapter adapter;
  sim::SerialServer server{adapter, {}};
  PromptSerialIf link{5000};
};

// Each handler's screen shows what the adapter was told to answer; the restart's pause is
// recorded, not slept.
TEST_F(PromptOverSerial, AnswersEveryCommandOfBothTools) {
  const struct {
    const char* name;
    std::function<int(C_ZANTO_EXTCMD_IF&)> handler;
    std::string input;
    std::string shown;  // a part of the screen
    std::vector<std::uint32_t> pauses;
  } cases[] = {
      {"Get Status",
       GetStatus,
       "k",
       " MAC Address ............ 00-11-22-33-44-55\n" + e2e::kStatusValueLines,
       {}},
      {"PLC Info Resolution",
       InfoResolution,
       e2e::kExampleIdentityAddress + "\nk",
       e2e::kExampleIdentityScreen,
       {}},
      {"PLC Remote",
       PlcRemote,
       "1\n0123456789AB\n10\nk0\n",
       " MAC Address ............ 01-23-45-67-89-ab\n",
       {}},
      {"System Command", SystemCommand, "show version\nk", "\n adapter \xA2\xA3 1.0\n", {}},
      {"Restart", Restart, "k", "\n Recv reset_sys confirmation\n Now restarting...\n", {8000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::ScriptedConsole io(c.input);
    EXPECT_EQ(c.handler(link), 1) << io.output;
    EXPECT_NE(io.output.find(c.shown), std::string::npos) << io.output;
    EXPECT_EQ(io.pauses, c.pauses);
    EXPECT_EQ(io.Unread(), 0u);
  }
  EXPECT_EQ(adapter.RequestCount(), std::size(cases));
  EXPECT_EQ(server.AnswersSent(), std::size(cases));
}

// Prints how the receive ended, for the death test to match.
void ReportReceiveDuringRequestToEnd() {
  sim::Adapter adapter;
  adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  sim::SerialServer server(adapter, {});
  PromptSerialIf link(60000);
  if (link.OpenSerial(server.PortName().c_str(), 115200, 8, 0, 0) != 1) std::abort();
  const plat::TerminationWatch watch;
  std::thread([] {
    std::this_thread::sleep_for(200ms);
    kill(getpid(), SIGTERM);
  }).detach();
  link.MakeCommand(CMD_GET_STATUS, 4);
  const auto start = std::chrono::steady_clock::now();
  const int result = link.Transact(0);
  const bool early = std::chrono::steady_clock::now() - start < 30s;
  std::fprintf(stderr, "result %d code %d %s\n", result, link.GetErrorCode(),
               early ? "early" : "late");
  link.CloseSerial();
}

// The wait for an answer 60 s long ends at once, as the tools' waits all do; the signal then
// takes its course.
TEST(PromptOverSerialDeathTest, ARequestToEndEndsTheWaitAtOnce) {
  EXPECT_EXIT(ReportReceiveDuringRequestToEnd(), ::testing::KilledBySignal(SIGTERM),
              "result 0 code 10105 early");
}

}  // namespace
