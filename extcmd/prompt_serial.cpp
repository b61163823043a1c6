// The serial receive that waits on the port for the end-of-frame byte (PromptSerialIf).
#include "extcmd/prompt_serial.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "extcmd/serial_coding.h"
#include "platform/serial.h"
#include "platform/wait.h"

int PromptSerialIf::SerialRecv() {
  std::memset(m_Buffer, 0, serial_line::kRecvClearSize);
  if (m_hComm == plat::kInvalidSerial) {
    m_nError = ERR_SERIAL_OPEN;
    return 0;
  }
  plat::ArmSerialEvent(m_hComm);
  // A limit of 0 or less has passed before any answer can come, as the base class has it; a
  // request to end cuts the wait short like a time-out, and the run then ends without reporting.
  if (m_nTimeout <= 0 ||
      plat::WaitForSerialEvent(m_hComm, m_ReadOverlapped, m_nTimeout) != plat::WaitResult::Ready) {
    m_nError = ERR_SERIAL_TIMEOUT;
    return 0;
  }

  std::size_t queued = plat::SerialQueueCount(m_hComm);
  if (queued == 0) {
    m_nError = ERR_SERIAL_QUEUE_EMPTY;
    return 0;
  }
  // Everything queued now is read, block by block, as the base class reads it in one: the first
  // frame up to its terminator lands from byte 0, what follows it is dropped, and what arrives
  // from now on stays queued for the next exchange.
  const auto next = [this, &queued] {
    const std::size_t got = plat::ReadSerial(
        m_hComm, m_ReadOverlapped, std::span(m_Block).first(std::min(queued, m_Block.size())));
    queued = got == 0 ? 0 : queued - got;  // a read that fails ends the reading
    return std::span<const std::uint8_t>(m_Block.data(), got);
  };
  std::span<const std::uint8_t> block = next();
  const bool preamble = serial_line::StartsWithPreamble(block);
  std::span<std::uint8_t> rest(m_Buffer, sizeof m_Buffer);
  bool escaped = false;
  bool ended = !preamble;
  for (;;) {
    if (!ended) {
      // Unstuffing stops at the first terminator, or at the end of the buffer at the latest.
      const serial_line::Unescaped u = serial_line::Unescape(block, rest, escaped);
      rest = rest.subspan(u.stored);
      ended = u.terminated || rest.empty();
    }
    if (queued == 0) break;
    block = next();
  }
  if (!preamble) {
    m_nError = ERR_SERIAL_PREAMBLE;
    return 0;
  }
  return 1;
}
