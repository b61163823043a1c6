// The emulator program's --capture read back with tshark and the dissector: both tools through
// every command on both links, every field as sent and answered, and faults marked with the
// codes the tools report.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

using Row = std::map<std::string, std::string>;

// tshark as the system has it, or nothing.
std::optional<std::string> FindTshark() {
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/tshark";
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

std::vector<std::string> Split(const std::string& text, char at) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, at)) parts.push_back(part);
  if (!text.empty() && text.back() == at) parts.emplace_back();
  return parts;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

std::string Hex(const sim::Bytes& bytes, std::size_t from, std::size_t count) {
  std::string text;
  char two[3];
  for (std::size_t i = from; i < from + count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    text += two;
  }
  return text;
}

// The fields every check reads; several values of one field (a nested frame, two frames in one
// serial record) come joined by '|'. One line per group of fields, by hand.
// clang-format off
const std::vector<std::string> kFields = {
    "frame.number", "ip.src", "ip.dst", "udp.srcport", "udp.dstport",
    "extcmd_serial.direction", "extcmd_serial.checksum.ok", "extcmd_serial.escapes",
    "extcmd.leading", "extcmd.preamble", "extcmd.frame_type", "extcmd.frame_length",
    "extcmd.direction", "extcmd.body_length", "extcmd.magic", "extcmd.command",
    "extcmd.command.answer", "extcmd.role", "extcmd.request_in", "extcmd.response_in",
    "extcmd.tool_error", "extcmd.data", "extcmd.result",
    "extcmd.status.mode", "extcmd.status.mac", "extcmd.status.master_mac",
    "extcmd.status.master", "extcmd.status.authenticated", "extcmd.status.registered_info",
    "extcmd.status.ether_linkup", "extcmd.status.ether_spddpx", "extcmd.status.multiple_mode",
    "extcmd.status.main_version", "extcmd.status.boot_version", "extcmd.status.beacon_status",
    "extcmd.info.address", "extcmd.identity.mac", "extcmd.identity.ip",
    "extcmd.identity.subnet_mask", "extcmd.identity.command_version",
    "extcmd.identity.model_name", "extcmd.identity.option_flag",
    "extcmd.relay.remote_mac", "extcmd.relay.wait_time", "extcmd.relay.max_length",
    "extcmd.fw.block_number", "extcmd.fw.more_follows", "extcmd.fw.byte_count",
    "extcmd.fw.image", "extcmd.fw.fill",
    "extcmd.system.text", "extcmd.system.text_end", "extcmd.system.padding",
    "_ws.expert.message",
};
// clang-format on

// The adapter the emulator pretends to be, and one remote adapter of its network; options and
// their values in pairs, by hand.
// clang-format off
const std::vector<std::string> kProfile = {
    "--mode", "terminal", "--authenticated", "no", "--mac", "0a0b0c0d0e0f",
    "--master-mac", "0a0b0c0d0e00", "--registered-info", "2", "--ether-linkup", "1",
    "--ether-spddpx", "1000", "--multiple-mode", "3", "--main-version", "MAIN 1.2.3",
    "--boot-version", "BOOT 0.9", "--beacon-status", "7", "--ip", "10.20.30.41",
    "--subnet-mask", "255.255.0.0", "--model", "MODEL-X", "--command-version", "0x201",
    "--option-flag", "0x80000001", "--remote", "020000000001",
    "--reply", "show version=version 1.0",
};
// clang-format on

// The emulator program with --capture facing a tool of the scene: on its own free port over UDP,
// or on a new pseudo-terminal pair over serial; read back with tshark.
class Capture : public ToolTest, public ::testing::WithParamInterface<Link> {
 protected:
  void SetUp() override {
    tshark_ = FindTshark();
    // CI installs tshark and says so, so that these tests cannot pass there by skipping.
    if (!tshark_ && std::getenv("PLC_REQUIRE_TSHARK") != nullptr) {
      FAIL() << "tshark is not installed, and PLC_REQUIRE_TSHARK asks for it";
    }
    if (!tshark_) GTEST_SKIP() << "tshark is not installed (scripts/deps.sh installs it)";
  }

  void StartEmulator(std::vector<std::string> args) {
    capture_ = (scene_.scratch.Path() / "traffic.pcap").string();
    args.insert(args.end(), {"--capture", capture_});
    if (GetParam() == Link::Udp) {
      port_ = FreeUdpPort();
      args.insert(args.end(), {"--address", kAdapterAddress, "--port", std::to_string(port_)});
    } else {
      args.emplace_back("--serial");
    }
    emulator_.emplace(PtyProcess::Options{EMULATOR_PROGRAM, args, {}, {}});
    if (GetParam() == Link::Udp) {
      ASSERT_TRUE(emulator_->Expect("recording the traffic in")) << emulator_->Output();
      scene_.WriteIni("[ETHERNET]\nIP=" + std::string(kAdapterAddress) +
                      "\nPORT=" + std::to_string(port_) + "\nHOST_IP=" + kToolAddress + "\n");
    } else {
      ASSERT_TRUE(emulator_->Expect("PORT=")) << emulator_->Output();
      const auto name = emulator_->ReadUntil("\n");
      ASSERT_TRUE(name.has_value());
      scene_.WriteIni("[SERIAL]\nPORT=" + name->substr(0, name->size() - 1) + "\nRATE=115200\n");
      ASSERT_TRUE(emulator_->Expect("recording the traffic in")) << emulator_->Output();
    }
  }

  // The emulator closes its capture when told to stop, and ends with 0.
  void StopEmulator(int signal) {
    kill(emulator_->Pid(), signal);
    EXPECT_EQ(emulator_->WaitExit(), 0) << emulator_->Output();
  }

  // One row per capture record that holds a frame, each field by name.
  std::vector<Row> Dissect() const {
    const auto out = scene_.scratch.Path() / "fields.txt";
    std::string command = "'" + *tshark_ + "' -r '" + capture_ +
                          "' -X lua_script:" + DISSECTOR_SCRIPT +
                          " -2 -Y extcmd -T fields -E header=y -E aggregator='|'";
    if (GetParam() == Link::Udp) command += " -d udp.port==" + std::to_string(port_) + ",extcmd";
    for (const std::string& field : kFields) command += " -e " + field;
    command += " > '" + out.string() + "' 2> '" + out.string() + ".err'";
    PtyProcess tshark({"/bin/sh", {"-c", command}, {}, {}});
    EXPECT_EQ(tshark.WaitExit(30s), 0) << command;

    std::ifstream in(out);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> names = Split(line, '\t');
    EXPECT_EQ(names, kFields) << "tshark did not run: " << ReadText(out.string() + ".err");
    std::vector<Row> rows;
    while (std::getline(in, line)) {
      const std::vector<std::string> values = Split(line, '\t');
      Row row;
      for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) row[names[i]] = values[i];
      rows.push_back(std::move(row));
    }
    return rows;
  }

  // The failure code the tool shows up to its key prompt, or 0 when it shows none.
  static int ShownFailure(const std::string& shown) {
    std::smatch m;
    return std::regex_search(shown, m, std::regex(" Failure:([0-9]+)")) ? std::stoi(m[1]) : 0;
  }

  std::optional<std::string> tshark_;
  std::string capture_;
  std::uint16_t port_ = 0;
  std::optional<PtyProcess> emulator_;
};

const auto kLinks = ::testing::Values(Link::Udp, Link::Serial);
const auto kLinkName = [](const auto& test) { return LinkName(test.param); };

// What one request or answer must read as, field by field ('|' between the outer and the nested
// frame's values).
struct Expected {
  const char* what;
  std::vector<std::pair<std::string, std::string>> fields;
};

// Slow: the firmware update ends with the tool's 10 s pause, the restart with its 8 s pause.
TEST_P(Capture, EveryCommandOfBothToolsReadsBackAsSentAndAnswered) {
  const sim::Bytes image = FirmwareImage(1500);
  const std::string imageName = WriteFile("image.bin", image);
  StartEmulator(kProfile);

  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu, GetParam());
  EXPECT_EQ(ShownFailure(UpToKeyPrompt("1")), 0);
  KeyAndMenu();
  Answer("2", kIpPrompt);
  EXPECT_EQ(ShownFailure(UpToKeyPrompt("10.20.30.40")), 0);
  KeyAndMenu();
  Answer("3", kSubMenu);
  Answer("1", kMacPrompt);
  Answer("020000000001", kWaitPrompt);
  EXPECT_EQ(ShownFailure(UpToKeyPrompt("25")), 0);
  ASSERT_TRUE(tool_->SendKey('k'));
  Answer("0", menu_);
  Answer("4", kImagePrompt);
  EXPECT_NE(Answer(imageName, "\n Success update firmware\n", 30s).find("Success"),
            std::string::npos);
  ASSERT_TRUE(tool_->Expect(menu_));
  Quit();

  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu, GetParam());
  Answer("1", kCommandPrompt);
  EXPECT_NE(UpToKeyPrompt("show version").find(" version 1.0\n"), std::string::npos);
  KeyAndMenu();
  EXPECT_NE(UpToKeyPrompt("2", 30s).find("Now restarting"), std::string::npos);
  KeyMenuAndQuit();
  StopEmulator(SIGINT);

  const std::string ff(548 * 2, 'f');
  const std::vector<Expected> expected = {
      {"Get Status request",
       {{"extcmd.command", "0xa141"},
        {"extcmd.frame_length", "20"},
        {"extcmd.body_length", "12"},
        {"extcmd.data", "00000000"}}},
      {"Get Status answer",
       {{"extcmd.command", "0xa142"},
        {"extcmd.frame_length", "136"},
        {"extcmd.body_length", "128"},
        {"extcmd.result", "0"},
        {"extcmd.status.mode", "Terminal(not authenticated)"},
        {"extcmd.status.master", "0"},
        {"extcmd.status.authenticated", "0"},
        {"extcmd.status.mac", "0a:0b:0c:0d:0e:0f"},
        {"extcmd.status.master_mac", "0a:0b:0c:0d:0e:00"},
        {"extcmd.status.registered_info", "2"},
        {"extcmd.status.ether_linkup", "1"},
        {"extcmd.status.ether_spddpx", "1000"},
        {"extcmd.status.multiple_mode", "3"},
        {"extcmd.status.main_version", "MAIN 1.2.3"},
        {"extcmd.status.boot_version", "BOOT 0.9"},
        {"extcmd.status.beacon_status", "7"}}},
      {"PLC Info Resolution request",
       {{"extcmd.command", "0xb001"},
        {"extcmd.frame_length", "20"},
        {"extcmd.info.address", "10.20.30.40"}}},
      {"PLC Info Resolution answer",
       {{"extcmd.command", "0xb002"},
        {"extcmd.frame_length", "56"},
        {"extcmd.result", "0"},
        {"extcmd.identity.mac", "0a:0b:0c:0d:0e:0f"},
        {"extcmd.identity.ip", "10.20.30.41"},
        {"extcmd.identity.subnet_mask", "255.255.0.0"},
        {"extcmd.identity.command_version", "0x00000201"},
        {"extcmd.identity.model_name", "MODEL-X"},
        {"extcmd.identity.option_flag", "0x80000001"}}},
      {"Relay request with a nested Get Status request",
       {{"extcmd.command", "0x3001|0xa141"},
        {"extcmd.frame_length", "68|20"},
        {"extcmd.body_length", "60|12"},
        {"extcmd.direction", "0xf001|0xf001"},
        {"extcmd.relay.remote_mac", "02:00:00:00:00:01"},
        {"extcmd.relay.wait_time", "25"},
        {"extcmd.relay.max_length", "1468"},
        {"extcmd.data", "00000000"}}},
      {"Relay answer with the remote adapter's status",
       {{"extcmd.command", "0x3002|0xa142"},
        {"extcmd.frame_length", "184|136"},
        {"extcmd.result", "0|0"},
        {"extcmd.status.mode", "Terminal(authenticated)"},
        {"extcmd.status.authenticated", "1"},
        {"extcmd.status.mac", "02:00:00:00:00:01"},
        {"extcmd.status.master_mac", "0a:0b:0c:0d:0e:0f"},
        {"extcmd.status.main_version", "MAIN 1.2.3"},
        {"extcmd.status.ether_spddpx", "1000"}}},
      {"Firmware block 0",
       {{"extcmd.command", "0x5001"},
        {"extcmd.frame_length", "1048"},
        {"extcmd.body_length", "1040"},
        {"extcmd.fw.block_number", "0"},
        {"extcmd.fw.more_follows", "1"},
        {"extcmd.fw.byte_count", "1024"},
        {"extcmd.fw.image", Hex(image, 0, 1024)},
        {"extcmd.fw.fill", ""}}},
      {"Firmware block 0 answer", {{"extcmd.command", "0x5002"}, {"extcmd.result", "0"}}},
      {"Firmware block 1, the last",
       {{"extcmd.command", "0x5001"},
        {"extcmd.frame_length", "1048"},
        {"extcmd.fw.block_number", "1"},
        {"extcmd.fw.more_follows", "0"},
        {"extcmd.fw.byte_count", "476"},
        {"extcmd.fw.image", Hex(image, 1024, 476)},
        {"extcmd.fw.fill", ff}}},
      {"Firmware block 1 answer", {{"extcmd.command", "0x5002"}, {"extcmd.result", "0"}}},
      {"System Command request",
       {{"extcmd.command", "0xdff1"},
        {"extcmd.frame_length", "32"},
        {"extcmd.system.text", "show version"},
        {"extcmd.system.text_end", "0x00"},
        {"extcmd.system.padding", "ffffff"}}},
      {"System Command answer",
       {{"extcmd.command", "0xdff2"},
        {"extcmd.frame_length", "28"},
        {"extcmd.system.text", "version 1.0"},
        {"extcmd.system.text_end", "0x00"},
        {"extcmd.result", ""}}},
      {"Restart request",
       {{"extcmd.command", "0x4001"}, {"extcmd.frame_length", "20"}, {"extcmd.data", "00000000"}}},
      {"Restart answer", {{"extcmd.command", "0x4002"}, {"extcmd.result", "0"}}},
  };

  const std::vector<Row> rows = Dissect();
  ASSERT_EQ(rows.size(), expected.size());
  const std::string port = std::to_string(port_);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    const bool answer = i % 2 == 1;
    SCOPED_TRACE(expected[i].what);
    for (const auto& [field, value] : expected[i].fields) EXPECT_EQ(row.at(field), value) << field;
    // Every frame has its header as the tools build it, and nothing is wrong with it.
    const std::size_t frames = Split(row.at("extcmd.command"), '|').size();
    auto each = [frames](const std::string& value) {
      std::string all = value;
      for (std::size_t n = 1; n < frames; ++n) all += "|" + value;
      return all;
    };
    EXPECT_EQ(row.at("extcmd.preamble"), each("aa aa aa aa aa aa aa ab"));
    EXPECT_EQ(row.at("extcmd.frame_type"), each("3"));
    EXPECT_EQ(row.at("extcmd.magic"), each("0x0b4e7e67"));
    EXPECT_EQ(row.at("extcmd.direction"), each(answer ? "0xf002" : "0xf001"));
    EXPECT_EQ(row.at("extcmd.command.answer"), each(answer ? "1" : "0"));
    EXPECT_EQ(row.at("extcmd.role"), answer ? "2" : "1");
    EXPECT_EQ(row.at("extcmd.tool_error"), "");
    EXPECT_EQ(row.at("_ws.expert.message"), "");
    // Requests and answers point at each other.
    if (answer) {
      EXPECT_EQ(row.at("extcmd.request_in"), rows[i - 1].at("frame.number"));
    } else {
      EXPECT_EQ(row.at("extcmd.response_in"), rows[i + 1].at("frame.number"));
    }
    if (GetParam() == Link::Udp) {
      EXPECT_EQ(row.at("extcmd.leading"), "0000");
      EXPECT_EQ(row.at("ip.src"), answer ? kAdapterAddress : kToolAddress);
      EXPECT_EQ(row.at("ip.dst"), answer ? kToolAddress : kAdapterAddress);
      EXPECT_EQ(row.at("udp.srcport"), port);
      EXPECT_EQ(row.at("udp.dstport"), port);
    } else {
      EXPECT_EQ(row.at("extcmd_serial.direction"), answer ? "1" : "0");
      EXPECT_EQ(row.at("extcmd_serial.checksum.ok"), "1");
    }
  }
  if (GetParam() == Link::Serial) {
    // The image bytes came through the unstuffing: A2 and A3 among them travel escaped.
    EXPECT_NE(rows[6].at("extcmd_serial.escapes"), "0");
  }
}

// A fault on each command's answer: what the dissector marks is what the tool reports.
struct Fault {
  std::vector<std::string> option;  // the emulator's
  int code;                         // the tool reports it (0: the tool takes the answer)
  const char* mark;                 // in the answer's expert information
};
struct FaultPlan {
  Fault status, info, relay, firmware, system, restart;
};

const FaultPlan kUdpFaults = {
    {{"--fault", "bad-preamble=status"}, 10201, "Preamble is not AA AA AA AA AA AA AA AB"},
    {{"--fault", "echo-code=info"}, 10205, "CommandCode 0xB001, the tool waits for 0xB002"},
    {{"--fault", "bad-frame-type=relay"}, 10202, "FrameType 4, not 3"},
    {{"--result", "firmware=5"}, 10207, "Result:5"},
    {{"--fault", "oversize=system"},
     10009,
     "FrameLength 36 makes a datagram of 50 bytes, this one has 5000"},
    {{"--fault", "bad-magic=restart"}, 10204, "Magic 0x0B4E7E68, not 0x0B4E7E67"},
};
const FaultPlan kSerialFaults = {
    {{"--line-fault", "bad-checksum=status"}, 10206, "Checksum 0x"},
    {{"--fault", "echo-code=info"}, 10205, "CommandCode 0xB001, the tool waits for 0xB002"},
    {{"--line-fault", "noise=relay"}, 10106, "do not begin with the Preamble"},
    {{"--fault", "bad-direction=firmware"}, 10203, "Direction 0xF001, not that of an answer"},
    {{"--line-fault", "two-answers=system"}, 0, "the tool reads both at once and drops this one"},
    // On the line a damaged Preamble already fails the receive.
    {{"--fault", "bad-preamble=restart"}, 10106, "do not begin with the Preamble"},
};

TEST_P(Capture, FaultsCarryTheCodesTheToolsReport) {
  const FaultPlan& plan = GetParam() == Link::Udp ? kUdpFaults : kSerialFaults;
  const std::vector<const Fault*> faults = {&plan.status,   &plan.info,   &plan.relay,
                                            &plan.firmware, &plan.system, &plan.restart};
  std::vector<std::string> args = {"--remote", "020000000001"};
  for (const Fault* fault : faults)
    args.insert(args.end(), fault->option.begin(), fault->option.end());
  StartEmulator(args);
  const std::string imageName = WriteFile("image.bin", FirmwareImage(1500));

  std::vector<int> shown;  // what the tools reported, command by command
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu, GetParam());
  shown.push_back(ShownFailure(UpToKeyPrompt("1")));
  KeyAndMenu();
  Answer("2", kIpPrompt);
  shown.push_back(ShownFailure(UpToKeyPrompt("10.20.30.40")));
  KeyAndMenu();
  Answer("3", kSubMenu);
  Answer("1", kMacPrompt);
  Answer("020000000001", kWaitPrompt);
  shown.push_back(ShownFailure(UpToKeyPrompt("25")));
  KeyAndMenu();
  Answer("4", kImagePrompt);
  shown.push_back(ShownFailure(UpToKeyPrompt(imageName)));
  KeyMenuAndQuit();
  StartAtMenu(TARVIK_PROGRAM, kTarvikMenu, GetParam());
  Answer("1", kCommandPrompt);
  shown.push_back(ShownFailure(UpToKeyPrompt("show version")));
  KeyAndMenu();
  shown.push_back(ShownFailure(UpToKeyPrompt("2")));
  KeyMenuAndQuit();
  // The capture can be read while the emulator runs, and it is whole after a terminate signal.
  const std::vector<Row> running = Dissect();
  StopEmulator(SIGTERM);

  const std::vector<Row> rows = Dissect();
  EXPECT_EQ(running, rows);
  ASSERT_EQ(rows.size(), 2 * faults.size());
  for (std::size_t i = 0; i < faults.size(); ++i) {
    const Fault& fault = *faults[i];
    const Row& answer = rows[2 * i + 1];
    SCOPED_TRACE(fault.option.back());
    EXPECT_EQ(shown[i], fault.code) << "the fault as planned";
    EXPECT_EQ(answer.at("extcmd.role").substr(0, 1), "2");
    EXPECT_EQ(answer.at("extcmd.tool_error"), fault.code ? std::to_string(fault.code) : "");
    const std::string& marks = answer.at("_ws.expert.message");
    EXPECT_NE(marks.find(fault.mark), std::string::npos) << marks;
    if (fault.code != 0) {
      EXPECT_NE(marks.find("Failure:" + std::to_string(fault.code)), std::string::npos) << marks;
    }
    EXPECT_EQ(rows[2 * i].at("_ws.expert.message"), "") << "the request is sound";
  }
}

INSTANTIATE_TEST_SUITE_P(E2e, Capture, kLinks, kLinkName);

}  // namespace
}  // namespace e2e
