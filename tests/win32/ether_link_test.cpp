// The interface object's UDP link, built for Windows, against the Linux adapter emulator on
// loopback (tests/wine/with_emulator.sh starts it and names its port in PLC_ADAPTER_PORT). The
// emulator answers Get Status, answers Info Resolution oversize, System Command from another
// address, and never answers Restart.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/net.h"
#include "tests/win32/link_cases.h"

namespace {

class EmulatorLink : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("PLC_ADAPTER_PORT");
    if (port == nullptr) GTEST_SKIP() << "PLC_ADAPTER_PORT names no emulator (with_emulator.sh)";
    port_ = static_cast<std::uint16_t>(std::atoi(port));
    extcmd_.m_nTimeout = 1000;
  }
  void TearDown() override {
    if (extcmd_.GetConnectType() == CONNECT_ETHER) {
      EXPECT_EQ(extcmd_.CloseEther(), 1);
    }
  }

  int Exchange(std::uint16_t code, const std::string& data) {
    return wintest::Exchange(extcmd_, code, data);
  }

  std::uint16_t port_ = 0;
  C_ZANTO_EXTCMD_IF extcmd_{5000};
};

TEST_F(EmulatorLink, GetStatusIsAnswered) {
  ASSERT_EQ(extcmd_.OpenEther("127.0.0.1", "127.0.0.2", port_, nullptr), 1);
  ASSERT_EQ(Exchange(CMD_GET_STATUS, std::string(4, '\0')), 1) << extcmd_.GetErrorCode();
  EXPECT_EQ(frame::Get16(extcmd_.m_pFrame + frame::kOffCommand), 0xA142);
  EXPECT_EQ(extcmd_.GetData()[0], 0) << "result byte";
}

using wintest::FailureCase;

class EmulatorFaults : public EmulatorLink, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EmulatorFaults, EndAsTheLinkSays) {
  const FailureCase& c = GetParam();
  ASSERT_EQ(extcmd_.OpenEther("127.0.0.1", "127.0.0.2", port_, nullptr), 1);
  extcmd_.m_nError = 0;
  EXPECT_EQ(Exchange(c.code, c.data), c.transact);
  EXPECT_EQ(extcmd_.GetErrorCode(), c.error);
  // The link stays usable.
  EXPECT_EQ(Exchange(CMD_GET_STATUS, std::string(4, '\0')), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Emulator, EmulatorFaults,
    ::testing::Values(FailureCase{"OversizeAnswer", CMD_INFO_RESOLUTION, "\x7F\0\0\x01", 0, 10009},
                      FailureCase{"NoAnswer", CMD_RESET_SYS, std::string(4, '\0'), 0, 10009},
                      FailureCase{"AnswerFromAnotherAddress", CMD_SYSTEMCMD,
                                  std::string("ver\0", 4), 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// No "HOST_IP": the local address comes from this computer's host name (gethostname,
// gethostbyname); without a 192.168.0.x address the socket is bound to every local address.
TEST_F(EmulatorLink, AnEmptyHostAddressUsesTheHostName) {
  ASSERT_EQ(plat::NetStartup(), 0);
  char name[128] = {};
  std::vector<std::uint32_t> addresses;
  const bool resolved = plat::GetHostName(name, sizeof name) && plat::ResolveIpv4(name, addresses);
  plat::NetCleanup();
  ASSERT_TRUE(resolved) << name;
  for (const std::uint32_t a : addresses) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&a);
    if (b[0] == 192 && b[1] == 168 && b[2] == 0) {
      GTEST_SKIP() << "this computer has an address in the adapters' network";
    }
  }
  ASSERT_EQ(extcmd_.OpenEther("", "127.0.0.2", port_, nullptr), 1);
  EXPECT_EQ(Exchange(CMD_GET_STATUS, std::string(4, '\0')), 1) << extcmd_.GetErrorCode();
}

}  // namespace
