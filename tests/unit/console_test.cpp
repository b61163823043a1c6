// Prompts, report forms, hex conversion and the configuration file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "console/console.h"
#include "console/entry.h"
#include "console/ini.h"
#include "tests/texts.h"
#include "tests/unit/fixtures.h"
#include "tests/unit/ini_cases.h"

using namespace testing_support;
using namespace tool_texts;

namespace {

struct NumberCase {
  const char* name;
  std::string line;
  int min, max;
  bool accepted;
  int value;
};

class PromptNumberLines : public ::testing::TestWithParam<NumberCase> {};

TEST_P(PromptNumberLines, AcceptOnlyDigitsInRange) {
  const NumberCase& c = GetParam();
  // A rejected line is followed by "0", which every range here accepts.
  ScriptedConsole io(c.line + "\n0\n");
  const int got = PromptNumber("? ", c.min, c.max);
  if (c.accepted) {
    EXPECT_EQ(got, c.value);
    EXPECT_EQ(io.output, "? ");
  } else {
    EXPECT_EQ(got, 0);
    EXPECT_EQ(io.output, "? " + kRejected + "? ");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Menu, PromptNumberLines,
    ::testing::Values(
        NumberCase{"empty", "", 0, 4, false, 0},
        NumberCase{"trailing_letter", "1a", 0, 4, false, 0},
        NumberCase{"sign", "-1", 0, 4, false, 0}, NumberCase{"plus", "+1", 0, 4, false, 0},
        NumberCase{"blank", " 1", 0, 4, false, 0}, NumberCase{"above", "5", 0, 4, false, 0},
        NumberCase{"twelve_nines", "999999999999", 0, 4, false, 0},
        NumberCase{"saturates_at_max", "99999999999", 0, 2147483647, true, 2147483647},
        NumberCase{"leading_zero", "04", 0, 4, true, 4},
        NumberCase{"hundred_zeros", std::string(100, '0') + "4", 0, 4, true, 4},
        NumberCase{"crlf", "3\r", 0, 4, true, 3},
        NumberCase{"upper_bound", "4095", 0, 4095, true, 4095},
        NumberCase{"too_long", std::string(4096, '1'), 0, 2147483647, false, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(PromptNumber, BelowMinimumIsRejected) {
  ScriptedConsole io("0\n1\n");
  EXPECT_EQ(PromptNumber("? ", 1, 4095), 1);
  EXPECT_EQ(io.output, "? " + kRejected + "? ");
}

TEST(PromptNumber, EndOfInputEndsThePrompt) {
  ScriptedConsole io("x\n");
  EXPECT_THROW(PromptNumber("? ", 0, 4), console::InputEnded);
}

TEST(PromptText, ModesJudgeTheLength) {
  struct Case {
    int maxLength, mode;
    std::string line;
    bool accepted;
  };
  const Case cases[] = {
      {12, 0, "0123456789ab", true},
      {12, 0, "0123456789a", false},
      {12, 0, "0123456789abc", false},
      {16, 1, "a", true},
      {16, 1, std::string(16, 'x'), true},
      {16, 1, std::string(17, 'x'), false},
      {16, 1, "", false},
      {1024, 3, std::string(1024, 'f'), true},
      {1024, 3, std::string(1025, 'f'), false},
      {12, 0, "", false},
  };
  for (const Case& c : cases) {
    ScriptedConsole io(c.line + "\n" + (c.mode == 0 ? std::string(c.maxLength, 'z') : "z") + "\n");
    std::string out(static_cast<std::size_t>(c.maxLength) + 1, '#');
    EXPECT_EQ(PromptText(out.data(), c.maxLength, "> ", c.mode), 1);
    const std::string expected =
        c.accepted ? c.line : (c.mode == 0 ? std::string(c.maxLength, 'z') : "z");
    EXPECT_STREQ(out.c_str(), expected.c_str()) << c.line.size() << " mode " << c.mode;
    EXPECT_EQ(io.output, c.accepted ? "> " : "> " + kRejected + "> ") << c.line.size();
  }
}

TEST(HexToBytes, Table) {
  struct Case {
    const char* text;
    int count;
    Bytes expected;  // the first bytes of a buffer that started as 77 77 77 77 77 77 77
  };
  const Case cases[] = {
      {"0011AABBCCDD", 12, {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD, 0x77}},
      {"0011aabbccdd", 12, {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD, 0x77}},
      {"ABC", 3, {0xAB, 0xC0, 0x77, 0x77, 0x77, 0x77, 0x77}},
      {"G1", 2, {0x01, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77}},
      {"-", 1, {0x00, 0x77, 0x77, 0x77, 0x77, 0x77, 0x77}},
      {"0123456789zz", 12, {0x01, 0x23, 0x45, 0x67, 0x89, 0x00, 0x77}},
  };
  for (const Case& c : cases) {
    Bytes out(7, 0x77);
    HexToBytes(c.text, c.count, out.data());
    EXPECT_EQ(out, c.expected) << c.text;
  }
}

TEST(Reports, ErrorCodeAndResultForms) {
  ScriptedConsole io("ab");
  FakeLink obj;
  obj.MakeCommand(CMD_GET_STATUS, 4);
  obj.Transact(0);
  PrintErrorCode(obj);
  PrintResultFailure(200);
  EXPECT_EQ(io.output,
            "\n Failure:10009\n\n Press any key"
            "\n Failure:10207\n Result:200\n\n Press any key");
  EXPECT_EQ(io.Unread(), 0u);
}

TEST(Reports, KeyWaitAtEndOfInputEndsTheTool) {
  ScriptedConsole io("");
  EXPECT_THROW(PrintResultFailure(1), console::InputEnded);
}

TEST(Ini, NamesValuesAndLineEnds) {
  const auto ini = console::IniFile::Parse(
      "; comment\r\n"
      "[ Serial ]\r\n"
      "  port =  ttyUSB0  \r\n"
      "PORT=COM9\r\n"
      "RATE=+9600xyz\r\n"
      "[ETHERNET]\n"
      "IP=\"10.1.2.3\"\n"
      "PORT=-1\n"
      "ARP=abc\n"
      "HOST_IP=127.0.0.1.1234567890\n"
      "[serial]\n"
      "DATABIT=7\n");
  EXPECT_EQ(ini.GetString("SERIAL", "PORT", "COM1", 7), "ttyUSB0");
  EXPECT_EQ(ini.GetInt("SERIAL", "RATE", 115200), 9600);
  EXPECT_EQ(ini.GetInt("SERIAL", "DATABIT", 8), 8);  // only the first [SERIAL] counts
  EXPECT_EQ(ini.GetString("ETHERNET", "IP", "x", 15), "10.1.2.3");
  EXPECT_EQ(ini.GetInt("ETHERNET", "PORT", 0xC000), -1);
  EXPECT_EQ(ini.GetInt("ETHERNET", "ARP", 7), 0);  // no leading digits
  EXPECT_EQ(ini.GetString("ETHERNET", "HOST_IP", "", 15), "127.0.0.1.12345");
  EXPECT_EQ(ini.GetString("ETHERNET", "MAC", "-", 12), "-");
  EXPECT_EQ(ini.GetInt("NOWHERE", "X", 42), 42);
}

// Files written for the tools on Windows read the same here: the table that the Windows tests
// also compare with the system's profile functions.
class IniLikeWindows : public ::testing::TestWithParam<initest::IniCase> {};

TEST_P(IniLikeWindows, ReadsAsTheSystemsProfileFunctionsDo) {
  const initest::IniCase& c = GetParam();
  const auto ini = console::IniFile::Parse(c.text);
  // As a C string: the tools use the value up to a NUL, as the system does.
  const std::string got =
      c.integer ? std::to_string(ini.GetInt(c.section, c.key, initest::kFallbackInt))
                : ini.GetString(c.section, c.key, initest::kFallbackText, initest::kKeep).c_str();
  EXPECT_EQ(got, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Files, IniLikeWindows, ::testing::ValuesIn(initest::IniCases()),
                         [](const auto& test) { return std::string(test.param.name); });

// Beyond ASCII a UTF-16 file's text reads as UTF-8 (the Windows table above holds ASCII only, as
// the system's ANSI functions give other bytes): two- and three-byte characters, a surrogate
// pair, and a lone surrogate, which becomes U+FFFD.
TEST(Ini, Utf16TextBeyondAsciiReadsAsUtf8) {
  const std::u16string text = u"[S]\r\nV=\u00e9\u20ac\U0001F600\xD800x\r\n";
  std::string little = "\xFF\xFE";
  std::string big = "\xFE\xFF";
  for (const char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    little += {low, high};
    big += {high, low};
  }
  const std::string expected = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDx";
  EXPECT_EQ(console::IniFile::Parse(little).GetString("S", "V", "", 15), expected);
  EXPECT_EQ(console::IniFile::Parse(big).GetString("S", "V", "", 15), expected);
}

TEST(LinkConfig, DefaultsWithoutAFile) {
  const auto c = console::ReadLinkConfig(console::IniFile::Load("/nonexistent/sample.ini"), true);
  EXPECT_EQ(c.serialPort, "COM1");
  EXPECT_EQ(c.rate, 115200u);
  EXPECT_EQ(c.dataBits, 8);
  EXPECT_EQ(c.parity, 0);
  EXPECT_EQ(c.stopBits, 0);
  EXPECT_EQ(c.ip, "192.168.0.249");
  EXPECT_EQ(c.etherPort, 49152);
  EXPECT_EQ(c.hostIp, "");
  EXPECT_EQ(c.arp, 0);
  EXPECT_EQ(c.macBytes, (std::array<std::uint8_t, 6>{}));
}

TEST(LinkConfig, ValuesCutAndConverted) {
  const auto ini = console::IniFile::Parse(
      "[SERIAL]\nPORT=ttyUSB10\nRATE=9600\nDATABIT=7\nPARITY=2\nSTOPBIT=2\n"
      "[ETHERNET]\nIP=127.0.0.2\nPORT=65537\nARP=1\nMAC=0011AABBCCDDEE\n");
  const auto tool = console::ReadLinkConfig(ini, true);
  EXPECT_EQ(tool.serialPort, "ttyUSB1");
  EXPECT_EQ(tool.etherPort, 1);  // kept in 16 bits
  EXPECT_EQ(tool.dataBits, 7);
  EXPECT_EQ(tool.parity, 2);
  EXPECT_EQ(tool.stopBits, 2);
  EXPECT_EQ(tool.mac, "0011AABBCCDD");
  EXPECT_EQ(tool.macBytes, (std::array<std::uint8_t, 6>{0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD}));
  // The maintenance tool ignores the line format keys.
  const auto maintenance = console::ReadLinkConfig(ini, false);
  EXPECT_EQ(maintenance.dataBits, 8);
  EXPECT_EQ(maintenance.parity, 0);
  EXPECT_EQ(maintenance.stopBits, 0);
}

TEST(LinkConfig, ShortMacLeavesTheRestZero) {
  for (const char* mac : {"-", "ABC", ""}) {
    const auto ini = console::IniFile::Parse(std::string("[ETHERNET]\nARP=1\nMAC=") + mac + "\n");
    const auto c = console::ReadLinkConfig(ini, false);
    const std::array<std::uint8_t, 6> expected = std::string(mac) == "ABC"
                                                     ? std::array<std::uint8_t, 6>{0xAB, 0xC0}
                                                     : std::array<std::uint8_t, 6>{};
    EXPECT_EQ(c.macBytes, expected) << mac;
  }
}

TEST(LinkConfig, MacIsReadOnlyWithArp) {
  const auto ini = console::IniFile::Parse("[ETHERNET]\nARP=2\nMAC=0011AABBCCDD\n");
  EXPECT_EQ(console::ReadLinkConfig(ini, false).macBytes, (std::array<std::uint8_t, 6>{}));
}

TEST(Ini, LoadsAFile) {
  const std::string path = ::testing::TempDir() + "ini_load_test.ini";
  std::ofstream(path) << "[ETHERNET]\r\nIP=127.0.0.9\r\n";
  EXPECT_EQ(console::IniFile::Load(path.c_str()).GetString("ETHERNET", "IP", "", 15), "127.0.0.9");
  std::remove(path.c_str());
}

}  // namespace
