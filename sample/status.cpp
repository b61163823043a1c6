// Get Status and PLC Info Resolution of the adapter at the other end of the link.
#include "console/console.h"
#include "console/record_text.h"
#include "extcmd/commands.h"
#include "platform/net.h"
#include "sample/handlers.h"

void PrintStatusRecord(const commands::StatusRecord& status) {
  Print("\n%s", console::StatusText(status).c_str());
}

int GetStatus(C_ZANTO_EXTCMD_IF& extcmd) {
  BeforeExchange();
  const auto status = commands::GetStatus(extcmd);
  if (!status) return ReportFailure(status.failure());
  PrintStatusRecord(status.value());
  Print("\n\n Press any key");
  WaitKey();
  return 1;
}

int InfoResolution(C_ZANTO_EXTCMD_IF& extcmd) {
  char entry[17];
  PromptText(entry, 16, " Please enter access IP --> ", 1);
  // Text that is no address converts to 255.255.255.255, and that is sent as it is.
  BeforeExchange();
  const auto identity = commands::InfoResolution(extcmd, plat::InetAddr(entry));
  if (!identity) return ReportFailure(identity.failure());
  Print("\n%s\n\n Press any key", console::IdentityText(identity.value()).c_str());
  WaitKey();
  return 1;
}
