// INI parsing and look-up.
#include "console/ini.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

#include "console/hex_digit.h"

namespace console {
namespace {

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A UTF-16 text (behind its byte order mark) as UTF-8; a lone surrogate becomes U+FFFD.
std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  const auto unit = [&](std::size_t i) -> char32_t {
    const auto high = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    const auto low = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    return static_cast<char32_t>(high << 8 | low);
  };
  const auto isHigh = [](char32_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto isLow = [](char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  std::string text;
  const auto put = [&text](char32_t v) { text.push_back(static_cast<char>(v)); };
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (isHigh(c) && i + 3 < bytes.size() && isLow(unit(i + 2))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (isHigh(c) || isLow(c)) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      put(c);
    } else if (c < 0x800) {
      put(0xC0 | c >> 6);
      put(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      put(0xE0 | c >> 12);
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    } else {
      put(0xF0 | c >> 18);
      put(0x80 | (c >> 12 & 0x3F));
      put(0x80 | (c >> 6 & 0x3F));
      put(0x80 | (c & 0x3F));
    }
  }
  return text;
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
  // Notepad's "Unicode" (and "Unicode big endian") is UTF-16 behind a byte order mark, which the
  // system's reader reads as text. An editor's "UTF-8 with BOM" puts a UTF-8 mark first, which
  // Wine's reader skips; Windows' would take it as part of the first line.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
  constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
  std::string decoded;
  if (text.starts_with(kUtf16LeMark) || text.starts_with(kUtf16BeMark)) {
    decoded = FromUtf16(text.substr(2), text.starts_with(kUtf16BeMark));
    text = decoded;
  } else if (text.starts_with(kUtf8Mark)) {
    text.remove_prefix(kUtf8Mark.size());
  }
  IniFile ini;
  while (!text.empty()) {
    // A line ends at LF, at CR LF (the CR ends it, the LF an empty line) or at a lone CR.
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == ';') continue;
    // A section name ends at its line's last "]". A line with "[" first and no "]" is no
    // section line but an ordinary one: the keys after it stay in the section before it.
    const std::size_t close = line.rfind(']');
    if (line.front() == '[' && close != std::string_view::npos) {
      ini.sections_.push_back({std::string(Trim(line.substr(1, close - 1))), {}});
      continue;
    }
    const std::size_t eq = line.find('=');
    if (ini.sections_.empty() || eq == std::string_view::npos) continue;
    ini.sections_.back().keys.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return ini;
}

bool IniFile::Find(std::string_view section, std::string_view key, std::string_view& value) const {
  // Only the first section of a name is consulted, as the system's profile reader does.
  const auto s = std::find_if(sections_.begin(), sections_.end(),
                              [&](const Section& x) { return SameName(x.name, section); });
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
  // As the system converts the text: blanks (kept inside quotes) first, then a sign, then
  // "0x", "0o" or "0b" (lower case) for hexadecimal, octal or binary; a leading 0 alone does
  // not change the base.
  while (!v.empty() && static_cast<unsigned char>(v.front()) <= ' ') v.remove_prefix(1);
  bool negative = false;
  if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
    negative = v.front() == '-';
    v.remove_prefix(1);
  }
  constexpr std::pair<std::string_view, std::uint32_t> kPrefixes[] = {
      {"0x", 16}, {"0o", 8}, {"0b", 2}};
  std::uint32_t base = 10;
  for (const auto& [prefix, prefixBase] : kPrefixes) {
    if (v.starts_with(prefix)) {
      base = prefixBase;
      v.remove_prefix(prefix.size());
      break;
    }
  }
  std::uint32_t value = 0;
  for (const char c : v) {
    const int digit = HexDigitValue(c);  // the same value in every base up to 16
    if (digit < 0 || static_cast<std::uint32_t>(digit) >= base) break;
    value = value * base + static_cast<std::uint32_t>(digit);
  }
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

}  // namespace console
