// A terminating signal at every kind of wait of both tools, on both links, sent the instant the
// wait shows (the moment a signal used to slip in unseen), many times over: each time the tool
// ends by that signal within a second, and leaves the terminal's modes and the serial port's
// settings as they were before it started.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Each wait is tried this often at most, and for about this long at most.
constexpr int kMostTries = 40;
constexpr auto kTryTime = 4s;
constexpr auto kEndsWithin = 1s;

// How a try reaches its wait: lines typed, each once the text before it has shown; the wait
// itself shows as the last text, or as the emulator's having received (or answered) the
// request that the tool now waits on.
enum class Mark { Text, RequestReceived, AnswerSent };

struct WaitCase {
  std::string name;
  const char* program;
  Link link;
  std::vector<std::pair<std::string, std::string>> steps;  // {line typed, text then shown}
  Mark mark = Mark::Text;
  bool silentAdapter = false;  // the adapter never answers: the tool waits for its time-out
  int arpSeconds = -1;         // "ARP" = 1, and the arp command takes this long
  friend void PrintTo(const WaitCase& c, std::ostream* os) { *os << c.name; }
};

bool SameModes(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

ToolScene::Settings SceneFor(const WaitCase& c) {
  ToolScene::Settings settings;
  settings.serial = c.link == Link::Serial;
  settings.arp = c.arpSeconds >= 0;
  settings.arpSeconds = std::max(c.arpSeconds, 0);
  return settings;
}

class SignalAtEveryWait : public ::testing::TestWithParam<WaitCase> {
 protected:
  SignalAtEveryWait() {
    // A quit signal would leave a core file for every try.
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
  }
};

TEST_P(SignalAtEveryWait, EndsTheToolAtOnceAndRestoresWhatItChanged) {
  const WaitCase& c = GetParam();
  ToolScene scene(SceneFor(c));
  if (c.silentAdapter) scene.adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  WriteFile(scene.scratch.Path(), "image.bin", FirmwareImage(1));
  const auto serialModes = [&scene] {
    termios t{};
    if (scene.serialServer) tcgetattr(scene.serialServer->LineHandle(), &t);
    return t;
  };
  const termios serialBefore = serialModes();

  const auto start = std::chrono::steady_clock::now();
  int tries = 0;
  for (; tries < kMostTries && std::chrono::steady_clock::now() - start < kTryTime; ++tries) {
    const int signo = kSignals[static_cast<std::size_t>(tries) % kSignals.size()];
    const std::size_t received = scene.adapter.RequestCount();
    const std::size_t answered =
        scene.serialServer ? scene.serialServer->AnswersSent() : scene.server->AnswersSent();
    PtyProcess tool(scene.Launch(c.program));
    const termios before = tool.Modes();
    ASSERT_TRUE(tool.Expect(kLinkPrompt)) << tool.Output();
    for (const auto& [line, shown] : c.steps) {
      tool.SendLine(line);
      ASSERT_TRUE(tool.Expect(shown)) << c.name << ": no " << shown << " in " << tool.Output();
    }
    if (c.mark == Mark::RequestReceived) {
      const auto deadline = std::chrono::steady_clock::now() + kDefaultWait;
      while (scene.adapter.RequestCount() == received &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
      }
      ASSERT_GT(scene.adapter.RequestCount(), received) << tool.Output();
    } else if (c.mark == Mark::AnswerSent) {
      const bool sent = scene.serialServer
                            ? scene.serialServer->WaitForAnswers(answered + 1, kDefaultWait)
                            : scene.server->WaitForAnswers(answered + 1, kDefaultWait);
      ASSERT_TRUE(sent) << tool.Output();
    }
    ASSERT_EQ(kill(tool.Pid(), signo), 0);
    const auto status = tool.WaitExit(kEndsWithin);
    ASSERT_TRUE(status.has_value())
        << c.name << ": still running 1 s after signal " << signo << " (try " << tries << ")";
    EXPECT_EQ(*status, -signo) << c.name << " try " << tries;
    EXPECT_TRUE(SameModes(tool.Modes(), before))
        << c.name << ": terminal modes changed, try " << tries;
    if (scene.serialServer) {
      EXPECT_TRUE(SameModes(serialModes(), serialBefore))
          << c.name << ": serial settings not restored, try " << tries;
    }
    if (HasFailure()) break;
  }
  EXPECT_GE(tries, 3) << "too few tries in the time given";
}

std::vector<WaitCase> Cases() {
  const std::pair<std::string, std::string> udp{"0", kSampleMenu};
  const std::pair<std::string, std::string> serial{"1", kSampleMenu};
  const std::pair<std::string, std::string> udpT{"0", kTarvikMenu};
  const std::pair<std::string, std::string> serialT{"1", kTarvikMenu};
  std::vector<WaitCase> cases = {
      {"SampleLinkPrompt", SAMPLE_PROGRAM, Link::Udp, {}},
      {"TarvikLinkPrompt", TARVIK_PROGRAM, Link::Udp, {}},
      {"SampleArpCommand", SAMPLE_PROGRAM, Link::Udp, {{"0", "fake arp"}}, Mark::Text, false, 2},
      {"SampleIpPrompt", SAMPLE_PROGRAM, Link::Udp, {udp, {"2", kIpPrompt}}},
      {"SampleSubMenu", SAMPLE_PROGRAM, Link::Udp, {udp, {"3", kSubMenu}}},
      {"SampleMacPrompt", SAMPLE_PROGRAM, Link::Udp, {udp, {"3", kSubMenu}, {"1", kMacPrompt}}},
      {"SampleWaitTimePrompt",
       SAMPLE_PROGRAM,
       Link::Udp,
       {udp, {"3", kSubMenu}, {"1", kMacPrompt}, {"0123456789ab", kWaitPrompt}}},
      {"SampleImagePrompt", SAMPLE_PROGRAM, Link::Udp, {udp, {"4", kImagePrompt}}},
      {"SampleFirmwarePause",
       SAMPLE_PROGRAM,
       Link::Udp,
       {udp, {"4", kImagePrompt}, {"image.bin", "Wait for writing memory"}},
       Mark::AnswerSent},
      {"TarvikCommandPrompt", TARVIK_PROGRAM, Link::Udp, {udpT, {"1", kCommandPrompt}}},
      {"TarvikRestartPause", TARVIK_PROGRAM, Link::Udp, {udpT, {"2", " Now restarting...\n"}}},
  };
  // The menu, the key wait after an answer, and the answer wait itself, on both links.
  for (const Link link : {Link::Udp, Link::Serial}) {
    const std::string over = "Over" + LinkName(link);
    const auto& s = link == Link::Udp ? udp : serial;
    const auto& t = link == Link::Udp ? udpT : serialT;
    cases.push_back({"SampleMenu" + over, SAMPLE_PROGRAM, link, {s}});
    cases.push_back({"TarvikMenu" + over, TARVIK_PROGRAM, link, {t}});
    cases.push_back({"SampleKeyWait" + over, SAMPLE_PROGRAM, link, {s, {"1", kKeyPrompt}}});
    cases.push_back({"TarvikKeyWait" + over,
                     TARVIK_PROGRAM,
                     link,
                     {t, {"1", kCommandPrompt}, {"show", kKeyPrompt}}});
    cases.push_back({"SampleAnswerWait" + over,
                     SAMPLE_PROGRAM,
                     link,
                     {s, {"1", ""}},
                     Mark::RequestReceived,
                     true});
    cases.push_back({"TarvikAnswerWait" + over,
                     TARVIK_PROGRAM,
                     link,
                     {t, {"1", kCommandPrompt}, {"show", ""}},
                     Mark::RequestReceived,
                     true});
  }
  cases.push_back({"SampleFirmwarePauseOverSerial",
                   SAMPLE_PROGRAM,
                   Link::Serial,
                   {serial, {"4", kImagePrompt}, {"image.bin", "Wait for writing memory"}},
                   Mark::AnswerSent});
  cases.push_back({"TarvikRestartPauseOverSerial",
                   TARVIK_PROGRAM,
                   Link::Serial,
                   {serialT, {"2", " Now restarting...\n"}}});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(E2e, SignalAtEveryWait, ::testing::ValuesIn(Cases()),
                         [](const auto& test) { return test.param.name; });

}  // namespace
}  // namespace e2e
