// A tool typed on its terminal in a scene with the emulated adapter: the screens both tools show,
// and the steps every end-to-end test takes from the link prompt to the tool's end.
#pragma once

#include <gtest/gtest.h>
#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>

#include "tests/e2e/pty_driver.h"
#include "tests/e2e/scene.h"
#include "tests/texts.h"

namespace e2e {

// The tools' prompts and menus, by their plain names in every end-to-end test.
using namespace tool_texts;

// The values of a status record behind its mode and MAC lines, and how the tool prints them.
inline void SetStatusValues(sim::StatusProfile& s) {
  s.registeredInfo = 2;
  s.etherLinkUp = 1;
  s.etherSpdDpx = 1000;
  s.multipleMode = 3;
  s.mainVersion = "MAIN 1.2.3";
  s.bootVersion = "BOOT 0.9";
  s.beaconStatus = 7;
}
inline const std::string kStatusValueLines =
    " Registered Info ........ 2\n"
    " Ether LinkUp ........... 1\n"
    " Ether SpdDpx ........... 1000\n"
    " Multiple Mode .......... 3\n"
    " Main Version ........... MAIN 1.2.3\n"
    " Boot Version ........... BOOT 0.9\n"
    " Beacon Status .......... 7\n";

// An identity record for PLC Info Resolution, the address typed for it, and the screen the
// tool prints for it (after the typed line).
inline void SetExampleIdentity(sim::IdentityProfile& i) {
  i.mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x5F};
  i.ip = {192, 168, 0, 10};
  i.subnetMask = {255, 255, 255, 0};
  i.commandVersion = 0x201;
  i.modelName = "PLC-MODEL-X";
  i.optionFlag = 0x80000008;
}
inline const std::string kExampleIdentityAddress = "192.168.0.10";
inline const std::string kExampleIdentityScreen =
    "\n"
    " MAC Address............. 00-11-22-33-44-5f\n"
    " IP Address.............. 192.168.0.10\n"
    " Sub-Net Mask............ 255.255.255.0\n"
    " Model Name.............. PLC-MODEL-X\n"
    " Command Version......... 0x00000201\n"
    " Option Flag............. 0x80000008\n"
    "\n\n Press any key";

// What is typed at the link prompt.
enum class Link { Udp, Serial };
inline std::string LinkChoice(Link link) { return link == Link::Udp ? "0" : "1"; }
inline std::string LinkName(Link link) { return link == Link::Udp ? "Udp" : "Serial"; }
inline void PrintTo(Link link, std::ostream* os) { *os << LinkName(link); }

// A scene whose emulator also serves the serial line, with more "SERIAL" keys if given.
inline ToolScene::Settings WithSerialLine(std::string serialKeys = {}) {
  ToolScene::Settings settings;
  settings.serial = true;
  settings.serialKeys = std::move(serialKeys);
  return settings;
}

// One tool on a terminal in a scene; the scene serves the serial line too when asked. A fixture
// for another build of the tools (the Windows one under Wine) says how its program starts, how
// its output ends lines, and how the link is typed; the steps stay the same.
class ToolTest : public ::testing::Test {
 protected:
  ToolTest() = default;
  explicit ToolTest(const ToolScene::Settings& settings) : scene_(settings) {}

  // How the program starts: in the scene's folder, on its terminal.
  virtual PtyProcess::Options Launch(const char* program) const { return scene_.Launch(program); }
  // The line-end rule: a text of the tools, written with "\n", as the program's output shows it.
  virtual std::string Shown(const std::string& text) const { return text; }
  // How long the start may take up to the link prompt.
  virtual std::chrono::milliseconds StartWait() const { return kDefaultWait; }
  // Types the choice at the link prompt.
  virtual void TypeAtLinkPrompt(const std::string& line) { tool_->SendLine(line); }

  // Starts the program, chooses the link and waits for its main menu right after the echo.
  void StartAtMenu(const char* program, const std::string& menu, Link link = Link::Udp) {
    menu_ = Shown(menu);
    tool_.emplace(Launch(program));
    const std::string prompt = Shown(kLinkPrompt);
    ASSERT_EQ(tool_->ReadUntil(prompt, StartWait()), prompt) << Seen();
    ASSERT_NO_FATAL_FAILURE(TypeAtLinkPrompt(LinkChoice(link)));
    ASSERT_EQ(tool_->ReadUntil(menu_), Echo(LinkChoice(link)) + menu_) << Seen();
  }

  // A typed line as the output shows it: its echo, when the output is the terminal.
  std::string Echo(const std::string& line) const {
    return tool_->EchoInOutput() ? line + "\n" : std::string();
  }
  // What the tool showed, for a failure's message.
  std::string Seen() const {
    if (tool_->EchoInOutput()) return tool_->Output();
    return tool_->Output() +
           "\non the terminal: " + ::testing::PrintToString(tool_->TerminalOutput());
  }

  // Types the line and returns what the tool shows up to and with `text` (given with "\n").
  std::string Answer(const std::string& line, const std::string& text,
                     std::chrono::milliseconds wait = kDefaultWait) {
    tool_->SendLine(line);
    return tool_->ReadUntil(Shown(text), wait)
        .value_or("(not shown: " + text + ") " + tool_->Unconsumed());
  }
  std::string UpToKeyPrompt(const std::string& line,
                            std::chrono::milliseconds wait = kDefaultWait) {
    return Answer(line, kKeyPrompt, wait);
  }

  // A key, then the main menu exactly (the key is not echoed).
  void KeyAndMenu() {
    ASSERT_TRUE(tool_->SendKey('k'));
    EXPECT_EQ(tool_->ReadUntil(menu_), menu_);
  }
  // 0 at the main menu ends the tool with status 0.
  void Quit() {
    tool_->SendLine("0");
    EXPECT_EQ(tool_->WaitExit(), 0);
  }
  void KeyMenuAndQuit() {
    KeyAndMenu();
    Quit();
  }

  // The line settings of the emulator's serial line, as the tool's end of it has them.
  termios SerialLineSettings() const {
    termios t{};
    EXPECT_EQ(tcgetattr(scene_.serialServer->LineHandle(), &t), 0);
    return t;
  }
  void SetSerialLineSettings(const termios& t) const {
    ASSERT_EQ(tcsetattr(scene_.serialServer->LineHandle(), TCSANOW, &t), 0);
  }

  std::string WriteFile(const std::string& name, const sim::Bytes& bytes) const {
    return e2e::WriteFile(scene_.scratch.Path(), name, bytes);
  }

  ToolScene scene_;
  std::optional<PtyProcess> tool_;
  std::string menu_;
};

}  // namespace e2e
