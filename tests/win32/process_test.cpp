// The static ARP entry on Windows: CreateProcessA with the formatted line, waited for on the
// process handle; a request to end stops the wait.
#include <gtest/gtest.h>

// clang-format off
#include "tests/win32/win_support.h"  // winsock2.h before windows.h
// clang-format on
#include <windows.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "extcmd/zanto_extcmd_if.h"
#include "platform/process.h"
#include "platform/termination.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A scratch folder holding the fake arp, made the current folder for the test.
class ArpFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    fs::copy_file(fs::path(self).parent_path() / "fake_arp.exe", dir_.Path() / "arp.exe");
    previous_ = fs::current_path();
    fs::current_path(dir_.Path());
  }
  void TearDown() override { fs::current_path(previous_); }

  std::string Calls() const {
    std::stringstream calls;
    calls << std::ifstream(dir_.Path() / "arp.calls", std::ios::binary).rdbuf();
    return calls.str();
  }

  wintest::ScratchFolder dir_;
  fs::path previous_;
};

constexpr std::array<std::uint8_t, 6> kMac = {0x00, 0x11, 0xAA, 0xBB, 0xCC, 0xDD};

TEST_F(ArpFolder, SetArpEntryRunsTheLineAsFormattedAndWaitsForItsEnd) {
  C_ZANTO_EXTCMD_IF extcmd(5000);
  EXPECT_EQ(extcmd.SetArpEntry("127.0.0.2", kMac.data(), "127.0.0.1"), 1);
  // arp has ended when the call returns: its record is there, line feed included.
  EXPECT_EQ(Calls(), "arp -s 127.0.0.2 00-11-aa-bb-cc-dd 127.0.0.1\n");
}

TEST_F(ArpFolder, AnEmptyHostAddressEndsTheLineInABlank) {
  C_ZANTO_EXTCMD_IF extcmd(5000);
  EXPECT_EQ(extcmd.SetArpEntry("127.0.0.2", kMac.data(), ""), 1);
  EXPECT_EQ(Calls(), "arp -s 127.0.0.2 00-11-aa-bb-cc-dd \n");
}

TEST_F(ArpFolder, ARequestToEndStopsTheWaitAndTheProgramFinishesOnItsOwn) {
  std::ofstream("arp.hold") << "";
  const plat::TerminationWatch watch;
  std::thread request([] {
    std::this_thread::sleep_for(200ms);
    plat::NoteOutputLost();
  });
  EXPECT_TRUE(plat::RunCommandLine("arp -s 127.0.0.2 00-11-aa-bb-cc-dd 127.0.0.1\n"));
  request.join();
  EXPECT_EQ(Calls(), "") << "the wait ended while arp was still held";
  fs::remove("arp.hold");
  for (int i = 0; i < 500 && Calls().empty(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(Calls().empty());
}

TEST(RunCommandLine, AProgramThatCannotBeStartedIsReported) {
  EXPECT_FALSE(plat::RunCommandLine("plc-no-such-program -s 1 2\n"));
}

}  // namespace
