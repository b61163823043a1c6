// The tools' own prompts and menus, as the tests and the benchmarks expect them on the screen.
#pragma once

#include <string>

namespace tool_texts {

inline const std::string kLinkPrompt = "Connection type ? 0:Ether / 1:Serial --> ";
inline const std::string kSampleMenu =
    "\n\n<-- Main Menu -->\n\n 1. Get Status\n 2. PLC Info Resolution\n 3. PLC Remote\n"
    " 4. Update Firmware\n 0. Quit\n\nInput number --> ";
inline const std::string kTarvikMenu =
    "\n\n<-- Main Menu -->\n\n 1. System Command\n 2. Restart\n 0. Quit\n\nInput number --> ";
inline const std::string kSubMenu =
    "\n<-- Sub Menu -->\n 1. Get Status\n 0. Main Menu\n\nInput number --> ";
inline const std::string kIpPrompt = " Please enter access IP --> ";
inline const std::string kMacPrompt = " Please enter MAC address (6byte) --> ";
inline const std::string kWaitPrompt = " Please enter (1-4095) for waitTime[*100ms] --> ";
inline const std::string kImagePrompt = " Please enter firmware image file --> ";
inline const std::string kCommandPrompt = " Please enter systemcmd --> ";
// What any prompt answers to a line it does not take, before it asks again.
inline const std::string kRejected = "\n Invalid value !!\n\n";
// The last words of every result screen, before the key wait.
inline const std::string kKeyPrompt = " Press any key";

}  // namespace tool_texts
