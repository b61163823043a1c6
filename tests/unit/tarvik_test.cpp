// The command tool (System Command, Restart, its serial line keys, its menu) and the ways out of
// the entry both tools share, in process.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>

#include "console/console.h"
#include "console/entry.h"
#include "sample/handlers.h"
#include "tarvik/handlers.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"

using namespace testing_support;
using namespace tool_texts;

namespace {

Bytes TextAnswer(const std::string& text) {
  return AnswerFrame(0xDFF2, Bytes(text.begin(), text.end()));
}

struct PaddingCase {
  std::size_t length;
  std::uint16_t dataLength;
  std::size_t fill;
};

class SystemCommandPadding : public ::testing::TestWithParam<PaddingCase> {};

TEST_P(SystemCommandPadding, EndsTheTextWithNulAndFillToAMultipleOfFour) {
  const PaddingCase& c = GetParam();
  const std::string line(c.length, 'c');
  ScriptedConsole io(line + "\nk");
  FakeLink link;
  link.respond = Always(TextAnswer(std::string("ok\0", 3)));
  EXPECT_EQ(SystemCommand(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  const Bytes& rq = link.requests[0];
  EXPECT_EQ(frame::Get16(&rq[frame::kOffCommand]), 0xDFF1);
  EXPECT_EQ(frame::Get16(&rq[frame::kOffFrameLength]), c.dataLength + 16);
  EXPECT_EQ(frame::Get32(&rq[frame::kOffBodyLength]), c.dataLength + 8u);
  Bytes expected(line.begin(), line.end());
  expected.push_back(0);
  expected.insert(expected.end(), c.fill, 0xFF);
  EXPECT_EQ(Bytes(rq.begin() + frame::kHeaderSize, rq.end()), expected);
  EXPECT_EQ(expected.size(), c.dataLength);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SystemCommandPadding,
                         ::testing::Values(PaddingCase{1, 4, 2}, PaddingCase{2, 4, 1},
                                           PaddingCase{3, 4, 0}, PaddingCase{4, 8, 3},
                                           PaddingCase{1023, 1024, 0}, PaddingCase{1024, 1028, 3}));

TEST(SystemCommand, ThreeCharactersMakeFrameLength20AndBodyLength12) {
  ScriptedConsole io("ver\nk");
  FakeLink link(CONNECT_SERIAL);
  link.respond = Always(TextAnswer(std::string("1.0\0", 4)));
  EXPECT_EQ(SystemCommand(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(link.requests[0].size(), 32u);
  EXPECT_EQ(frame::Get16(&link.requests[0][frame::kOffFrameLength]), 20);
  EXPECT_EQ(frame::Get32(&link.requests[0][frame::kOffBodyLength]), 12u);
}

TEST(SystemCommand, EmptyAndOverlongLinesAreAskedAgain) {
  ScriptedConsole io("\n" + std::string(1025, 'x') + "\nls -l\nk");
  FakeLink link;
  link.respond = Always(TextAnswer(std::string("done\0", 5)));
  EXPECT_EQ(SystemCommand(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(std::string(link.requests[0].begin() + frame::kHeaderSize,
                        link.requests[0].begin() + frame::kHeaderSize + 5),
            "ls -l");
  EXPECT_EQ(io.output, std::string(kCommandPrompt) + kRejected + kCommandPrompt + kRejected +
                           kCommandPrompt + "\n done\n\n Press any key");
}

struct AnswerCase {
  const char* name;
  int link;
  Bytes answer;
  std::string printed;  // what follows the prompt
};

class SystemCommandAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(SystemCommandAnswer, PrintsTheTextOrTheFailure) {
  const AnswerCase& c = GetParam();
  ScriptedConsole io("show\nk");
  FakeLink link(c.link);
  link.respond = Always(c.answer);
  SystemCommand(link);
  EXPECT_EQ(io.output, kCommandPrompt + c.printed);
  EXPECT_EQ(io.Unread(), 0u);
}

// An answer whose FrameLength claims other than the bytes it brings.
Bytes WithFrameLength(Bytes answer, std::uint16_t frameLength) {
  frame::Put16(&answer[frame::kOffFrameLength], frameLength);
  return answer;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SystemCommandAnswer,
    ::testing::Values(
        AnswerCase{"Plain", CONNECT_ETHER, TextAnswer(std::string("uptime 3 days\0\0\0", 16)),
                   "\n uptime 3 days\n\n Press any key"},
        AnswerCase{"StopsAtTheFirstNul", CONNECT_SERIAL, TextAnswer(std::string("ab\0cd\0", 6)),
                   "\n ab\n\n Press any key"},
        AnswerCase{"Empty", CONNECT_ETHER, TextAnswer(std::string(4, '\0')),
                   "\n \n\n Press any key"},
        AnswerCase{"NoDataAtAll", CONNECT_ETHER, TextAnswer(""), "\n \n\n Press any key"},
        AnswerCase{"NoNulEndsWithTheData", CONNECT_SERIAL, TextAnswer("ABCDEFGH"),
                   "\n ABCDEFGH\n\n Press any key"},
        AnswerCase{"NoNulWithinFrameLength", CONNECT_ETHER,
                   WithFrameLength(TextAnswer("ABCDEFGHIJKL"), 16 + 5),
                   "\n ABCDE\n\n Press any key"},
        AnswerCase{"FrameLengthBeyondTheDatagram", CONNECT_ETHER,
                   WithFrameLength(TextAnswer("abc"), 16 + 1000), "\n abc\n\n Press any key"},
        AnswerCase{"RequestCodeEchoed", CONNECT_ETHER, AnswerFrame(0xDFF1, Bytes{'o', 'k', 0, 0}),
                   "\n Failure:10205\n\n Press any key"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(SystemCommand, TextWithoutNulUpToTheBufferEndIsPrintedNoFurther) {
  // The datagram fills the frame buffer from offset 2 and claims the largest FrameLength.
  ScriptedConsole io("x\nk");
  FakeLink link(CONNECT_ETHER);
  link.respond =
      Always(WithFrameLength(TextAnswer(std::string(EXTCMD_BUFFER_SIZE - 2 - 28, 'z')), 0xFFFF));
  EXPECT_EQ(SystemCommand(link), 1);
  EXPECT_EQ(io.output,
            std::string(kCommandPrompt) + "\n " + std::string(4066, 'z') + "\n\n Press any key");
}

TEST(SystemCommand, WithoutALinkAsksFirstThenReportsTheOpenFailure) {
  ScriptedConsole io("reboot\nk");
  FakeLink link(CONNECT_NONE);
  link.m_nError = 10102;
  EXPECT_EQ(SystemCommand(link), 0);
  EXPECT_EQ(io.output, std::string(kCommandPrompt) + "\n Failure:10102\n\n Press any key");
}

TEST(PadCommandText, FillsOnlyUpToTheNextMultipleOfFour) {
  std::uint8_t data[12] = {'a', 'b', 'c', 'd', 'e', 0, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11};
  EXPECT_EQ(commands::PadCommandText(data, 5), 8);
  EXPECT_EQ(Bytes(std::begin(data), std::end(data)),
            (Bytes{'a', 'b', 'c', 'd', 'e', 0, 0xFF, 0xFF, 0x11, 0x11, 0x11, 0x11}));
}

TEST(Restart, ConfirmedPausesEightSecondsBeforeTheKeyPrompt) {
  ScriptedConsole io("k");
  FakeLink link;
  link.respond = Always(AnswerFrame(0x4002, {0}, 4));
  EXPECT_EQ(Restart(link), 1);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(link.requests[0],
            (Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00, 0x14,
                   0x00, 0x01, 0xF0, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E,
                   0x4E, 0x0B, 0x01, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
  const std::string confirmation = "\n Recv reset_sys confirmation\n Now restarting...\n";
  EXPECT_EQ(io.output, confirmation + "\n Press any key");
  EXPECT_EQ(io.pauses, std::vector<std::uint32_t>{8000});
  EXPECT_EQ(io.pauseAt, std::vector<std::size_t>{confirmation.size()});
  EXPECT_EQ(io.Unread(), 0u);
}

TEST(Restart, ResultFiveIsReportedWithoutPause) {
  ScriptedConsole io("k");
  FakeLink link(CONNECT_SERIAL);
  link.respond = Always(AnswerFrame(0x4002, {5}, 4));
  EXPECT_EQ(Restart(link), 0);
  EXPECT_EQ(io.output, "\n Failure:10207\n Result:5\n\n Press any key");
  EXPECT_TRUE(io.pauses.empty());
  EXPECT_EQ(io.Unread(), 0u);
}

TEST(Restart, NoAnswerReportsTheLinksTimeOutCode) {
  for (const auto& [connect, code] :
       {std::pair{CONNECT_ETHER, 10009}, std::pair{CONNECT_SERIAL, 10105}}) {
    ScriptedConsole io("k");
    FakeLink link(connect, 10000);
    EXPECT_EQ(Restart(link), 0);
    EXPECT_EQ(io.output, "\n Failure:" + std::to_string(code) + "\n\n Press any key");
    EXPECT_TRUE(io.pauses.empty());
  }
}

// A simulated link whose opening and closing succeed and are recorded.
class RecordingLink : public FakeLink {
 public:
  explicit RecordingLink(int timeoutMs) : FakeLink(CONNECT_NONE, timeoutMs) {}

  int OpenSerial(const char* port, std::uint32_t baud, int byteSize, int parity,
                 int stopBits) override {
    serialOpens.push_back({port, baud, byteSize, parity, stopBits});
    m_nConnect = CONNECT_SERIAL;
    return 1;
  }
  int CloseSerial() override {
    ++serialCloses;
    m_nConnect = CONNECT_NONE;
    return 1;
  }
  int OpenEther(const char*, const char*, std::uint16_t, const std::uint8_t*) override {
    m_nConnect = CONNECT_ETHER;
    return 1;
  }
  int CloseEther() override {
    ++etherCloses;
    m_nConnect = CONNECT_NONE;
    return 1;
  }

  struct SerialOpen {
    std::string port;
    std::uint32_t baud;
    int byteSize, parity, stopBits;
  };
  std::vector<SerialOpen> serialOpens;
  int serialCloses = 0;
  int etherCloses = 0;
};

struct LineFormatCase {
  const char* name;
  bool commandTool;
  const char* ini;
  RecordingLink::SerialOpen expected;
};

class SerialLineFormat : public ::testing::TestWithParam<LineFormatCase> {};

TEST_P(SerialLineFormat, ReachesOpenSerialAsRead) {
  const LineFormatCase& c = GetParam();
  const console::ToolDefinition& tool = c.commandTool ? TarvikTool() : SampleTool();
  ScriptedConsole io("1\n0\n");
  RecordingLink link(tool.timeoutMs);
  EXPECT_EQ(console::RunTool(tool, link, console::IniFile::Parse(c.ini)), 0);
  ASSERT_EQ(link.serialOpens.size(), 1u);
  EXPECT_EQ(link.serialOpens[0].port, c.expected.port);
  EXPECT_EQ(link.serialOpens[0].baud, c.expected.baud);
  EXPECT_EQ(link.serialOpens[0].byteSize, c.expected.byteSize);
  EXPECT_EQ(link.serialOpens[0].parity, c.expected.parity);
  EXPECT_EQ(link.serialOpens[0].stopBits, c.expected.stopBits);
  EXPECT_EQ(link.serialCloses, 1);
  EXPECT_EQ(link.etherCloses, 0);
}

const char* const kEvenTwoStop = "[SERIAL]\nPORT=COM3\nRATE=9600\nPARITY=2\nSTOPBIT=2\n";

INSTANTIATE_TEST_SUITE_P(
    Tools, SerialLineFormat,
    ::testing::Values(
        LineFormatCase{"CommandToolTakesTheKeys", true, kEvenTwoStop, {"COM3", 9600, 8, 2, 2}},
        LineFormatCase{"MaintenanceToolKeeps8N1", false, kEvenTwoStop, {"COM3", 9600, 8, 0, 0}},
        LineFormatCase{"CommandToolDefaults", true, "", {"COM1", 115200, 8, 0, 0}},
        LineFormatCase{"ValuesAreNotExamined",
                       true,
                       "[SERIAL]\nDATABIT=7\nPARITY=9\nSTOPBIT=-1\n",
                       {"COM1", 115200, 7, 9, -1}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(CommandToolMenu, RejectsOutOfRangeAndSelectsWithLeadingZeros) {
  // "2" at the link prompt; "3", "-1", "1a" and "" at the menu; "02" runs Restart; "00" ends.
  ScriptedConsole io("2\n0\n3\n-1\n1a\n\n02\nk00\n");
  RecordingLink link(10000);
  link.respond = Always(AnswerFrame(0x4002, {0}, 4));
  EXPECT_EQ(console::RunTool(TarvikTool(), link, console::IniFile::Parse("")), 0);
  ASSERT_EQ(link.requests.size(), 1u);
  EXPECT_EQ(frame::Get16(&link.requests[0][frame::kOffCommand]), 0x4001);
  EXPECT_EQ(io.output, std::string(kLinkPrompt) + kRejected + kLinkPrompt + kTarvikMenu +
                           kRejected + kTarvikMenu + kRejected + kTarvikMenu + kRejected +
                           kTarvikMenu + kRejected + kTarvikMenu +
                           "\n Recv reset_sys confirmation\n Now restarting...\n\n Press any key" +
                           kTarvikMenu);
  EXPECT_EQ(link.etherCloses, 1);
  EXPECT_EQ(io.Unread(), 0u);
}

TEST(CommandToolMenu, SystemCommandFromTheMenu) {
  ScriptedConsole io("0\n1\nget ver\nk0\n");
  RecordingLink link(10000);
  link.respond = Always(TextAnswer(std::string("v1\0", 3)));
  EXPECT_EQ(console::RunTool(TarvikTool(), link, console::IniFile::Parse("")), 0);
  EXPECT_EQ(io.output,
            kLinkPrompt + kTarvikMenu + kCommandPrompt + "\n v1\n\n Press any key" + kTarvikMenu);
}

// Every way out of a run closes the open link exactly once, by the close operation of that
// link: the menu's 0, the end of input at a prompt or inside a handler, and an exception from a
// handler, which goes on to the caller.
int WaitsForAKey(C_ZANTO_EXTCMD_IF&) {
  WaitKey();
  return 1;
}
int Throws(C_ZANTO_EXTCMD_IF&) { throw std::runtime_error("handler failed"); }
const console::MenuHandler kWayOutHandlers[] = {WaitsForAKey, Throws};
const console::ToolDefinition kWayOutTool{5000, false, "menu --> ", kWayOutHandlers};

struct WayOutCase {
  const char* name;
  std::string afterLinkChoice;  // typed after the link prompt
  int status;                   // -1: the run ends by the exception
};

class EntryWayOut : public ::testing::TestWithParam<std::tuple<int, WayOutCase>> {};

TEST_P(EntryWayOut, ClosesTheOpenLinkOnce) {
  const auto& [connect, c] = GetParam();
  ScriptedConsole io(std::to_string(connect) + "\n" + c.afterLinkChoice);
  RecordingLink link(5000);
  const console::IniFile ini = console::IniFile::Parse("");
  if (c.status < 0) {
    EXPECT_THROW(console::RunTool(kWayOutTool, link, ini), std::runtime_error);
  } else {
    EXPECT_EQ(console::RunTool(kWayOutTool, link, ini), c.status);
  }
  EXPECT_EQ(link.GetConnectType(), CONNECT_NONE);
  EXPECT_EQ(link.etherCloses, connect == CONNECT_ETHER ? 1 : 0);
  EXPECT_EQ(link.serialCloses, connect == CONNECT_SERIAL ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Links, EntryWayOut,
    ::testing::Combine(::testing::Values(CONNECT_ETHER, CONNECT_SERIAL),
                       ::testing::Values(WayOutCase{"MenuEntry0", "0\n", 0},
                                         WayOutCase{"InputEndsAtTheMenu", "", 0},
                                         WayOutCase{"InputEndsInAHandler", "1\n", 1},
                                         WayOutCase{"HandlerThrows", "2\n", -1})),
    [](const auto& test) {
      return std::string(std::get<0>(test.param) == CONNECT_ETHER ? "Udp" : "Serial") +
             std::get<1>(test.param).name;
    });

TEST(EntryNoLink, InputEndingAtTheLinkPromptClosesNothing) {
  ScriptedConsole io("");
  RecordingLink link(5000);
  EXPECT_EQ(console::RunTool(kWayOutTool, link, console::IniFile::Parse("")), 0);
  EXPECT_EQ(link.etherCloses + link.serialCloses, 0);
}

}  // namespace
