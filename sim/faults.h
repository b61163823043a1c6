// The emulated adapter's faults, one table: each fault's name, what it damages, the commands it
// means something for and its help, and the damage itself, for the core and both transports.
//
// A new fault is a row of the table in faults.cpp and its damage function (and its name in
// FaultKind or LineFault); the options, their help, the refusals and the transports take it from
// there.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// Faults of the answer, on any link, and of its datagram.
enum class FaultKind {
  Result,            // answer with result byte `value` (commands that carry a result byte)
  NoAnswer,          // stay silent
  Delay,             // answer `value` milliseconds late
  EchoRequestCode,   // CommandCode is the request code, not the answer code
  BadPreamble,       // last Preamble byte is AA instead of AB
  BadFrameType,      // FrameType 4
  BadDirection,      // Direction 0xF001, that of a request
  BadMagic,          // Magic off by one
  NoTextEnd,         // System command: the reply text has no terminating NUL
  ShortDatagram,     // only the first 9 bytes of the datagram
  EmptyDatagram,     // an empty datagram
  OversizeDatagram,  // the datagram padded to `value` bytes (5000 when 0)
  OtherAddress,      // the answer comes from another address
};

// Faults of the serial line. An answer after the tool's time-out is FaultKind::Delay.
enum class LineFault {
  BadChecksum,   // the first checksum byte has its lowest bit flipped
  Noise,         // one 00 byte goes out in front of the Preamble
  Pieces,        // the answer goes out in three pieces, `value` ms apart (150 ms when 0)
  TwoAnswers,    // the answer goes out twice in one write
  NoTerminator,  // the end-of-frame byte is left off
};

using FaultId = std::variant<FaultKind, LineFault>;

struct Fault {
  FaultId kind;
  std::optional<std::uint16_t> command;  // base code it applies to; none: every command
  int value = 0;
  bool once = false;  // a one-shot fault is dropped after it has been applied once
};

// What a fault damages, in the order an answer passes through them. The datagram is UDP's alone,
// the line's stages the serial line's.
enum class Stage {
  Request,   // what the adapter does with the request: answer at all, carry it out or refuse it
  Frame,     // the answer frame, and when it goes out
  Datagram,  // the datagram: 2 leading bytes and the frame (`wire`)
  LineBody,  // the frame and its checksum before the line coding (`wire`)
  Line,      // the coded line bytes (`wire`) and how they go out
};

enum class Link { Udp, Serial };
bool Carries(Link link, Stage stage);

// An answer on its way out, which each stage's faults damage in turn: the adapter's decision and
// its frame (Adapter::Handle), then the link's bytes (the transport). The transport sends `wire`
// after `delay`.
struct Reply {
  std::uint16_t requestCode = 0;
  std::vector<Fault> faults;  // those for this answer's command, of every stage

  bool silent = false;                  // no answer at all
  std::optional<std::uint8_t> refusal;  // answered with this result alone, not carried out
  bool textWithoutEnd = false;          // the system command's text goes without its NUL
  Bytes frame;                          // header and data, no link wrapping
  std::chrono::milliseconds delay{0};
  Bytes wire;
  bool fromOtherAddress = false;
  std::chrono::milliseconds piecePause{0};  // non-zero: the line bytes go out in three pieces

  // Applies the faults of this stage, in the order they were given.
  void Damage(Stage stage);
};

// The commands a fault means something for.
enum class Only { Any, ResultByte, SystemCommand };

// The number a fault option takes after its command, as in --result status=5.
struct FaultValue {
  const char* argument;  // nullptr: none
  std::uint32_t min = 0;
  std::uint32_t max = 0;
};

using Damage = void (*)(Reply& reply, int value);

struct FaultInfo {
  FaultId kind;
  const char* option;  // the option that asks for it
  const char* name;    // its KIND in the option's value; nullptr: the option is the fault's own
  Stage stage;
  Only only;
  FaultValue value;
  const char* help;  // the option's help, or for a KIND the note behind it (nullptr: none)
  Damage damage;
};

std::span<const FaultInfo> Faults();
const FaultInfo& InfoOf(const FaultId& kind);
// The fault's name in messages: its KIND, or its option.
std::string_view Label(const FaultInfo& info);

// The fault an option's value asks for, as on the command line: "COMMAND" or "COMMAND=VALUE" for
// an option of its own, "KIND=COMMAND" for one of KINDs; COMMAND is a command's key or "all".
// Nothing when it names no fault, command or value in range.
std::optional<Fault> ParseFault(std::string_view option, std::string_view text);
// What the option's value looks like ("COMMAND=CODE", "KIND=COMMAND"); with the range of its
// number ("COMMAND=CODE with CODE from 1 to 255"), for a message about a bad value.
std::string FaultArgument(std::string_view option, bool withRange = false);
// "a (note), b or c": the KINDs of an option with their notes, for its help.
std::string KindList(std::string_view option);
// Why the fault cannot be carried out on this link or for its command; empty when it can.
std::string FaultRefusal(const Fault& fault, Link link);

// Takes the faults for the command's base code (a fault without a command applies to every
// command); a one-shot fault leaves the list as it is taken.
std::vector<Fault> TakeFaultsFor(std::vector<Fault>& faults, std::uint16_t base);

}  // namespace sim
