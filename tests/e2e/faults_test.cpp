// Every fault of the emulated adapter, on each link, for each command of both tools, end to end.
//
// Typed on a terminal: the tool prints the code that stands for the fault, keeps running, and
// the next command of the same run works once the fault is gone. One table of faults, one of
// commands; each meaningful combination is one test.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sim/adapter.h"
#include "sim/serial_server.h"
#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;
using sim::FaultKind;
using sim::LineFault;
using std::chrono::milliseconds;

// What a fault makes the tool show, besides a failure code.
constexpr int kWorks = 0;       // the command works as usual
constexpr int kNotOnLink = -1;  // this link cannot carry the fault

// The result byte of a refusal.
constexpr int kRefusal = 5;
// A late answer comes this long after the tool's time-out: far enough that a busy machine
// cannot make the tool see it in time.
constexpr milliseconds kLateBy{1000};

enum class Only { Any, ResultByte, SystemCommand };

struct Fault {
  const char* name;
  std::variant<FaultKind, LineFault> kind;
  int udp;                    // the code the tool shows over UDP
  int serial;                 // and over the serial line
  bool timesOut = false;      // the report comes once the tool's time-out has passed
  bool leavesAnswer = false;  // an answer still comes, and the next exchange takes it
  Only only = Only::Any;      // the commands it means something for
};

// Every fault of the emulator, always one-shot, for the command under test only (laid out by
// hand: the formatter would put every field on a line of its own).
// clang-format off
const Fault kFaults[] = {
    {.name = "Refused", .kind = FaultKind::Result, .udp = ERR_RESULT, .serial = ERR_RESULT,
     .only = Only::ResultByte},
    {.name = "NoAnswer", .kind = FaultKind::NoAnswer, .udp = ERR_ETHER_RECV,
     .serial = ERR_SERIAL_TIMEOUT, .timesOut = true},
    // The answer comes after the time-out; the next request of the same command takes it, on
    // UDP from the socket, on the line from the port's queue, where it waits in front of the
    // answer to that request.
    {.name = "LateAnswer", .kind = FaultKind::Delay, .udp = ERR_ETHER_RECV,
     .serial = ERR_SERIAL_TIMEOUT, .timesOut = true, .leavesAnswer = true},
    {.name = "RequestCodeEchoed", .kind = FaultKind::EchoRequestCode, .udp = frame::kErrCommand,
     .serial = frame::kErrCommand},
    // The serial receive looks for the Preamble in what it read before anything else.
    {.name = "BadPreamble", .kind = FaultKind::BadPreamble, .udp = frame::kErrPreamble,
     .serial = ERR_SERIAL_PREAMBLE},
    {.name = "BadFrameType", .kind = FaultKind::BadFrameType, .udp = frame::kErrFrameType,
     .serial = frame::kErrFrameType},
    {.name = "BadDirection", .kind = FaultKind::BadDirection, .udp = frame::kErrDirection,
     .serial = frame::kErrDirection},
    {.name = "BadMagic", .kind = FaultKind::BadMagic, .udp = frame::kErrMagic,
     .serial = frame::kErrMagic},
    // The text is printed as far as the answer's data goes.
    {.name = "TextWithoutEnd", .kind = FaultKind::NoTextEnd, .udp = kWorks, .serial = kWorks,
     .only = Only::SystemCommand},
    // Datagrams: 9 bytes hold only part of the Preamble; an empty datagram, and one larger than
    // the tool's buffer, are no answer (at once, without waiting for the time-out).
    {.name = "NineByteDatagram", .kind = FaultKind::ShortDatagram, .udp = frame::kErrPreamble,
     .serial = kNotOnLink},
    {.name = "EmptyDatagram", .kind = FaultKind::EmptyDatagram, .udp = ERR_ETHER_RECV,
     .serial = kNotOnLink},
    {.name = "OversizeDatagram", .kind = FaultKind::OversizeDatagram, .udp = ERR_ETHER_RECV,
     .serial = kNotOnLink},
    // The answer comes from 127.0.0.3 and a port the system chose for the emulator, not from
    // the adapter's address and port: the tool does not ask who sent it and takes it.
    {.name = "AnswerFromAnotherHost", .kind = FaultKind::OtherAddress, .udp = kWorks,
     .serial = kNotOnLink},
    // The line: the checksum is checked last; a byte in front of the Preamble spoils it.
    {.name = "BadChecksum", .kind = LineFault::BadChecksum, .udp = kNotOnLink,
     .serial = frame::kErrChecksum},
    {.name = "NoiseBeforeThePreamble", .kind = LineFault::Noise, .udp = kNotOnLink,
     .serial = ERR_SERIAL_PREAMBLE},
    // The tool waits for the end byte, however the answer is cut up.
    {.name = "AnswerInPieces", .kind = LineFault::Pieces, .udp = kNotOnLink, .serial = kWorks},
    // The first answer up to its end byte is taken, the rest of what was read is dropped.
    {.name = "TwoAnswersAtOnce", .kind = LineFault::TwoAnswers, .udp = kNotOnLink,
     .serial = kWorks},
    // An answer without its end byte never ends the wait; it stays queued, and the next
    // exchange reads it in front of its own answer and takes it.
    {.name = "NoEndByte", .kind = LineFault::NoTerminator, .udp = kNotOnLink,
     .serial = ERR_SERIAL_TIMEOUT, .timesOut = true, .leavesAnswer = true},
};
// clang-format on

struct Tool {
  const char* program;
  const std::string* menu;
  milliseconds timeout;  // how long it waits for an answer
};

const Tool kSample{SAMPLE_PROGRAM, &kSampleMenu, milliseconds(5000)};
const Tool kTarvik{TARVIK_PROGRAM, &kTarvikMenu, milliseconds(10000)};

// From the end of a working command back to the main menu.
enum class Back { Key, KeyThenLeaveSubMenu, AtMenu };

// One exchange of a command as typed: its last line, and what the tool shows after it when the
// exchange works, up to where the tool waits for input again.
struct Exchange {
  std::string line;
  std::string shows;
};

struct Command {
  const char* name;
  const Tool* tool;
  std::uint16_t base;
  // The lines typed before the last, each with the prompt that follows it.
  std::vector<std::pair<std::string, std::string>> before;
  // The command typed once, and once more: the two differ for System Command, so the text shows
  // which request an answer belongs to.
  std::array<Exchange, 2> runs;
  Back back;
  milliseconds pause{0};  // the tool pauses this long after it worked
};

const std::string kModeLines =
    " Mode ................... Master\n"
    " MAC Address ............ 00-11-22-33-44-55\n";
const sim::Mac kRemoteMac = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
const std::string kRemoteModeLines =
    " Mode ................... Terminal(authenticated)\n"
    " MAC Address ............ 01-23-45-67-89-ab\n"
    " Master MAC Address ..... 00-11-22-33-44-55\n";
const std::string kStatus = "\n" + kModeLines + kStatusValueLines + "\n\n Press any key";
const std::string kRemoteStatus =
    "\n" + kRemoteModeLines + kStatusValueLines + "\n\n Press any key";
const std::string kIdentity =
    "\n"
    " MAC Address............. 00-11-22-33-44-55\n"
    " IP Address.............. 192.168.0.249\n"
    " Sub-Net Mask............ 255.255.255.0\n"
    " Model Name.............. PLC-EMULATOR\n"
    " Command Version......... 0x00000100\n"
    " Option Flag............. 0x00000000\n"
    "\n\n Press any key";
// Two blocks: a fault meets the first, which waits for its answer as long as any exchange (the
// last block alone waits 30 s).
const sim::Bytes kImage = FirmwareImage(1500);
const std::string kImageName = "image.bin";
const std::string kFirmwareDone =
    " .\n Wait for writing memory\n Success update firmware\n" + kSampleMenu;
const std::string kRestarted =
    "\n Recv reset_sys confirmation\n Now restarting...\n\n Press any key";
const std::pair<std::string, std::string> kVersionReply = {"show version", "emulated adapter 1.0"};
const std::pair<std::string, std::string> kUptimeReply = {"show uptime", "up 42 days"};

// The first command of each tool is the one that follows a fault that leaves nothing behind.
const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"GetStatus", &kSample, CMD_GET_STATUS, {}, {{{"1", kStatus}, {"1", kStatus}}}, Back::Key},
      {"InfoResolution",
       &kSample,
       CMD_INFO_RESOLUTION,
       {{"2", kIpPrompt}},
       {{{"192.168.0.10", kIdentity}, {"192.168.0.10", kIdentity}}},
       Back::Key},
      {"PlcRemote",
       &kSample,
       CMD_RELAY,
       {{"3", kSubMenu}, {"1", kMacPrompt}, {"0123456789ab", kWaitPrompt}},
       {{{"10", kRemoteStatus}, {"10", kRemoteStatus}}},
       Back::KeyThenLeaveSubMenu},
      {"UpdateFirmware",
       &kSample,
       CMD_FW_UPDATE,
       {{"4", kImagePrompt}},
       {{{kImageName, kFirmwareDone}, {kImageName, kFirmwareDone}}},
       Back::AtMenu,
       milliseconds(10000)},
      {"SystemCommand",
       &kTarvik,
       CMD_SYSTEMCMD,
       {{"1", kCommandPrompt}},
       {{{kVersionReply.first, "\n " + kVersionReply.second + "\n\n Press any key"},
         {kUptimeReply.first, "\n " + kUptimeReply.second + "\n\n Press any key"}}},
       Back::Key},
      {"Restart",
       &kTarvik,
       CMD_RESET_SYS,
       {},
       {{{"2", kRestarted}, {"2", kRestarted}}},
       Back::Key,
       milliseconds(8000)},
  };
  return commands;
}

const Command& CommandNamed(std::string_view name) {
  const auto& all = Commands();
  return *std::find_if(all.begin(), all.end(), [name](const Command& c) { return c.name == name; });
}

int LateAnswerDelay(const Tool& tool) { return static_cast<int>((tool.timeout + kLateBy).count()); }

const Command& FirstCommandOf(const Tool* tool) {
  const auto& all = Commands();
  return *std::find_if(all.begin(), all.end(), [tool](const Command& c) { return c.tool == tool; });
}

struct Row {
  const Fault* fault;
  const Command* command;
  Link link;
  friend void PrintTo(const Row& r, std::ostream* os) {
    *os << LinkName(r.link) << " " << r.command->name << " " << r.fault->name;
  }
};

int Shows(const Row& r) { return r.link == Link::Udp ? r.fault->udp : r.fault->serial; }

bool Meaningful(const Row& r) {
  if (Shows(r) == kNotOnLink) return false;
  switch (r.fault->only) {
    case Only::Any:
      return true;
    case Only::ResultByte:
      return sim::FindCommand(r.command->base)->hasResult;
    case Only::SystemCommand:
      return r.command->base == CMD_SYSTEMCMD;
  }
  return false;
}

// About how long a row takes, most of it waiting for a time-out or a pause.
milliseconds Expected(const Row& r) {
  milliseconds t{0};
  if (r.fault->timesOut) t += r.command->tool->timeout;
  if (r.fault->leavesAnswer) t += kLateBy + r.command->pause;  // the command then works
  if (Shows(r) == kWorks) t += r.command->pause;
  return t;
}

bool Slow(const Row& r) { return Expected(r) >= milliseconds(5000); }

// The meaningful rows, the slow ones or the others, longest first: the slow rows are given a
// high cost in the build, so under ctest -j they start first and overlap everything else.
std::vector<Row> Rows(bool slow) {
  std::vector<Row> rows;
  for (const Link link : {Link::Udp, Link::Serial}) {
    for (const Command& command : Commands()) {
      for (const Fault& fault : kFaults) {
        const Row row{&fault, &command, link};
        if (Meaningful(row) && Slow(row) == slow) rows.push_back(row);
      }
    }
  }
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Row& a, const Row& b) { return Expected(a) > Expected(b); });
  return rows;
}

std::string Report(int code) {
  if (code == ERR_RESULT) {
    return "\n Failure:10207\n Result:" + std::to_string(kRefusal) + "\n\n Press any key";
  }
  return "\n Failure:" + std::to_string(code) + "\n\n Press any key";
}

// A tool on the link given, facing an adapter that answers every command of the table.
class CommandsOnALink : public ToolTest {
 protected:
  explicit CommandsOnALink(Link link)
      : ToolTest(link == Link::Serial ? WithSerialLine() : ToolScene::Settings{}), link_(link) {
    scene_.adapter.Configure([](sim::AdapterProfile& p) {
      SetStatusValues(p.status);
      sim::RemoteAdapter remote;
      remote.status.master = false;
      remote.status.authenticated = true;
      remote.status.mac = kRemoteMac;
      remote.status.masterMac = p.status.mac;
      SetStatusValues(remote.status);
      p.remotes[kRemoteMac] = remote;
      p.systemReplies.insert({kVersionReply, kUptimeReply});
    });
    WriteFile(kImageName, kImage);
  }

  std::size_t AnswersSent() const {
    return link_ == Link::Udp ? scene_.server->AnswersSent() : scene_.serialServer->AnswersSent();
  }
  bool WaitForAnswers(std::size_t count, milliseconds wait) const {
    return link_ == Link::Udp ? scene_.server->WaitForAnswers(count, wait)
                              : scene_.serialServer->WaitForAnswers(count, wait);
  }

  // Types the command, with `line` last, and checks what the tool shows then up to where it
  // waits for input again: the report of `code`, or when the command works (kWorks) the
  // print-out given. Then goes back to the main menu. Returns how long the tool took to show it.
  Clock::duration Runs(const Command& c, const std::string& line, int code,
                       const std::string& printOut) {
    for (const auto& [typed, prompt] : c.before) {
      EXPECT_EQ(Answer(typed, prompt), typed + "\n" + prompt);
    }
    const std::string expected = code == kWorks ? printOut : Report(code);
    const std::string& end = expected.ends_with(kKeyPrompt) ? kKeyPrompt : menu_;
    const auto start = Clock::now();
    EXPECT_EQ(Answer(line, end, c.tool->timeout + kLateBy + c.pause + kDefaultWait),
              line + "\n" + expected)
        << c.name;
    const Clock::duration took = Clock::now() - start;
    if (code != kWorks || c.back == Back::Key) {
      KeyAndMenu();
    } else if (c.back == Back::KeyThenLeaveSubMenu) {
      EXPECT_TRUE(tool_->SendKey('k'));
      EXPECT_EQ(tool_->ReadUntil(kSubMenu), kSubMenu);
      EXPECT_EQ(Answer("0", menu_), "0\n" + menu_);
    }
    return took;
  }

  Link link_;
};

class FaultEndToEnd : public CommandsOnALink, public ::testing::WithParamInterface<Row> {
 protected:
  FaultEndToEnd() : CommandsOnALink(GetParam().link) {}

  void Inject() {
    const Row& r = GetParam();
    const std::uint16_t base = r.command->base;
    if (const auto* kind = std::get_if<FaultKind>(&r.fault->kind)) {
      const int value = *kind == FaultKind::Result  ? kRefusal
                        : *kind == FaultKind::Delay ? LateAnswerDelay(*r.command->tool)
                                                    : 0;
      scene_.adapter.AddFault({*kind, base, value, true});
    } else {
      scene_.serialServer->AddFault({std::get<LineFault>(r.fault->kind), base, 0, true});
    }
  }
};

TEST_P(FaultEndToEnd, ShowsItsCodeAndTheNextCommandWorks) {
  const Row& r = GetParam();
  const Command& c = *r.command;
  StartAtMenu(c.tool->program, *c.tool->menu, r.link);
  Inject();
  const std::size_t answered = AnswersSent();

  const auto took = Runs(c, c.runs[0].line, Shows(r), c.runs[0].shows);
  if (r.fault->timesOut) {
    EXPECT_GE(took, c.tool->timeout) << "the tool waits its whole time-out";
  }

  if (r.fault->leavesAnswer) {
    // Once the late answer is on its way, the same command again takes it: the text shows the
    // answer to the first request, not to this one.
    ASSERT_TRUE(WaitForAnswers(answered + 1, c.tool->timeout + kLateBy + kDefaultWait));
    Runs(c, c.runs[1].line, kWorks, c.runs[0].shows);
  } else {
    const Command& next = FirstCommandOf(c.tool);
    Runs(next, next.runs[1].line, kWorks, next.runs[1].shows);
  }
  Quit();
}

const auto kRowName = [](const ::testing::TestParamInfo<Row>& test) {
  const Row& r = test.param;
  return LinkName(r.link) + "_" + r.command->name + "_" + r.fault->name;
};

// The build gives the slow rows their own high cost (see CMakeLists.txt).
INSTANTIATE_TEST_SUITE_P(E2eSlow, FaultEndToEnd, ::testing::ValuesIn(Rows(true)), kRowName);
INSTANTIATE_TEST_SUITE_P(E2e, FaultEndToEnd, ::testing::ValuesIn(Rows(false)), kRowName);

// After a late answer to Get Status, commands of another kind. Each takes the answer that waits
// in front of its own. Over UDP its own answer then waits for the next request, so the answers
// stay one behind: each command shows the answer to the one before it. Over serial the rest of
// what was read is dropped, and the exchange after it is in step again.
struct LateCase {
  Link link;
  std::vector<std::pair<const char*, int>> then;  // each command and what it shows
  friend void PrintTo(const LateCase& c, std::ostream* os) { *os << LinkName(c.link); }
};

class AfterALateAnswer : public CommandsOnALink, public ::testing::WithParamInterface<LateCase> {
 protected:
  AfterALateAnswer() : CommandsOnALink(GetParam().link) {}
};

TEST_P(AfterALateAnswer, EachCommandTakesTheAnswerWaitingInFrontOfItsOwn) {
  const Command& status = CommandNamed("GetStatus");
  StartAtMenu(SAMPLE_PROGRAM, kSampleMenu, GetParam().link);
  scene_.adapter.AddFault({FaultKind::Delay, CMD_GET_STATUS, LateAnswerDelay(kSample), true});
  const std::size_t answered = AnswersSent();
  const int timeOut = GetParam().link == Link::Udp ? ERR_ETHER_RECV : ERR_SERIAL_TIMEOUT;
  Runs(status, "1", timeOut, "");
  ASSERT_TRUE(WaitForAnswers(answered + 1, kSample.timeout + kLateBy + kDefaultWait));
  for (const auto& [name, code] : GetParam().then) {
    const Command& c = CommandNamed(name);
    Runs(c, c.runs[1].line, code, c.runs[1].shows);
  }
  Quit();
}

INSTANTIATE_TEST_SUITE_P(E2eSlow, AfterALateAnswer,
                         ::testing::Values(LateCase{Link::Udp,
                                                    {{"InfoResolution", frame::kErrCommand},
                                                     {"GetStatus", frame::kErrCommand},
                                                     {"GetStatus", kWorks}}},
                                           LateCase{Link::Serial,
                                                    {{"InfoResolution", frame::kErrCommand},
                                                     {"GetStatus", kWorks},
                                                     {"GetStatus", kWorks}}}),
                         [](const auto& test) { return LinkName(test.param.link); });

}  // namespace
}  // namespace e2e
