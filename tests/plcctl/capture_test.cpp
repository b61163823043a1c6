// plcctl's --capture read back with tshark and the project's dissector: the frames as sent and
// answered, on both links, in the form the emulator's captures have.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "extcmd/frame.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

std::string Tshark() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin"}) {
    const std::string path = std::string(dir) + "/tshark";
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return {};
}

class PlcctlCapture : public ::testing::TestWithParam<Link> {
 protected:
  PlcctlCapture() : scene_(WithSerialLine()) {}

  // Each frame's fields, tab-separated as tshark writes them.
  std::vector<std::vector<std::string>> Dissect(const std::string& capture,
                                                const std::vector<std::string>& fields) const {
    const auto out = scene_.scratch.Path() / "fields.txt";
    std::string command = "'" + tshark_ + "' -r '" + capture +
                          "' -X lua_script:" + DISSECTOR_SCRIPT +
                          " -2 -Y extcmd -T fields -E aggregator='|'";
    if (GetParam() == Link::Udp) {
      command += " -d udp.port==" + std::to_string(scene_.port) + ",extcmd";
    }
    for (const std::string& f : fields) command += " -e " + f;
    command += " > '" + out.string() + "' 2> '" + out.string() + ".err'";
    PtyProcess tshark({"/bin/sh", {"-c", command}, {}, {}});
    EXPECT_EQ(tshark.WaitExit(30s), 0) << command;
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(out);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> row;
      std::istringstream cells(line);
      for (std::string cell; std::getline(cells, cell, '\t');) row.push_back(cell);
      row.resize(fields.size());
      rows.push_back(row);
    }
    return rows;
  }

  void SetUp() override {
    tshark_ = Tshark();
    if (tshark_.empty() && std::getenv("PLC_REQUIRE_TSHARK") != nullptr) {
      FAIL() << "tshark is not installed, and PLC_REQUIRE_TSHARK asks for it";
    }
    if (tshark_.empty()) GTEST_SKIP() << "tshark is not installed (scripts/deps.sh installs it)";
  }

  int Run(const std::vector<std::string>& args) const {
    PtyProcess::Options options = scene_.Launch(PLCCTL_PROGRAM);
    if (GetParam() == Link::Serial) options.args = {"--link", "serial"};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.outputPipe = true;
    PtyProcess p(options);
    return p.WaitExit(30s).value_or(-999);
  }

  ToolScene scene_;
  std::string tshark_;
};

TEST_P(PlcctlCapture, EveryFrameReadsBackAsSentAndAnswered) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    SetStatusValues(p.status);
    p.systemReplies["show version"] = "version 1.0";
  });
  const std::string capture = (scene_.scratch.Path() / "plcctl.pcap").string();
  ASSERT_EQ(Run({"--capture", capture, "status"}), 0);
  const std::vector<std::string> fields = {"extcmd.command",
                                           "extcmd.role",
                                           "extcmd.result",
                                           "extcmd.status.main_version",
                                           "extcmd.system.text",
                                           "ip.src",
                                           "ip.dst",
                                           "udp.srcport",
                                           "udp.dstport",
                                           "extcmd_serial.direction",
                                           "extcmd_serial.checksum.ok",
                                           "extcmd.tool_error",
                                           "_ws.expert.message"};
  auto rows = Dissect(capture, fields);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "0xa141");
  EXPECT_EQ(rows[1][0], "0xa142");
  EXPECT_EQ(rows[1][3], "MAIN 1.2.3");

  // A second run writes the file anew.
  ASSERT_EQ(Run({"--capture", capture, "system-command", "show", "version"}), 0);
  rows = Dissect(capture, fields);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], "0xdff1");
  EXPECT_EQ(rows[0][4], "show version");
  EXPECT_EQ(rows[1][0], "0xdff2");
  EXPECT_EQ(rows[1][4], "version 1.0");
  const std::string port = std::to_string(scene_.port);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const bool answer = i % 2 == 1;
    const auto& row = rows[i];
    EXPECT_EQ(row[1], answer ? "2" : "1") << "request and answer are paired";
    EXPECT_EQ(row[11], "") << "the dissector sees no fault";
    EXPECT_EQ(row[12], "");
    if (GetParam() == Link::Udp) {
      // The answer is recorded as coming from the adapter addressed.
      EXPECT_EQ(row[5], answer ? kAdapterAddress : kToolAddress);
      EXPECT_EQ(row[6], answer ? kToolAddress : kAdapterAddress);
      EXPECT_EQ(row[7], port);
      EXPECT_EQ(row[8], port);
    } else {
      EXPECT_EQ(row[9], answer ? "1" : "0");
      EXPECT_EQ(row[10], "1");
    }
  }
}

TEST_P(PlcctlCapture, AFaultyAnswerCarriesTheCodePlcctlReports) {
  scene_.adapter.AddFault({sim::FaultKind::BadMagic, CMD_GET_STATUS});
  const std::string capture = (scene_.scratch.Path() / "fault.pcap").string();
  EXPECT_EQ(Run({"--capture", capture, "status"}), 1);
  const auto rows = Dissect(capture, {"extcmd.command", "extcmd.tool_error"});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][1], "10204");
}

INSTANTIATE_TEST_SUITE_P(E2e, PlcctlCapture, ::testing::Values(Link::Udp, Link::Serial),
                         [](const auto& test) { return LinkName(test.param); });

}  // namespace
}  // namespace e2e
