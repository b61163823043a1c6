// The command interface object with a serial receive that takes the answer as soon as its
// end-of-frame byte has arrived, instead of looking for it every 100 ms.
#pragma once

#include <array>
#include <cstdint>

#include "extcmd/zanto_extcmd_if.h"

// Everything but the receive is the base class's: the frames, the checks, the paced send and
// the time-out in m_nTimeout. The receive waits on the port itself (no 100 ms steps) and
// otherwise does what the base class's does: it clears the same part of the buffer, reads
// everything queued once the end-of-frame byte has come, unescapes it up to the first
// end-of-frame byte and drops the rest, with the same failure codes. The base class has no
// virtual destructor: own the object as this class (or through a shared_ptr made as it), never
// delete it through a pointer to the base.
class PromptSerialIf : public C_ZANTO_EXTCMD_IF {
 public:
  using C_ZANTO_EXTCMD_IF::C_ZANTO_EXTCMD_IF;

  int SerialRecv() override;  // 18

 private:
  // The queued bytes are read through this block, one block at a time: an exchange allocates
  // nothing. An answer of the tools, stuffed, fits in one.
  std::array<std::uint8_t, EXTCMD_BUFFER_SIZE> m_Block{};
};
