// The emulated adapter's faults: the table, the damage each does, and reading them from options.
#include "sim/faults.h"

#include <algorithm>

#include "extcmd/frame.h"
#include "sim/adapter.h"
#include "sim/option_text.h"

namespace sim {
namespace {

using std::chrono::milliseconds;

// A datagram of fewer bytes than this cannot hold the whole Preamble.
constexpr std::size_t kShortDatagram = 9;
// Past the tools' 4096-byte buffer.
constexpr std::size_t kDefaultOversize = 5000;
constexpr milliseconds kPiecePause{150};
constexpr std::size_t kChecksumSize = 2;
constexpr std::uint32_t kLongestDelayMs = 600000;

void Refuse(Reply& r, int value) { r.refusal = static_cast<std::uint8_t>(value); }
void Silence(Reply& r, int) { r.silent = true; }
void Delay(Reply& r, int value) { r.delay += milliseconds(value); }
void EchoRequestCode(Reply& r, int) { frame::Put16(&r.frame[frame::kOffCommand], r.requestCode); }
void BadPreamble(Reply& r, int) { r.frame[frame::kPreamble.size() - 1] = 0xAA; }
void BadFrameType(Reply& r, int) { r.frame[frame::kOffFrameType] = frame::kFrameType + 1; }
void BadDirection(Reply& r, int) {
  frame::Put16(&r.frame[frame::kOffDirection], frame::kDirRequest);
}
void BadMagic(Reply& r, int) { frame::Put32(&r.frame[frame::kOffMagic], frame::kMagic + 1); }
void NoTextEnd(Reply& r, int) { r.textWithoutEnd = true; }
void ShortDatagram(Reply& r, int) { r.wire.resize(std::min(r.wire.size(), kShortDatagram)); }
void EmptyDatagram(Reply& r, int) { r.wire.clear(); }
void OversizeDatagram(Reply& r, int value) {
  const std::size_t size = value > 0 ? static_cast<std::size_t>(value) : kDefaultOversize;
  r.wire.resize(std::max(r.wire.size(), size), 0);
}
void OtherAddress(Reply& r, int) { r.fromOtherAddress = true; }
void BadChecksum(Reply& r, int) { r.wire[r.wire.size() - kChecksumSize] ^= 0x01; }
void Noise(Reply& r, int) { r.wire.insert(r.wire.begin(), 0x00); }
void Pieces(Reply& r, int value) { r.piecePause = value > 0 ? milliseconds(value) : kPiecePause; }
void TwoAnswers(Reply& r, int) {
  const Bytes once = r.wire;  // a range inserted into its own vector is undefined
  r.wire.insert(r.wire.end(), once.begin(), once.end());
}
void NoTerminator(Reply& r, int) { r.wire.pop_back(); }

constexpr FaultValue kNone{nullptr};

// Within an option, in the order its help names them.
const FaultInfo kFaults[] = {
    {FaultKind::Result,
     "--result",
     nullptr,
     Stage::Request,
     Only::ResultByte,
     {"CODE", 1, 255},
     "refuse the command with this result byte (1 to 255; the system command has no result byte)",
     Refuse},
    {FaultKind::NoAnswer, "--no-answer", nullptr, Stage::Request, Only::Any, kNone,
     "never answer the command (the tool reports Failure:10009)", Silence},
    {FaultKind::Delay,
     "--delay",
     nullptr,
     Stage::Frame,
     Only::Any,
     {"MS", 0, kLongestDelayMs},
     "answer the command MS milliseconds late",
     Delay},
    {FaultKind::EchoRequestCode, "--fault", "echo-code", Stage::Frame, Only::Any, kNone,
     "the request's code", EchoRequestCode},
    {FaultKind::BadPreamble, "--fault", "bad-preamble", Stage::Frame, Only::Any, kNone, nullptr,
     BadPreamble},
    {FaultKind::BadFrameType, "--fault", "bad-frame-type", Stage::Frame, Only::Any, kNone, nullptr,
     BadFrameType},
    {FaultKind::BadDirection, "--fault", "bad-direction", Stage::Frame, Only::Any, kNone, nullptr,
     BadDirection},
    {FaultKind::BadMagic, "--fault", "bad-magic", Stage::Frame, Only::Any, kNone, nullptr,
     BadMagic},
    {FaultKind::NoTextEnd, "--fault", "no-text-end", Stage::Request, Only::SystemCommand, kNone,
     "system command text without its end", NoTextEnd},
    {FaultKind::ShortDatagram, "--fault", "short", Stage::Datagram, Only::Any, kNone, "9 bytes",
     ShortDatagram},
    {FaultKind::EmptyDatagram, "--fault", "empty", Stage::Datagram, Only::Any, kNone, nullptr,
     EmptyDatagram},
    {FaultKind::OversizeDatagram, "--fault", "oversize", Stage::Datagram, Only::Any, kNone,
     "5000 bytes", OversizeDatagram},
    {FaultKind::OtherAddress, "--fault", "other-address", Stage::Datagram, Only::Any, kNone,
     "answered from --other-address", OtherAddress},
    {LineFault::BadChecksum, "--line-fault", "bad-checksum", Stage::LineBody, Only::Any, kNone,
     nullptr, BadChecksum},
    {LineFault::Noise, "--line-fault", "noise", Stage::Line, Only::Any, kNone,
     "a byte before the Preamble", Noise},
    {LineFault::Pieces, "--line-fault", "pieces", Stage::Line, Only::Any, kNone,
     "three pieces 150 ms apart", Pieces},
    {LineFault::TwoAnswers, "--line-fault", "two-answers", Stage::Line, Only::Any, kNone,
     "the answer twice", TwoAnswers},
    {LineFault::NoTerminator, "--line-fault", "no-terminator", Stage::Line, Only::Any, kNone,
     nullptr, NoTerminator},
};

// A command's key, or "all": none.
std::optional<std::optional<std::uint16_t>> CommandOf(std::string_view key) {
  // Made in place: g++ 12 at -O3 takes an empty inner optional copied in for uninitialised.
  if (key == "all") {
    return std::optional<std::optional<std::uint16_t>>(std::in_place, std::nullopt);
  }
  const CommandInfo* command = FindCommand(key);
  if (command == nullptr) return std::nullopt;
  return std::optional<std::uint16_t>{command->base};
}

std::optional<Fault> ParseOwn(const FaultInfo& info, std::string_view text) {
  const auto pair = SplitPair(text);
  if (info.value.argument == nullptr ? pair.has_value() : !pair.has_value()) return std::nullopt;
  const auto command = CommandOf(pair ? pair->first : text);
  if (!command) return std::nullopt;
  Fault fault{info.kind, *command, 0, false};
  if (pair) {
    const auto value = ParseNumber(pair->second, info.value.min, info.value.max);
    if (!value) return std::nullopt;
    fault.value = static_cast<int>(*value);
  }
  return fault;
}

bool Ours(const FaultInfo& info, std::string_view option) { return option == info.option; }

}  // namespace

bool Carries(Link link, Stage stage) {
  switch (stage) {
    case Stage::Datagram:
      return link == Link::Udp;
    case Stage::LineBody:
    case Stage::Line:
      return link == Link::Serial;
    case Stage::Request:
    case Stage::Frame:
      break;
  }
  return true;
}

void Reply::Damage(Stage stage) {
  for (const Fault& fault : faults) {
    const FaultInfo& info = InfoOf(fault.kind);
    if (info.stage == stage) info.damage(*this, fault.value);
  }
}

std::span<const FaultInfo> Faults() { return kFaults; }

const FaultInfo& InfoOf(const FaultId& kind) {
  return *std::find_if(std::begin(kFaults), std::end(kFaults),
                       [&kind](const FaultInfo& info) { return info.kind == kind; });
}

std::string_view Label(const FaultInfo& info) {
  return info.name != nullptr ? info.name : info.option;
}

std::optional<Fault> ParseFault(std::string_view option, std::string_view text) {
  for (const FaultInfo& info : kFaults) {
    if (!Ours(info, option)) continue;
    if (info.name == nullptr) return ParseOwn(info, text);
    const auto pair = SplitPair(text);
    if (!pair || pair->first != info.name) continue;
    const auto command = CommandOf(pair->second);
    if (!command) return std::nullopt;
    return Fault{info.kind, *command, 0, false};
  }
  return std::nullopt;
}

std::string FaultArgument(std::string_view option, bool withRange) {
  for (const FaultInfo& info : kFaults) {
    if (!Ours(info, option)) continue;
    if (info.name != nullptr) return "KIND=COMMAND";
    if (info.value.argument == nullptr) return "COMMAND";
    const std::string argument = info.value.argument;
    return "COMMAND=" + argument +
           (withRange ? " with " + argument + " from " + std::to_string(info.value.min) + " to " +
                            std::to_string(info.value.max)
                      : "");
  }
  return {};
}

std::string KindList(std::string_view option) {
  std::vector<std::string> kinds;
  for (const FaultInfo& info : kFaults) {
    if (!Ours(info, option) || info.name == nullptr) continue;
    kinds.push_back(info.name + (info.help != nullptr ? std::string(" (") + info.help + ")" : ""));
  }
  std::string list;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == kinds.size() ? " or " : ", ") + kinds[i];
  }
  return list;
}

namespace {

// Why the link cannot carry the fault: the option's KINDs this link does not carry, named
// together; the option alone when the link carries none of them.
std::string LinkRefusal(const FaultInfo& info, Link link) {
  std::vector<std::string_view> names;
  std::size_t kinds = 0;
  for (const FaultInfo& other : kFaults) {
    if (!Ours(other, info.option)) continue;
    ++kinds;
    if (!Carries(link, other.stage)) names.push_back(Label(other));
  }
  std::string text = info.option;
  if (names.size() == kinds) {
    text += " damages";
  } else {
    for (std::size_t i = 0; i < names.size(); ++i) {
      text += std::string(i == 0                  ? " "
                          : i + 1 == names.size() ? " and "
                                                  : ", ") +
              std::string(names[i]);
    }
    text += names.size() > 1 ? " damage" : " damages";
  }
  return text + (link == Link::Serial
                     ? " datagrams, which a serial line does not carry (see --line-fault)"
                     : " the serial line: give --serial or --serial-device");
}

}  // namespace

std::string FaultRefusal(const Fault& fault, Link link) {
  const FaultInfo& info = InfoOf(fault.kind);
  if (!Carries(link, info.stage)) return LinkRefusal(info, link);
  const CommandInfo* command = fault.command ? FindCommand(*fault.command) : nullptr;
  if (info.only == Only::ResultByte && command != nullptr && !command->hasResult) {
    return std::string("the ") + command->key + " command's answer has no result byte (" +
           info.option + " " + command->key + ")";
  }
  if (info.only == Only::SystemCommand && command != nullptr && command->base != CMD_SYSTEMCMD) {
    return std::string(Label(info)) + " damages the system command's answer text only";
  }
  return {};
}

std::vector<Fault> TakeFaultsFor(std::vector<Fault>& faults, std::uint16_t base) {
  std::vector<Fault> applied;
  for (auto it = faults.begin(); it != faults.end();) {
    if (it->command && *it->command != base) {
      ++it;
      continue;
    }
    applied.push_back(*it);
    it = it->once ? faults.erase(it) : it + 1;
  }
  return applied;
}

}  // namespace sim
