// The status and identity print-outs, line by line.
#include "console/record_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace console {
namespace {

// Appends printf-style text; the longest line here (a version text of 64 bytes behind its label)
// is far below the buffer.
void Appendf(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Appendf(std::string& out, const char* format, ...) {
  char line[256];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) out.append(line, std::min(static_cast<std::size_t>(n), sizeof line - 1));
}

void AppendMac(std::string& out, const char* label, const commands::Mac& mac) {
  out += label;
  out += MacText(mac);
  out += '\n';
}

void AppendText(std::string& out, const char* label, const std::string& text) {
  out += label;
  out += text;
  out += '\n';
}

}  // namespace

std::string MacText(const commands::Mac& m) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x-%02x-%02x-%02x-%02x-%02x", m[0], m[1], m[2], m[3], m[4],
                m[5]);
  return text;
}

std::string StatusText(const commands::StatusRecord& s) {
  std::string out;
  if (s.master) {
    out += " Mode ................... Master\n";
    AppendMac(out, " MAC Address ............ ", s.mac);
  } else {
    out += s.authenticated ? " Mode ................... Terminal(authenticated)\n"
                           : " Mode ................... Terminal(not authenticated)\n";
    AppendMac(out, " MAC Address ............ ", s.mac);
    AppendMac(out, " Master MAC Address ..... ", s.masterMac);
  }
  Appendf(out, " Registered Info ........ %d\n", s.registeredInfo);
  Appendf(out, " Ether LinkUp ........... %d\n", s.etherLinkUp);
  Appendf(out, " Ether SpdDpx ........... %d\n", s.etherSpdDpx);
  Appendf(out, " Multiple Mode .......... %d\n", s.multipleMode);
  AppendText(out, " Main Version ........... ", s.mainVersion);
  AppendText(out, " Boot Version ........... ", s.bootVersion);
  Appendf(out, " Beacon Status .......... %d\n", s.beaconStatus);
  return out;
}

std::string IdentityText(const commands::IdentityRecord& i) {
  std::string out;
  AppendMac(out, " MAC Address............. ", i.mac);
  Appendf(out, " IP Address.............. %d.%d.%d.%d\n", i.ip[0], i.ip[1], i.ip[2], i.ip[3]);
  Appendf(out, " Sub-Net Mask............ %d.%d.%d.%d\n", i.subnetMask[0], i.subnetMask[1],
          i.subnetMask[2], i.subnetMask[3]);
  AppendText(out, " Model Name.............. ", i.modelName);
  Appendf(out, " Command Version......... 0x%08x\n", i.commandVersion);
  Appendf(out, " Option Flag............. 0x%08x\n", i.optionFlag);
  return out;
}

}  // namespace console
