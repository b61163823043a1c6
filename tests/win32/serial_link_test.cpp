// PromptSerialIf's serial link, built for Windows, against the Linux adapter emulator on a
// pseudo-terminal that the Wine prefix maps as a COM port (tests/wine/with_emulator.sh starts the
// emulator with --serial and names the port in PLC_ADAPTER_SERIAL_PORT). The emulator answers
// Get Status, puts noise before its answer to Info Resolution, sends its answer to System
// Command in pieces and never answers Restart.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "extcmd/frame.h"
#include "extcmd/prompt_serial.h"
#include "platform/termination.h"
#include "tests/win32/link_cases.h"

namespace {

using namespace std::chrono_literals;

class EmulatorSerialLink : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("PLC_ADAPTER_SERIAL_PORT");
    if (port == nullptr) {
      GTEST_SKIP() << "PLC_ADAPTER_SERIAL_PORT names no emulator (with_emulator.sh --serial)";
    }
    ASSERT_EQ(link_.OpenSerial(port, 115200, 8, 0, 0), 1) << link_.GetErrorCode();
  }
  void TearDown() override {
    if (link_.GetConnectType() == CONNECT_SERIAL) {
      EXPECT_EQ(link_.CloseSerial(), 1);
    }
  }

  int Exchange(std::uint16_t code, const std::string& data) {
    return wintest::Exchange(link_, code, data);
  }
  int GetStatus() { return Exchange(CMD_GET_STATUS, std::string(4, '\0')); }

  PromptSerialIf link_{1000};
};

TEST_F(EmulatorSerialLink, GetStatusIsAnsweredAgainAndAgain) {
  for (int i = 0; i < 20; ++i) {
    SCOPED_TRACE(i);
    link_.m_nError = 0;
    ASSERT_EQ(GetStatus(), 1) << link_.GetErrorCode();
    EXPECT_EQ(frame::Get16(link_.m_pFrame + frame::kOffCommand), 0xA142);
    EXPECT_EQ(link_.GetData()[0], 0) << "result byte";
    // The emulator's MAC address, at offset 10 of the status record.
    EXPECT_EQ(std::memcmp(link_.GetData() + 10, "\x00\x11\x22\x33\x44\x55", 6), 0);
  }
}

using wintest::FailureCase;

class EmulatorSerialFaults : public EmulatorSerialLink,
                             public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EmulatorSerialFaults, EndAsTheLinkSays) {
  const FailureCase& c = GetParam();
  link_.m_nError = 0;
  EXPECT_EQ(Exchange(c.code, c.data), c.transact);
  EXPECT_EQ(link_.GetErrorCode(), c.error);
  // The link stays usable and in step.
  link_.m_nError = 0;
  EXPECT_EQ(GetStatus(), 1) << link_.GetErrorCode();
}

INSTANTIATE_TEST_SUITE_P(
    Emulator, EmulatorSerialFaults,
    ::testing::Values(
        // A2 in the request data goes out stuffed.
        FailureCase{"NoiseBeforeThePreamble", CMD_INFO_RESOLUTION, "\xC0\xA8\x00\xA2", 0, 10106},
        FailureCase{"AnswerInPieces", CMD_SYSTEMCMD, std::string("ver\0", 4), 1, 0},
        FailureCase{"NoAnswer", CMD_RESET_SYS, std::string(4, '\0'), 0, 10105}),
    [](const auto& info) { return std::string(info.param.name); });

// The wait for an answer that never comes ends at once on a request to end.
TEST_F(EmulatorSerialLink, ARequestToEndEndsTheWaitAtOnce) {
  link_.m_nTimeout = 600000;
  const plat::TerminationWatch watch;
  std::thread request([] {
    std::this_thread::sleep_for(200ms);
    plat::NoteOutputLost();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Exchange(CMD_RESET_SYS, std::string(4, '\0')), 0);
  EXPECT_EQ(link_.GetErrorCode(), 10105);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 60s);
  request.join();
}

}  // namespace
