// PLC Remote and the relay operations of the interface object, against crafted relay answers.
#include <gtest/gtest.h>

#include "sample/handlers.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"

using namespace testing_support;
using namespace tool_texts;

namespace {

// The relayed Get Status as it must leave the tool, with MAC and wait time to be filled in.
Bytes ExpectedRelayFrame(const Bytes& mac, const Bytes& waitTime) {
  // One line per field of the frame, by hand.
  // clang-format off
  Bytes f = {
      0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00, 0x44, 0x00, 0x01, 0xF0,  // outer
      0x00, 0x00, 0x3C, 0x00, 0x00, 0x00, 0x67, 0x7E, 0x4E, 0x0B, 0x01, 0x30, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00,                                      // reserved
      0, 0, 0, 0, 0, 0,                                            // RemoteMac
      0, 0,                                                        // waitTime
      0x00, 0x00, 0x00, 0x00,                                      // reserved
      0xBC, 0x05, 0x00, 0x00,                                      // RelayMaxLength 1468
      0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00, 0x14, 0x00, 0x01, 0xF0,  // inner
      0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E, 0x4E, 0x0B, 0x41, 0xA1, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00};                                     // inner data
  // clang-format on
  std::copy(mac.begin(), mac.end(), f.begin() + 32);
  std::copy(waitTime.begin(), waitTime.end(), f.begin() + 38);
  return f;
}

// A relay answer: the local result, an inner answer header with the given code, and a remote
// status record (master mode) whose result byte is remoteResult.
Bytes RelayAnswer(std::uint8_t localResult, std::uint16_t innerCode, std::uint8_t remoteResult) {
  Bytes data(frame::kRelayHeaderSize + frame::kHeaderSize + STATUS_RECORD_SIZE, 0);
  data[0] = localResult;
  std::uint8_t* inner = data.data() + frame::kRelayHeaderSize;
  frame::WriteHeader(inner, frame::kDirAnswer, innerCode);
  frame::SetLengths(inner, STATUS_RECORD_SIZE);
  std::uint8_t* record = inner + frame::kHeaderSize;
  record[0] = remoteResult;
  record[4] = 1, record[5] = 1, record[6] = 0x64;  // RegisteredInfo, EtherLinkUp, SpdDpx 100
  const std::uint8_t mac[] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
  std::copy(std::begin(mac), std::end(mac), record + 10);
  const std::string main = "REMOTE 2.0", boot = "RB 1";
  std::copy(main.begin(), main.end(), record + 16);
  std::copy(boot.begin(), boot.end(), record + 80);
  record[113] = 1;  // master
  return AnswerFrame(0x3002, data);
}

const char* const kRemoteRecord =
    "\n"
    " Mode ................... Master\n"
    " MAC Address ............ 01-23-45-67-89-ab\n"
    " Registered Info ........ 1\n"
    " Ether LinkUp ........... 1\n"
    " Ether SpdDpx ........... 100\n"
    " Multiple Mode .......... 0\n"
    " Main Version ........... REMOTE 2.0\n"
    " Boot Version ........... RB 1\n"
    " Beacon Status .......... 0\n"
    "\n\n Press any key";

std::string Query() { return kSubMenu + kMacPrompt + kWaitPrompt; }

struct RelayCase {
  int link;
  const char* mac;
  const char* waitTime;
  Bytes macBytes;
  Bytes waitBytes;
};

class RelayRequest : public ::testing::TestWithParam<RelayCase> {};

TEST_P(RelayRequest, IsTheNestedGetStatusFrame) {
  const RelayCase& c = GetParam();
  ScriptedConsole io(std::string("1\n") + c.mac + "\n" + c.waitTime + "\nk0\n");
  FakeLink link(c.link);
  link.respond = Always(RelayAnswer(0, 0xA142, 0));
  EXPECT_EQ(PlcRemote(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(link.requests[0], ExpectedRelayFrame(c.macBytes, c.waitBytes));
  EXPECT_EQ(io.output, Query() + kRemoteRecord + kSubMenu);
  EXPECT_EQ(io.Unread(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Entries, RelayRequest,
                         ::testing::Values(RelayCase{CONNECT_ETHER,
                                                     "0123456789ab",
                                                     "1",
                                                     {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB},
                                                     {0x01, 0x00}},
                                           RelayCase{CONNECT_ETHER,
                                                     "0123456789AB",
                                                     "4095",
                                                     {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB},
                                                     {0xFF, 0x0F}},
                                           RelayCase{CONNECT_ETHER,
                                                     "0123456789zz",
                                                     "0050",
                                                     {0x01, 0x23, 0x45, 0x67, 0x89, 0x00},
                                                     {0x32, 0x00}},
                                           RelayCase{CONNECT_SERIAL,
                                                     "fedcba987654",
                                                     "256",
                                                     {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54},
                                                     {0x00, 0x01}}));

TEST(PlcRemote, OverUdpTheFrameFollowsTwoZeroBytesAndFillsAn82ByteDatagram) {
  ScriptedConsole io("1\n0123456789ab\n1\nk0\n");
  FakeLink link(CONNECT_ETHER);
  link.respond = Always(RelayAnswer(0, 0xA142, 0));
  link.MakeCommand(CMD_RELAY, 1440);  // where the relay request is built over UDP
  EXPECT_EQ(link.m_pFrame, link.m_Buffer + 2);
  EXPECT_EQ(PlcRemote(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(frame::kDatagramLead + frame::kFrameLengthBase +
                frame::Get16(&link.requests[0][frame::kOffFrameLength]),
            82u);
}

TEST(PlcRemote, EntryZeroAtOnceSendsNothing) {
  ScriptedConsole io("0\n");
  FakeLink link;
  EXPECT_EQ(PlcRemote(link), 1);
  EXPECT_TRUE(link.requests.empty());
  EXPECT_EQ(io.output, kSubMenu);
}

TEST(PlcRemote, AnyInnerAnswerCodeStillPrints) {
  // Only the outer answer is validated: an inner header of zeros, or one that echoes the
  // request code, is taken as it comes.
  for (const std::uint16_t innerCode :
       {std::uint16_t{0x0000}, std::uint16_t{0xA141}, std::uint16_t{0x1234}}) {
    ScriptedConsole io("1\n0123456789ab\n10\nk0\n");
    FakeLink link;
    link.respond = Always(RelayAnswer(0, innerCode, 0));
    EXPECT_EQ(PlcRemote(link), 1);
    EXPECT_EQ(io.output, Query() + kRemoteRecord + kSubMenu) << innerCode;
  }
}

TEST(PlcRemote, QueriesRepeatUntilEntryZero) {
  ScriptedConsole io("1\n0123456789ab\n1\nk1\n00000000000a\n2\nk0\n");
  FakeLink link;
  link.respond = Always(RelayAnswer(0, 0xA142, 0));
  EXPECT_EQ(PlcRemote(link), 1);
  ASSERT_EQ(link.requests.size(), 2u);
  EXPECT_EQ(Bytes(&link.requests[1][32], &link.requests[1][40]),
            (Bytes{0, 0, 0, 0, 0, 0x0A, 0x02, 0x00}));
  EXPECT_EQ(io.output, Query() + kRemoteRecord + Query() + kRemoteRecord + kSubMenu);
}

struct FailureCase {
  const char* name;
  int link;
  std::optional<Bytes> answer;
  const char* report;
};

class PlcRemoteFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PlcRemoteFailure, ReportsAndLeavesTheSubMenu) {
  const FailureCase& c = GetParam();
  ScriptedConsole io("1\n0123456789ab\n1\nk0\n");
  FakeLink link(c.link);
  link.respond = [&](const Bytes&) { return c.answer; };
  EXPECT_EQ(PlcRemote(link), 0);
  EXPECT_EQ(io.output, Query() + c.report);
  EXPECT_EQ(io.Unread(), 2u);  // one key taken; the "0" is left for the main menu
}

INSTANTIATE_TEST_SUITE_P(
    Reports, PlcRemoteFailure,
    ::testing::Values(FailureCase{"LocalResult", CONNECT_ETHER, RelayAnswer(4, 0xA142, 0),
                                  "\n Failure:10207\n Result:4\n\n Press any key"},
                      FailureCase{"RemoteResult", CONNECT_ETHER, RelayAnswer(0, 0xA142, 3),
                                  "\n Failure:10207\n Result:3\n\n Press any key"},
                      FailureCase{"LocalResultWins", CONNECT_SERIAL, RelayAnswer(200, 0xA142, 3),
                                  "\n Failure:10207\n Result:200\n\n Press any key"},
                      FailureCase{"OuterCodeEchoed", CONNECT_ETHER, AnswerFrame(0x3001, {0}, 168),
                                  "\n Failure:10205\n\n Press any key"},
                      FailureCase{"NoAnswerUdp", CONNECT_ETHER, std::nullopt,
                                  "\n Failure:10009\n\n Press any key"},
                      FailureCase{"NoAnswerSerial", CONNECT_SERIAL, std::nullopt,
                                  "\n Failure:10105\n\n Press any key"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(PlcRemote, InvalidEntriesAreAskedAgain) {
  // Sub menu 2; MAC entries of 11 and 13 characters; wait times 0, 4096 and "-1".
  ScriptedConsole io("2\n1\n0123456789a\n0123456789abc\n0123456789ab\n0\n4096\n-1\n7\nk0\n");
  FakeLink link;
  link.respond = Always(RelayAnswer(0, 0xA142, 0));
  EXPECT_EQ(PlcRemote(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(link.requests[0][38], 7);
  EXPECT_EQ(io.output, kSubMenu + kRejected + kSubMenu + kMacPrompt + kRejected + kMacPrompt +
                           kRejected + kMacPrompt + kWaitPrompt + kRejected + kWaitPrompt +
                           kRejected + kWaitPrompt + kRejected + kWaitPrompt + kRemoteRecord +
                           kSubMenu);
}

// The relay operations for an inner data length other than Get Status's, on both links.
TEST(RelayOperations, LayTheInnerFrameAt48AndSetBothLengths) {
  for (const int connect : {CONNECT_ETHER, CONNECT_SERIAL, CONNECT_NONE}) {
    FakeLink link(connect);
    link.MakeCommand(CMD_RELAY, 1440);
    std::uint8_t* request = nullptr;
    std::uint8_t* response = nullptr;
    link.GetRelayRequest(&request);
    link.GetRelayResponse(&response);
    ASSERT_EQ(request, link.m_pFrame + 48);
    ASSERT_EQ(response, link.m_pFrame + 48);
    request[28] = 0x5A;  // inner data written before the header must survive it
    link.MakeRelayCommand(CMD_INFO_RESOLUTION, 8);
    const std::uint8_t* f = link.m_pFrame;
    EXPECT_EQ(frame::Get16(f + 10), 72);   // outer FrameLength n + 64
    EXPECT_EQ(frame::Get32(f + 16), 64u);  // outer BodyLength n + 56
    EXPECT_EQ(frame::Get16(f + 24), 0x3001);
    // Preamble and frame type pass the answer checks; the direction is a request's.
    EXPECT_EQ(frame::CheckHeader({request, 28}, 0), frame::kErrDirection);
    EXPECT_EQ(frame::Get16(request + 10), 24);
    EXPECT_EQ(frame::Get32(request + 16), 16u);
    EXPECT_EQ(frame::Get16(request + 12), 0xF001);
    EXPECT_EQ(frame::Get32(request + 20), frame::kMagic);
    EXPECT_EQ(frame::Get16(request + 24), 0xB001);
    EXPECT_EQ(request[28], 0x5A);
    // Reserved bytes of the inner header stay as MakeCommand left them.
    EXPECT_EQ(request[9] | request[14] | request[15] | request[26] | request[27], 0);
  }
}

// MakeRelayCommand reaches its helpers through the virtual table.
class CountingRelay : public FakeLink {
 public:
  int SetRelayDataLength(int n) override {
    dataLengths.push_back(n);
    return FakeLink::SetRelayDataLength(n);
  }
  int SetRelayOuterLength(int n) override {
    outerLengths.push_back(n);
    return FakeLink::SetRelayOuterLength(n);
  }
  std::vector<int> dataLengths, outerLengths;
};

TEST(RelayOperations, MakeRelayCommandCallsThroughTheVirtualTable) {
  CountingRelay link;
  link.MakeCommand(CMD_RELAY, 1440);
  link.MakeRelayCommand(CMD_GET_STATUS, 4);
  EXPECT_EQ(link.dataLengths, std::vector<int>{4});
  EXPECT_EQ(link.outerLengths, std::vector<int>{4});
}

}  // namespace
