// System Command and Restart of the command tool.
#include "tarvik/handlers.h"

#include <cstring>

#include "console/console.h"
#include "extcmd/commands.h"

int SystemCommand(C_ZANTO_EXTCMD_IF& extcmd) {
  char line[commands::kSystemCommandMax + 1];
  PromptText(line, static_cast<int>(commands::kSystemCommandMax), " Please enter systemcmd --> ",
             1);
  BeforeExchange();
  const auto answer = commands::SystemCommand(extcmd, line);
  if (!answer) return ReportFailure(answer.failure());
  // This answer has no result byte: whatever text comes back is printed, also an empty one.
  Print("\n %.*s\n\n Press any key", static_cast<int>(answer->size()), answer->data());
  WaitKey();
  return 1;
}

int Restart(C_ZANTO_EXTCMD_IF& extcmd) {
  BeforeExchange();
  const auto confirmed = commands::Restart(extcmd);
  if (!confirmed) return ReportFailure(confirmed.failure());
  Print("\n Recv reset_sys confirmation");
  Print("\n Now restarting...\n");
  Pause(commands::kRestartPauseMs);
  Print("\n Press any key");
  WaitKey();
  return 1;
}
