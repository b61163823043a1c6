// Get Status and PLC Info Resolution against crafted answers.
#include <gtest/gtest.h>

#include "extcmd/frame.h"
#include "sample/handlers.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"

using namespace testing_support;
using namespace tool_texts;

namespace {

// A status record: master or terminal, with recognisable values in every field.
Bytes StatusData(std::uint8_t modeFlags, std::uint8_t authenticated) {
  Bytes d(STATUS_RECORD_SIZE, 0);
  d[4] = 2;                  // RegisteredInfo
  d[5] = 1;                  // EtherLinkUp
  d[6] = 0xE8, d[7] = 0x03;  // EtherSpdDpx 1000
  d[8] = 3;                  // MultipleMode
  d[9] = authenticated;
  const std::uint8_t mac[] = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD};
  std::copy(std::begin(mac), std::end(mac), d.begin() + 10);
  const std::string main = "MAIN 1.2.3", boot = "BOOT 0.9";
  std::copy(main.begin(), main.end(), d.begin() + 16);
  std::copy(boot.begin(), boot.end(), d.begin() + 80);
  d[112] = 7;  // BeaconStatus
  d[113] = modeFlags;
  const std::uint8_t master[] = {0x02, 0x03, 0x04, 0x05, 0x06, 0xF7};
  std::copy(std::begin(master), std::end(master), d.begin() + 114);
  return d;
}

const char* const kTail =
    " Registered Info ........ 2\n"
    " Ether LinkUp ........... 1\n"
    " Ether SpdDpx ........... 1000\n"
    " Multiple Mode .......... 3\n"
    " Main Version ........... MAIN 1.2.3\n"
    " Boot Version ........... BOOT 0.9\n"
    " Beacon Status .......... 7\n"
    "\n\n Press any key";

struct ModeCase {
  std::uint8_t modeFlags;
  std::uint8_t authenticated;
  const char* head;
};

class GetStatusModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(GetStatusModes, PrintsTheRecord) {
  const ModeCase& c = GetParam();
  ScriptedConsole io("k");
  FakeLink link;
  link.respond = Always(AnswerFrame(0xA142, StatusData(c.modeFlags, c.authenticated)));
  EXPECT_EQ(GetStatus(link), 1);
  EXPECT_EQ(io.output, std::string("\n") + c.head + kTail);
  EXPECT_EQ(io.Unread(), 0u);  // the key press was taken
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(frame::Get16(&link.requests[0][frame::kOffCommand]), 0xA141);
}

const char* const kMaster =
    " Mode ................... Master\n"
    " MAC Address ............ 00-11-aa-bb-cc-dd\n";
const char* const kAuthenticated =
    " Mode ................... Terminal(authenticated)\n"
    " MAC Address ............ 00-11-aa-bb-cc-dd\n"
    " Master MAC Address ..... 02-03-04-05-06-f7\n";
const char* const kNotAuthenticated =
    " Mode ................... Terminal(not authenticated)\n"
    " MAC Address ............ 00-11-aa-bb-cc-dd\n"
    " Master MAC Address ..... 02-03-04-05-06-f7\n";

INSTANTIATE_TEST_SUITE_P(Modes, GetStatusModes,
                         ::testing::Values(ModeCase{0x01, 0, kMaster}, ModeCase{0xFF, 1, kMaster},
                                           ModeCase{0x00, 1, kAuthenticated},
                                           ModeCase{0xFE, 1, kAuthenticated},
                                           ModeCase{0x00, 2, kNotAuthenticated},
                                           ModeCase{0x00, 0, kNotAuthenticated}));

TEST(GetStatus, ResultFailurePrintsOnlyTheReport) {
  ScriptedConsole io("k");
  FakeLink link;
  Bytes data = StatusData(1, 0);
  data[0] = 5;
  link.respond = Always(AnswerFrame(0xA142, data));
  EXPECT_EQ(GetStatus(link), 0);
  EXPECT_EQ(io.output, "\n Failure:10207\n Result:5\n\n Press any key");
  EXPECT_EQ(io.Unread(), 0u);
}

TEST(GetStatus, TransactFailurePrintsTheStoredCode) {
  ScriptedConsole io("k");
  FakeLink link;  // no answer
  EXPECT_EQ(GetStatus(link), 0);
  EXPECT_EQ(io.output, "\n Failure:10009\n\n Press any key");
}

TEST(GetStatus, WrongAnswerCodeFailsValidation) {
  ScriptedConsole io("k");
  FakeLink link;
  link.respond = Always(AnswerFrame(0xA141, StatusData(1, 0)));  // the request code echoed
  EXPECT_EQ(GetStatus(link), 0);
  EXPECT_EQ(io.output, "\n Failure:10205\n\n Press any key");
}

TEST(GetStatus, TextsThatFillTheirSpanStopAtItsEnd) {
  ScriptedConsole io("k");
  FakeLink link;
  Bytes data = StatusData(1, 0);
  std::fill(data.begin() + 16, data.begin() + 80, 'M');   // MainVersion, no NUL
  std::fill(data.begin() + 80, data.begin() + 112, 'B');  // BootVersion, no NUL
  link.respond = Always(AnswerFrame(0xA142, data));
  EXPECT_EQ(GetStatus(link), 1);
  EXPECT_NE(io.output.find(" Main Version ........... " + std::string(64, 'M') + "\n"),
            std::string::npos);
  EXPECT_NE(io.output.find(" Boot Version ........... " + std::string(32, 'B') + "\n"),
            std::string::npos);
}

Bytes IdentityData() {
  Bytes d(IDENTITY_RECORD_SIZE, 0);
  const std::uint8_t fields[] = {0x00, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0x5F,  // MAC
                                 192,  168,  0,    10,                            // IP
                                 255,  255,  255,  0,                             // mask
                                 0x01, 0x02, 0x00, 0x00};                         // version
  std::copy(std::begin(fields), std::end(fields), d.begin());
  const std::string model = "PLC-MODEL-X";
  std::copy(model.begin(), model.end(), d.begin() + 20);
  d[36] = 0x08, d[39] = 0x80;  // OptionFlag 0x80000008
  return d;
}

TEST(InfoResolution, SendsTheAddressAndPrintsTheIdentity) {
  ScriptedConsole io("192.168.0.10\nk");
  FakeLink link;
  link.respond = Always(AnswerFrame(0xB002, IdentityData()));
  EXPECT_EQ(InfoResolution(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  const Bytes& rq = link.requests[0];
  EXPECT_EQ(frame::Get16(&rq[frame::kOffCommand]), 0xB001);
  EXPECT_EQ(Bytes(rq.begin() + frame::kHeaderSize, rq.end()), (Bytes{0xC0, 0xA8, 0x00, 0x0A}));
  EXPECT_EQ(io.output, kIpPrompt +
                           "\n"
                           " MAC Address............. 00-11-22-33-44-5f\n"
                           " IP Address.............. 192.168.0.10\n"
                           " Sub-Net Mask............ 255.255.255.0\n"
                           " Model Name.............. PLC-MODEL-X\n"
                           " Command Version......... 0x00000201\n"
                           " Option Flag............. 0x80000008\n"
                           "\n\n Press any key");
}

TEST(InfoResolution, EntryRulesAndNonAddresses) {
  // An empty entry and one of 17 characters are asked again; 16 characters pass, and text that
  // is no address goes out as FF FF FF FF.
  ScriptedConsole io("\n12345678901234567\nabcdefghijklmnop\nk");
  FakeLink link;
  link.respond = Always(AnswerFrame(0xB002, IdentityData()));
  EXPECT_EQ(InfoResolution(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(Bytes(link.requests[0].begin() + frame::kHeaderSize, link.requests[0].end()),
            (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(io.output.rfind(kIpPrompt + kRejected + kIpPrompt + kRejected + kIpPrompt + "\n", 0),
            0u);
}

TEST(InfoResolution, ResultFailure) {
  ScriptedConsole io("10.0.0.1\nk");
  FakeLink link;
  link.respond = Always(AnswerFrame(0xB002, {9}, IDENTITY_RECORD_SIZE));
  EXPECT_EQ(InfoResolution(link), 0);
  EXPECT_EQ(io.output, kIpPrompt + "\n Failure:10207\n Result:9\n\n Press any key");
}

}  // namespace
