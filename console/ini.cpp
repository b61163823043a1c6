// INI parsing and look-up.
#include "console/ini.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace console {
namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A digit's value in bases up to 16; -1 for any other character.
int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

IniFile IniFile::Load(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

IniFile IniFile::Parse(std::string_view text) {
  // An editor's "UTF-8 with BOM" puts a byte order mark first; the system's reader skips it.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  IniFile ini;
  while (!text.empty()) {
    // A line ends at LF, at CR LF (the CR ends it, the LF an empty line) or at a lone CR.
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // A section line without its "]" opens a section that no look-up finds, so the keys
      // after it are read by nobody, as with the system's reader.
      const std::size_t close = line.find(']');
      const bool closed = close != std::string_view::npos;
      ini.sections_.push_back(
          {std::string(Trim(line.substr(1, closed ? close - 1 : std::string_view::npos))),
           closed,
           {}});
      continue;
    }
    const std::size_t eq = line.find('=');
    if (ini.sections_.empty() || eq == std::string_view::npos) continue;
    ini.sections_.back().keys.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return ini;
}

bool IniFile::Find(std::string_view section, std::string_view key,
                   std::string_view& value) const {
  // Only the first section of a name is consulted, as the system's profile reader does.
  const auto s = std::find_if(sections_.begin(), sections_.end(),
                              [&](const Section& x) { return x.named && SameName(x.name, section); });
  if (s == sections_.end()) return false;
  const auto k = std::find_if(s->keys.begin(), s->keys.end(),
                              [&](const auto& x) { return SameName(x.first, key); });
  if (k == s->keys.end()) return false;
  value = k->second;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return true;
}

std::string IniFile::GetString(std::string_view section, std::string_view key,
                               std::string_view fallback, std::size_t keep) const {
  std::string_view value;
  if (!Find(section, key, value)) value = fallback;
  return std::string(value.substr(0, keep));
}

std::int32_t IniFile::GetInt(std::string_view section, std::string_view key,
                             std::int32_t fallback) const {
  std::string_view v;
  // An empty value is no number: the default holds, as with the system's reader.
  if (!Find(section, key, v) || v.empty()) return fallback;
  bool negative = false;
  if (v.front() == '+' || v.front() == '-') {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  // "0x" (lower case) makes the number hexadecimal, as for the system's reader; a leading 0
  // alone does not.
  std::uint32_t base = 10;
  if (v.starts_with("0x")) {
    base = 16;
    v.remove_prefix(2);
  }
  std::uint32_t value = 0;
  for (const char c : v) {
    const int digit = DigitValue(c);
    if (digit < 0 || static_cast<std::uint32_t>(digit) >= base) break;
    value = value * base + static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

}  // namespace console
