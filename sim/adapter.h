// The emulated adapter's protocol core: one request frame in, the answer frame (or none) out; no I/O.
//
// Transports strip their link wrapping, hand the bare frame to Adapter::Handle, and wrap the
// Reply's frame for the way back after its delay, damaged by the faults of their link
// (faults.h). New commands are rows of the command table in adapter.cpp.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/faults.h"
#include "sim/recent.h"

namespace sim {

using Mac = std::array<std::uint8_t, 6>;
using Ipv4 = std::array<std::uint8_t, 4>;

// The longest system command reply text: with its NUL and fill it still fits the tools' frame
// buffer behind the datagram's leading bytes and the frame header.
inline constexpr std::size_t kMaxReplyText = 4096 - 2 - 28 - 4;

// Result codes this adapter answers with on its own (a fault can ask for any other).
inline constexpr std::uint8_t kResultOk = 0;
// Relay: no adapter with the requested MAC address is in the powerline network.
inline constexpr std::uint8_t kResultUnknownRemote = 2;
// Relay: the nested request is no well-formed Get Status request.
inline constexpr std::uint8_t kResultBadInnerRequest = 3;
// Firmware update: a block out of order, with wrong counts or fill, or beyond the image size.
inline constexpr std::uint8_t kResultBadFirmwareBlock = 4;

// The status record an adapter reports about itself (Get Status; also a remote adapter's).
struct StatusProfile {
  bool master = true;
  bool authenticated = true;  // reported only in terminal mode
  Mac mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  Mac masterMac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x00};  // reported only in terminal mode
  std::uint8_t registeredInfo = 1;
  std::uint8_t etherLinkUp = 1;
  std::uint16_t etherSpdDpx = 100;
  std::uint8_t multipleMode = 0;
  std::string mainVersion = "EMU-MAIN 1.0.0";  // at most 63 characters are kept
  std::string bootVersion = "EMU-BOOT 1.0";    // at most 31 characters are kept
  std::uint8_t beaconStatus = 1;
};

// The identity record of Info Resolution.
struct IdentityProfile {
  Mac mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  Ipv4 ip = {192, 168, 0, 249};
  Ipv4 subnetMask = {255, 255, 255, 0};
  std::uint32_t commandVersion = 0x00000100;
  std::string modelName = "PLC-EMULATOR";  // at most 15 characters are kept
  std::uint32_t optionFlag = 0;
};

// Another adapter of the powerline network, reached through the relay command.
struct RemoteAdapter {
  StatusProfile status;
  std::uint8_t result = kResultOk;  // the remote adapter's own result for Get Status
};

struct FirmwareSettings {
  // The block with this number is refused with rejectResult (and not taken into the image).
  std::optional<std::uint16_t> rejectBlock;
  std::uint8_t rejectResult = 1;
  // Extra time before the answer to the last block, as when the adapter writes its memory.
  std::chrono::milliseconds lastBlockDelay{0};
  // Called with the whole image when its last block has arrived (for example to write a file).
  std::function<void(std::span<const std::uint8_t>)> onImage;
};

// Everything the adapter answers from.
struct AdapterProfile {
  StatusProfile status;
  IdentityProfile identity;
  std::map<Mac, RemoteAdapter> remotes;
  std::map<std::string, std::string, std::less<>> systemReplies;  // command line -> reply text
  FirmwareSettings firmware;
};

// One command of the table: its base code, a short key for options and logs, and its name.
struct CommandInfo {
  std::uint16_t base;
  const char* key;
  const char* name;
  bool hasResult;  // whether data byte 0 of the answer is a result byte
};

// The commands this adapter answers, in table order.
std::span<const CommandInfo> Commands();
const CommandInfo* FindCommand(std::uint16_t base);
const CommandInfo* FindCommand(std::string_view key);

// The 120-byte status record; with a non-zero result only the result byte is set.
Bytes StatusRecord(const StatusProfile& profile, std::uint8_t result = kResultOk);
// The 40-byte identity record.
Bytes IdentityRecord(const IdentityProfile& profile);
// A frame (no link wrapping) with a full header and the given data.
Bytes MakeFrame(std::uint16_t direction, std::uint16_t code, std::span<const std::uint8_t> data);

// The emulated adapter. Thread-safe: a transport thread calls Handle while a test thread
// configures it and reads what it recorded.
class Adapter {
 public:
  explicit Adapter(AdapterProfile profile = {});

  // Changes the profile under the adapter's lock.
  void Configure(const std::function<void(AdapterProfile&)>& change);
  void AddFault(const Fault& fault);
  void ClearFaults();

  // Answers one request frame (from its Preamble on; bytes past its FrameLength are ignored).
  // No answer for a frame that is no well-formed request or carries an unknown command, nor
  // when a fault says so. Every call is recorded first. The reply carries the command's faults,
  // those of the request and the frame applied; the transport applies those of its link.
  std::optional<Reply> Handle(std::span<const std::uint8_t> request);

  // What the adapter saw, for tests and logs. Only the most recent entries are kept, so a
  // long-running emulator holds its memory flat; the counts cover everything.
  static constexpr std::size_t kKeptRequests = 256;
  static constexpr std::size_t kKeptViolations = 64;
  static constexpr std::size_t kKeptImages = 2;
  std::vector<Bytes> Requests() const;          // the frames last handed to Handle, in order
  std::size_t RequestCount() const;             // all frames handed to Handle
  std::vector<std::string> Violations() const;  // the firmware protocol violations last seen
  std::vector<Bytes> Images() const;            // the firmware images last completed

 private:
  struct Transfer {
    std::uint16_t nextBlock = 0;
    Bytes image;
  };
  // What the handlers of the command table see.
  struct Context {
    std::span<const std::uint8_t> data;  // request data
    Reply& reply;
  };
  using Handler = Bytes (Adapter::*)(Context&);
  struct Command {
    CommandInfo info;
    Handler handler;
  };
  static const std::array<Command, 6> kTable;
  friend std::span<const CommandInfo> Commands();

  Bytes AnswerStatus(Context& c);
  Bytes AnswerIdentity(Context& c);
  Bytes AnswerRelay(Context& c);
  Bytes AnswerFirmware(Context& c);
  Bytes AnswerSystemCommand(Context& c);
  Bytes AnswerRestart(Context& c);

  Bytes RejectBlock(std::string violation);

  mutable std::mutex mutex_;
  AdapterProfile profile_;
  std::vector<Fault> faults_;
  Recent<Bytes> requests_{kKeptRequests};
  Recent<std::string> violations_{kKeptViolations};
  Recent<Bytes> images_{kKeptImages};
  Transfer transfer_;
};

}  // namespace sim
