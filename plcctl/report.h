// The script tool's results: human-readable lines or JSON Lines on standard output, and the
// failure line on standard error.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

#include "extcmd/commands.h"
#include "plcctl/invocation.h"

namespace plcctl {

// JSON objects keep their fields in the order written: the common ones first.
using Json = nlohmann::ordered_json;

// The "what failed" text of a failure code, from the one table of codes.
const char* FailureText(int code);

// UTC in RFC 3339 with milliseconds: "2026-12-10T08:30:00.250Z".
std::string UtcNow();

// The record lines of a print-out as one line: "Label: value, Label: value".
std::string OneLine(const std::string& recordText);

// One result of one command at one adapter.
// The JSON member's default constructor is noexcept and makes a null, which allocates nothing;
// clang-tidy follows it into the allocating paths of the other kinds.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct Result {
  std::string adapter;
  bool ok = true;
  commands::Failure failure;  // when !ok
  Json fields;                // the command's own JSON fields
  std::string text;           // human form, the whole record ("" for none)
  std::string line;           // human form in one line, for several adapters and samples
};

class Reporter {
 public:
  explicit Reporter(const Invocation& invocation);
  // Writes the result as the options ask; the time is taken now, when its answer came.
  void Emit(const Result& result);

  // The JSON forms of the answer records.
  static Json StatusJson(const commands::StatusRecord& status);
  static Json IdentityJson(const commands::IdentityRecord& identity);

 private:
  const Invocation& inv_;
  bool oneLine_;  // one line per result: several adapters, or samples with their time
};

}  // namespace plcctl
