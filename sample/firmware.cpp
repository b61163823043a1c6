// Update Firmware: streams an image file to the adapter in numbered 1024-byte blocks.
#include <variant>
#include <vector>

#include "console/console.h"
#include "extcmd/commands.h"
#include "extcmd/firmware_block.h"
#include "sample/handlers.h"

namespace {

constexpr int kFileNameMax = 1024;

void ReportFileFailure(const char* message) {
  Print("%s\n Press any key", message);
  WaitKey();
}

// The console's side of a transfer: the screen shows before each exchange, the last block is
// announced, and progress marks follow the accepted blocks.
class ConsoleProgress final : public commands::FirmwareProgress {
 public:
  void BeforeBlock(std::size_t k, std::size_t blocks) override {
    if (k + 1 == blocks) Print("\n Wait for writing memory");
    BeforeExchange();
  }
  void Accepted(std::size_t k, std::size_t blocks) override {
    if (k + 1 < blocks) Print("%s", fwblock::ProgressMark(k + 1));
  }
};

}  // namespace

int UpdateFirmware(C_ZANTO_EXTCMD_IF& extcmd) {
  char name[kFileNameMax + 1];
  PromptText(name, kFileNameMax, " Please enter firmware image file --> ", 3);
  std::vector<std::uint8_t> image;
  switch (commands::ReadImage(name, image)) {
    case commands::ImageRead::OpenError:
      ReportFileFailure("\n Failure:Firmware image file open error !!\n");
      return 0;
    case commands::ImageRead::ReadError:
      ReportFileFailure("\n Failure:Firmware image file read error !!\n");
      return 0;
    case commands::ImageRead::Ok:
      break;
  }
  ConsoleProgress progress;
  const auto sent = commands::UpdateFirmware(extcmd, image, progress, commands::kSampleTimeoutMs);
  if (const auto* failed = std::get_if<commands::FirmwareFailure>(&sent)) {
    return ReportFailure(failed->failure);
  }
  Pause(commands::kWriteMemoryPauseMs);
  Print("\n Success update firmware\n");
  return 1;
}
