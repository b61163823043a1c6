// The emulator's fault table: each fault is reached through its option as a technician writes it,
// and refused on a link that cannot carry it; the damage itself is judged end to end (tests/e2e).
#include <gtest/gtest.h>

#include <string>

#include "extcmd/zanto_extcmd_if.h"
#include "sim/faults.h"

namespace {

using sim::Link;

// Each row, asked for by its option for a command it means something for.
TEST(FaultTable, EveryFaultComesFromItsOptionAndIsRefusedWhereItMakesNoSense) {
  for (const sim::FaultInfo& info : sim::Faults()) {
    SCOPED_TRACE(std::string(sim::Label(info)));
    const std::string command = info.only == sim::Only::SystemCommand ? "system" : "status";
    const std::string text = info.name != nullptr ? std::string(info.name) + "=" + command
                             : info.value.argument != nullptr
                                 ? command + "=" + std::to_string(info.value.max)
                                 : command;
    const auto fault = sim::ParseFault(info.option, text);
    ASSERT_TRUE(fault) << text;
    EXPECT_EQ(fault->kind, info.kind);
    EXPECT_EQ(fault->command, command == "system" ? CMD_SYSTEMCMD : CMD_GET_STATUS);
    if (info.value.argument != nullptr) {
      EXPECT_EQ(fault->value, static_cast<int>(info.value.max));
    }
    if (info.name != nullptr) {
      EXPECT_NE(sim::KindList(info.option).find(info.name), std::string::npos);
    }
    for (const Link link : {Link::Udp, Link::Serial}) {
      EXPECT_EQ(sim::FaultRefusal(*fault, link).empty(), sim::Carries(link, info.stage));
    }
  }
}

TEST(FaultTable, ReadsWhatTheOptionsAllowAndNothingElse) {
  const struct {
    const char* option;
    const char* text;
    bool read;
  } cases[] = {
      {"--fault", "bad-magic=all", true},
      {"--fault", "bad-magic=nothing", false},  // no such command
      {"--fault", "noise=status", false},       // a KIND of --line-fault
      {"--fault", "bad-magic", false},          // no command
      {"--line-fault", "noise=relay", true},
      {"--result", "status=0x10", true},
      {"--result", "status=0", false},  // success is no refusal
      {"--result", "status=256", false},
      {"--result", "status", false},  // no result
      {"--no-answer", "info", true},
      {"--no-answer", "info=3", false},  // takes no number
      {"--delay", "firmware=600000", true},
      {"--delay", "firmware=600001", false},
      {"--colour", "status", false},  // no fault option
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sim::ParseFault(c.option, c.text).has_value(), c.read) << c.option << " " << c.text;
  }
}

TEST(FaultTable, RefusesACommandTheFaultMeansNothingFor) {
  const auto refusal = [](const char* option, const char* text) {
    return sim::FaultRefusal(*sim::ParseFault(option, text), Link::Udp);
  };
  EXPECT_NE(refusal("--result", "system=3").find("has no result byte"), std::string::npos);
  EXPECT_EQ(refusal("--result", "all=3"), "");  // the system command's answer goes unchanged
  EXPECT_NE(refusal("--fault", "no-text-end=info").find("answer text only"), std::string::npos);
  EXPECT_EQ(refusal("--fault", "no-text-end=all"), "");
}

}  // namespace
