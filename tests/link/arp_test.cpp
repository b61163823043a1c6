// The static ARP entry: the exact words handed to arp, no shell, and the codes; a fake arp records.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "extcmd/zanto_extcmd_if.h"
#include "tests/e2e/scene.h"

namespace {

using Words = std::vector<std::string>;

constexpr std::uint8_t kMac[6] = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD};
constexpr const char* kTarget = "192.168.0.249";

// Runs SetArpEntry with a fake arp (exiting with the status given) first on PATH.
class ArpEntry : public ::testing::Test {
 protected:
  int Run(const char* hostIp, int arpExitStatus = 0) {
    e2e::FakeArp arp(scratch_.Path(), arpExitStatus);
    e2e::ScopedEnv path("PATH", arp.SearchPath());
    const int result = link_.SetArpEntry(kTarget, kMac, hostIp);
    calls_ = arp.Calls();
    return result;
  }

  e2e::ScratchDir scratch_;
  C_ZANTO_EXTCMD_IF link_{5000};
  std::vector<Words> calls_;
};

TEST_F(ArpEntry, HandsTheFormattedLineToArpWordForWord) {
  EXPECT_EQ(Run("192.168.0.10"), 1);
  EXPECT_EQ(calls_,
            (std::vector<Words>{{"-s", "192.168.0.249", "00-11-aa-bb-cc-dd", "192.168.0.10"}}));
  EXPECT_EQ(link_.GetConnectType(), CONNECT_NONE) << "the link state is neither read nor changed";
}

TEST_F(ArpEntry, EmptyHostAddressEndsTheLineAtTheMac) {
  EXPECT_EQ(Run(""), 1);
  EXPECT_EQ(calls_, (std::vector<Words>{{"-s", "192.168.0.249", "00-11-aa-bb-cc-dd"}}));
}

TEST_F(ArpEntry, AnArpThatFailsStillCountsAsRun) {
  link_.m_nError = 0;
  EXPECT_EQ(Run("192.168.0.10", 1), 1);
  EXPECT_EQ(calls_.size(), 1u);
  EXPECT_EQ(link_.GetErrorCode(), 0);
}

TEST_F(ArpEntry, NoArpToStartStores10004) {
  const e2e::ScratchDir empty;  // PATH holds nothing but this folder
  e2e::ScopedEnv path("PATH", empty.Path().string());
  EXPECT_EQ(link_.SetArpEntry(kTarget, kMac, "192.168.0.10"), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ARP_START);
}

// Host address texts as "sample.ini" could hold them: no shell ever sees them, so each word
// reaches arp as it is and no other command runs.
class ShellText : public ArpEntry, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShellText, RunsNoShell) {
  const std::filesystem::path marker = scratch_.Path() / "shell-ran";
  std::string host = GetParam();
  host.replace(host.find("MARKER"), 6, marker.string());
  EXPECT_EQ(Run(host.c_str()), 1);

  Words expected = {"-s", "192.168.0.249", "00-11-aa-bb-cc-dd"};
  std::istringstream words(host);
  for (std::string w; words >> w;) expected.push_back(w);
  EXPECT_EQ(calls_, std::vector<Words>{expected});
  EXPECT_FALSE(std::filesystem::exists(marker));
}

INSTANTIATE_TEST_SUITE_P(Link, ShellText,
                         ::testing::Values("1.2.3.4;touch MARKER", "$(touch MARKER)",
                                           "`touch MARKER`", "1.2.3.4|touch MARKER",
                                           "1.2.3.4&&touch MARKER", "1.2.3.4 > MARKER"));

}  // namespace
