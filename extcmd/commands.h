// The protocol steps of each adapter command: its request, its checks, what its answer carries
// and its time-outs, used alike by the interactive tools' handlers and by the script tool.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "extcmd/records.h"

class C_ZANTO_EXTCMD_IF;

namespace commands {

// How long an answer may take: the maintenance tool's commands, the command tool's commands, and
// the last firmware block, whose answer waits for the adapter to write the image to memory.
inline constexpr int kSampleTimeoutMs = 5000;
inline constexpr int kTarvikTimeoutMs = 10000;
inline constexpr int kLastBlockTimeoutMs = 30000;
// The pauses after a command the adapter needs before it answers again: writing the firmware
// into memory after the last block, and starting up after a confirmed restart.
inline constexpr std::uint32_t kWriteMemoryPauseMs = 10000;
inline constexpr std::uint32_t kRestartPauseMs = 8000;

// Longest system command line the adapter takes, in characters.
inline constexpr std::size_t kSystemCommandMax = 1024;
// Range of the relay's waitTime, in steps of 100 ms.
inline constexpr int kWaitTimeMin = 1;
inline constexpr int kWaitTimeMax = 4095;

using Mac = std::array<std::uint8_t, 6>;

// Why a command failed: the object's code of a failed exchange, or ERR_RESULT (10207) with the
// adapter's result byte when it answered and refused.
struct Failure {
  int code = 0;
  std::uint8_t result = 0;  // meaningful with ERR_RESULT only
  bool Refused() const;
};

// What a command's answer carried, or why it failed.
template <class T>
class Outcome {
 public:
  Outcome(T value) : v_(std::move(value)) {}  // NOLINT: an answer reads as its outcome
  Outcome(Failure failure) : v_(failure) {}   // NOLINT: so does a failure
  bool ok() const { return std::holds_alternative<T>(v_); }
  explicit operator bool() const { return ok(); }
  const T& value() const { return std::get<T>(v_); }
  const T* operator->() const { return &value(); }
  const Failure& failure() const { return std::get<Failure>(v_); }

 private:
  std::variant<T, Failure> v_;
};

// The status record of Get Status (also relayed from a remote adapter).
struct StatusRecord {
  bool master = false;         // ModeFlags bit 0
  bool authenticated = false;  // Authenticated is 1; read in terminal mode only
  Mac mac{};
  Mac masterMac{};  // read in terminal mode only
  std::uint8_t registeredInfo = 0;
  std::uint8_t etherLinkUp = 0;
  std::uint16_t etherSpdDpx = 0;
  std::uint8_t multipleMode = 0;
  std::string mainVersion;  // up to the first NUL, or the whole span
  std::string bootVersion;
  std::uint8_t beaconStatus = 0;
};
// The fields of a status record's bytes (STATUS_RECORD_SIZE of them from record).
StatusRecord ReadStatusRecord(const std::uint8_t* record);

// The adapter identity record of PLC Info Resolution.
struct IdentityRecord {
  Mac mac{};
  std::array<std::uint8_t, 4> ip{};  // first number first
  std::array<std::uint8_t, 4> subnetMask{};
  std::uint32_t commandVersion = 0;
  std::string modelName;
  std::uint32_t optionFlag = 0;
};
IdentityRecord ReadIdentityRecord(const std::uint8_t* record);

// Each command makes its request in the object's buffer, runs one exchange (Transact) and checks
// the answer; the link must be open. Nothing is printed.

// Get Status of the adapter at the other end of the link.
Outcome<StatusRecord> GetStatus(C_ZANTO_EXTCMD_IF& extcmd);

// PLC Info Resolution for an IPv4 address in network order (as the socket API's conversion
// gives it).
Outcome<IdentityRecord> InfoResolution(C_ZANTO_EXTCMD_IF& extcmd, std::uint32_t address);

// Get Status of another adapter of the powerline network through the relay; waitTime in 100 ms
// steps (kWaitTimeMin to kWaitTimeMax). The local adapter's refusal and the remote adapter's
// both fail with ERR_RESULT and their result byte.
Outcome<StatusRecord> RemoteStatus(C_ZANTO_EXTCMD_IF& extcmd, const Mac& remote,
                                   std::uint16_t waitTime);

enum class ImageRead { Ok, OpenError, ReadError };
// Reads a firmware image file as raw bytes, with one read of at most FW_IMAGE_MAX bytes. A read
// that fails (rather than ends) counts as a read error even after some bytes: a cut image must
// never go out as if it were whole; so does an empty file.
ImageRead ReadImage(const char* name, std::vector<std::uint8_t>& image);

// What the caller learns while an image goes out; the default does nothing.
class FirmwareProgress {
 public:
  virtual ~FirmwareProgress() = default;
  // Before block k (of `blocks`) is built and sent; the last block waits kLastBlockTimeoutMs.
  virtual void BeforeBlock(std::size_t k, std::size_t blocks) {
    static_cast<void>(k);
    static_cast<void>(blocks);
  }
  // Block k (of `blocks`) was accepted.
  virtual void Accepted(std::size_t k, std::size_t blocks) {
    static_cast<void>(k);
    static_cast<void>(blocks);
  }
};

struct FirmwareSent {
  std::size_t blocks = 0;  // accepted blocks
  std::size_t bytes = 0;   // image bytes in them
};
// Why a transfer stopped, and at which block.
struct FirmwareFailure {
  Failure failure;
  FirmwareSent sent;  // what was accepted before
  std::size_t block = 0;
};
// Sends every block of the image (1 to FW_IMAGE_MAX bytes), each after the previous one was
// accepted. The last block's answer may take kLastBlockTimeoutMs; on every way out the object's
// time-out is set to the caller's default, defaultTimeoutMs. The pause after the last block (kWriteMemoryPauseMs) is the
// caller's.
std::variant<FirmwareSent, FirmwareFailure> UpdateFirmware(C_ZANTO_EXTCMD_IF& extcmd,
                                                           std::span<const std::uint8_t> image,
                                                           FirmwareProgress& progress,
                                                           int defaultTimeoutMs);

// One system command line (1 to kSystemCommandMax characters); its answer carries no result
// byte, only the text, which ends at its first NUL and never beyond the answer received.
Outcome<std::string> SystemCommand(C_ZANTO_EXTCMD_IF& extcmd, std::string_view line);

// Ends a command text of textLength characters, already followed by its NUL in data, with 0xFF
// bytes up to the next multiple of 4 and returns the data length that results (4 to 1028).
int PadCommandText(std::uint8_t* data, std::size_t textLength);

// The restart (reset_sys); success when the adapter confirms. The pause while it restarts
// (kRestartPauseMs) is the caller's.
struct RestartConfirmed {};
Outcome<RestartConfirmed> Restart(C_ZANTO_EXTCMD_IF& extcmd);

}  // namespace commands
