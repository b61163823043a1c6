// Request frames, checksum, answer checks and the exchange logic of the interface object.
#include <gtest/gtest.h>

#include <cstring>

#include "extcmd/frame.h"
#include "tests/unit/fixtures.h"

using namespace testing_support;

namespace {

const Bytes kGetStatusDatagram = {0x00, 0x00, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA,
                                  0xAB, 0x03, 0x00, 0x14, 0x00, 0x01, 0xF0, 0x00, 0x00,
                                  0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E, 0x4E, 0x0B, 0x41,
                                  0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(Checksum, Vectors) {
  struct Case {
    Bytes bytes;
    std::uint8_t first, second;  // the two checksum bytes as they go on the line
  };
  const Case cases[] = {
      {{}, 0x00, 0x00},
      {{0x01, 0x02, 0x03, 0x04}, 0x02, 0x06},
      {{0x01, 0x02, 0x03}, 0x02, 0x02},
      {{0x5A}, 0x5A, 0x00},
      {{0xFF, 0x00, 0xFF, 0x00, 0x01}, 0x01, 0x00},
  };
  for (const Case& c : cases) {
    std::uint8_t stored[2];
    frame::Put16(stored, frame::Checksum(c.bytes));
    EXPECT_EQ(stored[0], c.first) << ::testing::PrintToString(c.bytes);
    EXPECT_EQ(stored[1], c.second) << ::testing::PrintToString(c.bytes);
  }
}

TEST(MakeCommand, GetStatusFrameSitsAtOffsetTwoOverUdpAndZeroOtherwise) {
  for (const int link : {CONNECT_ETHER, CONNECT_SERIAL, CONNECT_NONE}) {
    FakeLink obj(link);
    std::memset(obj.Buffer(), 0x55, EXTCMD_BUFFER_SIZE);  // everything must be cleared
    obj.MakeCommand(CMD_GET_STATUS, 4);
    const std::size_t offset = link == CONNECT_ETHER ? 2 : 0;
    EXPECT_EQ(obj.GetData(), obj.Buffer() + offset + 28) << link;
    const Bytes frame(obj.Buffer() + offset, obj.Buffer() + offset + 32);
    EXPECT_EQ(frame, Bytes(kGetStatusDatagram.begin() + 2, kGetStatusDatagram.end())) << link;
    if (link == CONNECT_ETHER) {
      EXPECT_EQ(Bytes(obj.Buffer(), obj.Buffer() + 34), kGetStatusDatagram);
    }
    EXPECT_TRUE(std::all_of(obj.Buffer() + offset + 32, obj.Buffer() + EXTCMD_BUFFER_SIZE,
                            [](std::uint8_t b) { return b == 0; }));
  }
}

TEST(MakeCommand, LengthsFollowTheDataLength) {
  struct Case {
    int data;
    std::uint16_t frameLength;
    std::uint32_t bodyLength;
  };
  for (const Case c : {Case{4, 20, 12}, Case{1032, 1048, 1040}, Case{0, 16, 8}}) {
    FakeLink obj(CONNECT_SERIAL);
    obj.MakeCommand(CMD_FW_UPDATE, c.data);
    EXPECT_EQ(frame::Get16(obj.Buffer() + 10), c.frameLength);
    EXPECT_EQ(frame::Get32(obj.Buffer() + 16), c.bodyLength);
    EXPECT_EQ(frame::Get16(obj.Buffer() + 24), 0x5001);
  }
}

TEST(RelayCommand, NestsTheInnerFrameWithBothLengths) {
  FakeLink obj(CONNECT_ETHER);
  obj.MakeCommand(CMD_RELAY, 1440);
  obj.MakeRelayCommand(CMD_GET_STATUS, 4);
  std::uint8_t* request = nullptr;
  std::uint8_t* response = nullptr;
  obj.GetRelayRequest(&request);
  obj.GetRelayResponse(&response);
  const std::uint8_t* outer = obj.Buffer() + 2;
  EXPECT_EQ(request, outer + 48);
  EXPECT_EQ(response, outer + 48);
  EXPECT_EQ(frame::Get16(outer + 10), 68);
  EXPECT_EQ(frame::Get32(outer + 16), 60u);
  EXPECT_EQ(frame::Get16(outer + 24), 0x3001);
  EXPECT_EQ(frame::Get16(request + 10), 20);
  EXPECT_EQ(frame::Get32(request + 16), 12u);
  EXPECT_EQ(Bytes(request, request + 28),
            Bytes(kGetStatusDatagram.begin() + 2, kGetStatusDatagram.begin() + 30));
}

// Answer checks, one defect per row, in the order they run.
struct Defect {
  const char* name;
  std::size_t offset;
  std::uint8_t value;
  int code;
};

class AnswerDefects : public ::testing::TestWithParam<Defect> {};

TEST_P(AnswerDefects, FailWithTheirCode) {
  const Defect& d = GetParam();
  for (const int link : {CONNECT_ETHER, CONNECT_SERIAL}) {
    FakeLink obj(link);
    obj.respond = [&](const Bytes&) {
      Bytes answer = AnswerFrame(0xA142, {0}, 120);
      answer[d.offset] = d.value;
      // A second defect further down the order must not be the one reported.
      answer[frame::kOffCommand] ^= d.code < frame::kErrCommand ? 0xFF : 0;
      return std::optional<Bytes>(answer);
    };
    obj.MakeCommand(CMD_GET_STATUS, 4);
    EXPECT_EQ(obj.Transact(0), 0) << d.name;
    EXPECT_EQ(obj.GetErrorCode(), d.code) << d.name;
  }
}

INSTANTIATE_TEST_SUITE_P(InOrder, AnswerDefects,
                         ::testing::Values(Defect{"preamble", 3, 0xAB, 10201},
                                           Defect{"preamble end", 7, 0xAA, 10201},
                                           Defect{"frame type", 8, 4, 10202},
                                           Defect{"direction", 12, 0x01, 10203},
                                           Defect{"magic", 23, 0x0C, 10204},
                                           Defect{"request code echoed", 24, 0x41, 10205}),
                         [](const auto& test) {
                           std::string n = test.param.name;
                           std::replace(n.begin(), n.end(), ' ', '_');
                           return n;
                         });

// Corrupts the checksum behind the answer on the serial link (and nothing on UDP, which has none).
class BadChecksumLink : public FakeLink {
 public:
  using FakeLink::FakeLink;
  int SerialRecv() override {
    const int ok = FakeLink::SerialRecv();
    m_Buffer[12 + frame::Get16(m_Buffer + 10)] ^= 0x01;
    return ok;
  }
};

TEST(CheckResponse, ChecksumCountsOnlyOnTheSerialLink) {
  for (const int link : {CONNECT_ETHER, CONNECT_SERIAL}) {
    BadChecksumLink obj(link);
    obj.respond = Always(AnswerFrame(0xA142, {0}, 120));
    obj.MakeCommand(CMD_GET_STATUS, 4);
    EXPECT_EQ(obj.Transact(0), link == CONNECT_ETHER ? 1 : 0);
    if (link == CONNECT_SERIAL) {
      EXPECT_EQ(obj.GetErrorCode(), 10206);
    }
  }
}

TEST(CheckResponse, GoodSerialAnswerPasses) {
  FakeLink obj(CONNECT_SERIAL);
  obj.respond = Always(AnswerFrame(0xA142, {0}, 120));
  obj.MakeCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(obj.Transact(0), 1);
}

TEST(CheckResponse, HugeFrameLengthStaysInsideTheBuffer) {
  // FrameLength 4083 and 0xFFFF would put the checksum past the buffer: refused, not read.
  for (const std::uint16_t length : {std::uint16_t{4083}, std::uint16_t{0xFFFF}}) {
    FakeLink obj(CONNECT_SERIAL);
    obj.respond = [length](const Bytes&) {
      Bytes answer = AnswerFrame(0xA142, {0}, 120);
      frame::Put16(&answer[10], length);
      return std::optional<Bytes>(answer);
    };
    obj.MakeCommand(CMD_GET_STATUS, 4);
    EXPECT_EQ(obj.Transact(0), 0);
    EXPECT_EQ(obj.GetErrorCode(), 10206);
  }
}

TEST(CheckResponse, LargestFrameThatFitsIsChecked) {
  FakeLink obj(CONNECT_SERIAL);
  obj.respond = Always(AnswerFrame(0xA142, Bytes(4082 - 16, 0x11)));
  obj.MakeCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(obj.Transact(0), 1);
}

TEST(Transact, WithoutALinkFailsAndKeepsTheEarlierCode) {
  FakeLink obj(CONNECT_NONE);
  EXPECT_EQ(obj.GetErrorCode(), 0);  // the fixed starting value
  obj.OpenSerial("no-such-port-xyz", 115200, 8, 0, 0);
  const int stored = obj.GetErrorCode();
  EXPECT_NE(stored, 0);
  obj.respond = Always(AnswerFrame(0xA142, {0}, 120));
  obj.MakeCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(obj.Transact(0), 0);
  EXPECT_EQ(obj.GetErrorCode(), stored);
  EXPECT_TRUE(obj.requests.empty());
}

TEST(Transact, MissingAnswerIsAcceptedOnlyWhenAsked) {
  for (const int link : {CONNECT_ETHER, CONNECT_SERIAL}) {
    FakeLink obj(link);  // answers nothing
    obj.MakeCommand(CMD_RESET_SYS, 4);
    EXPECT_EQ(obj.Transact(1), 1);
    obj.MakeCommand(CMD_RESET_SYS, 4);
    EXPECT_EQ(obj.Transact(0), 0);
    EXPECT_EQ(obj.GetErrorCode(), link == CONNECT_ETHER ? 10009 : 10105);
  }
}

TEST(Transact, ExpectsTheAnswerCodeOfTheRequest) {
  struct Case {
    std::uint16_t base, answer;
  };
  for (const Case c :
       {Case{CMD_GET_STATUS, 0xA142}, Case{CMD_INFO_RESOLUTION, 0xB002}, Case{CMD_RELAY, 0x3002},
        Case{CMD_FW_UPDATE, 0x5002}, Case{CMD_SYSTEMCMD, 0xDFF2}, Case{CMD_RESET_SYS, 0x4002}}) {
    FakeLink obj;
    obj.respond = Always(AnswerFrame(c.answer, {0}, 4));
    obj.MakeCommand(c.base, 4);
    EXPECT_EQ(obj.Transact(0), 1) << std::hex << c.base;
  }
}

TEST(Transact, SuccessDoesNotClearTheErrorCode) {
  FakeLink obj;
  obj.MakeCommand(CMD_GET_STATUS, 4);
  obj.Transact(0);  // no answer: 10009
  obj.respond = Always(AnswerFrame(0xA142, {0}, 120));
  obj.MakeCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(obj.Transact(0), 1);
  EXPECT_EQ(obj.GetErrorCode(), 10009);
}

}  // namespace
