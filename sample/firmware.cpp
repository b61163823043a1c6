// Update Firmware: streams an image file to the adapter in numbered 1024-byte blocks.
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

#include "console/console.h"
#include "extcmd/firmware_block.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sample/handlers.h"

namespace {

constexpr int kFileNameMax = 1024;
constexpr int kDefaultTimeoutMs = 5000;
// Writing the image into the adapter's memory takes long: the last block's answer waits for it.
constexpr int kLastBlockTimeoutMs = 30000;
constexpr std::uint32_t kWriteMemoryPauseMs = 10000;  // the adapter writes the image to memory

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

enum class ImageRead { Ok, OpenError, ReadError };

// One read of at most FW_IMAGE_MAX raw bytes. A read that fails (rather than ends) counts as a
// read error even after some bytes: a cut image must never go out as if it were whole.
ImageRead ReadImage(const char* name, std::vector<std::uint8_t>& image) {
  const File file(std::fopen(name, "rb"));
  if (!file) return ImageRead::OpenError;
  image.resize(FW_IMAGE_MAX);
  const std::size_t n = std::fread(image.data(), 1, image.size(), file.get());
  if (n == 0 || std::ferror(file.get())) return ImageRead::ReadError;
  image.resize(n);
  return ImageRead::Ok;
}

void ReportFileFailure(const char* message) {
  Print("%s\n Press any key", message);
  WaitKey();
}

// Puts the tool's own time-out back however the transfer ends, also when input ends at a key
// wait inside it.
class DefaultTimeoutOnExit {
 public:
  explicit DefaultTimeoutOnExit(C_ZANTO_EXTCMD_IF& extcmd) : extcmd_(extcmd) {}
  ~DefaultTimeoutOnExit() { extcmd_.m_nTimeout = kDefaultTimeoutMs; }
  DefaultTimeoutOnExit(const DefaultTimeoutOnExit&) = delete;
  DefaultTimeoutOnExit& operator=(const DefaultTimeoutOnExit&) = delete;

 private:
  C_ZANTO_EXTCMD_IF& extcmd_;
};

// Sends every block, each after the previous one was accepted; returns 1 when all were.
int SendImage(C_ZANTO_EXTCMD_IF& extcmd, std::span<const std::uint8_t> image) {
  const std::size_t blocks = fwblock::BlockCount(image.size());
  for (std::size_t k = 0; k < blocks; ++k) {
    extcmd.MakeCommand(CMD_FW_UPDATE, static_cast<int>(FW_BLOCK_RECORD_SIZE));
    const FirmwareBlock block = fwblock::BlockOf(image, k);
    fwblock::Write(block, std::span<std::uint8_t, FW_BLOCK_RECORD_SIZE>(extcmd.GetData(),
                                                                        FW_BLOCK_RECORD_SIZE));
    const bool last = block.MoreFollows == 0;
    if (last) {
      extcmd.m_nTimeout = kLastBlockTimeoutMs;
      Print("\n Wait for writing memory");
    }
    if (ExchangeAccepted(extcmd) == nullptr) return 0;
    if (last) {
      Pause(kWriteMemoryPauseMs);
      Print("\n Success update firmware\n");
      return 1;
    }
    Print("%s", fwblock::ProgressMark(k + 1));
  }
  return 0;  // not reached: the image has at least one byte, so a last block exists
}

}  // namespace

int UpdateFirmware(C_ZANTO_EXTCMD_IF& extcmd) {
  char name[kFileNameMax + 1];
  PromptText(name, kFileNameMax, " Please enter firmware image file --> ", 3);
  std::vector<std::uint8_t> image;
  switch (ReadImage(name, image)) {
    case ImageRead::OpenError:
      ReportFileFailure("\n Failure:Firmware image file open error !!\n");
      return 0;
    case ImageRead::ReadError:
      ReportFileFailure("\n Failure:Firmware image file read error !!\n");
      return 0;
    case ImageRead::Ok:
      break;
  }
  const DefaultTimeoutOnExit restore(extcmd);
  return SendImage(extcmd, image);
}
