// The interface object's serial link against the emulated adapter on a pseudo-terminal, with
// both serial receives, and the emulator's line faults as the tool sees them.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "extcmd/serial_coding.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "tests/unit/serial_receives.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using testing_support::kReceiveName;
using testing_support::kReceives;
using testing_support::Receive;

constexpr int kTimeoutMs = 500;

class SerialEmulator : public ::testing::TestWithParam<Receive> {
 protected:
  void SetUp() override {
    ASSERT_EQ(link.OpenSerial(server.PortName().c_str(), 115200, 8, 0, 0), 1);
  }
  void TearDown() override { link.CloseSerial(); }

  int Exchange(std::uint16_t base, const Bytes& data, int noAnswerOk = 0) {
    link.MakeCommand(base, static_cast<int>(data.size()));
    std::copy(data.begin(), data.end(), link.GetData());
    return link.Transact(noAnswerOk);
  }
  int GetStatus(int noAnswerOk = 0) { return Exchange(CMD_GET_STATUS, {0, 0, 0, 0}, noAnswerOk); }

  sim::Adapter adapter;
  sim::SerialServer server{adapter, {}};
  const std::shared_ptr<C_ZANTO_EXTCMD_IF> object = GetParam().make(kTimeoutMs);
  C_ZANTO_EXTCMD_IF& link = *object;
};

INSTANTIATE_TEST_SUITE_P(Receive, SerialEmulator, ::testing::ValuesIn(kReceives), kReceiveName);

TEST_P(SerialEmulator, AnswersGetStatusAndInfoResolutionWithTheCommandTable) {
  adapter.Configure([](sim::AdapterProfile& p) {
    p.status.mac = {0x00, 0x11, 0xA2, 0xA3, 0xCC, 0xDD};  // stuffed on the way back
    p.identity.ip = {192, 168, 0, 162};
  });
  ASSERT_EQ(GetStatus(), 1);
  const std::uint8_t* record = link.GetData();
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(Bytes(record + 10, record + 16), (Bytes{0x00, 0x11, 0xA2, 0xA3, 0xCC, 0xDD}));

  ASSERT_EQ(Exchange(CMD_INFO_RESOLUTION, {0xC0, 0xA8, 0x00, 0xA2}), 1);
  EXPECT_EQ(Bytes(link.GetData() + 8, link.GetData() + 12), (Bytes{192, 168, 0, 162}));

  // The adapter saw the requests unstuffed; the line carried the worked examples.
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_TRUE(received[0].checksumOk);
  EXPECT_EQ(received[0].line.size(), 35u);
  EXPECT_EQ(Bytes(received[0].line.end() - 3, received[0].line.end()), (Bytes{0x65, 0x24, 0xA2}));
  EXPECT_EQ(received[1].line.size(), 36u);
  EXPECT_EQ(Bytes(received[1].frame.begin() + 28, received[1].frame.end()),
            (Bytes{0xC0, 0xA8, 0x00, 0xA2}));
  EXPECT_EQ(adapter.RequestCount(), 2u);
}

TEST_P(SerialEmulator, LineFaultsAsTheToolSeesThem) {
  const struct {
    const char* name;
    sim::LineFault fault;
    int result;
    int code;
  } cases[] = {
      {"bad checksum", sim::LineFault::BadChecksum, 0, frame::kErrChecksum},
      {"noise before the preamble", sim::LineFault::Noise, 0, ERR_SERIAL_PREAMBLE},
      {"no terminator", sim::LineFault::NoTerminator, 0, ERR_SERIAL_TIMEOUT},
      {"pieces with pauses", sim::LineFault::Pieces, 1, 0},
      {"two answers at once", sim::LineFault::TwoAnswers, 1, 0},
  };
  link.m_nTimeout = 1500;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.AddFault({c.fault, CMD_GET_STATUS, 0, true});
    link.m_nError = 0;
    EXPECT_EQ(GetStatus(), c.result);
    EXPECT_EQ(link.GetErrorCode(), c.code);
    // What a fault left on the line is gone with the failed receive or arrives with the next
    // exchange; an undamaged exchange after it is in step again.
    if (c.fault == sim::LineFault::NoTerminator) {
      link.MakeCommand(CMD_GET_STATUS, 4);
      link.SerialSend();
      link.SerialRecv();  // takes the unterminated answer together with this one
    }
    link.m_nError = 0;
    EXPECT_EQ(GetStatus(), 1);
    EXPECT_EQ(link.GetErrorCode(), 0);
  }
}

TEST_P(SerialEmulator, AnAnswerAfterTheTimeOut) {
  link.m_nTimeout = 300;
  adapter.AddFault({sim::FaultKind::Delay, CMD_GET_STATUS, 700, true});
  EXPECT_EQ(GetStatus(0), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
  adapter.AddFault({sim::FaultKind::Delay, CMD_GET_STATUS, 700, true});
  EXPECT_EQ(GetStatus(1), 1);  // the missing answer is acceptable here
  EXPECT_TRUE(server.WaitForAnswers(2, 5s));
}

// A tool whose checksums are wrong: the adapter records such requests and does not answer.
class WrongChecksumLink : public C_ZANTO_EXTCMD_IF {
 public:
  WrongChecksumLink() : C_ZANTO_EXTCMD_IF(300) {}
  std::uint16_t CalcChecksum(const std::uint8_t* bytes, std::uint16_t length) override {
    return static_cast<std::uint16_t>(C_ZANTO_EXTCMD_IF::CalcChecksum(bytes, length) ^ 0x0100);
  }
};

TEST(SerialEmulatorRequests, ADamagedRequestIsRecordedButNotAnswered) {
  sim::Adapter adapter;
  sim::SerialServer server(adapter, {});
  WrongChecksumLink link;
  ASSERT_EQ(link.OpenSerial(server.PortName().c_str(), 115200, 8, 0, 0), 1);
  link.MakeCommand(CMD_GET_STATUS, 4);
  link.m_nError = 0;
  EXPECT_EQ(link.SerialSend(), 1);
  EXPECT_EQ(link.SerialRecv(), 0);
  EXPECT_EQ(link.GetErrorCode(), ERR_SERIAL_TIMEOUT);
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_FALSE(received[0].checksumOk);
  EXPECT_EQ(adapter.RequestCount(), 0u);
  EXPECT_EQ(server.AnswersSent(), 0u);
  link.CloseSerial();
}

TEST(SerialEmulatorRequests, StopCutsALongAnswerDelayShort) {
  sim::Adapter adapter;
  adapter.AddFault({sim::FaultKind::Delay, std::nullopt, 600000, false});
  auto server = std::make_unique<sim::SerialServer>(adapter, sim::SerialServer::Options{});
  C_ZANTO_EXTCMD_IF link(200);
  ASSERT_EQ(link.OpenSerial(server->PortName().c_str(), 115200, 8, 0, 0), 1);
  link.MakeCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(link.Transact(0), 0);
  ASSERT_TRUE(server->WaitForReceived(1, 5s));
  server.reset();  // returns although the answer is still ten minutes away
  link.CloseSerial();
}

TEST(SerialEmulatorRequests, AMissingDeviceIsReported) {
  sim::Adapter adapter;
  EXPECT_THROW(sim::SerialServer(adapter, {"ttyNONE", 115200}), std::system_error);
}

}  // namespace
