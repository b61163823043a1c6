// An exchange over the UDP link, and one over the serial link through PromptSerialIf, allocates
// nothing: the request leaves from the object's buffer and the answer lands in it. Counted on
// the calling thread alone, so the emulated adapter serving in the same process on its own
// thread does not count.
#include <gtest/gtest.h>

#include <memory>

#include "extcmd/firmware_block.h"
#include "extcmd/prompt_serial.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "sim/udp_server.h"
#include "tests/e2e/scene.h"
#include "tests/heap/heap_count.h"

namespace {

constexpr std::uint8_t kMac[6] = {};
constexpr int kExchanges = 50;

// One kind of exchange: its request, and whether the adapter answers it.
struct ExchangeCase {
  const char* name;
  std::uint16_t base;
  int dataLength;
  bool answered;  // the adapter answers; else the receive times out
  friend void PrintTo(const ExchangeCase& c, std::ostream* os) { *os << c.name; }
};

class ExchangeAllocations : public ::testing::TestWithParam<ExchangeCase> {
 protected:
  ExchangeAllocations()
      : port_(e2e::FreeUdpPort()),
        server_(adapter_, {e2e::kAdapterAddress, port_, e2e::kOtherAddress}),
        link_(5000) {}
  ~ExchangeAllocations() override {
    if (link_.GetConnectType() == CONNECT_ETHER) link_.CloseEther();
  }

  // One exchange as a handler makes it; its Transact result.
  int Exchange(const ExchangeCase& c) { return ExchangeOn(link_, c); }
  static int ExchangeOn(C_ZANTO_EXTCMD_IF& link, const ExchangeCase& c) {
    link.MakeCommand(c.base, c.dataLength);
    return link.Transact(0);
  }

  // Allocations of kExchanges exchanges after a first one, whatever a first use sets up.
  static void ExpectNoAllocations(C_ZANTO_EXTCMD_IF& link, const ExchangeCase& c) {
    const int expected = c.answered ? 1 : 0;
    ASSERT_EQ(ExchangeOn(link, c), expected);
    const std::size_t before = heap_count::ThisThread();
    int results = 0;
    for (int i = 0; i < kExchanges; ++i) results += ExchangeOn(link, c);
    const std::size_t allocations = heap_count::ThisThread() - before;
    EXPECT_EQ(results, expected * kExchanges);
    EXPECT_EQ(allocations, 0u) << "in " << kExchanges << " exchanges";
  }

  std::uint16_t port_;
  sim::Adapter adapter_;
  sim::UdpServer server_;
  C_ZANTO_EXTCMD_IF link_;
};

TEST(HeapCount, CountsAnAllocationOnThisThread) {
  const std::size_t before = heap_count::ThisThread();
  const auto p = std::make_unique<int>(7);
  EXPECT_EQ(heap_count::ThisThread() - before, 1u) << "operator new is not the counting one";
}

TEST_P(ExchangeAllocations, AreNone) {
  const ExchangeCase& c = GetParam();
  if (!c.answered) {
    adapter_.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
    link_.m_nTimeout = 5;  // a time-out that does not make the test slow
  }
  ASSERT_EQ(link_.OpenEther(e2e::kToolAddress, e2e::kAdapterAddress, port_, kMac), 1);
  ExpectNoAllocations(link_, c);
}

// The serial receive that waits for the end-of-frame byte reads through a block of its own.
TEST_P(ExchangeAllocations, AreNoneOverSerialThroughThePromptReceive) {
  const ExchangeCase& c = GetParam();
  sim::Adapter adapter;
  if (!c.answered) adapter.AddFault({sim::FaultKind::NoAnswer, std::nullopt, 0, false});
  sim::SerialServer server(adapter, {});
  PromptSerialIf link(c.answered ? 5000 : 5);
  ASSERT_EQ(link.OpenSerial(server.PortName().c_str(), 115200, 8, 0, 0), 1);
  ExpectNoAllocations(link, c);
  link.CloseSerial();
}

INSTANTIATE_TEST_SUITE_P(
    Link, ExchangeAllocations,
    ::testing::Values(ExchangeCase{"GetStatus", CMD_GET_STATUS, 4, true},
                      // The largest request of the tools, 1062 bytes; the adapter refuses
                      // its empty block record with a result byte, which is an answer too.
                      ExchangeCase{"FirmwareBlock", CMD_FW_UPDATE,
                                   static_cast<int>(FW_BLOCK_RECORD_SIZE), true},
                      ExchangeCase{"TimeOut", CMD_GET_STATUS, 4, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
