// The emulated adapter answers or ignores any bytes handed to it as a request, and its answers
// are well-formed frames that fit the tools' buffer.
#include <array>
#include <cstdlib>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/zanto_extcmd_if.h"
#include "fuzz/fuzz_input.h"
#include "sim/adapter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static constexpr std::array<std::uint16_t, 7> kCodes = {
      CMD_GET_STATUS, CMD_INFO_RESOLUTION, CMD_RELAY, CMD_FW_UPDATE,
      CMD_SYSTEMCMD,  CMD_RESET_SYS,       0x1230};
  std::span<const std::uint8_t> input(data, size);
  const std::uint8_t choice = fuzz::TakeChoice(input);
  std::vector<std::uint8_t> request(input.begin(), input.end());
  if (choice & 0x80) {
    fuzz::RepairHeader(request, frame::kDirRequest,
                       static_cast<std::uint16_t>(kCodes[choice % kCodes.size()] | 1));
  }
  sim::Adapter adapter;
  const auto reply = adapter.Handle(request);
  if (reply && (reply->frame.size() < frame::kHeaderSize ||
                reply->frame.size() > EXTCMD_BUFFER_SIZE - frame::kDatagramLead)) {
    std::abort();
  }
  return 0;
}
