// The protocol steps of each adapter command, on the command interface object.
#include "extcmd/commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "extcmd/firmware_block.h"
#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"

namespace commands {
namespace {

namespace st = status_record;
namespace id = identity_record;

// The relay request is started with room for a 28-byte inner header and 1440 data bytes, and
// the adapter is told that size as the longest relayed frame.
constexpr int kRelayDataLength = 1440;
constexpr std::uint32_t kRelayMaxLength = frame::kHeaderSize + kRelayDataLength;  // 1468
// Get Status, the restart and the relayed Get Status carry 4 zero data bytes.
constexpr int kPlainDataLength = 4;
// FrameLength counts the header bytes from offset 12 on, 16 of them, before the data.
constexpr std::size_t kFrameLengthOverData = frame::kHeaderSize - frame::kFrameLengthBase;

Mac ReadMac(const std::uint8_t* p) {
  Mac m{};
  std::copy(p, p + m.size(), m.begin());
  return m;
}

// A text field ends at its first NUL, or at the end of its span when it fills it.
std::string ReadText(const std::uint8_t* text, std::size_t span) {
  const auto* chars = reinterpret_cast<const char*>(text);
  return {chars, strnlen(chars, span)};
}

Failure LinkFailure(C_ZANTO_EXTCMD_IF& extcmd) { return {extcmd.GetErrorCode(), 0}; }

// The one exchange of a command whose answer starts with the adapter's result byte: its data
// area when the adapter accepted, else why not.
std::variant<const std::uint8_t*, Failure> ExchangeAccepted(C_ZANTO_EXTCMD_IF& extcmd) {
  if (!extcmd.Transact(0)) return LinkFailure(extcmd);
  const std::uint8_t* data = extcmd.GetData();
  if (data[0] != 0) return Failure{ERR_RESULT, data[0]};
  return data;
}

// Length of the System Command answer text: up to its first NUL, and never past the answer's
// data as its FrameLength gives it or past the frame buffer. The receive clears the buffer
// first, so the bytes behind a short datagram are 0 and end the text there too.
std::size_t AnswerTextLength(C_ZANTO_EXTCMD_IF& extcmd) {
  const std::uint8_t* data = extcmd.GetData();
  const std::size_t frameLength = frame::Get16(extcmd.m_pFrame + frame::kOffFrameLength);
  const std::size_t claimed =
      frameLength > kFrameLengthOverData ? frameLength - kFrameLengthOverData : 0;
  const auto inBuffer = static_cast<std::size_t>(extcmd.m_Buffer + sizeof extcmd.m_Buffer - data);
  const std::size_t bound = std::min(claimed, inBuffer);
  return static_cast<std::size_t>(std::find(data, data + bound, 0) - data);
}

// Sets the caller's default time-out however a transfer ends, also when the caller's progress
// ends it by an exception.
class TimeoutRestore {
 public:
  TimeoutRestore(C_ZANTO_EXTCMD_IF& extcmd, int defaultTimeoutMs)
      : extcmd_(extcmd), saved_(defaultTimeoutMs) {}
  ~TimeoutRestore() { extcmd_.m_nTimeout = saved_; }
  TimeoutRestore(const TimeoutRestore&) = delete;
  TimeoutRestore& operator=(const TimeoutRestore&) = delete;

 private:
  C_ZANTO_EXTCMD_IF& extcmd_;
  std::int32_t saved_;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool Failure::Refused() const { return code == ERR_RESULT; }

StatusRecord ReadStatusRecord(const std::uint8_t* r) {
  StatusRecord s;
  s.master = (r[st::kModeFlags] & 1) != 0;
  s.authenticated = r[st::kAuthenticated] == 1;
  s.mac = ReadMac(r + st::kMacAddress);
  s.masterMac = ReadMac(r + st::kMasterMacAddress);
  s.registeredInfo = r[st::kRegisteredInfo];
  s.etherLinkUp = r[st::kEtherLinkUp];
  s.etherSpdDpx = frame::Get16(r + st::kEtherSpdDpx);
  s.multipleMode = r[st::kMultipleMode];
  s.mainVersion = ReadText(r + st::kMainVersion, st::kMainVersionSize);
  s.bootVersion = ReadText(r + st::kBootVersion, st::kBootVersionSize);
  s.beaconStatus = r[st::kBeaconStatus];
  return s;
}

IdentityRecord ReadIdentityRecord(const std::uint8_t* r) {
  IdentityRecord i;
  i.mac = ReadMac(r + id::kMacAddress);
  std::copy(r + id::kIpAddress, r + id::kIpAddress + 4, i.ip.begin());
  std::copy(r + id::kSubnetMask, r + id::kSubnetMask + 4, i.subnetMask.begin());
  i.commandVersion = frame::Get32(r + id::kCommandVersion);
  i.modelName = ReadText(r + id::kModelName, id::kModelNameSize);
  i.optionFlag = frame::Get32(r + id::kOptionFlag);
  return i;
}

Outcome<StatusRecord> GetStatus(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_GET_STATUS, kPlainDataLength);
  const auto answer = ExchangeAccepted(extcmd);
  if (const auto* failure = std::get_if<Failure>(&answer)) return *failure;
  return ReadStatusRecord(std::get<const std::uint8_t*>(answer));
}

Outcome<IdentityRecord> InfoResolution(C_ZANTO_EXTCMD_IF& extcmd, std::uint32_t address) {
  extcmd.MakeCommand(CMD_INFO_RESOLUTION, kPlainDataLength);
  std::memcpy(extcmd.GetData(), &address, sizeof address);
  const auto answer = ExchangeAccepted(extcmd);
  if (const auto* failure = std::get_if<Failure>(&answer)) return *failure;
  return ReadIdentityRecord(std::get<const std::uint8_t*>(answer));
}

Outcome<StatusRecord> RemoteStatus(C_ZANTO_EXTCMD_IF& extcmd, const Mac& remote,
                                   std::uint16_t waitTime) {
  extcmd.MakeCommand(CMD_RELAY, kRelayDataLength);
  std::uint8_t* d = extcmd.GetData();
  std::copy(remote.begin(), remote.end(), d + relay_header::kRemoteMac);
  frame::Put16(d + relay_header::kWaitTime, waitTime);
  frame::Put32(d + relay_header::kRelayMaxLength, kRelayMaxLength);
  // The inner Get Status data are four zero bytes, left so by MakeCommand.
  extcmd.MakeRelayCommand(CMD_GET_STATUS, kPlainDataLength);
  // The local adapter's result first, then the remote one's in the nested answer; only the
  // outer answer is checked, the inner answer's header is taken as it comes.
  const auto answer = ExchangeAccepted(extcmd);
  if (const auto* failure = std::get_if<Failure>(&answer)) return *failure;
  std::uint8_t* inner = nullptr;
  extcmd.GetRelayResponse(&inner);
  const std::uint8_t* record = inner + frame::kHeaderSize;
  if (record[st::kResult] != 0) return Failure{ERR_RESULT, record[st::kResult]};
  return ReadStatusRecord(record);
}

ImageRead ReadImage(const char* name, std::vector<std::uint8_t>& image) {
  const File file(std::fopen(name, "rb"));
  if (!file) return ImageRead::OpenError;
  image.resize(FW_IMAGE_MAX);
  const std::size_t n = std::fread(image.data(), 1, image.size(), file.get());
  if (n == 0 || std::ferror(file.get())) return ImageRead::ReadError;
  image.resize(n);
  return ImageRead::Ok;
}

std::variant<FirmwareSent, FirmwareFailure> UpdateFirmware(C_ZANTO_EXTCMD_IF& extcmd,
                                                           std::span<const std::uint8_t> image,
                                                           FirmwareProgress& progress,
                                                           int defaultTimeoutMs) {
  const TimeoutRestore restore(extcmd, defaultTimeoutMs);
  const std::size_t blocks = fwblock::BlockCount(image.size());
  FirmwareSent sent;
  for (std::size_t k = 0; k < blocks; ++k) {
    progress.BeforeBlock(k, blocks);
    extcmd.MakeCommand(CMD_FW_UPDATE, static_cast<int>(FW_BLOCK_RECORD_SIZE));
    const FirmwareBlock block = fwblock::BlockOf(image, k);
    fwblock::Write(block, std::span<std::uint8_t, FW_BLOCK_RECORD_SIZE>(extcmd.GetData(),
                                                                        FW_BLOCK_RECORD_SIZE));
    if (block.MoreFollows == 0) extcmd.m_nTimeout = kLastBlockTimeoutMs;
    const auto answer = ExchangeAccepted(extcmd);
    if (const auto* failure = std::get_if<Failure>(&answer)) {
      return FirmwareFailure{*failure, sent, k};
    }
    ++sent.blocks;
    sent.bytes += block.ByteCount;
    progress.Accepted(k, blocks);
  }
  return sent;
}

int PadCommandText(std::uint8_t* data, std::size_t textLength) {
  std::size_t n = textLength + 1;  // the text and its NUL
  while (n % 4 != 0) data[n++] = 0xFF;
  return static_cast<int>(n);
}

Outcome<std::string> SystemCommand(C_ZANTO_EXTCMD_IF& extcmd, std::string_view line) {
  extcmd.MakeCommand(CMD_SYSTEMCMD, static_cast<int>(kSystemCommandMax));
  std::uint8_t* data = extcmd.GetData();
  const std::size_t length = std::min(line.size(), kSystemCommandMax);
  std::memcpy(data, line.data(), length);
  data[length] = 0;
  // The text goes as it was given, up to a NUL inside it, as a C string would.
  extcmd.SetDataLength(PadCommandText(data, std::strlen(reinterpret_cast<const char*>(data))));
  if (!extcmd.Transact(0)) return LinkFailure(extcmd);
  // This answer has no result byte: whatever text comes back is the answer, also an empty one.
  return std::string(reinterpret_cast<const char*>(extcmd.GetData()), AnswerTextLength(extcmd));
}

Outcome<RestartConfirmed> Restart(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_RESET_SYS, kPlainDataLength);
  const auto answer = ExchangeAccepted(extcmd);
  if (const auto* failure = std::get_if<Failure>(&answer)) return *failure;
  return RestartConfirmed{};
}

}  // namespace commands
