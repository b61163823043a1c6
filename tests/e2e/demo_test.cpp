// scripts/demo.sh as CI runs it, with no terminal: every step of its tour is typed for it, every
// command's screen appears, the one failure it shows is the one it explains, and its tour is the
// one the README quotes; plcctl's JSON line follows.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/pipe_driver.h"
#include "tests/e2e/scene.h"
#include "tests/texts.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The README's first run quotes the tour of sample: the text block that begins with its heading.
std::string ReadmeTour() {
  std::ifstream in(README_FILE);
  std::stringstream text;
  text << in.rdbuf();
  const std::string readme = text.str();
  const std::size_t begin = readme.find("```text\n== sample, the maintenance tool.");
  if (begin == std::string::npos) return {};
  const std::size_t from = begin + std::string("```text\n").size();
  return readme.substr(from, readme.find("```", from) - from);
}

TEST(Demo, TypedForItEveryCommandWorksAndEndsWith0) {
  // The programs of this build, on a port no other test uses now.
  PipeProcess demo(
      {"/bin/bash",
       {DEMO_SCRIPT},
       {},
       {"PLC_DEMO_BUILD=" PLC_BUILD_DIR, "PLC_DEMO_PORT=" + std::to_string(FreeUdpPort())}});
  demo.CloseInput();
  // The tools' own pauses (10 s after the image, 8 s after the restart) and little else.
  const auto status = demo.WaitExit(60s);
  const std::string& out = demo.Output();
  ASSERT_EQ(status, 0) << out;

  // The tour names what to type: the remote adapter's MAC address and the image's file name.
  for (const char* line : {"   3  PLC Remote: 1 (Get Status), MAC address 0011223344aa",
                           "   4  Update Firmware: firmware.bin", "MAC address 0011223344bb",
                           "   1  System Command: show version", "   2  Restart"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line;
  }
  const std::string tour = ReadmeTour();
  ASSERT_FALSE(tour.empty()) << "no tour of sample in " README_FILE;
  EXPECT_NE(out.find(tour), std::string::npos) << "README's tour:\n" << tour << "\ndemo:\n" << out;
  // What each command shows, in the order typed.
  std::size_t at = 0;
  for (const std::string& screen : std::vector<std::string>{
           // Get Status
           " Mode ................... Master\n MAC Address ............ 00-11-22-33-44-55\n",
           // PLC Info Resolution
           " IP Address.............. 127.0.0.2\n",
           // PLC Remote
           " Mode ................... Terminal(authenticated)\n"
           " MAC Address ............ 00-11-22-33-44-aa\n"
           " Master MAC Address ..... 00-11-22-33-44-55\n",
           // the failure shown on purpose, an adapter that the emulator does not know
           "\n Failure:10207\n Result:2\n",
           // Update Firmware: 5 blocks, the emulator got the file's bytes unchanged
           " ....\n Wait for writing memory\n Success update firmware\n",
           "== The emulator received firmware.bin whole, all 4800 bytes.",
           // System Command
           tool_texts::kCommandPrompt + "\n emulated adapter 1.0\n",
           // Restart
           "\n Recv reset_sys confirmation\n Now restarting...\n",
           "== Done",
       }) {
    const std::size_t found = out.find(screen, at);
    EXPECT_NE(found, std::string::npos) << screen << "\n--- after offset " << at << " of:\n" << out;
    if (found != std::string::npos) at = found;
  }
  EXPECT_EQ(Count(out, "\n Failure:"), 1u) << out;

  // plcctl's one line, after tarvik's round, with the emulator's status.
  const std::string typed = "== Typed for you: plcctl --json status\n";
  const std::size_t line = out.find(typed);
  ASSERT_NE(line, std::string::npos) << out;
  EXPECT_GT(line, out.find("Now restarting...")) << "after tarvik";
  const std::size_t from = line + typed.size();
  const auto result = nlohmann::json::parse(out.substr(from, out.find('\n', from) - from));
  EXPECT_EQ(result.at("adapter"), "127.0.0.2");
  EXPECT_EQ(result.at("command"), "status");
  EXPECT_EQ(result.at("ok"), true);
  EXPECT_EQ(result.at("status").at("mode"), "master");
  EXPECT_EQ(result.at("status").at("mac"), "00-11-22-33-44-55");
}

}  // namespace
}  // namespace e2e
