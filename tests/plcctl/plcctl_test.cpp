// plcctl driven as a script drives it, against the emulated adapter on both links: every
// command in both output forms, the failure classes and exit statuses, several adapters,
// samples, signals and usage errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/records.h"
#include "plcctl/invocation.h"
#include "plcctl/progress.h"
#include "plcctl/report.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"
#include "tests/plcctl/plcctl_checks.h"

namespace e2e {
namespace {

using nlohmann::json;

class Plcctl : public ::testing::TestWithParam<Link> {
 protected:
  Plcctl() : scene_(WithSerialLine()) {}

  std::vector<std::string> LinkArgs() const {
    if (GetParam() == Link::Serial) return {"--link", "serial"};
    return {};
  }
  std::string Adapter() const {
    return GetParam() == Link::Serial ? scene_.serialServer->PortName() : kAdapterAddress;
  }

  PtyProcess::Options Options(std::vector<std::string> args, bool withLink = true) const {
    PtyProcess::Options options = scene_.Launch(PLCCTL_PROGRAM);
    if (withLink) {
      const auto link = LinkArgs();
      args.insert(args.begin(), link.begin(), link.end());
    }
    options.args = std::move(args);
    options.outputPipe = true;
    return options;
  }

  Ran Run(std::vector<std::string> args, std::chrono::milliseconds wait = 40s,
          bool withLink = true) const {
    return RunToEnd(Options(std::move(args), withLink), wait);
  }

  int NoAnswerCode() const { return GetParam() == Link::Udp ? 10009 : 10105; }

  ToolScene scene_;
};

const auto kLinks = ::testing::Values(Link::Udp, Link::Serial);
const auto kLinkName = [](const auto& test) { return LinkName(test.param); };

TEST_P(Plcctl, StatusInBothFormsReadsEveryField) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) { SetTerminalProfile(p.status); });
  const Ran human = Run({"status"});
  EXPECT_EQ(human.status, 0) << human.err;
  EXPECT_EQ(human.out,
            " Mode ................... Terminal(authenticated)\n"
            " MAC Address ............ 0a-0b-0c-0d-0e-0f\n"
            " Master MAC Address ..... 0a-0b-0c-0d-0e-00\n" +
                kStatusValueLines);

  const Ran machine = Run({"status", "--json"});
  EXPECT_EQ(machine.status, 0) << machine.err;
  const auto lines = JsonLines(machine.out);
  ASSERT_EQ(lines.size(), 1u);
  ExpectCommon(lines[0], Adapter(), "status", true);
  ExpectStatusJson(lines[0].at("status"));
}

TEST_P(Plcctl, IdentityRemoteSystemCommandAndRestartAsJson) {
  const sim::Mac remote = {0x02, 0, 0, 0, 0, 0x01};
  scene_.adapter.Configure([&](sim::AdapterProfile& p) {
    SetExampleIdentity(p.identity);
    SetTerminalProfile(p.remotes[remote].status);
    p.systemReplies["show  version"] = "version 1.0\t\x01";
  });
  const Ran identity = Run({"--json", "identity", kExampleIdentityAddress});
  ASSERT_EQ(identity.status, 0) << identity.err;
  const json id = JsonLines(identity.out).at(0);
  ExpectCommon(id, Adapter(), "identity", true);
  EXPECT_EQ(id.at("identity"), kExampleIdentityJson);
  // The address typed travels in the request's data, first number first.
  const sim::Bytes request = scene_.adapter.Requests().back();
  EXPECT_EQ(
      sim::Bytes(request.begin() + frame::kHeaderSize, request.begin() + frame::kHeaderSize + 4),
      (sim::Bytes{192, 168, 0, 10}));

  const Ran relayed = Run({"remote", "02:00:00:00:00:01", "--wait", "25", "--json"});
  ASSERT_EQ(relayed.status, 0) << relayed.err;
  const json r = JsonLines(relayed.out).at(0);
  ExpectCommon(r, Adapter(), "remote", true);
  EXPECT_EQ(r.at("remote_mac"), "02-00-00-00-00-01");
  ExpectStatusJson(r.at("status"));
  const sim::Bytes relay = scene_.adapter.Requests().back();
  EXPECT_EQ(relay[frame::kHeaderSize + relay_header::kWaitTime], 25) << "waitTime";

  // The words are joined by one blank each; the answer's control bytes come escaped.
  const Ran system = Run({"--json", "system-command", "show", "", "version"});
  ASSERT_EQ(system.status, 0) << system.err;
  EXPECT_NE(system.out.find("\"version 1.0\\t\\u0001\""), std::string::npos) << system.out;
  EXPECT_EQ(JsonLines(system.out).at(0).at("answer"), "version 1.0\t\x01");

  const Ran restart = Run({"restart", "--no-wait", "--json"});
  ASSERT_EQ(restart.status, 0) << restart.err;
  const json rs = JsonLines(restart.out).at(0);
  ExpectCommon(rs, Adapter(), "restart", true);
  EXPECT_EQ(rs.at("confirmed"), true);
}

TEST_P(Plcctl, HumanFormsOfIdentityAndSystemCommand) {
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    SetExampleIdentity(p.identity);
    p.systemReplies["show version"] = "version 1.0";
  });
  const Ran identity = Run({"identity", kExampleIdentityAddress});
  EXPECT_EQ(identity.status, 0);
  // The tool's print-out without its blank lines and key prompt.
  EXPECT_EQ("\n" + identity.out + "\n\n Press any key", kExampleIdentityScreen);
  const Ran system = Run({"system-command", "show version"});
  EXPECT_EQ(system.status, 0);
  EXPECT_EQ(system.out, "version 1.0\n");
}

// Slow: the pause after the last block is the adapter's 10 s.
TEST_P(Plcctl, FirmwareSendsEveryBlockAndWaitsForTheMemoryWrite) {
  const sim::Bytes image = FirmwareImage(2500);
  WriteFile(scene_.scratch.Path(), "image.bin", image);
  const auto began = std::chrono::steady_clock::now();
  const Ran ran = Run({"firmware", "image.bin", "--json"});
  EXPECT_GE(std::chrono::steady_clock::now() - began, 10s);
  ASSERT_EQ(ran.status, 0) << ran.err;
  const json j = JsonLines(ran.out).at(0);
  ExpectCommon(j, Adapter(), "firmware", true);
  EXPECT_EQ(j.at("blocks"), 3);
  EXPECT_EQ(j.at("bytes"), 2500);
  EXPECT_EQ(scene_.adapter.Images().back(), image);
  EXPECT_TRUE(scene_.adapter.Violations().empty());
}

TEST_P(Plcctl, ARefusedBlockStopsTheTransferAndTellsWhich) {
  WriteFile(scene_.scratch.Path(), "image.bin", FirmwareImage(5000));
  scene_.adapter.Configure([](sim::AdapterProfile& p) {
    p.firmware.rejectBlock = 2;
    p.firmware.rejectResult = 3;
  });
  const Ran ran = Run({"firmware", "image.bin", "--json"});
  EXPECT_EQ(ran.status, 1);
  const json j = JsonLines(ran.out).at(0);
  ExpectCommon(j, Adapter(), "firmware", false);
  EXPECT_EQ(j.at("code"), 10207);
  EXPECT_EQ(j.at("result"), 3);
  EXPECT_EQ(j.at("message"), plcctl::FailureText(10207));
  EXPECT_EQ(j.at("blocks"), 2);
  EXPECT_EQ(j.at("bytes"), 2048);
  EXPECT_EQ(j.at("block"), 2);
  EXPECT_EQ(scene_.adapter.RequestCount(), 3u) << "block 3 is never sent";
  EXPECT_NE(ran.err.find("plcctl: " + Adapter() + ": firmware: Failure:10207: "), std::string::npos)
      << ran.err;
  EXPECT_NE(ran.err.find(" Result:3\n"), std::string::npos) << ran.err;

  // On a terminal, without --json, the progress line is redrawn after each block.
  const Ran human = Run({"firmware", "image.bin"});
  EXPECT_EQ(human.status, 1);
  EXPECT_EQ(human.out, "");
  EXPECT_NE(human.err.find("\rfirmware:  20% 1/5 blocks"), std::string::npos) << human.err;
  EXPECT_NE(human.err.find("\rfirmware:  40% 2/5 blocks"), std::string::npos) << human.err;
}

// One row per class of failure: the adapter refuses, it says nothing, its answer fails a check.
struct FailureCase {
  const char* name;
  sim::Fault fault;
  int code;  // 0: the link's no-answer code
  std::optional<int> result;
};
const FailureCase kFailureCases[] = {
    {"Refused", {sim::FaultKind::Result, CMD_GET_STATUS, 5}, 10207, 5},
    {"Silent", {sim::FaultKind::NoAnswer, CMD_GET_STATUS}, 0, std::nullopt},
    {"BadMagic", {sim::FaultKind::BadMagic, CMD_GET_STATUS}, 10204, std::nullopt},
    {"EchoedCode", {sim::FaultKind::EchoRequestCode, CMD_GET_STATUS}, 10205, std::nullopt},
};

TEST_P(Plcctl, EachFailureClassEndsWithStatusOneAndItsCode) {
  for (const FailureCase& c : kFailureCases) {
    SCOPED_TRACE(c.name);
    scene_.adapter.ClearFaults();
    scene_.adapter.AddFault(c.fault);
    const int code = c.code != 0 ? c.code : NoAnswerCode();
    const Ran ran = Run({"--timeout", "300", "--json", "status"});
    EXPECT_EQ(ran.status, 1);
    const json j = JsonLines(ran.out).at(0);
    ExpectCommon(j, Adapter(), "status", false);
    EXPECT_EQ(j.at("code"), code);
    EXPECT_EQ(j.at("result"), c.result ? json(*c.result) : json(nullptr));
    EXPECT_EQ(j.at("message"), plcctl::FailureText(code));
    EXPECT_FALSE(j.contains("status"));
    const std::string line = "plcctl: " + Adapter() + ": status: Failure:" + std::to_string(code) +
                             ": " + plcctl::FailureText(code);
    EXPECT_NE(ran.err.find(line), std::string::npos) << ran.err;
    // The human form prints nothing on standard output for a failure.
    EXPECT_EQ(Run({"--timeout", "300", "status"}).out, "");
  }
}

TEST_P(Plcctl, EverySamplesUntilTheCountWithTheTimeOfEach) {
  const Ran ran = Run({"status", "--every", "0.2", "--count", "3", "--json"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  const auto lines = JsonLines(ran.out);
  ASSERT_EQ(lines.size(), 3u);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GT(lines[i].at("time").get<std::string>(), lines[i - 1].at("time").get<std::string>());
  }
  EXPECT_EQ(scene_.adapter.RequestCount(), 3u);
  const Ran human = Run({"status", "--every", "0.1", "--count", "2"});
  std::istringstream in(human.out);
  for (std::string line; std::getline(in, line);) {
    EXPECT_NE(line.find("Z " + Adapter() + ": Mode: Master, MAC Address: 00-11-22-33-44-55,"),
              std::string::npos)
        << line;
  }
}

// The answer wait and the pause each end within a second of the signal, with 128 + the signal;
// the serial port has its settings back.
TEST_P(Plcctl, ASignalEndsTheAnswerWaitAndThePauseAtOnce) {
  const termios before = [&] {
    termios t{};
    tcgetattr(scene_.serialServer->LineHandle(), &t);
    return t;
  }();
  struct Case {
    std::vector<std::string> args;
    std::optional<sim::Fault> fault;
    int signal;
  };
  const Case cases[] = {
      {{"--timeout", "30000", "status"},
       sim::Fault{sim::FaultKind::NoAnswer, std::nullopt},
       SIGINT},
      {{"restart"}, std::nullopt, SIGTERM},
  };
  for (const Case& c : cases) {
    scene_.adapter.ClearFaults();
    if (c.fault) scene_.adapter.AddFault(*c.fault);
    const std::size_t before_requests = scene_.adapter.RequestCount();
    PtyProcess p(Options(c.args));
    // The request has arrived (and for the restart, its confirmation is on its way back).
    for (int i = 0; i < 500 && scene_.adapter.RequestCount() == before_requests; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    ASSERT_GT(scene_.adapter.RequestCount(), before_requests);
    std::this_thread::sleep_for(300ms);
    const auto signalled = std::chrono::steady_clock::now();
    kill(p.Pid(), c.signal);
    const auto status = p.WaitExit(5s);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 1s);
    EXPECT_EQ(status, 128 + c.signal) << p.TerminalOutput();
    EXPECT_EQ(p.Output(), "") << "no result for a command cut short";
    EXPECT_TRUE(p.InLineMode());
  }
  termios after{};
  tcgetattr(scene_.serialServer->LineHandle(), &after);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
}

INSTANTIATE_TEST_SUITE_P(E2e, Plcctl, kLinks, kLinkName);

class PlcctlUdp : public Plcctl {};

TEST_P(PlcctlUdp, SeveralAdaptersOneSilentTheOthersStillAnswer) {
  WriteFile(scene_.scratch.Path(), "adapters.txt",
            {'#', ' ', 'b', 'e', 'n', 'c', 'h', '\n', '1', '2', '7', '.', '0',  '.',
             '0', '.', '4', ' ', '#', ' ', 's', 'i',  'l', 'e', 'n', 't', '\n', '\n'});
  const Ran ran = Run({"--timeout", "300", "--ip", kAdapterAddress, "--ip", "@adapters.txt", "--ip",
                       kAdapterAddress, "--json", "status"});
  EXPECT_EQ(ran.status, 1);
  const auto lines = JsonLines(ran.out);
  ASSERT_EQ(lines.size(), 3u);
  ExpectCommon(lines[0], kAdapterAddress, "status", true);
  ExpectCommon(lines[1], "127.0.0.4", "status", false);
  EXPECT_EQ(lines[1].at("code"), 10009);
  ExpectCommon(lines[2], kAdapterAddress, "status", true);
  EXPECT_EQ(scene_.adapter.RequestCount(), 2u);

  const Ran human = Run(
      {"--timeout", "300", "--ip", "127.0.0.4", "--ip", kAdapterAddress, "identity", "1.2.3.4"});
  EXPECT_EQ(human.status, 1);
  EXPECT_EQ(human.out.rfind(std::string(kAdapterAddress) +
                                ": MAC Address: 00-11-22-33-44-55, "
                                "IP Address: 192.168.0.249, Sub-Net Mask: 255.255.255.0, ",
                            0),
            0u)
      << human.out;
  EXPECT_NE(human.err.find("plcctl: 127.0.0.4: identity: Failure:10009: "), std::string::npos);
}

TEST_P(PlcctlUdp, SettingsShowWhatSampleIniAndTheOptionsSay) {
  const Ran ran = Run({"--json", "--serial-port", "ttyUSB3", "--parity", "even", "--stop-bits",
                       "1.5", "--data-bits", "7", "--timeout", "1234", "settings"});
  ASSERT_EQ(ran.status, 0) << ran.err;
  const json j = JsonLines(ran.out).at(0);
  EXPECT_EQ(j.at("link"), "udp");
  EXPECT_EQ(j.at("ip"), kAdapterAddress);
  EXPECT_EQ(j.at("port"), scene_.port);
  EXPECT_EQ(j.at("host_ip"), kToolAddress);
  EXPECT_EQ(j.at("arp"), 0);
  EXPECT_EQ(j.at("serial_port"), "ttyUSB3");
  EXPECT_EQ(j.at("rate"), 115200);
  EXPECT_EQ(j.at("data_bits"), 7);
  EXPECT_EQ(j.at("parity"), 2);
  EXPECT_EQ(j.at("stop_bits"), 1);
  EXPECT_EQ(j.at("timeout"), 1234);
  EXPECT_EQ(scene_.adapter.RequestCount(), 0u);

  // Each --ip takes one address; the command may follow at once.
  const auto two =
      JsonLines(Run({"--json", "--ip", "127.0.0.7", "--ip", "127.0.0.8", "settings"}).out);
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].at("ip"), "127.0.0.8");

  // Without a sample.ini the tools' defaults hold; settings opens nothing, so nothing is sent.
  std::filesystem::remove(scene_.scratch.Path() / "sample.ini");
  const json d = JsonLines(Run({"--json", "settings"}).out).at(0);
  EXPECT_EQ(d.at("ip"), "192.168.0.249");
  EXPECT_EQ(d.at("port"), 49152);
  EXPECT_EQ(d.at("serial_port"), "COM1");
  EXPECT_EQ(d.at("timeout"), 5000);
}

// Usage and settings errors: status 2, one line on standard error, nothing sent.
TEST_P(PlcctlUdp, UsageErrorsEndWithStatusTwoAndSendNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"status", "--bogus"},
      {"frobnicate"},
      {},
      {"identity", "300.1.2.3"},
      {"identity"},
      {"remote", "0011223344"},
      {"remote", "00:11:22-33:44:55"},
      {"remote", "001122334455", "--wait", "4096"},
      {"firmware", "missing.bin"},
      {"--config", "missing.ini", "status"},
      {"--ip", "10.0.0", "status"},
      {"--ip", "@missing.txt", "status"},
      {"--parity", "sometimes", "status"},
      {"system-command", std::string(1025, 'x')},
      {"status", "--count", "3"},
      {"--capture", "no/such/folder/x.pcap", "status"},
  };
  for (const auto& args : cases) {
    std::string shown;
    for (const auto& a : args) shown += a.substr(0, 20) + " ";
    SCOPED_TRACE(shown);
    const Ran ran = Run(args);
    EXPECT_EQ(ran.status, 2) << ran.err;
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.err.rfind("plcctl: ", 0), 0u) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
  }
  EXPECT_EQ(scene_.adapter.RequestCount(), 0u);
  EXPECT_EQ(Run({"--help"}).status, 0);
  EXPECT_NE(Run({"--version"}).out.find("plcctl 1."), std::string::npos);
}

TEST_P(PlcctlUdp, ALinkThatDoesNotOpenFailsEveryAdapterAndQuietShowsOnlyFailures) {
  const Ran ran = Run({"--link", "serial", "--serial-port", "ttyNOSUCH9", "--json", "status"});
  EXPECT_EQ(ran.status, 1);
  const json j = JsonLines(ran.out).at(0);
  ExpectCommon(j, "ttyNOSUCH9", "status", false);
  EXPECT_EQ(j.at("code"), 10102);

  const Ran quiet = Run({"--quiet", "status"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(scene_.adapter.RequestCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(E2e, PlcctlUdp, ::testing::Values(Link::Udp), kLinkName);

TEST(PlcctlProgress, LineTellsPercentBlocksRateAndTimeLeft) {
  EXPECT_EQ(plcctl::ProgressLine::Line(0, 832, 0, 0us), "firmware:   0% 0/832 blocks");
  EXPECT_EQ(plcctl::ProgressLine::Line(208, 832, 208 * 1024, 2s),
            "firmware:  25% 208/832 blocks, 106496 bytes/s, 6 s left");
}

TEST(PlcctlOptions, MacAndAddressTexts) {
  EXPECT_EQ(plcctl::ParseMac("0a0B0c0d0e0f"), (commands::Mac{0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}));
  EXPECT_EQ(plcctl::ParseMac("0a-0b-0c-0d-0e-0f"), plcctl::ParseMac("0a:0b:0c:0d:0e:0f"));
  for (const char* bad :
       {"0a0b0c0d0e0", "0a0b0c0d0e0g", "0a-0b:0c-0d-0e-0f", "0a:0b:0c:0d:0e:0f:"}) {
    EXPECT_FALSE(plcctl::ParseMac(bad)) << bad;
  }
  EXPECT_TRUE(plcctl::IsIpv4("127.0.0.2"));
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1.2.3.256", "1..2.3", "a.b.c.d", "1.2.3.4 "}) {
    EXPECT_FALSE(plcctl::IsIpv4(bad)) << bad;
  }
}

}  // namespace
}  // namespace e2e
