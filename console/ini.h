// Reading "sample.ini" the way existing files have always been read: by section and key, with defaults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace console {

// Reads a file as the system's profile functions read it: section and key names match
// case-insensitively and without surrounding blanks; a section name ends at its line's last
// "]"; the first section of a name and, within it, the first line of a key win; lines end at
// LF, CR LF or CR; a file in UTF-16 (behind its byte order mark) reads as its text, in UTF-8; a
// leading UTF-8 byte order mark is skipped; text after a value belongs to it. A missing file
// reads as empty.
class IniFile {
 public:
  static IniFile Load(const char* path);
  static IniFile Parse(std::string_view text);

  // The value, or the default when the key is missing, cut to keep characters. A value in
  // matching quotes loses them.
  std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                        std::size_t keep) const;
  // The value read as blanks, an optional sign and leading digits: decimal, or after "0x", "0o"
  // or "0b" (lower case) hexadecimal, octal or binary (no digits read as 0; wraps on overflow);
  // the default when the key is missing or empty.
  std::int32_t GetInt(std::string_view section, std::string_view key, std::int32_t fallback) const;

 private:
  struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
  };
  // The value as stored, without matching quotes around it; false when the key is missing.
  bool Find(std::string_view section, std::string_view key, std::string_view& value) const;
  std::vector<Section> sections_;
};

}  // namespace console
