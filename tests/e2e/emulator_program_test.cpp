// The emulator program as a technician (or the demo) runs it: help, serving, and stopping.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "extcmd/zanto_extcmd_if.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"

namespace e2e {
namespace {

TEST(EmulatorProgram, HelpExplainsTheOptionsAndEndsWith0) {
  PtyProcess emulator({EMULATOR_PROGRAM, {"--help"}, {}, {}});
  EXPECT_EQ(emulator.WaitExit(), 0);
  for (const char* text : {"Usage: plc_adapter_emulator", "HOST_IP=127.0.0.1", "--port", "--mode",
                           "--remote", "--firmware-out", "--reply", "--no-answer", "--parent-pid"}) {
    EXPECT_NE(emulator.Output().find(text), std::string::npos) << text;
  }
}

TEST(EmulatorProgram, RefusesAnUnknownOption) {
  PtyProcess emulator({EMULATOR_PROGRAM, {"--colour", "blue"}, {}, {}});
  EXPECT_EQ(emulator.WaitExit(), 2);
  EXPECT_NE(emulator.Output().find("unknown option --colour"), std::string::npos);
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
  const std::uint8_t* remoteRecord = link.GetData() + 48;
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

TEST(EmulatorProgram, StopsWhenItsParentProcessHasEnded) {
  PtyProcess parent({"/bin/sleep", {"0.2"}, {}, {}});
  PtyProcess emulator({EMULATOR_PROGRAM,
                       {"--port", std::to_string(FreeUdpPort()), "--parent-pid",
                        std::to_string(parent.Pid())},
                       {},
                       {}});
  ASSERT_TRUE(emulator.Expect("answering on")) << emulator.Output();
  EXPECT_EQ(parent.WaitExit(), 0);  // reaped: its pid is gone now
  EXPECT_EQ(emulator.WaitExit(), 0);
}

}  // namespace
}  // namespace e2e
