// "sample.ini" as Windows reads it: the project's reader against GetPrivateProfileStringA and
// GetPrivateProfileIntA over the table of awkward files: every value agrees.
#include <gtest/gtest.h>

// clang-format off
#include "tests/win32/win_support.h"  // winsock2.h before windows.h
// clang-format on
#include <windows.h>

#include <string>

#include "console/ini.h"
#include "tests/unit/ini_cases.h"

namespace {

using initest::IniCase;
using initest::kFallbackInt;
using initest::kFallbackText;
using initest::kKeep;

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
    windows = std::to_string(
        static_cast<int>(GetPrivateProfileIntA(c.section, c.key, kFallbackInt, file.c_str())));
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

INSTANTIATE_TEST_SUITE_P(Files, ReadLikeWindows, ::testing::ValuesIn(initest::IniCases()),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
