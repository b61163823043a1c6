// "sample.ini" as Windows reads it: the project's reader against GetPrivateProfileStringA and
// GetPrivateProfileIntA over a table of awkward files: every value agrees.
#include <gtest/gtest.h>

// clang-format off
#include "tests/win32/win_support.h"  // winsock2.h before windows.h
// clang-format on
#include <windows.h>

#include <string>

#include "console/ini.h"

namespace {

struct IniCase {
  const char* name;
  std::string text;
  const char* section;
  const char* key;
  bool integer;              // read with GetInt / GetPrivateProfileIntA, else as text
  std::string expected;      // what both read (the text kept to 15 characters)
  friend void PrintTo(const IniCase& c, std::ostream* os) { *os << c.name; }
};

constexpr const char* kFallbackText = "DEF";
constexpr int kFallbackInt = 4242;
constexpr std::size_t kKeep = 15;

class ReadLikeWindows : public ::testing::TestWithParam<IniCase> {};

TEST_P(ReadLikeWindows, ProjectReaderAndProfileReaderAgree) {
  const IniCase& c = GetParam();
  const wintest::ScratchFolder dir;
  const std::string file = dir.Write("sample.ini", c.text);
  const console::IniFile ini = console::IniFile::Load(file.c_str());
  std::string ours;
  std::string windows;
  if (c.integer) {
    ours = std::to_string(ini.GetInt(c.section, c.key, kFallbackInt));
    windows = std::to_string(static_cast<int>(
        GetPrivateProfileIntA(c.section, c.key, kFallbackInt, file.c_str())));
  } else {
    // As a C string: the tools use the value up to a NUL, as the system does.
    ours = ini.GetString(c.section, c.key, kFallbackText, kKeep).c_str();
    char buffer[kKeep + 1];
    GetPrivateProfileStringA(c.section, c.key, kFallbackText, buffer, sizeof buffer, file.c_str());
    windows = buffer;
  }
  EXPECT_EQ(ours, c.expected);
  EXPECT_EQ(windows, c.expected);
}

const std::string kRepeated = "[SERIAL]\nPORT=A\n[ETHERNET]\nIP=x\n[SERIAL]\nPORT=B\nRATE=9600\n";

INSTANTIATE_TEST_SUITE_P(
    Files, ReadLikeWindows,
    ::testing::Values(
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
        IniCase{"UnmatchedQuoteStays", "[SERIAL]\nPORT=\"COM3\n", "SERIAL", "PORT", false,
                "\"COM3"},
        IniCase{"MixedQuotesStay", "[SERIAL]\nPORT=\"COM3'\n", "SERIAL", "PORT", false, "\"COM3'"},
        IniCase{"EmptyQuotes", "[SERIAL]\nPORT=\"\"\n", "SERIAL", "PORT", false, ""},
        IniCase{"QuotedNumber", "[S]\nV=\"12\"\n", "S", "V", true, "12"},
        IniCase{"RepeatedSectionFirstWins", kRepeated, "SERIAL", "PORT", false, "A"},
        IniCase{"RepeatedSectionOnlyTheFirstIsRead", kRepeated, "SERIAL", "RATE", true, "4242"},
        IniCase{"RepeatedKeyFirstWins", "[SERIAL]\nPORT=A\nPORT=B\n", "SERIAL", "PORT", false,
                "A"},
        IniCase{"LineWithoutEquals", "[SERIAL]\nPORT\nRATE=9600\n", "SERIAL", "PORT", false,
                "DEF"},
        IniCase{"LineWithoutEqualsAsNumber", "[SERIAL]\nRATE\n", "SERIAL", "RATE", true, "4242"},
        IniCase{"EmptyValue", "[SERIAL]\nPORT=\n", "SERIAL", "PORT", false, ""},
        IniCase{"ValueWithEquals", "[SERIAL]\nPORT=A=B\n", "SERIAL", "PORT", false, "A=B"},
        IniCase{"CommentLine", "[SERIAL]\n;PORT=X\nPORT=COM3\n", "SERIAL", "PORT", false, "COM3"},
        IniCase{"IndentedCommentLine", "[SERIAL]\n  ;PORT=X\n", "SERIAL", "PORT", false, "DEF"},
        IniCase{"HashIsNoComment", "[SERIAL]\n#PORT=X\n", "SERIAL", "#PORT", false, "X"},
        IniCase{"TextAfterTheValueBelongsToIt", "[SERIAL]\nPORT=COM3 ; the port\n", "SERIAL",
                "PORT", false, "COM3 ; the port"},
        IniCase{"VeryLongValueIsCut", "[ETHERNET]\nIP=" + std::string(5000, 'v') + "\n",
                "ETHERNET", "IP", false, std::string(kKeep, 'v')},
        IniCase{"NoFinalLineEnd", "[SERIAL]\nPORT=COM3", "SERIAL", "PORT", false, "COM3"},
        IniCase{"CrLfLineEnds", "[SERIAL]\r\nPORT=COM3\r\nRATE=9600\r\n", "SERIAL", "PORT", false,
                "COM3"},
        IniCase{"CrLfLineEndsNumber", "[SERIAL]\r\nPORT=COM3\r\nRATE=9600\r\n", "SERIAL", "RATE",
                true, "9600"},
        IniCase{"KeyBeforeAnySection", "PORT=X\n[SERIAL]\nRATE=1\n", "SERIAL", "PORT", false,
                "DEF"},
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
        // Where the two used to differ, the project's reader now reads as the system does, so
        // a file written for the tools on Windows reads the same on Linux.
        IniCase{"CrOnlyLineEnds", "[SERIAL]\rPORT=COM3\rRATE=9600\r", "SERIAL", "PORT", false,
                "COM3"},
        IniCase{"UnclosedSectionLine", "[SERIAL\nPORT=COM3\n", "SERIAL", "PORT", false, "DEF"},
        IniCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF[SERIAL]\nPORT=COM3\n", "SERIAL", "PORT", false,
                "COM3"},
        IniCase{"HexadecimalNumber", "[S]\nV=0x10\n", "S", "V", true, "16"},
        IniCase{"HexadecimalDigitsInAnyCase", "[S]\nV=0xfF\n", "S", "V", true, "255"},
        IniCase{"UpperCaseXIsNoHexadecimal", "[S]\nV=0X10\n", "S", "V", true, "0"},
        IniCase{"EmptyValueAsNumber", "[S]\nV=\n", "S", "V", true, "4242"},
        IniCase{"BlankValueAsNumber", "[S]\nV=   \n", "S", "V", true, "4242"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
