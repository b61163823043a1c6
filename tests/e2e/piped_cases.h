// The tools fed from a pipe or a file, as a script feeds them: the dialogues and the ends of
// input that the Linux programs and the Windows programs (under Wine) both go through, with the
// screens the tools show for them.
#pragma once

#include <algorithm>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/tool_test.h"

namespace e2e {

enum class Tool { Sample, Tarvik };

// The scene these cases expect: a tool over UDP whose adapter reports the shared status values
// and answers every system command "done: <command>", and a firmware image "image.bin".
inline void PreparePipedScene(ToolScene& scene) {
  scene.adapter.Configure([](sim::AdapterProfile& p) { SetStatusValues(p.status); });
  WriteFile(scene.scratch.Path(), "image.bin", FirmwareImage(3000));
}

// The screens of that scene's adapter, as the tools show them without a terminal (no echo).
inline std::string StatusScreen() {
  return "\n Mode ................... Master\n MAC Address ............ 00-11-22-33-44-55\n" +
         kStatusValueLines + "\n\n Press any key";
}

// What is written to the tool, and the text that must then show before anything more is written.
using Step = std::pair<std::string, std::string>;

struct DialogueCase {
  const char* name;
  Tool tool;
  std::vector<Step> steps;
  friend void PrintTo(const DialogueCase& c, std::ostream* os) { *os << c.name; }
};

// Each answer is written only once its prompt has come: a prompt kept back while the tool waits
// would stall the dialogue.
inline std::vector<DialogueCase> DialogueCases() {
  return {
      {"Sample",
       Tool::Sample,
       {{"", kLinkPrompt},
        {"0\n", kSampleMenu},
        {"1\n", kKeyPrompt},
        {"k", kSampleMenu},
        {"2\n", kIpPrompt},
        {"127.0.0.2\n", kKeyPrompt},
        {"k", kSampleMenu},
        {"3\n", kSubMenu},
        {"1\n", kMacPrompt},
        {"0123456789ab\n", kWaitPrompt},
        {"1\n", kKeyPrompt},  // no such remote adapter: a failure report
        {"k", kSampleMenu},
        {"3\n", kSubMenu},
        {"0\n", kSampleMenu},
        {"4\n", kImagePrompt},
        {"missing.bin\n", kKeyPrompt},
        {"k", kSampleMenu},
        {"x\n", kRejected + kSampleMenu}}},
      {"Tarvik",
       Tool::Tarvik,
       {{"", kLinkPrompt},
        {"0\n", kTarvikMenu},
        {"1\n", kCommandPrompt},
        {"show\n", kKeyPrompt},
        {"k", kTarvikMenu}}},
  };
}

// All the input written at once, then the input ends: the status and every screen, whole and in
// order. Input that ends at the link prompt or the main menu ends the tool with status 0; inside
// a command (a prompt of its own, the key wait), with status 1.
struct EndCase {
  std::string name;
  Tool tool;
  std::string input;
  std::string output;
  int status;
  friend void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }
};

// `manyCycles` Get Status cycles in one input: more than the tool reads at once, and more output
// than it keeps and a pipe holds.
inline std::vector<EndCase> EndCases(int manyCycles = 2000) {
  const std::string sample = kLinkPrompt + kSampleMenu;
  const std::string tarvik = kLinkPrompt + kTarvikMenu;
  const std::string cycle = StatusScreen() + kSampleMenu;
  const std::string command = "\n done: show\n\n Press any key";
  std::string manyInput = "0\n";
  std::string manyOutput = sample;
  for (int i = 0; i < manyCycles; ++i) {
    manyInput += "1\nk";
    manyOutput += cycle;
  }
  // The longest line a prompt takes has 4095 characters; one more is rejected, however long.
  const std::string longest = std::string(4094, '0') + "1";
  return {
      {"SampleQuitAfterTwoCycles", Tool::Sample, "0\n1\nk1\nk0\n", sample + cycle + cycle, 0},
      {"SampleCrLfLineEnds", Tool::Sample, "0\r\n1\r\nk0\r\n", sample + cycle, 0},
      {"SampleLastLineWithoutItsEnd", Tool::Sample, "0\n1\nk0", sample + cycle, 0},
      {"SampleAfterManyCyclesAtOnce", Tool::Sample, manyInput, manyOutput, 0},
      {"SampleAtTheLinkPrompt", Tool::Sample, "", kLinkPrompt, 0},
      {"SampleAtTheMenu", Tool::Sample, "0\n", sample, 0},
      {"SampleAtTheKeyWait", Tool::Sample, "0\n1\n", sample + StatusScreen(), 1},
      {"SampleAtTheAddressPrompt", Tool::Sample, "0\n2\n", sample + kIpPrompt, 1},
      {"SampleAtTheSubMenu", Tool::Sample, "0\n3\n", sample + kSubMenu, 1},
      {"SampleAtTheMacPrompt", Tool::Sample, "0\n3\n1\n", sample + kSubMenu + kMacPrompt, 1},
      {"SampleAtTheWaitTimePrompt", Tool::Sample, "0\n3\n1\n0123456789ab\n",
       sample + kSubMenu + kMacPrompt + kWaitPrompt, 1},
      {"SampleAtTheImagePrompt", Tool::Sample, "0\n4\n", sample + kImagePrompt, 1},
      {"SampleLongestLineIsTaken", Tool::Sample, "0\n" + longest + "\nk0\n", sample + cycle, 0},
      {"SampleOverlongLineIsRejectedOnce", Tool::Sample, "0\n0" + longest + "\n0\n",
       sample + kRejected + kSampleMenu, 0},
      {"SampleVeryLongLineIsRejectedOnce", Tool::Sample, "0\n" + std::string(9000, '9') + "\n0\n",
       sample + kRejected + kSampleMenu, 0},
      {"TarvikQuitAfterACommand", Tool::Tarvik, "0\n1\nshow\nk0\n",
       tarvik + kCommandPrompt + command + kTarvikMenu, 0},
      {"TarvikAtTheLinkPrompt", Tool::Tarvik, "", kLinkPrompt, 0},
      {"TarvikAtTheMenu", Tool::Tarvik, "0\n", tarvik, 0},
      {"TarvikAtTheCommandPrompt", Tool::Tarvik, "0\n1\n", tarvik + kCommandPrompt, 1},
      {"TarvikAtTheKeyWait", Tool::Tarvik, "0\n1\nshow\n", tarvik + kCommandPrompt + command, 1},
      {"TarvikOverlongCommandIsRejected", Tool::Tarvik, "0\n1\n" + std::string(1025, 'x') + "\n",
       tarvik + kCommandPrompt + kRejected + kCommandPrompt, 1},
  };
}

// Where the two texts first differ, for a failure message that stays short.
inline std::string FirstDifference(const std::string& got, const std::string& expected) {
  const auto [g, e] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(g - got.begin());
  const std::size_t from = at < 40 ? 0 : at - 40;
  return "at byte " + std::to_string(at) + " of " + std::to_string(got.size()) + " (expected " +
         std::to_string(expected.size()) + "): got \"" + got.substr(from, 80) + "\", expected \"" +
         expected.substr(from, 80) + "\"";
}

}  // namespace e2e
