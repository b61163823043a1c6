// The "sample.ini" examples a technician copies (the installed one, the README's, the manual
// pages') read with the tools' own reader: every value shown is exactly what the tools get, and
// every key an example leaves out gets its default.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "console/entry.h"
#include "console/ini.h"

namespace {

using console::IniFile;
using console::LinkConfig;

struct Example {
  std::string where;  // file and first line, for the report
  std::string text;
};

// Every key of both tools, and how its value comes out of the reader. "MAC" is read only when
// "ARP" is 1, so it is taken from a reading with "ARP" switched on.
struct Key {
  const char* section;
  const char* name;
  bool readWithArpOnly;
  std::string (*value)(const LinkConfig&);
};

const Key kKeys[] = {
    {"SERIAL", "PORT", false, [](const LinkConfig& c) { return c.serialPort; }},
    {"SERIAL", "RATE", false, [](const LinkConfig& c) { return std::to_string(c.rate); }},
    {"SERIAL", "DATABIT", false, [](const LinkConfig& c) { return std::to_string(c.dataBits); }},
    {"SERIAL", "PARITY", false, [](const LinkConfig& c) { return std::to_string(c.parity); }},
    {"SERIAL", "STOPBIT", false, [](const LinkConfig& c) { return std::to_string(c.stopBits); }},
    {"ETHERNET", "IP", false, [](const LinkConfig& c) { return c.ip; }},
    {"ETHERNET", "PORT", false, [](const LinkConfig& c) { return std::to_string(c.etherPort); }},
    {"ETHERNET", "HOST_IP", false, [](const LinkConfig& c) { return c.hostIp; }},
    {"ETHERNET", "ARP", false, [](const LinkConfig& c) { return std::to_string(c.arp); }},
    {"ETHERNET", "MAC", true, [](const LinkConfig& c) { return c.mac; }},
};

std::string Upper(std::string_view s) {
  std::string u(s);
  std::transform(u.begin(), u.end(), u.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return u;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  std::istringstream in{std::string(text)};
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const Key* FindKey(std::string_view section, std::string_view name) {
  for (const Key& k : kKeys) {
    if (Upper(section) == k.section && Upper(name) == k.name) return &k;
  }
  return nullptr;
}

// What an example says: the value written for a key, at a line of the example.
struct Claim {
  const Key* key;
  std::string value;
  std::size_t line;  // from 1
};

// The example with "ARP" set to 1 in its first "ETHERNET" section (the one the tools read): the
// "ARP" line changed, or one added at the section's end, or a section of its own added.
std::string WithArpOn(std::string_view text) {
  std::string out;
  std::string section;
  bool done = false;
  for (const std::string& line : Lines(text)) {
    const std::string_view t = Trim(line);
    const bool header = !t.empty() && t.front() == '[';
    if (!done && section == "ETHERNET" && header) {
      out += "ARP=1\n";
      done = true;
    }
    if (header) section = Upper(Trim(t.substr(1, t.find(']') - 1)));
    const auto eq = t.find('=');
    const bool arpLine = !header && eq != t.npos && Upper(Trim(t.substr(0, eq))) == "ARP";
    if (!done && section == "ETHERNET" && arpLine) {
      out += "ARP=1\n";
      done = true;
      continue;
    }
    out += line + "\n";
  }
  if (!done) out += section == "ETHERNET" ? "ARP=1\n" : "[ETHERNET]\nARP=1\n";
  return out;
}

struct Reading {
  LinkConfig plain;    // as the tools read the example
  LinkConfig withArp;  // the same with "ARP" on, for the keys read only then
  const LinkConfig& For(const Key& k) const { return k.readWithArpOnly ? withArp : plain; }
};

Reading Read(std::string_view text) {
  return {console::ReadLinkConfig(IniFile::Parse(text), true),
          console::ReadLinkConfig(IniFile::Parse(WithArpOn(text)), true)};
}

const Reading& Defaults() {
  static const Reading defaults = Read("");
  return defaults;
}

// Everything wrong with an example: lines that are no setting, keys the tools do not read, keys
// given twice, comments after values, values the tools read differently from what is written,
// keys left out that do not read as their defaults. With installed, also: every key is there, at
// its default, with a comment line of its own right above it.
std::vector<std::string> Problems(const Example& example, bool installed = false) {
  std::vector<std::string> problems;
  const auto report = [&](std::size_t line, const std::string& what) {
    problems.push_back(example.where + ", line " + std::to_string(line) + ": " + what);
  };
  std::vector<Claim> claims;
  std::optional<std::string> section;
  const std::vector<std::string> lines = Lines(example.text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view t = Trim(lines[i]);
    if (t.empty() || t.front() == ';') continue;
    if (t.front() == '[' && t.back() == ']') {
      section = std::string(Trim(t.substr(1, t.size() - 2)));
      continue;
    }
    const auto eq = t.find('=');
    if (eq == t.npos || !section) {
      report(i + 1, std::string("\"").append(t) + "\" is no setting");
      continue;
    }
    const std::string name(Trim(t.substr(0, eq)));
    const Key* key = FindKey(*section, name);
    if (key == nullptr) {
      report(i + 1, std::string("[") + *section + "] " + name + " is no key the tools read");
      continue;
    }
    if (std::any_of(claims.begin(), claims.end(), [&](const Claim& c) { return c.key == key; })) {
      report(i + 1, std::string(key->name) + " is given twice; the tools read only the first");
      continue;
    }
    claims.push_back({key, std::string(Trim(t.substr(eq + 1))), i + 1});
    // No value of the tools holds a ';': one there is a comment, which the reader keeps as
    // part of the value even where the cut to the kept length happens to hide it.
    if (claims.back().value.find(';') != std::string::npos) {
      report(i + 1, std::string(key->name) + " has a comment after its value");
    }
    if (installed) {
      const bool comment = i >= 1 && Trim(lines[i - 1]).starts_with(";");
      const bool oneLine = i < 2 || !Trim(lines[i - 2]).starts_with(";");
      if (!comment || !oneLine) {
        report(i + 1, std::string(key->name) + " needs one comment line above it");
      }
    }
  }

  const Reading reading = Read(example.text);
  for (const Key& key : kKeys) {
    const std::string read = key.value(reading.For(key));
    const std::string fallback = key.value(Defaults().For(key));
    const auto claim =
        std::find_if(claims.begin(), claims.end(), [&](const Claim& c) { return c.key == &key; });
    const std::string name = std::string("[") + key.section + "] " + key.name;
    if (claim == claims.end()) {
      if (installed) report(0, name + " is missing");
      if (read != fallback) {
        report(0, name + " is not shown but reads as \"" + read + "\", not its default \"" +
                      fallback + "\"");
      }
      continue;
    }
    if (read != claim->value) {
      report(claim->line, name + "=" + claim->value + " reads as \"" + read + "\"");
    }
    if (installed && claim->value != fallback) {
      report(claim->line,
             name + " shows \"" + claim->value + "\", not its default \"" + fallback + "\"");
    }
  }
  return problems;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The README's "ini" code blocks.
std::vector<Example> MarkdownExamples(const std::string& path) {
  std::vector<Example> examples;
  std::optional<Example> open;
  const std::vector<std::string> lines = Lines(FileText(path));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!open && lines[i] == "```ini") {
      open = Example{path + ":" + std::to_string(i + 2), ""};
    } else if (open && lines[i].starts_with("```")) {
      examples.push_back(*open);
      open.reset();
    } else if (open) {
      open->text += lines[i] + "\n";
    }
  }
  return examples;
}

// A line of a roff example as it shows on the page: the escapes the pages use undone.
std::string Unroff(std::string line) {
  static const std::pair<std::string_view, std::string_view> kEscapes[] = {
      {"\\-", "-"}, {"\\(dq", "\""}, {"\\(aq", "'"}, {"\\&", ""}, {"\\e", "\\"}};
  for (const auto& [escape, plain] : kEscapes) {
    for (std::size_t at = 0; (at = line.find(escape, at)) != line.npos; at += plain.size()) {
      line.replace(at, escape.size(), plain);
    }
  }
  return line;
}

// A manual page's example blocks (.EX to .EE) that hold a section line: its "sample.ini" ones.
std::vector<Example> ManualPageExamples(const std::string& path) {
  std::vector<Example> examples;
  std::optional<Example> open;
  bool hasSection = false;
  const std::vector<std::string> lines = Lines(FileText(path));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!open && lines[i] == ".EX") {
      open = Example{path + ":" + std::to_string(i + 2), ""};
      hasSection = false;
    } else if (open && lines[i] == ".EE") {
      if (hasSection) examples.push_back(*open);
      open.reset();
    } else if (open) {
      const std::string line = Unroff(lines[i]);
      hasSection = hasSection || line.starts_with("[");
      open->text += line + "\n";
    }
  }
  return examples;
}

const std::string kSourceDir = PLC_SOURCE_DIR;
const std::string kManualPageDir = PLC_MANUAL_PAGE_DIR;

TEST(IniExamples, InstalledExampleHoldsEveryKeyAtItsDefaultWithItsComment) {
  const Example installed{"doc/sample.ini", FileText(kSourceDir + "/doc/sample.ini")};
  const std::vector<std::string> problems = Problems(installed, true);
  EXPECT_TRUE(problems.empty()) << Join(problems);
}

TEST(IniExamples, ReadmeExamplesReadAsShown) {
  const std::vector<Example> examples = MarkdownExamples(kSourceDir + "/README.md");
  EXPECT_GE(examples.size(), 4u) << "the README's ini blocks were not found";
  for (const Example& e : examples) {
    const std::vector<std::string> problems = Problems(e);
    EXPECT_TRUE(problems.empty()) << Join(problems);
  }
}

TEST(IniExamples, ManualPageExamplesReadAsShown) {
  for (const char* page : {"sample.1", "tarvik.1", "plc_adapter_emulator.1", "sample.ini.5"}) {
    const std::vector<Example> examples = ManualPageExamples(kManualPageDir + "/" + page);
    EXPECT_FALSE(examples.empty()) << page << ": its sample.ini examples were not found";
    for (const Example& e : examples) {
      const std::vector<std::string> problems = Problems(e);
      EXPECT_TRUE(problems.empty()) << Join(problems);
    }
  }
}

// The check itself: the faults a copied example can carry are each reported.
struct FaultCase {
  const char* what;
  const char* text;
  const char* reported;  // part of the report; nullptr: no problem
};

const FaultCase kFaults[] = {
    {"a sound example", "[ETHERNET]\nIP=127.0.0.2\nPORT=49152\nHOST_IP=127.0.0.1\n", nullptr},
    {"names in any case", "[serial]\nport=ttyUSB0\n", nullptr},
    {"a comment after a text value", "[SERIAL]\nPORT=COM1 ; serial port\n",
     "[SERIAL] PORT=COM1 ; serial port reads as \"COM1 ; \""},
    {"a comment as the whole value", "[ETHERNET]\nHOST_IP= ; this computer\n",
     "HOST_IP has a comment after its value"},
    {"a value longer than kept", "[ETHERNET]\nIP=192.168.100.1000\n",
     "reads as \"192.168.100.100\""},
    {"a number the reader cannot read", "[ETHERNET]\nPORT=0XC000\n", "reads as \"0\""},
    {"an empty number", "[SERIAL]\nRATE=\n", "RATE= reads as \"115200\""},
    {"a port beyond 16 bits", "[ETHERNET]\nPORT=65536\n", "reads as \"0\""},
    {"a key of another section", "[ETHERNET]\nRATE=9600\n", "is no key the tools read"},
    {"a misspelt key", "[ETHERNET]\nHOSTIP=127.0.0.1\n", "is no key the tools read"},
    {"a key given twice", "[SERIAL]\nRATE=9600\nRATE=19200\n", "given twice"},
    {"a second section of a name",
     "[SERIAL]\nPORT=COM2\n[ETHERNET]\nIP=127.0.0.2\n[SERIAL]\nRATE=9600\n",
     "RATE=9600 reads as \"115200\""},
    {"a key before any section", "PORT=COM2\n", "is no setting"},
    {"a MAC that is read only with ARP=1", "[ETHERNET]\nMAC=0011aabbccdd ; adapter\n",
     "reads as \"0011aabbccdd\""},
};

TEST(IniExampleCheck, ReportsEachFaultACopiedExampleCanCarry) {
  for (const FaultCase& c : kFaults) {
    const std::string problems = Join(Problems({c.what, c.text}));
    if (c.reported == nullptr) {
      EXPECT_EQ(problems, "") << c.what;
    } else {
      EXPECT_NE(problems.find(c.reported), std::string::npos) << c.what << ":\n" << problems;
    }
  }
}

TEST(IniExampleCheck, InstalledExampleMustBeCompleteAtDefaultsAndCommented) {
  const std::string problems = Join(Problems(
      {"installed",
       "[SERIAL]\n; port\nPORT=COM2\nRATE=115200\n[ETHERNET]\n; a\n; b\nIP=192.168.0.249\n"},
      true));
  for (const char* reported :
       {"PORT shows \"COM2\", not its default \"COM1\"", "RATE needs one comment line above it",
        "IP needs one comment line above it", "[ETHERNET] MAC is missing"}) {
    EXPECT_NE(problems.find(reported), std::string::npos) << reported << " in:\n" << problems;
  }
}

}  // namespace
