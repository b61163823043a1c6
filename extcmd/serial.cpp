// The serial link: stuffed frames with a checksum and an end-of-frame byte, paced single-byte
// writes, and a receive that polls for the end-of-frame event every 100 ms.
#include <cstring>
#include <vector>

#include "extcmd/serial_coding.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/clock.h"
#include "platform/serial.h"
#include "platform/wait.h"

namespace {

constexpr std::uint32_t kLookIntervalMs = 100;
constexpr std::uint32_t kPacingPauseMs = 1;

}  // namespace

int C_ZANTO_EXTCMD_IF::OpenSerial(const char* port, std::uint32_t baud, int byteSize, int parity,
                                  int stopBits) {
  if (m_nConnect != CONNECT_NONE) {
    m_nError = ERR_SERIAL_ALREADY_OPEN;
    return 0;
  }
  m_hComm = plat::OpenSerialPort(port);
  if (m_hComm == plat::kInvalidSerial) {
    m_nError = ERR_SERIAL_OPEN;
    return 0;
  }
  // The port takes the low 8 bits of each setting; what it refuses does not stop the open.
  plat::ConfigureSerialPort(
      m_hComm, {baud, static_cast<std::uint8_t>(byteSize), static_cast<std::uint8_t>(parity),
                static_cast<std::uint8_t>(stopBits), SERIAL_TERMINATOR});
  plat::OpenCompletion(m_ReadOverlapped);
  plat::OpenCompletion(m_WriteOverlapped);
  m_nConnect = CONNECT_SERIAL;
  return 1;
}

int C_ZANTO_EXTCMD_IF::CloseSerial() {
  if (m_nConnect != CONNECT_SERIAL) {
    m_nError = ERR_SERIAL_NOT_OPEN;
    return 0;
  }
  plat::CloseSerialPort(m_hComm);
  plat::CloseCompletion(m_ReadOverlapped);
  plat::CloseCompletion(m_WriteOverlapped);
  m_hComm = plat::kInvalidSerial;
  m_nConnect = CONNECT_NONE;
  return 1;
}

int C_ZANTO_EXTCMD_IF::SerialSend() {
  const std::size_t length = frame::Get16(m_pFrame + frame::kOffFrameLength);
  const std::size_t bodySize = frame::kFrameLengthBase + length + 2;
  // A frame whose checksum would lie beyond the buffer is not sent at all: nothing outside the
  // buffer is written or sent, and the receive then reports the missing answer.
  if (bodySize > sizeof m_Buffer) return 1;
  const std::uint16_t sum =
      CalcChecksum(m_Buffer + frame::kFrameLengthBase, static_cast<std::uint16_t>(length));
  m_Buffer[frame::kFrameLengthBase + length] = static_cast<std::uint8_t>(sum);
  m_Buffer[frame::kFrameLengthBase + length + 1] = static_cast<std::uint8_t>(sum >> 8);

  // A write that fails or never completes ends the send; the receive's time-out reports it.
  const auto put = [this](std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
      if (!plat::WriteSerialByte(m_hComm, m_WriteOverlapped, b, m_nTimeout)) return false;
    }
    return true;
  };
  // The adapter takes the body in slices: a short pause before every m_nPacing-th body byte
  // (escaped bytes count once) and before the terminator.
  // A request to end stops the send as well; the receive then ends at once.
  const auto pace = [] { return plat::Pause(kPacingPauseMs) != plat::WaitResult::Terminated; };
  for (std::size_t i = 0; i < bodySize; ++i) {
    if (m_nPacing > 0 && i % static_cast<std::size_t>(m_nPacing) == 0 && !pace()) return 1;
    if (!put(serial_line::Escape(m_Buffer[i]).view())) return 1;
  }
  if (!pace()) return 1;
  const std::uint8_t terminator = SERIAL_TERMINATOR;
  put({&terminator, 1});
  return 1;
}

int C_ZANTO_EXTCMD_IF::SerialRecv() {
  std::memset(m_Buffer, 0, serial_line::kRecvClearSize);
  if (m_hComm == plat::kInvalidSerial) {
    m_nError = ERR_SERIAL_OPEN;
    return 0;
  }
  plat::ArmSerialEvent(m_hComm);
  const std::uint32_t start = plat::TickCount();
  const std::int32_t limit = m_nTimeout;
  bool seen = false;
  while (!seen) {
    // A request to end cuts the wait short like a time-out; the run then ends without reporting.
    if (plat::Pause(kLookIntervalMs) == plat::WaitResult::Terminated) {
      m_nError = ERR_SERIAL_TIMEOUT;
      return 0;
    }
    seen = plat::LookForSerialEvent(m_hComm, m_ReadOverlapped);
    // The time-out is tested first: an event seen in the step that reaches the limit is late.
    if (serial_line::TimedOut(start, plat::TickCount(), limit)) {
      m_nError = ERR_SERIAL_TIMEOUT;
      return 0;
    }
  }

  const std::size_t queued = plat::SerialQueueCount(m_hComm);
  if (queued == 0) {
    m_nError = ERR_SERIAL_QUEUE_EMPTY;
    return 0;
  }
  std::vector<std::uint8_t> block(queued, 0);
  block.resize(plat::ReadSerial(m_hComm, m_ReadOverlapped, block));
  if (!serial_line::StartsWithPreamble(block)) {
    m_nError = ERR_SERIAL_PREAMBLE;
    return 0;
  }
  // The answer, its checksum and the terminator land from byte 0; bytes after the first
  // terminator are dropped. Unstuffing stops at the end of the buffer at the latest.
  serial_line::Unescape(block, {m_Buffer, sizeof m_Buffer});
  return 1;
}
