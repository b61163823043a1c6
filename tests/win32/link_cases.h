// What the Windows link tests against the emulator share: one exchange, and a failure case.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "extcmd/zanto_extcmd_if.h"

namespace wintest {

// A request with `data`, sent and its answer checked; the Transact result.
inline int Exchange(C_ZANTO_EXTCMD_IF& link, std::uint16_t code, const std::string& data) {
  link.MakeCommand(code, static_cast<int>(data.size()));
  std::memcpy(link.GetData(), data.data(), data.size());
  return link.Transact(0);
}

// A request the emulator was told to answer badly, and how the link ends it.
struct FailureCase {
  const char* name;
  std::uint16_t code;
  std::string data;
  int transact;  // Transact's result
  int error;     // the code left in m_nError
};

}  // namespace wintest
