// The emulated adapter: request checks, the command table, answers and faults.
#include "sim/adapter.h"

#include <algorithm>
#include <cstring>

#include "extcmd/firmware_block.h"
#include "extcmd/frame.h"
#include "extcmd/records.h"

namespace sim {
namespace {

namespace st = status_record;
namespace id = identity_record;

// The most blocks an image the tools send can have.
constexpr std::size_t kFirmwareMaxBlocks = FW_IMAGE_MAX / FW_BLOCK_SIZE;

// The answer datagram must fit the tools' 4096-byte buffer behind its 2 leading bytes.
constexpr std::size_t kMaxAnswerData = 4096 - 2 - frame::kHeaderSize;

// Copies a text into a fixed span, always leaving room for its terminating NUL.
void PutText(Bytes& record, std::size_t offset, std::size_t span, const std::string& text) {
  const std::size_t n = std::min(text.size(), span - 1);
  std::memcpy(record.data() + offset, text.data(), n);
}

// A result byte and three zero bytes: the answer of a command that reports only its result.
Bytes ResultOnly(std::uint8_t result) { return Bytes{result, 0, 0, 0}; }

// The request's data, or nothing when the bytes are no well-formed request frame.
std::optional<std::span<const std::uint8_t>> RequestData(std::span<const std::uint8_t> f) {
  if (f.size() < frame::kHeaderSize) return std::nullopt;
  if (!std::equal(frame::kPreamble.begin(), frame::kPreamble.end(), f.begin()) ||
      f[frame::kOffFrameType] != frame::kFrameType ||
      frame::Get16(&f[frame::kOffDirection]) != frame::kDirRequest ||
      frame::Get32(&f[frame::kOffMagic]) != frame::kMagic ||
      (frame::Get16(&f[frame::kOffCommand]) & 1) == 0) {
    return std::nullopt;
  }
  const std::size_t frameLength = frame::Get16(&f[frame::kOffFrameLength]);
  const std::size_t end = frame::kFrameLengthBase + frameLength;
  if (end < frame::kHeaderSize || end > f.size()) return std::nullopt;
  return f.subspan(frame::kHeaderSize, end - frame::kHeaderSize);
}

}  // namespace

const std::array<Adapter::Command, 6> Adapter::kTable = {{
    {{CMD_GET_STATUS, "status", "Get Status", true}, &Adapter::AnswerStatus},
    {{CMD_INFO_RESOLUTION, "info", "Info Resolution", true}, &Adapter::AnswerIdentity},
    {{CMD_RELAY, "relay", "Relay", true}, &Adapter::AnswerRelay},
    {{CMD_FW_UPDATE, "firmware", "Firmware update", true}, &Adapter::AnswerFirmware},
    {{CMD_SYSTEMCMD, "system", "System command", false}, &Adapter::AnswerSystemCommand},
    {{CMD_RESET_SYS, "restart", "Restart", true}, &Adapter::AnswerRestart},
}};

std::span<const CommandInfo> Commands() {
  static const auto infos = [] {
    std::array<CommandInfo, Adapter::kTable.size()> a{};
    std::transform(Adapter::kTable.begin(), Adapter::kTable.end(), a.begin(),
                   [](const Adapter::Command& c) { return c.info; });
    return a;
  }();
  return infos;
}

const CommandInfo* FindCommand(std::uint16_t base) {
  const auto all = Commands();
  const auto it =
      std::find_if(all.begin(), all.end(), [base](const CommandInfo& c) { return c.base == base; });
  return it == all.end() ? nullptr : &*it;
}

const CommandInfo* FindCommand(std::string_view key) {
  const auto all = Commands();
  const auto it =
      std::find_if(all.begin(), all.end(), [key](const CommandInfo& c) { return key == c.key; });
  return it == all.end() ? nullptr : &*it;
}

Bytes StatusRecord(const StatusProfile& p, std::uint8_t result) {
  Bytes r(STATUS_RECORD_SIZE, 0);
  r[0] = result;
  if (result != kResultOk) return r;
  r[st::kRegisteredInfo] = p.registeredInfo;
  r[st::kEtherLinkUp] = p.etherLinkUp;
  frame::Put16(&r[st::kEtherSpdDpx], p.etherSpdDpx);
  r[st::kMultipleMode] = p.multipleMode;
  r[st::kAuthenticated] = p.authenticated ? 1 : 0;
  std::copy(p.mac.begin(), p.mac.end(), r.begin() + st::kMacAddress);
  PutText(r, st::kMainVersion, st::kMainVersionSize, p.mainVersion);
  PutText(r, st::kBootVersion, st::kBootVersionSize, p.bootVersion);
  r[st::kBeaconStatus] = p.beaconStatus;
  r[st::kModeFlags] = p.master ? 1 : 0;
  std::copy(p.masterMac.begin(), p.masterMac.end(), r.begin() + st::kMasterMacAddress);
  return r;
}

Bytes IdentityRecord(const IdentityProfile& p) {
  Bytes r(IDENTITY_RECORD_SIZE, 0);
  std::copy(p.mac.begin(), p.mac.end(), r.begin() + id::kMacAddress);
  std::copy(p.ip.begin(), p.ip.end(), r.begin() + id::kIpAddress);
  std::copy(p.subnetMask.begin(), p.subnetMask.end(), r.begin() + id::kSubnetMask);
  frame::Put32(&r[id::kCommandVersion], p.commandVersion);
  PutText(r, id::kModelName, id::kModelNameSize, p.modelName);
  frame::Put32(&r[id::kOptionFlag], p.optionFlag);
  return r;
}

Bytes MakeFrame(std::uint16_t direction, std::uint16_t code, std::span<const std::uint8_t> data) {
  Bytes f(frame::kHeaderSize + data.size(), 0);
  frame::WriteHeader(f.data(), direction, code);
  frame::SetLengths(f.data(), static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), f.begin() + frame::kHeaderSize);
  return f;
}

Adapter::Adapter(AdapterProfile profile) : profile_(std::move(profile)) {}

void Adapter::Configure(const std::function<void(AdapterProfile&)>& change) {
  const std::lock_guard lock(mutex_);
  change(profile_);
}

void Adapter::AddFault(const Fault& fault) {
  const std::lock_guard lock(mutex_);
  faults_.push_back(fault);
}

void Adapter::ClearFaults() {
  const std::lock_guard lock(mutex_);
  faults_.clear();
}

std::vector<Bytes> Adapter::Requests() const {
  const std::lock_guard lock(mutex_);
  return requests_.Kept();
}

std::size_t Adapter::RequestCount() const {
  const std::lock_guard lock(mutex_);
  return requests_.Total();
}

std::vector<std::string> Adapter::Violations() const {
  const std::lock_guard lock(mutex_);
  return violations_.Kept();
}

std::vector<Bytes> Adapter::Images() const {
  const std::lock_guard lock(mutex_);
  return images_.Kept();
}

std::optional<Reply> Adapter::Handle(std::span<const std::uint8_t> request) {
  const std::lock_guard lock(mutex_);
  requests_.Add(Bytes(request.begin(), request.end()));

  const auto data = RequestData(request);
  if (!data) return std::nullopt;
  const std::uint16_t requestCode = frame::Get16(&request[frame::kOffCommand]);
  const auto base = static_cast<std::uint16_t>(requestCode & ~1u);
  const auto command = std::find_if(kTable.begin(), kTable.end(),
                                    [base](const Command& c) { return c.info.base == base; });
  if (command == kTable.end()) return std::nullopt;

  Reply reply;
  reply.requestCode = requestCode;
  reply.faults = TakeFaultsFor(faults_, base);
  reply.Damage(Stage::Request);
  if (reply.silent) return std::nullopt;
  Context context{*data, reply};
  // A refusal: the command itself is not carried out.
  const Bytes answerData = reply.refusal && command->info.hasResult
                               ? ResultOnly(*reply.refusal)
                               : (this->*command->handler)(context);
  reply.frame = MakeFrame(frame::kDirAnswer, frame::AnswerCode(requestCode), answerData);
  reply.Damage(Stage::Frame);
  return reply;
}

Bytes Adapter::AnswerStatus(Context&) { return StatusRecord(profile_.status); }

Bytes Adapter::AnswerIdentity(Context&) { return IdentityRecord(profile_.identity); }

// Data 0: the local result; 1-19: zero; 20: the remote adapter's answer frame, its status record
// as data. Nothing follows the result when the relay itself fails.
Bytes Adapter::AnswerRelay(Context& c) {
  const std::span<const std::uint8_t> d = c.data;
  if (d.size() < frame::kRelayHeaderSize + frame::kHeaderSize) {
    return ResultOnly(kResultBadInnerRequest);
  }
  Mac remoteMac{};
  std::copy_n(d.begin() + relay_header::kRemoteMac, remoteMac.size(), remoteMac.begin());
  const auto remote = profile_.remotes.find(remoteMac);
  if (remote == profile_.remotes.end()) return ResultOnly(kResultUnknownRemote);

  const auto inner = d.subspan(frame::kRelayHeaderSize);
  const auto innerData = RequestData(inner);
  const std::uint16_t innerCode = frame::Get16(&inner[frame::kOffCommand]);
  if (!innerData || innerCode != (CMD_GET_STATUS | 1)) return ResultOnly(kResultBadInnerRequest);

  const Bytes record = StatusRecord(remote->second.status, remote->second.result);
  const Bytes innerAnswer = MakeFrame(frame::kDirAnswer, frame::AnswerCode(innerCode), record);
  Bytes answer(frame::kRelayHeaderSize, 0);
  answer.insert(answer.end(), innerAnswer.begin(), innerAnswer.end());
  return answer;
}

Bytes Adapter::RejectBlock(std::string violation) {
  violations_.Add(std::move(violation));
  transfer_ = {};
  return ResultOnly(kResultBadFirmwareBlock);
}

Bytes Adapter::AnswerFirmware(Context& c) {
  const std::span<const std::uint8_t> d = c.data;
  if (d.size() != FW_BLOCK_RECORD_SIZE) {
    return RejectBlock("block of " + std::to_string(d.size()) + " data bytes, " +
                       std::to_string(FW_BLOCK_RECORD_SIZE) + " expected");
  }
  const FirmwareBlock received = fwblock::Read(d.first<FW_BLOCK_RECORD_SIZE>());
  const std::uint16_t number = received.BlockNumber;
  const std::uint16_t more = received.MoreFollows;
  const std::uint32_t count = received.ByteCount;
  const FirmwareSettings& settings = profile_.firmware;
  if (settings.rejectBlock && *settings.rejectBlock == number) {
    transfer_ = {};
    return ResultOnly(settings.rejectResult);
  }
  // Block 0 always starts a new transfer: the tool begins every attempt with it.
  if (number == 0) transfer_ = {};
  const std::string block = "block " + std::to_string(number) + ": ";
  if (number != transfer_.nextBlock) {
    return RejectBlock(block + "block " + std::to_string(transfer_.nextBlock) + " expected");
  }
  if (number >= kFirmwareMaxBlocks) return RejectBlock(block + "beyond the largest image");
  if (more > 1) return RejectBlock(block + "MoreFollows " + std::to_string(more));
  if (count == 0 || count > FW_BLOCK_SIZE) {
    return RejectBlock(block + "ByteCount " + std::to_string(count));
  }
  if (more == 1 && count != FW_BLOCK_SIZE) {
    return RejectBlock(block + "ByteCount " + std::to_string(count) + " before the last block");
  }
  const auto image = d.subspan(FW_BLOCK_RECORD_SIZE - FW_BLOCK_SIZE);
  if (more == 0 &&
      !std::all_of(image.begin() + count, image.end(), [](std::uint8_t b) { return b == 0xFF; })) {
    return RejectBlock(block + "the last block is not filled with FF");
  }

  transfer_.image.insert(transfer_.image.end(), image.begin(), image.begin() + count);
  ++transfer_.nextBlock;
  if (more == 0) {
    images_.Add(std::move(transfer_.image));
    transfer_ = {};
    if (settings.onImage) settings.onImage(images_.Last());
    c.reply.delay += settings.lastBlockDelay;
  }
  return ResultOnly(kResultOk);
}

// The answer is the reply text and its NUL, padded with zero bytes to a multiple of 4; it
// carries no result byte.
Bytes Adapter::AnswerSystemCommand(Context& c) {
  const auto* text = reinterpret_cast<const char*>(c.data.data());
  const std::string line(text, strnlen(text, c.data.size()));
  const auto known = profile_.systemReplies.find(line);
  std::string reply = known != profile_.systemReplies.end() ? known->second : "done: " + line;
  if (c.reply.textWithoutEnd) {
    reply.resize(std::min(reply.size(), kMaxAnswerData));
    return Bytes(reply.begin(), reply.end());
  }
  reply.resize(std::min(reply.size(), kMaxReplyText));
  Bytes answer(reply.begin(), reply.end());
  answer.resize((answer.size() + 1 + 3) / 4 * 4, 0);
  return answer;
}

Bytes Adapter::AnswerRestart(Context&) { return ResultOnly(kResultOk); }

}  // namespace sim
