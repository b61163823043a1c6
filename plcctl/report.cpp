// Results as text or JSON Lines, and the failure line with the text of the table of codes.
#include "plcctl/report.h"

#include <chrono>
#include <cstdio>
#include <regex>

#include "console/record_text.h"
#include "extcmd/zanto_extcmd_if.h"
#include "platform/console_io.h"

namespace plcctl {
namespace {

struct CodeText {
  int code;
  const char* text;
};
constexpr CodeText kFailureTexts[] = {
#include "failure_texts.inc"
};

std::string Address(const std::array<std::uint8_t, 4>& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

// The adapter's texts may hold any byte: invalid UTF-8 becomes U+FFFD, control bytes escapes.
std::string Dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

const char* FailureText(int code) {
  for (const CodeText& row : kFailureTexts) {
    if (row.code == code) return row.text;
  }
  return "A failure without an entry in the table of codes.";
}

std::string UtcNow() {
  using namespace std::chrono;
  const auto now = time_point_cast<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

std::string OneLine(const std::string& recordText) {
  static const std::regex kDots(" *\\.{2,} *");
  std::string line;
  std::size_t at = 0;
  while (at < recordText.size()) {
    std::size_t end = recordText.find('\n', at);
    if (end == std::string::npos) end = recordText.size();
    std::string piece = recordText.substr(at, end - at);
    piece = std::regex_replace(piece, kDots, ": ", std::regex_constants::format_first_only);
    const auto first = piece.find_first_not_of(' ');
    if (first != std::string::npos) line += (line.empty() ? "" : ", ") + piece.substr(first);
    at = end + 1;
  }
  return line;
}

Json Reporter::StatusJson(const commands::StatusRecord& s) {
  return {{"mode", s.master ? "master" : "terminal"},
          {"authenticated", s.master ? Json(nullptr) : Json(s.authenticated)},
          {"mac", console::MacText(s.mac)},
          {"master_mac", s.master ? Json(nullptr) : Json(console::MacText(s.masterMac))},
          {"registered_info", s.registeredInfo},
          {"ether_linkup", s.etherLinkUp},
          {"ether_spddpx", s.etherSpdDpx},
          {"multiple_mode", s.multipleMode},
          {"beacon_status", s.beaconStatus},
          {"main_version", s.mainVersion},
          {"boot_version", s.bootVersion}};
}

Json Reporter::IdentityJson(const commands::IdentityRecord& i) {
  return {{"mac", console::MacText(i.mac)},       {"ip", Address(i.ip)},
          {"subnet_mask", Address(i.subnetMask)}, {"model", i.modelName},
          {"command_version", i.commandVersion},  {"option_flag", i.optionFlag}};
}

Reporter::Reporter(const Invocation& invocation)
    : inv_(invocation), oneLine_(invocation.Targets().size() > 1 || invocation.everySeconds) {}

void Reporter::Emit(const Result& r) {
  const std::string time = UtcNow();
  if (!r.ok) {
    std::string line = "plcctl: " + r.adapter + ": " + inv_.commandName +
                       ": Failure:" + std::to_string(r.failure.code) + ": " +
                       FailureText(r.failure.code);
    if (r.failure.Refused()) line += " Result:" + std::to_string(r.failure.result);
    plat::WriteErrorOutput(line + "\n");
  }
  if (inv_.json) {
    Json j = {{"adapter", r.adapter}, {"command", inv_.commandName}, {"ok", r.ok}, {"time", time}};
    if (!r.ok) {
      j["code"] = r.failure.code;
      j["result"] = r.failure.Refused() ? Json(r.failure.result) : Json();
      j["message"] = FailureText(r.failure.code);
    }
    if (r.fields.is_object()) j.update(r.fields);
    plat::WriteOutput(Dump(j) + "\n");
    return;
  }
  if (!r.ok || inv_.quiet || r.text.empty()) return;
  if (oneLine_) {
    const std::string when = inv_.everySeconds ? time + " " : "";
    plat::WriteOutput(when + r.adapter + ": " + r.line + "\n");
  } else {
    plat::WriteOutput(r.text);
  }
}

}  // namespace plcctl
