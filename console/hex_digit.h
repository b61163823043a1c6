// The value of one hexadecimal digit character, for the MAC text and hexadecimal INI numbers.
#pragma once

namespace console {

// 0 to 9, a to f and A to F give 0 to 15; any other character gives -1.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace console
