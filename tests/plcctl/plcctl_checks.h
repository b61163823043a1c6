// What a plcctl run left, and the checks of its JSON results, shared by the Linux and the Wine
// tests of the program.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "sim/adapter.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/tool_test.h"

namespace e2e {

struct Ran {
  int status = -999;
  std::string out;  // standard output
  std::string err;  // standard error (the terminal)
};

// Runs the program to its end (killed after `wait`): its status and what it wrote.
inline Ran RunToEnd(const PtyProcess::Options& options, std::chrono::milliseconds wait) {
  PtyProcess p(options);
  Ran ran;
  ran.status = p.WaitExit(wait).value_or(-999);
  ran.out = p.Output();
  ran.err = p.TerminalOutput();
  return ran;
}

// One JSON value per line (a line may end in CR LF, as the Windows program writes it).
inline std::vector<nlohmann::json> JsonLines(const std::string& out) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// A terminal-mode adapter with values unlike the emulator's defaults, so every field shows
// whether it was read from the answer.
inline void SetTerminalProfile(sim::StatusProfile& s) {
  SetStatusValues(s);
  s.master = false;
  s.authenticated = true;
  s.mac = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f};
  s.masterMac = {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x00};
}

// The "status" object of an adapter with SetTerminalProfile's values.
inline void ExpectStatusJson(const nlohmann::json& s) {
  EXPECT_EQ(s.at("mode"), "terminal");
  EXPECT_EQ(s.at("authenticated"), true);
  EXPECT_EQ(s.at("mac"), "0a-0b-0c-0d-0e-0f");
  EXPECT_EQ(s.at("master_mac"), "0a-0b-0c-0d-0e-00");
  EXPECT_EQ(s.at("registered_info"), 2);
  EXPECT_EQ(s.at("ether_linkup"), 1);
  EXPECT_EQ(s.at("ether_spddpx"), 1000);
  EXPECT_EQ(s.at("multiple_mode"), 3);
  EXPECT_EQ(s.at("beacon_status"), 7);
  EXPECT_EQ(s.at("main_version"), "MAIN 1.2.3");
  EXPECT_EQ(s.at("boot_version"), "BOOT 0.9");
}

// The fields every result has.
inline void ExpectCommon(const nlohmann::json& j, const std::string& adapter,
                         const std::string& command, bool ok) {
  EXPECT_EQ(j.at("adapter"), adapter);
  EXPECT_EQ(j.at("command"), command);
  EXPECT_EQ(j.at("ok"), ok);
  const std::string time = j.at("time");
  EXPECT_EQ(time.size(), 24u) << time;  // 2026-12-10T08:30:00.250Z
  EXPECT_EQ(time.back(), 'Z') << time;
}

// The identity object of an adapter with SetExampleIdentity's values.
inline const nlohmann::json kExampleIdentityJson = {
    {"mac", "00-11-22-33-44-5f"}, {"ip", "192.168.0.10"},     {"subnet_mask", "255.255.255.0"},
    {"model", "PLC-MODEL-X"},     {"command_version", 0x201}, {"option_flag", 0x80000008u}};

}  // namespace e2e
