// The emulator program as a technician (or the demo) runs it: help, serving, and stopping.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/posix/serial_speed.h"
#include "sim/serial_end.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"

namespace e2e {
namespace {

TEST(EmulatorProgram, HelpExplainsTheOptionsAndEndsWith0) {
  PtyProcess emulator({EMULATOR_PROGRAM, {"--help"}, {}, {}});
  EXPECT_EQ(emulator.WaitExit(), 0);
  for (const char* text :
       {"Usage: plc_adapter_emulator", "HOST_IP=127.0.0.1", "--port", "--mode", "--remote",
        "--firmware-out", "--reply", "--no-answer", "--parent-pid"}) {
    EXPECT_NE(emulator.Output().find(text), std::string::npos) << text;
  }
}

TEST(EmulatorProgram, RefusesAnUnknownOption) {
  PtyProcess emulator({EMULATOR_PROGRAM, {"--colour", "blue"}, {}, {}});
  EXPECT_EQ(emulator.WaitExit(), 2);
  EXPECT_NE(emulator.Output().find("unknown option --colour"), std::string::npos);
}

// What the emulator cannot carry out is refused at start, with the reason, rather than passed
// over: a test or a lesson would otherwise run on something else than it asked for.
struct RefusedCase {
  const char* name;
  std::vector<std::string> args;
  const char* reason;
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

class EmulatorRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(EmulatorRefuses, WhatItCannotHonour) {
  PtyProcess emulator({EMULATOR_PROGRAM, GetParam().args, {}, {}});
  EXPECT_EQ(emulator.WaitExit(), 2);
  EXPECT_NE(emulator.Output().find(GetParam().reason), std::string::npos) << emulator.Output();
  EXPECT_EQ(emulator.Output().find("answering on"), std::string::npos) << emulator.Output();
}

INSTANTIATE_TEST_SUITE_P(
    E2e, EmulatorRefuses,
    ::testing::Values(
        RefusedCase{"ShortDatagramOnSerial",
                    {"--serial", "--fault", "short=status"},
                    "serial line does not carry"},
        RefusedCase{"OtherAddressOnSerial",
                    {"--fault", "other-address=all", "--serial"},
                    "serial line does not carry"},
        RefusedCase{"EmptyOnSerialDevice",
                    {"--serial-device", "ttyS9", "--fault=empty=info"},
                    "serial line does not carry"},
        RefusedCase{"OversizeOnSerial",
                    {"--serial", "--fault", "oversize=firmware"},
                    "serial line does not carry"},
        RefusedCase{"UdpPortOnSerial", {"--serial", "--port", "4000"}, "--port sets the UDP side"},
        RefusedCase{"LineFaultOnUdp", {"--line-fault", "noise=status"}, "give --serial"},
        RefusedCase{
            "RateOfAPseudoTerminal", {"--serial", "--rate", "9600"}, "a pseudo-terminal has none"},
        RefusedCase{"ResultOfTheSystemCommand", {"--result", "system=3"}, "has no result byte"},
        RefusedCase{"ResultZero", {"--result", "status=0"}, "1 to 255"},
        RefusedCase{"NoTextEndOfStatus", {"--fault", "no-text-end=status"}, "answer text only"},
        RefusedCase{"ModelTooLong", {"--model", "SIXTEEN-CHARS-XY"}, "at most 15 characters"},
        RefusedCase{"BootVersionTooLong",
                    {"--boot-version", std::string(32, 'b')},
                    "at most 31 characters"},
        RefusedCase{"ReplyTooLong", {"--reply", "x=" + std::string(4063, 'r')}, "at most 4062"},
        RefusedCase{
            "RejectBeyondTheLastBlock", {"--firmware-reject", "832=1"}, "at most 832 blocks"},
        RefusedCase{"FirmwareOutNowhere",
                    {"--firmware-out", "/nonexistent-folder/image.bin"},
                    "cannot write --firmware-out"},
        RefusedCase{"ParentAlreadyGone", {"--parent-pid", "2147483646"}, "no process"}),
    [](const auto& test) { return std::string(test.param.name); });

// A long-running emulator holds its memory flat: it keeps only its most recent traffic.
TEST(EmulatorProgram, HoldsItsMemoryFlatUnderLongTraffic) {
  const std::uint16_t port = FreeUdpPort();
  // Under AddressSanitizer freed memory waits in a quarantine (256 MB) before it is used again,
  // which grows the resident size with every allocation; without it the program's own use shows.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string noQuarantine = "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") +
                                   ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
  PtyProcess emulator({EMULATOR_PROGRAM,
                       {"--address", kAdapterAddress, "--port", std::to_string(port)},
                       {},
                       {noQuarantine}});
  ASSERT_TRUE(emulator.Expect("answering on")) << emulator.Output();
  C_ZANTO_EXTCMD_IF link(5000);
  const std::uint8_t mac[6] = {};
  ASSERT_EQ(link.OpenEther(kToolAddress, kAdapterAddress, port, mac), 1);
  const auto exchanges = [&link](int count) {
    for (int i = 0; i < count; ++i) {
      link.MakeCommand(CMD_GET_STATUS, 4);
      if (link.Transact(0) != 1) return false;
    }
    return true;
  };
  ASSERT_TRUE(exchanges(2000));
  const long warm = ResidentKiB(emulator.Pid());
  ASSERT_TRUE(exchanges(20000));
  const long after = ResidentKiB(emulator.Pid());
  link.CloseEther();
  EXPECT_GT(warm, 0);
  EXPECT_LE(after, warm + 64) << "KiB after 2000 exchanges: " << warm << ", after 22000: " << after;
  kill(emulator.Pid(), SIGTERM);
  EXPECT_EQ(emulator.WaitExit(), 0);
}

TEST(EmulatorProgram, AnswersWithItsProfileAndStopsOnSigterm) {
  const std::uint16_t port = FreeUdpPort();
  const std::string p = std::to_string(port);
  PtyProcess emulator({EMULATOR_PROGRAM,
                       {"--address", kAdapterAddress, "--port", p, "--mode", "terminal",
                        "--authenticated=no", "--mac", "0a0b0c0d0e0f", "--result", "restart=6",
                        "--remote", "020000000001", "--main-version", "MAIN 9"},
                       {},
                       {}});
  ASSERT_TRUE(emulator.Expect("answering on 127.0.0.2:" + p)) << emulator.Output();

  C_ZANTO_EXTCMD_IF link(5000);
  const std::uint8_t mac[6] = {};
  ASSERT_EQ(link.OpenEther(kToolAddress, kAdapterAddress, port, mac), 1);
  link.MakeCommand(CMD_GET_STATUS, 4);
  ASSERT_EQ(link.Transact(0), 1);
  const std::uint8_t* record = link.GetData();
  EXPECT_EQ(record[113] & 1, 0) << "terminal mode";
  EXPECT_EQ(record[9], 0) << "not authenticated";
  EXPECT_EQ(record[10], 0x0A);
  EXPECT_EQ(record[15], 0x0F);
  // The remote adapter: a terminal of this one, with the versions given after it too.
  link.MakeCommand(CMD_RELAY, 1440);
  const std::uint8_t remote[6] = {0x02, 0, 0, 0, 0, 0x01};
  std::copy(remote, remote + 6, link.GetData() + 4);
  link.MakeRelayCommand(CMD_GET_STATUS, 4);
  ASSERT_EQ(link.Transact(0), 1);
  EXPECT_EQ(link.GetData()[0], 0);
  const std::uint8_t* remoteRecord = link.GetData() + frame::kRelayHeaderSize + frame::kHeaderSize;
  EXPECT_EQ(remoteRecord[10 + 5], 0x01);
  EXPECT_EQ(remoteRecord[114 + 5], 0x0F) << "its master is the local adapter";
  EXPECT_STREQ(reinterpret_cast<const char*>(remoteRecord + 16), "MAIN 9");

  link.MakeCommand(CMD_RESET_SYS, 4);
  ASSERT_EQ(link.Transact(0), 1);
  EXPECT_EQ(link.GetData()[0], 6);
  link.CloseEther();

  kill(emulator.Pid(), SIGTERM);
  EXPECT_EQ(emulator.WaitExit(), 0);
}

// "--rate" sets the device's speed exactly, with or without a speed constant; 0 keeps the speed
// it had. The device here is one side of a pseudo-terminal pair whose other side reads the speed
// back.
TEST(EmulatorProgram, SetsAnyRateOnASerialDevice) {
  const struct {
    std::uint32_t rate;
    std::uint32_t speed;
  } cases[] = {{250000, 250000}, {31250, 31250}, {110, 110}, {4000000, 4000000}, {0, 9600}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate);
    const auto line = sim::SerialEnd::CreatePty();
    ASSERT_TRUE(line);
    plat::posix::SetExactSpeed(line->NativeHandle(), 9600);
    PtyProcess emulator({EMULATOR_PROGRAM,
                         {"--serial-device", line->PortName(), "--rate", std::to_string(c.rate)},
                         {},
                         {}});
    ASSERT_TRUE(emulator.Expect("answering on a serial line")) << emulator.Output();
    EXPECT_EQ(plat::posix::LineSpeed(line->NativeHandle()), c.speed);
    kill(emulator.Pid(), SIGTERM);
    EXPECT_EQ(emulator.WaitExit(), 0);
  }
}

TEST(EmulatorProgram, StopsWhenItsParentProcessHasEnded) {
  PtyProcess parent({"/bin/sleep", {"0.2"}, {}, {}});
  PtyProcess emulator(
      {EMULATOR_PROGRAM,
       {"--port", std::to_string(FreeUdpPort()), "--parent-pid", std::to_string(parent.Pid())},
       {},
       {}});
  ASSERT_TRUE(emulator.Expect("answering on")) << emulator.Output();
  EXPECT_EQ(parent.WaitExit(), 0);  // reaped: its pid is gone now
  EXPECT_EQ(emulator.WaitExit(), 0);
}

}  // namespace
}  // namespace e2e
