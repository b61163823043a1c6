// The two serial receives the serial tests run against: the tools' (looking for the answer every
// 100 ms) and PromptSerialIf's (taking it as soon as its end-of-frame byte has come).
#pragma once

#include <memory>
#include <ostream>

#include "extcmd/prompt_serial.h"
#include "extcmd/zanto_extcmd_if.h"

namespace testing_support {

// The object is held by a shared_ptr, which deletes it as the class it was made as: the base
// class has no virtual destructor, so deleting a PromptSerialIf through it would be wrong.
struct Receive {
  const char* name;
  bool looksEvery100Ms;
  std::shared_ptr<C_ZANTO_EXTCMD_IF> (*make)(int timeoutMs);
  friend void PrintTo(const Receive& r, std::ostream* os) { *os << r.name; }
};

inline const Receive kReceives[] = {
    {"Polling", true,
     [](int t) -> std::shared_ptr<C_ZANTO_EXTCMD_IF> {
       return std::make_shared<C_ZANTO_EXTCMD_IF>(t);
     }},
    {"Prompt", false,
     [](int t) -> std::shared_ptr<C_ZANTO_EXTCMD_IF> {
       return std::make_shared<PromptSerialIf>(t);
     }},
};

// The test name part of a receive parameter.
inline const auto kReceiveName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace testing_support
