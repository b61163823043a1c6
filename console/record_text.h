// The answer records as the tools print them: the labels and number forms of their print-outs.
#pragma once

#include <string>

#include "extcmd/commands.h"

namespace console {

// "00-11-22-33-44-55": six two-digit lower-case hex numbers joined by "-".
std::string MacText(const commands::Mac& mac);

// The lines of a status record, from the mode line to the beacon status, each ending in "\n".
std::string StatusText(const commands::StatusRecord& status);

// The lines of an identity record, from the MAC line to the option flags, each ending in "\n".
std::string IdentityText(const commands::IdentityRecord& identity);

}  // namespace console
