// System Command and Restart of the command tool.
#include "tarvik/handlers.h"

#include <algorithm>
#include <cstring>

#include "console/console.h"
#include "extcmd/zanto_extcmd_if.h"

namespace {

// The adapter needs these seconds to come back after it confirmed a restart.
constexpr std::uint32_t kRestartPauseMs = 8000;
// FrameLength counts the header bytes from offset 12 on, 16 of them, before the data.
constexpr std::size_t kFrameLengthOverData = frame::kHeaderSize - frame::kFrameLengthBase;

// Length of the answer text: up to its first NUL, and never past the answer's data as its
// FrameLength gives it or past the frame buffer. The receive clears the buffer first, so the
// bytes behind a short datagram are 0 and end the text there too.
std::size_t AnswerTextLength(C_ZANTO_EXTCMD_IF& extcmd) {
  const std::uint8_t* data = extcmd.GetData();
  const std::size_t frameLength = frame::Get16(extcmd.m_pFrame + frame::kOffFrameLength);
  const std::size_t claimed =
      frameLength > kFrameLengthOverData ? frameLength - kFrameLengthOverData : 0;
  const auto inBuffer = static_cast<std::size_t>(extcmd.m_Buffer + sizeof extcmd.m_Buffer - data);
  const std::size_t bound = std::min(claimed, inBuffer);
  return static_cast<std::size_t>(std::find(data, data + bound, 0) - data);
}

}  // namespace

int PadCommandText(std::uint8_t* data, std::size_t textLength) {
  std::size_t n = textLength + 1;  // the text and its NUL
  while (n % 4 != 0) data[n++] = 0xFF;
  return static_cast<int>(n);
}

int SystemCommand(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_SYSTEMCMD, SYSTEMCMD_MAX);
  std::uint8_t* data = extcmd.GetData();
  PromptText(reinterpret_cast<char*>(data), SYSTEMCMD_MAX, " Please enter systemcmd --> ", 1);
  extcmd.SetDataLength(PadCommandText(data, std::strlen(reinterpret_cast<const char*>(data))));
  if (Exchange(extcmd) == nullptr) return 0;
  // This answer has no result byte: whatever text comes back is printed, also an empty one.
  const std::size_t length = AnswerTextLength(extcmd);
  Print("\n %.*s\n\n Press any key", static_cast<int>(length),
        reinterpret_cast<const char*>(extcmd.GetData()));
  WaitKey();
  return 1;
}

int Restart(C_ZANTO_EXTCMD_IF& extcmd) {
  extcmd.MakeCommand(CMD_RESET_SYS, 4);
  if (ExchangeAccepted(extcmd) == nullptr) return 0;
  Print("\n Recv reset_sys confirmation");
  Print("\n Now restarting...\n");
  Pause(kRestartPauseMs);
  Print("\n Press any key");
  WaitKey();
  return 1;
}
