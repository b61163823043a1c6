// The emulated adapter itself: what later tests rely on when they judge the tools by it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <numeric>
#include <string>
#include <string_view>

#include "extcmd/firmware_block.h"
#include "extcmd/frame.h"
#include "extcmd/records.h"
#include "sim/adapter.h"
#include "sim/udp_server.h"
#include "tests/e2e/scene.h"
#include "tests/toolkit/fd.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using sim::FaultKind;

Bytes Request(std::uint16_t base, const Bytes& data) {
  return sim::MakeFrame(frame::kDirRequest, static_cast<std::uint16_t>(base | 1), data);
}

Bytes DataOf(const sim::Reply& reply) {
  return Bytes(reply.frame.begin() + frame::kHeaderSize, reply.frame.end());
}
std::uint16_t CodeOf(const sim::Reply& reply) {
  return frame::Get16(&reply.frame[frame::kOffCommand]);
}

// A firmware block as the tool builds it; `fill` goes behind the image bytes of the block.
Bytes Block(std::uint16_t number, std::uint16_t more, std::uint32_t count, const Bytes& image,
            std::uint8_t fill = 0xFF) {
  Bytes d(FW_BLOCK_RECORD_SIZE, fill);
  frame::Put16(&d[0], number);
  frame::Put16(&d[2], more);
  frame::Put32(&d[4], count);
  const std::size_t from = std::size_t{number} * 1024;
  for (std::size_t i = 0; i < std::min<std::size_t>(count, 1024) && from + i < image.size(); ++i) {
    d[8 + i] = image[from + i];
  }
  return d;
}

Bytes Image(std::size_t size) {
  Bytes image(size);
  std::iota(image.begin(), image.end(), std::uint8_t{7});
  return image;
}

std::uint8_t Send(sim::Adapter& adapter, std::uint16_t base, const Bytes& data) {
  const auto reply = adapter.Handle(Request(base, data));
  return reply ? DataOf(*reply).at(0) : 0xEE;
}

TEST(EmulatedFirmware, ReassemblesTheImageFromTheByteCounts) {
  sim::Adapter adapter;
  Bytes written;
  adapter.Configure([&written](sim::AdapterProfile& p) {
    p.firmware.onImage = [&written](std::span<const std::uint8_t> i) {
      written.assign(i.begin(), i.end());
    };
    p.firmware.lastBlockDelay = 250ms;
  });
  const Bytes image = Image(3000);
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, Block(0, 1, 1024, image)), 0);
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, Block(1, 1, 1024, image)), 0);
  const auto last = adapter.Handle(Request(CMD_FW_UPDATE, Block(2, 0, 952, image)));
  ASSERT_TRUE(last);
  EXPECT_EQ(DataOf(*last), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(CodeOf(*last), 0x5002);
  EXPECT_EQ(last->delay, 250ms);
  EXPECT_EQ(adapter.Images(), std::vector<Bytes>{image});
  EXPECT_EQ(written, image);
  EXPECT_TRUE(adapter.Violations().empty());
}

// Block sequences that break the rules, each ending in result 4 and a recorded violation.
struct BadSequence {
  const char* name;
  std::vector<Bytes> blocks;  // all but the last are accepted
  friend void PrintTo(const BadSequence& c, std::ostream* os) { *os << c.name; }
};

class FirmwareViolations : public ::testing::TestWithParam<BadSequence> {};

TEST_P(FirmwareViolations, AreAnsweredWithResult4AndRecorded) {
  sim::Adapter adapter;
  const auto& blocks = GetParam().blocks;
  for (std::size_t i = 0; i + 1 < blocks.size(); ++i) {
    ASSERT_EQ(Send(adapter, CMD_FW_UPDATE, blocks[i]), 0) << "block " << i;
  }
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, blocks.back()), sim::kResultBadFirmwareBlock);
  EXPECT_EQ(adapter.Violations().size(), 1u);
  EXPECT_TRUE(adapter.Images().empty());
}

const Bytes kImage = Image(4096);

INSTANTIATE_TEST_SUITE_P(
    Sim, FirmwareViolations,
    ::testing::Values(BadSequence{"Skipped",
                                  {Block(0, 1, 1024, kImage), Block(2, 1, 1024, kImage)}},
                      BadSequence{"Repeated",
                                  {Block(0, 1, 1024, kImage), Block(1, 1, 1024, kImage),
                                   Block(1, 1, 1024, kImage)}},
                      BadSequence{"NotFromZero", {Block(1, 1, 1024, kImage)}},
                      BadSequence{"ShortBeforeTheLast", {Block(0, 1, 1000, kImage)}},
                      BadSequence{"NothingInIt", {Block(0, 0, 0, kImage)}},
                      BadSequence{"MoreThanABlock", {Block(0, 0, 1025, kImage)}},
                      BadSequence{"MoreFollows2", {Block(0, 2, 1024, kImage)}},
                      BadSequence{"LastWithoutFF", {Block(0, 0, 10, kImage, 0x00)}},
                      BadSequence{"WrongDataLength", {Bytes(1028, 0)}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(EmulatedFirmware, RejectsTheChosenBlockAndStartsOverWithBlockZero) {
  sim::Adapter adapter;
  adapter.Configure([](sim::AdapterProfile& p) {
    p.firmware.rejectBlock = 1;
    p.firmware.rejectResult = 3;
  });
  const Bytes image = Image(2000);
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, Block(0, 1, 1024, image)), 0);
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, Block(1, 0, 976, image)), 3);
  EXPECT_TRUE(adapter.Violations().empty());
  adapter.Configure([](sim::AdapterProfile& p) { p.firmware.rejectBlock.reset(); });
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, Block(0, 1, 1024, image)), 0);
  EXPECT_EQ(Send(adapter, CMD_FW_UPDATE, Block(1, 0, 976, image)), 0);
  EXPECT_EQ(adapter.Images(), std::vector<Bytes>{image});
}

// A relay request for Get Status of the adapter with this MAC address.
Bytes RelayData(const sim::Mac& mac, std::uint16_t innerBase = CMD_GET_STATUS) {
  Bytes d(20, 0);
  std::copy(mac.begin(), mac.end(), d.begin() + 4);
  frame::Put16(&d[10], 30);
  frame::Put32(&d[16], 1468);
  const Bytes inner = Request(innerBase, Bytes(4, 0));
  d.insert(d.end(), inner.begin(), inner.end());
  return d;
}

TEST(EmulatedRelay, AnswersWithTheRemoteRecordInANestedFrame) {
  const sim::Mac known = {0x02, 0, 0, 0, 0, 0x01}, failing = {0x02, 0, 0, 0, 0, 0x02};
  sim::RemoteAdapter remote;
  remote.status.master = false;
  remote.status.mac = known;
  sim::Adapter adapter;
  adapter.Configure([&](sim::AdapterProfile& p) {
    p.remotes[known] = remote;
    p.remotes[failing] = sim::RemoteAdapter{{}, 3};
  });

  const auto reply = adapter.Handle(Request(CMD_RELAY, RelayData(known)));
  ASSERT_TRUE(reply);
  EXPECT_EQ(CodeOf(*reply), 0x3002);
  const Bytes data = DataOf(*reply);
  // The local result in the relay header, then the inner answer frame with the remote record.
  constexpr std::size_t kInnerData = frame::kRelayHeaderSize + frame::kHeaderSize;
  ASSERT_EQ(data.size(), kInnerData + STATUS_RECORD_SIZE);
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(frame::CheckHeader(std::span(data).subspan(frame::kRelayHeaderSize), 0xA142), 0);
  EXPECT_EQ(frame::Get16(&data[frame::kRelayHeaderSize + frame::kOffFrameLength]), 120 + 16);
  EXPECT_EQ(Bytes(data.begin() + kInnerData, data.end()), sim::StatusRecord(remote.status));

  const auto refused = adapter.Handle(Request(CMD_RELAY, RelayData(failing)));
  ASSERT_TRUE(refused);
  EXPECT_EQ(DataOf(*refused)[0], 0) << "the relay itself worked";
  EXPECT_EQ(DataOf(*refused)[frame::kRelayHeaderSize + frame::kHeaderSize], 3)
      << "the remote adapter's result";

  EXPECT_EQ(Send(adapter, CMD_RELAY, RelayData({9, 9, 9, 9, 9, 9})), sim::kResultUnknownRemote);
  EXPECT_EQ(Send(adapter, CMD_RELAY, RelayData(known, CMD_RESET_SYS)), sim::kResultBadInnerRequest);
}

TEST(EmulatedSystemCommand, RepliesWithTextAndItsEnd) {
  sim::Adapter adapter;
  adapter.Configure([](sim::AdapterProfile& p) { p.systemReplies["ver"] = "v1.2"; });
  const auto text = [](const char* line) {
    Bytes d(line, line + std::strlen(line) + 1);
    while (d.size() % 4 != 0) d.push_back(0xFF);
    return d;
  };
  const auto known = adapter.Handle(Request(CMD_SYSTEMCMD, text("ver")));
  ASSERT_TRUE(known);
  EXPECT_EQ(CodeOf(*known), 0xDFF2);
  EXPECT_EQ(DataOf(*known), (Bytes{'v', '1', '.', '2', 0, 0, 0, 0}));

  const auto other = adapter.Handle(Request(CMD_SYSTEMCMD, text("ls")));
  ASSERT_TRUE(other);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(DataOf(*other).data())), "done: ls");

  adapter.AddFault({FaultKind::NoTextEnd, CMD_SYSTEMCMD, 0, true});
  const auto unended = adapter.Handle(Request(CMD_SYSTEMCMD, text("ver")));
  ASSERT_TRUE(unended);
  EXPECT_EQ(DataOf(*unended), (Bytes{'v', '1', '.', '2'}));
}

TEST(EmulatedFaults, OneShotFaultsApplyOnceAndPersistentOnesStay) {
  sim::Adapter adapter;
  adapter.AddFault({FaultKind::Result, CMD_RESET_SYS, 5, true});
  adapter.AddFault({FaultKind::Result, CMD_GET_STATUS, 7, false});
  EXPECT_EQ(Send(adapter, CMD_RESET_SYS, Bytes(4, 0)), 5);
  EXPECT_EQ(Send(adapter, CMD_RESET_SYS, Bytes(4, 0)), 0);
  EXPECT_EQ(Send(adapter, CMD_GET_STATUS, Bytes(4, 0)), 7);
  EXPECT_EQ(Send(adapter, CMD_GET_STATUS, Bytes(4, 0)), 7);
  adapter.ClearFaults();
  EXPECT_EQ(Send(adapter, CMD_GET_STATUS, Bytes(4, 0)), 0);
}

TEST(EmulatedAdapter, IgnoresWhatIsNoRequestButRecordsIt) {
  sim::Adapter adapter;
  Bytes answerShaped = Request(CMD_GET_STATUS, Bytes(4, 0));
  frame::Put16(&answerShaped[frame::kOffDirection], frame::kDirAnswer);
  Bytes unknown = Request(0x7770, Bytes(4, 0));
  Bytes cut = Request(CMD_GET_STATUS, Bytes(4, 0));
  cut.resize(30);  // FrameLength claims more than arrived
  for (const Bytes& frame : {answerShaped, unknown, cut}) EXPECT_FALSE(adapter.Handle(frame));
  EXPECT_EQ(adapter.RequestCount(), 3u);
}

// The transport: a plain socket stands in for the tool.
class PlainClient {
 public:
  PlainClient() : socket_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

  void SendStatusRequest(const char* address, std::uint16_t port) const {
    const sockaddr_in to = toolkit::Address(address, port);
    Bytes datagram = {0, 0};
    const Bytes frame = Request(CMD_GET_STATUS, Bytes(4, 0));
    datagram.insert(datagram.end(), frame.begin(), frame.end());
    sendto(socket_.get(), datagram.data(), datagram.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
  // The address the answer came from; empty when none came within 10 s.
  std::string AnswerSource() const {
    pollfd p{socket_.get(), POLLIN, 0};
    if (poll(&p, 1, 10000) != 1) return {};
    std::uint8_t answer[4096];
    sockaddr_in from{};
    socklen_t size = sizeof from;
    const auto got = recvfrom(socket_.get(), answer, sizeof answer, 0,
                              reinterpret_cast<sockaddr*>(&from), &size);
    EXPECT_EQ(got, frame::kDatagramLead + frame::kHeaderSize + STATUS_RECORD_SIZE);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    return text;
  }

 private:
  toolkit::UniqueFd socket_;
};

// A tool that checks where answers come from accepts only its adapter's address: the emulator
// answers from the address asked, bound to that address or to every address.
TEST(EmulatorTransport, AnswersFromTheAddressAsked) {
  sim::Adapter adapter;
  for (const char* bound : {e2e::kAdapterAddress, "0.0.0.0"}) {
    SCOPED_TRACE(bound);
    sim::UdpServer server(adapter, {bound, 0, e2e::kToolAddress});
    const PlainClient client;
    const bool every = std::string_view(bound) == "0.0.0.0";
    for (const char* asked : {e2e::kAdapterAddress, e2e::kOtherAddress}) {
      if (!every && std::string_view(asked) != e2e::kAdapterAddress) continue;
      client.SendStatusRequest(asked, server.Port());
      EXPECT_EQ(client.AnswerSource(), asked);
    }
  }
}

TEST(EmulatorTransport, AnswersFromAnotherAddressOnDemandAndStopsDuringADelay) {
  sim::Adapter adapter;
  sim::UdpServer server(adapter, {e2e::kAdapterAddress, 0, e2e::kOtherAddress});
  const PlainClient client;
  adapter.AddFault({FaultKind::OtherAddress, std::nullopt, 0, true});
  client.SendStatusRequest(e2e::kAdapterAddress, server.Port());
  EXPECT_EQ(client.AnswerSource(), e2e::kOtherAddress);

  // An answer held back for a minute does not hold up the stop (the test's time limit would).
  adapter.AddFault({FaultKind::Delay, std::nullopt, 60000, false});
  client.SendStatusRequest(e2e::kAdapterAddress, server.Port());
  ASSERT_TRUE(server.WaitForReceived(2, 10s));
  server.Stop();
  EXPECT_EQ(server.AnswersSent(), 1u);
}

}  // namespace
