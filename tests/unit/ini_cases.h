// Awkward "sample.ini" files and what the system's profile functions read from them: one table
// for the project's reader on every system and for its comparison with those functions (Wine).
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace initest {

struct IniCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  bool integer;          // read with GetInt / GetPrivateProfileIntA, else as text
  std::string expected;  // what both read (the text kept to kKeep characters)
  friend void PrintTo(const IniCase& c, std::ostream* os) { *os << c.name; }
};

inline constexpr const char* kFallbackText = "DEF";
inline constexpr int kFallbackInt = 4242;
inline constexpr std::size_t kKeep = 15;

// The text as Notepad saves it as "Unicode" (UTF-16 little endian) or "Unicode big endian",
// byte order mark first.
inline std::string Utf16(std::string_view text, bool bigEndian = false) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char c : text) {
    if (bigEndian) out.push_back('\0');
    out.push_back(c);
    if (!bigEndian) out.push_back('\0');
  }
  return out;
}

inline std::vector<IniCase> IniCases() {
  const std::string repeated = "[SERIAL]\nPORT=A\n[ETHERNET]\nIP=x\n[SERIAL]\nPORT=B\nRATE=9600\n";
  return {
      IniCase{"Plain", "[SERIAL]\nPORT=COM3\n", "SERIAL", "PORT", false, "COM3"},
      IniCase{"BlanksAroundNamesAndValues", "[ SERIAL ]\n  PORT  =  COM3  \n", "SERIAL", "PORT",
              false, "COM3"},
      IniCase{"Tabs", "[\tSERIAL\t]\n\tPORT\t=\tCOM3\t\n", "SERIAL", "PORT", false, "COM3"},
      IniCase{"NamesInAnyCase", "[serial]\nport=COM3\n", "SERIAL", "PORT", false, "COM3"},
      IniCase{"DoubleQuotes", "[SERIAL]\nPORT=\"COM3\"\n", "SERIAL", "PORT", false, "COM3"},
      IniCase{"SingleQuotes", "[SERIAL]\nPORT='COM3'\n", "SERIAL", "PORT", false, "COM3"},
      IniCase{"BlanksInsideQuotesStay", "[SERIAL]\nPORT=\" COM3 \"\n", "SERIAL", "PORT", false,
              " COM3 "},
      IniCase{"QuotesWithBlanksOutside", "[SERIAL]\nPORT= \"COM3\" \n", "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"UnmatchedQuoteStays", "[SERIAL]\nPORT=\"COM3\n", "SERIAL", "PORT", false, "\"COM3"},
      IniCase{"MixedQuotesStay", "[SERIAL]\nPORT=\"COM3'\n", "SERIAL", "PORT", false, "\"COM3'"},
      IniCase{"EmptyQuotes", "[SERIAL]\nPORT=\"\"\n", "SERIAL", "PORT", false, ""},
      IniCase{"QuotedNumber", "[S]\nV=\"12\"\n", "S", "V", true, "12"},
      IniCase{"RepeatedSectionFirstWins", repeated, "SERIAL", "PORT", false, "A"},
      IniCase{"RepeatedSectionOnlyTheFirstIsRead", repeated, "SERIAL", "RATE", true, "4242"},
      IniCase{"RepeatedKeyFirstWins", "[SERIAL]\nPORT=A\nPORT=B\n", "SERIAL", "PORT", false, "A"},
      IniCase{"LineWithoutEquals", "[SERIAL]\nPORT\nRATE=9600\n", "SERIAL", "PORT", false, "DEF"},
      IniCase{"LineWithoutEqualsAsNumber", "[SERIAL]\nRATE\n", "SERIAL", "RATE", true, "4242"},
      IniCase{"EmptyValue", "[SERIAL]\nPORT=\n", "SERIAL", "PORT", false, ""},
      IniCase{"ValueWithEquals", "[SERIAL]\nPORT=A=B\n", "SERIAL", "PORT", false, "A=B"},
      IniCase{"CommentLine", "[SERIAL]\n;PORT=X\nPORT=COM3\n", "SERIAL", "PORT", false, "COM3"},
      IniCase{"IndentedCommentLine", "[SERIAL]\n  ;PORT=X\n", "SERIAL", "PORT", false, "DEF"},
      IniCase{"HashIsNoComment", "[SERIAL]\n#PORT=X\n", "SERIAL", "#PORT", false, "X"},
      IniCase{"TextAfterTheValueBelongsToIt", "[SERIAL]\nPORT=COM3 ; the port\n", "SERIAL", "PORT",
              false, "COM3 ; the port"},
      IniCase{"VeryLongValueIsCut", "[ETHERNET]\nIP=" + std::string(5000, 'v') + "\n", "ETHERNET",
              "IP", false, std::string(kKeep, 'v')},
      IniCase{"NoFinalLineEnd", "[SERIAL]\nPORT=COM3", "SERIAL", "PORT", false, "COM3"},
      IniCase{"CrLfLineEnds", "[SERIAL]\r\nPORT=COM3\r\nRATE=9600\r\n", "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"CrLfLineEndsNumber", "[SERIAL]\r\nPORT=COM3\r\nRATE=9600\r\n", "SERIAL", "RATE",
              true, "9600"},
      IniCase{"KeyBeforeAnySection", "PORT=X\n[SERIAL]\nRATE=1\n", "SERIAL", "PORT", false, "DEF"},
      IniCase{"TextAfterTheSectionName", "[SERIAL] junk\nPORT=COM3\n", "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"NulInsideAValue", std::string("[S]\nV=ab\0cd\n", 12), "S", "V", false, "ab"},
      IniCase{"NumberWithBlank", "[S]\nV= 9600\n", "S", "V", true, "9600"},
      IniCase{"NumberWithTrailingText", "[S]\nV=9600abc\n", "S", "V", true, "9600"},
      IniCase{"NegativeNumber", "[S]\nV=-5\n", "S", "V", true, "-5"},
      IniCase{"PlusSign", "[S]\nV=+7\n", "S", "V", true, "7"},
      IniCase{"LeadingZeroIsDecimal", "[S]\nV=010\n", "S", "V", true, "10"},
      IniCase{"NoDigits", "[S]\nV=abc\n", "S", "V", true, "0"},
      IniCase{"NumberWrapsAt32Bits", "[S]\nV=99999999999\n", "S", "V", true, "1215752191"},
      IniCase{"NumberAbove2Pow31", "[S]\nV=2147483648\n", "S", "V", true, "-2147483648"},
      // Where the two used to differ, the project's reader now reads as the system does, so a
      // file written for the tools on Windows reads the same on Linux.
      IniCase{"CrOnlyLineEnds", "[SERIAL]\rPORT=COM3\rRATE=9600\r", "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"UnclosedSectionLine", "[SERIAL\nPORT=COM3\n", "SERIAL", "PORT", false, "DEF"},
      IniCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF[SERIAL]\nPORT=COM3\n", "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"HexadecimalNumber", "[S]\nV=0x10\n", "S", "V", true, "16"},
      IniCase{"HexadecimalDigitsInAnyCase", "[S]\nV=0xfF\n", "S", "V", true, "255"},
      IniCase{"UpperCaseXIsNoHexadecimal", "[S]\nV=0X10\n", "S", "V", true, "0"},
      IniCase{"EmptyValueAsNumber", "[S]\nV=\n", "S", "V", true, "4242"},
      IniCase{"BlankValueAsNumber", "[S]\nV=   \n", "S", "V", true, "4242"},
      IniCase{"NegativeHexadecimal", "[S]\nV=-0x10\n", "S", "V", true, "-16"},
      IniCase{"HexadecimalPrefixAlone", "[S]\nV=0x\n", "S", "V", true, "0"},
      IniCase{"EmptyQuotesAsNumber", "[S]\nV=\"\"\n", "S", "V", true, "4242"},
      // A section name ends at the last "]" of its line.
      IniCase{"SectionNameEndsAtTheLastBracket", "[SERIAL] ; see [x]\nPORT=COM3\n", "SERIAL",
              "PORT", false, "DEF"},
      IniCase{"SectionNameWithBrackets", "[SERIAL] ; see [x]\nPORT=COM3\n", "SERIAL] ; see [x",
              "PORT", false, "COM3"},
      // A "[" line without "]" is an ordinary line: the keys after it stay where they were.
      IniCase{"UnclosedSectionLineKeepsTheSectionBefore", "[SERIAL]\nPORT=A\n[ETHERNET\nRATE=5\n",
              "SERIAL", "RATE", true, "5"},
      IniCase{"UnclosedSectionLineOpensNoSection", "[SERIAL]\nPORT=A\n[ETHERNET\nRATE=5\n",
              "ETHERNET", "RATE", true, "4242"},
      IniCase{"UnclosedSectionLineIsAKeyLine", "[SERIAL]\n[X=1\n", "SERIAL", "[X", false, "1"},
      // Notepad's "Unicode" files.
      IniCase{"Utf16LittleEndian", Utf16("[SERIAL]\r\nPORT=COM3\r\n"), "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"Utf16LittleEndianNumber", Utf16("[SERIAL]\r\nRATE=9600\r\n"), "SERIAL", "RATE", true,
              "9600"},
      IniCase{"Utf16BigEndian", Utf16("[SERIAL]\r\nPORT=COM3\r\n", true), "SERIAL", "PORT", false,
              "COM3"},
      IniCase{"Utf16WithoutByteOrderMark", std::string("[\0S\0]\0\n\0P\0=\0C\0\n\0", 16), "S", "P",
              false, "DEF"},
      // Numbers as the system converts them: blanks, a sign, a base prefix, then digits up to
      // the first that does not belong.
      IniCase{"NumberWithBlankInsideQuotes", "[S]\nV=\" 12\"\n", "S", "V", true, "12"},
      IniCase{"NumberWithTabInsideQuotes", "[S]\nV=\"\t12\"\n", "S", "V", true, "12"},
      IniCase{"BlankBeforeTheSign", "[S]\nV=\" -12\"\n", "S", "V", true, "-12"},
      IniCase{"BlankAfterTheSign", "[S]\nV=- 12\n", "S", "V", true, "0"},
      IniCase{"TwoSigns", "[S]\nV=+-5\n", "S", "V", true, "0"},
      IniCase{"OctalNumber", "[S]\nV=0o17\n", "S", "V", true, "15"},
      IniCase{"OctalStopsAtEight", "[S]\nV=0o18\n", "S", "V", true, "1"},
      IniCase{"UpperCaseOIsNoOctal", "[S]\nV=0O17\n", "S", "V", true, "0"},
      IniCase{"NegativeOctal", "[S]\nV=-0o10\n", "S", "V", true, "-8"},
      IniCase{"BinaryNumber", "[S]\nV=0b101\n", "S", "V", true, "5"},
      IniCase{"BinaryStopsAtTwo", "[S]\nV=0b1012\n", "S", "V", true, "5"},
      IniCase{"UpperCaseBIsNoBinary", "[S]\nV=0B101\n", "S", "V", true, "0"},
      IniCase{"NegativeBinary", "[S]\nV=-0b11\n", "S", "V", true, "-3"},
      IniCase{"BinaryPrefixAlone", "[S]\nV=0b\n", "S", "V", true, "0"},
      IniCase{"HexadecimalStopsAtG", "[S]\nV=0x1g\n", "S", "V", true, "1"},
      IniCase{"SignAfterThePrefix", "[S]\nV=0x-5\n", "S", "V", true, "0"},
  };
}

}  // namespace initest
