// The interface object's UDP link against the emulated adapter over real loopback sockets.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "extcmd/records.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sim/adapter.h"
#include "sim/udp_server.h"
#include "tests/e2e/scene.h"
#include "tests/toolkit/fd.h"

namespace {

using namespace std::chrono_literals;
using e2e::kAdapterAddress;
using e2e::kToolAddress;
using sim::Bytes;
using sim::FaultKind;

constexpr std::uint8_t kMac[6] = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD};

class EtherLink : public ::testing::Test {
 protected:
  EtherLink()
      : port_(e2e::FreeUdpPort()),
        server_(adapter_, {kAdapterAddress, port_, e2e::kOtherAddress}),
        link_(2000) {}
  ~EtherLink() override {
    if (link_.GetConnectType() == CONNECT_ETHER) link_.CloseEther();
  }

  int Open(const char* hostIp = kToolAddress) {
    return link_.OpenEther(hostIp, kAdapterAddress, port_, kMac);
  }
  int Exchange(std::uint16_t base) {
    link_.MakeCommand(base, 4);
    return link_.Transact(0);
  }
  Bytes AnswerData(std::size_t size) { return Bytes(link_.GetData(), link_.GetData() + size); }

  std::uint16_t port_;
  sim::Adapter adapter_;
  sim::UdpServer server_;
  C_ZANTO_EXTCMD_IF link_;
};

TEST_F(EtherLink, GetStatusGoesOutAsTheDocumentedDatagramFromTheConfiguredAddress) {
  ASSERT_EQ(Open(), 1);
  ASSERT_EQ(Exchange(CMD_GET_STATUS), 1);

  const auto received = server_.Received();
  ASSERT_EQ(received.size(), 1u);
  const Bytes expected = {0x00, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00,
                          0x14, 0x00, 0x01, 0xF0, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E,
                          0x4E, 0x0B, 0x41, 0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(received[0].bytes, expected);
  // Bound to HOST_IP:PORT; it reached the adapter's address at the same port.
  EXPECT_EQ(received[0].fromAddress, kToolAddress);
  EXPECT_EQ(received[0].fromPort, port_);
  // The answer is read at buffer offset 2.
  EXPECT_EQ(link_.m_pFrame, link_.m_Buffer + 2);
  EXPECT_EQ(AnswerData(STATUS_RECORD_SIZE), sim::StatusRecord(sim::StatusProfile{}));
}

TEST_F(EtherLink, OpenAndCloseFollowTheStateTable) {
  link_.m_nError = 0;
  EXPECT_EQ(link_.CloseEther(), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ETHER_NOT_OPEN);

  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(link_.GetConnectType(), CONNECT_ETHER);
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ETHER_ALREADY_OPEN);
  EXPECT_EQ(link_.GetConnectType(), CONNECT_ETHER);
  EXPECT_EQ(Exchange(CMD_GET_STATUS), 1) << "the open link stays usable";

  EXPECT_EQ(link_.CloseEther(), 1);
  EXPECT_EQ(link_.GetConnectType(), CONNECT_NONE);
  EXPECT_EQ(link_.CloseEther(), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ETHER_NOT_OPEN);

  // Closing released the port: the link opens on it again and works.
  ASSERT_EQ(Open(), 1);
  EXPECT_EQ(Exchange(CMD_INFO_RESOLUTION), 1);
  const auto received = server_.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].fromPort, port_);
}

TEST_F(EtherLink, BindFailuresStore10002AndLeaveTheLinkClosed) {
  // 192.0.2.1 is no address of this computer; nothing is sent by a bind.
  EXPECT_EQ(Open("192.0.2.1"), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ETHER_OPEN);
  EXPECT_EQ(link_.GetConnectType(), CONNECT_NONE);

  // The port taken on the tool's address by a socket that does not share it.
  toolkit::UniqueFd holder = toolkit::BoundUdp(kToolAddress, port_);
  ASSERT_TRUE(holder);
  link_.m_nError = 0;
  EXPECT_EQ(Open(), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ETHER_OPEN);
  EXPECT_EQ(link_.GetConnectType(), CONNECT_NONE);
  holder.reset();

  EXPECT_EQ(Open(), 1) << "a failed open leaves nothing behind that blocks the next one";
  EXPECT_EQ(server_.Received().size(), 0u);
}

TEST_F(EtherLink, EmptyHostAddressBindsTheConfiguredPort) {
  // This computer's name either resolves (the link opens on the configured port, on an
  // address of 192.168.0.0/24 or on every address) or it does not (0, and no code is stored).
  link_.m_nError = 4242;
  if (Open("") == 0) {
    EXPECT_EQ(link_.GetErrorCode(), 4242);
    EXPECT_EQ(link_.GetConnectType(), CONNECT_NONE);
    return;
  }
  ASSERT_EQ(Exchange(CMD_GET_STATUS), 1);
  ASSERT_EQ(server_.Received().size(), 1u);
  EXPECT_EQ(server_.Received()[0].fromPort, port_);
}

// One fault of the adapter or of the way its answer travels, and what the exchange gives.
struct AnswerCase {
  const char* name;
  FaultKind fault;
  int value;
  int expectedCode;  // 0: the exchange succeeds
  friend void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }
};

class AnswerFaults : public EtherLink, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerFaults, AreReportedAndLeaveTheLinkUsable) {
  const AnswerCase& c = GetParam();
  ASSERT_EQ(Open(), 1);
  link_.m_nTimeout = 300;
  adapter_.AddFault({c.fault, CMD_GET_STATUS, c.value, true});
  link_.m_nError = 0;
  const auto start = std::chrono::steady_clock::now();
  const int result = Exchange(CMD_GET_STATUS);
  if (c.expectedCode == 0) {
    EXPECT_EQ(result, 1);
    EXPECT_EQ(AnswerData(STATUS_RECORD_SIZE), sim::StatusRecord(sim::StatusProfile{}));
  } else {
    EXPECT_EQ(result, 0);
    EXPECT_EQ(link_.GetErrorCode(), c.expectedCode);
  }
  if (c.fault == FaultKind::NoAnswer) {
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms) << "waits for m_nTimeout";
  }
  EXPECT_EQ(link_.GetConnectType(), CONNECT_ETHER);
  link_.m_nTimeout = 2000;
  EXPECT_EQ(Exchange(CMD_GET_STATUS), 1) << "the next exchange is not disturbed";
}

INSTANTIATE_TEST_SUITE_P(
    Link, AnswerFaults,
    ::testing::Values(
        AnswerCase{"NoAnswer", FaultKind::NoAnswer, 0, ERR_ETHER_RECV},
        AnswerCase{"Empty", FaultKind::EmptyDatagram, 0, ERR_ETHER_RECV},
        AnswerCase{"OneByteTooLarge", FaultKind::OversizeDatagram, 4097, ERR_ETHER_RECV},
        AnswerCase{"Oversize", FaultKind::OversizeDatagram, 9000, ERR_ETHER_RECV},
        AnswerCase{"FillsTheBuffer", FaultKind::OversizeDatagram, 4096, 0},
        AnswerCase{"NineBytes", FaultKind::ShortDatagram, 0, frame::kErrPreamble},
        AnswerCase{"FromAnotherAddress", FaultKind::OtherAddress, 0, 0},
        AnswerCase{"Preamble", FaultKind::BadPreamble, 0, frame::kErrPreamble},
        AnswerCase{"FrameType", FaultKind::BadFrameType, 0, frame::kErrFrameType},
        AnswerCase{"Direction", FaultKind::BadDirection, 0, frame::kErrDirection},
        AnswerCase{"Magic", FaultKind::BadMagic, 0, frame::kErrMagic},
        AnswerCase{"RequestCodeEchoed", FaultKind::EchoRequestCode, 0, frame::kErrCommand}),
    [](const auto& test) { return std::string(test.param.name); });

// An answer that comes after its request timed out is taken by the next request.
struct LateCase {
  const char* name;
  std::uint16_t next;
  int expectedResult;
  friend void PrintTo(const LateCase& c, std::ostream* os) { *os << c.name; }
};

class LateAnswer : public EtherLink, public ::testing::WithParamInterface<LateCase> {};

TEST_P(LateAnswer, IsTakenAsTheAnswerToTheNextRequest) {
  const LateCase& c = GetParam();
  ASSERT_EQ(Open(), 1);
  adapter_.AddFault({FaultKind::Delay, CMD_GET_STATUS, 400, true});
  link_.m_nTimeout = 100;
  EXPECT_EQ(Exchange(CMD_GET_STATUS), 0);
  EXPECT_EQ(link_.GetErrorCode(), ERR_ETHER_RECV);
  // The late answer is on its way before the next request goes out.
  ASSERT_TRUE(server_.WaitForAnswers(1, 10s));

  link_.m_nTimeout = 2000;
  link_.m_nError = 0;
  EXPECT_EQ(Exchange(c.next), c.expectedResult);
  if (c.expectedResult == 0) {
    EXPECT_EQ(link_.GetErrorCode(), frame::kErrCommand);
  } else {
    // The Get Status answer, taken for this request.
    EXPECT_EQ(AnswerData(STATUS_RECORD_SIZE), sim::StatusRecord(sim::StatusProfile{}));
  }
}

INSTANTIATE_TEST_SUITE_P(Link, LateAnswer,
                         ::testing::Values(LateCase{"SameCommandPasses", CMD_GET_STATUS, 1},
                                           LateCase{"OtherCommandFails", CMD_INFO_RESOLUTION, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
