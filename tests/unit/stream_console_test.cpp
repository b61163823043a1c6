// The console over byte streams: lines however the input is cut into reads, keys from the same
// buffer, output written only when the tool is about to wait, and an output that goes away.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/console.h"
#include "console/entry.h"
#include "console/ini.h"
#include "console/io.h"
#include "extcmd/records.h"
#include "sample/handlers.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"

using testing_support::ScriptedStreams;
using Line = console::ConsoleIo::Line;

namespace {

// Reads every line until input ends: each as read, or "<too long>".
std::vector<std::string> AllLines(console::StreamConsole& io) {
  std::vector<std::string> lines;
  std::string line;
  for (Line got; (got = io.ReadLine(line)) != Line::Ended;) {
    lines.push_back(got == Line::TooLong ? "<too long>" : line);
  }
  return lines;
}

struct ChunkCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> lines;
};

class StreamConsoleLines : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(StreamConsoleLines, AreTheSameHoweverTheInputIsCut) {
  ScriptedStreams streams(GetParam().chunks);
  console::StreamConsole io(streams);
  EXPECT_EQ(AllLines(io), GetParam().lines);
}

const std::string kLongest(console::kMaxLine, '7');

INSTANTIATE_TEST_SUITE_P(
    Console, StreamConsoleLines,
    ::testing::Values(ChunkCase{"AllAtOnce", {"0\n1\n0\n"}, {"0", "1", "0"}},
                      ChunkCase{"ByteByByte", {"1", "2", "\n", "3", "\n"}, {"12", "3"}},
                      ChunkCase{"CrLf", {"1\r\n2\r", "\n"}, {"1", "2"}},
                      ChunkCase{"LastLineWithoutItsEnd", {"4\n", "5"}, {"4", "5"}},
                      ChunkCase{"EmptyLines", {"\n\n"}, {"", ""}},
                      ChunkCase{"LongestLineAcrossReads",
                                {kLongest.substr(0, 4000), kLongest.substr(4000) + "\n1\n"},
                                {kLongest, "1"}},
                      ChunkCase{"LongestLineAndCr", {kLongest + "\r\n"}, {kLongest}},
                      ChunkCase{"OneMoreIsTooLongAndConsumedWhole",
                                {kLongest, "8", std::string(9000, '9') + "\n2\n"},
                                {"<too long>", "2"}},
                      ChunkCase{"TooLongAtTheEnd", {kLongest + "88"}, {"<too long>"}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(StreamConsole, KeysWithoutATerminalComeFromTheSameBuffer) {
  ScriptedStreams streams({"1\nk0\n"});
  console::StreamConsole io(streams);
  std::string line;
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  EXPECT_EQ(io.ReadKey(), 'k');
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  EXPECT_EQ(line, "0");
  EXPECT_EQ(io.ReadKey(), -1);
  EXPECT_EQ(std::count(streams.events.begin(), streams.events.end(), "read"), 2);
}

TEST(StreamConsole, KeysOnATerminalComeFromTheTerminalOnceTheBufferIsEmpty) {
  ScriptedStreams streams({"1\n", "x", "0\n"}, true);
  console::StreamConsole io(streams);
  std::string line;
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  EXPECT_EQ(io.ReadKey(), 'x');
  EXPECT_EQ(streams.events, (std::vector<std::string>{"read", "key"}));
}

TEST(StreamConsole, EndOfInputIsFinal) {
  ScriptedStreams streams({"1\n"});
  console::StreamConsole io(streams);
  std::string line;
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  EXPECT_EQ(io.ReadLine(line), Line::Ended);
  EXPECT_EQ(io.ReadLine(line), Line::Ended);
  EXPECT_EQ(io.ReadKey(), -1);
  EXPECT_EQ(std::count(streams.events.begin(), streams.events.end(), "read"), 2);
}

TEST(StreamConsole, ARequestToEndDropsAHalfReadLine) {
  ScriptedStreams streams({"12"});
  streams.endWhenInputRunsOut = true;
  console::StreamConsole io(streams);
  std::string line;
  EXPECT_EQ(io.ReadLine(line), Line::Ended);
}

// A screen is one write, made when the tool waits: before input, before a pause, and when it
// asks before an exchange; never one write per print.
TEST(StreamConsole, WritesAScreenInOnePieceWhenTheToolWaits) {
  ScriptedStreams streams({"1\n", "k"});
  console::StreamConsole io(streams);
  const console::ScopedIo use(io);
  Print("menu\n");
  Print("Input number --> ");
  EXPECT_TRUE(streams.writes.empty());
  std::string line;
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  Print(" Mode ... Master\n");
  Print(" Beacon Status .......... 1\n");
  Print("\n Press any key");
  ASSERT_EQ(io.ReadKey(), 'k');
  Print("before the pause");
  EXPECT_TRUE(io.Pause(10));
  Print("before an exchange");
  io.Flush();
  io.Flush();  // nothing more to write: no empty write
  EXPECT_EQ(streams.writes, (std::vector<std::string>{
                                "menu\nInput number --> ",
                                " Mode ... Master\n Beacon Status .......... 1\n\n Press any key",
                                "before the pause", "before an exchange"}));
  EXPECT_EQ(streams.events, (std::vector<std::string>{"write", "read", "write", "read", "write",
                                                      "pause", "write"}));
}

TEST(StreamConsole, BuffersInputAheadWithoutWritingForIt) {
  // Piped input that is all there: lines after the first come from the buffer, and the
  // output waits for the next real wait.
  ScriptedStreams streams({"1\n2\n"});
  console::StreamConsole io(streams);
  const console::ScopedIo use(io);
  std::string line;
  Print("a");
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  Print("b");
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  EXPECT_EQ(streams.writes, (std::vector<std::string>{"a"}));
  EXPECT_EQ(io.ReadLine(line), Line::Ended);
  EXPECT_EQ(streams.writes, (std::vector<std::string>{"a", "b"}));
}

TEST(StreamConsole, OutputThatGoesAwayIsToldOnceAndNothingMoreIsWritten) {
  ScriptedStreams streams({"1\n", "2\n"});
  console::StreamConsole io(streams);
  const console::ScopedIo use(io);
  streams.outputGone = true;
  Print("lost");
  std::string line;
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  Print("lost too");
  ASSERT_EQ(io.ReadLine(line), Line::Ok);
  EXPECT_EQ(streams.outputLostNotes, 1);
  EXPECT_EQ(std::count(streams.events.begin(), streams.events.end(), "write"), 1);
}

// The whole tool on a terminal: each screen is one write, made just before the wait it ends
// with, and whether input is a terminal is asked once for all the key waits.
TEST(StreamConsole, AToolRunWritesOneScreenPerWaitAndAsksForTheTerminalOnce) {
  ScriptedStreams streams({"0\n", "1\n", "k", "1\n", "k", "0\n"}, true);
  console::StreamConsole io(streams);
  const console::ScopedIo use(io);
  testing_support::FakeLink link;
  link.respond = [&streams](const testing_support::Bytes&) {
    streams.events.push_back("exchange");
    return std::optional(testing_support::AnswerFrame(0xA142, {0}, STATUS_RECORD_SIZE));
  };
  EXPECT_EQ(console::RunTool(SampleTool(), link, console::IniFile::Parse("")), 0);

  const std::string& menu = tool_texts::kSampleMenu;
  ASSERT_EQ(streams.writes.size(), 6u);
  EXPECT_EQ(streams.writes[0], tool_texts::kLinkPrompt);
  EXPECT_EQ(streams.writes[1], menu);
  EXPECT_EQ(streams.writes[2].rfind("\n Mode ", 0), 0u) << streams.writes[2];
  EXPECT_TRUE(streams.writes[2].ends_with(" Beacon Status .......... 0\n\n\n Press any key"))
      << streams.writes[2];
  EXPECT_EQ(streams.writes[3], menu);
  EXPECT_EQ(streams.writes[4], streams.writes[2]);
  EXPECT_EQ(streams.writes[5], menu);
  EXPECT_EQ(streams.events, (std::vector<std::string>{"write", "read", "write", "read", "exchange",
                                                      "write", "key", "write", "read", "exchange",
                                                      "write", "key", "write", "read"}));
  EXPECT_EQ(streams.terminalChecks, 1);
}

TEST(StreamConsole, TextLargerThanTheOutputBufferGoesOutWholeAndInOrder) {
  ScriptedStreams streams({});
  console::StreamConsole io(streams);
  const std::string big(40000, 'x');
  io.Write("head");
  io.Write(big);
  io.Write("tail");
  io.Flush();
  std::string all;
  for (const std::string& w : streams.writes) all += w;
  EXPECT_EQ(all, "head" + big + "tail");
}

}  // namespace
