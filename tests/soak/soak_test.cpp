// Soak: long runs of Get Status against the emulated adapter hold descriptors and memory flat.
//
// Over loopback UDP and over a pseudo-terminal, through the interface object in this process and
// through the built sample with its standard input and output on pipes: every exchange works, and
// the open descriptors and resident memory at the end are those after the first exchanges.
//
// The counts come from PLC_SOAK_UDP and PLC_SOAK_SERIAL; the defaults keep the run short for CI
// (a serial exchange lasts at least 100 ms by design).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/records.h"
#include "extcmd/serial_coding.h"
#include "extcmd/zanto_extcmd_if.h"
#include "sim/adapter.h"
#include "tests/e2e/pipe_driver.h"
#include "tests/e2e/scene.h"
#include "tests/e2e/tool_test.h"
#include "tests/toolkit/fd.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kCiUdpExchanges = 10000;
constexpr std::size_t kCiSerialExchanges = 120;
// The reference is taken after this many exchanges (or after half of a shorter run).
constexpr std::size_t kSettledAfter = 100;
// Resident memory may differ by a few pages: the allocator does not hand back every page at once.
constexpr long kFewPagesKiB = 4 * 4;

std::size_t Exchanges(Link link) {
  const char* name = link == Link::Udp ? "PLC_SOAK_UDP" : "PLC_SOAK_SERIAL";
  const char* value = std::getenv(name);
  const std::size_t count = value && *value ? std::strtoul(value, nullptr, 10) : 0;
  if (count > 0) return count;
  return link == Link::Udp ? kCiUdpExchanges : kCiSerialExchanges;
}

std::size_t SettledAfter(std::size_t exchanges) { return std::min(kSettledAfter, exchanges / 2); }

// What a process holds.
struct Usage {
  long descriptors;
  long residentKiB;
  static Usage Of(pid_t pid) { return {OpenDescriptors(pid), ResidentKiB(pid)}; }
};

void ExpectNothingGrew(const Usage& settled, const Usage& end) {
  ASSERT_GT(settled.descriptors, 0) << "cannot read /proc";
  EXPECT_EQ(end.descriptors, settled.descriptors);
  EXPECT_LE(end.residentKiB, settled.residentKiB + kFewPagesKiB)
      << "resident memory grew from " << settled.residentKiB << " KiB to " << end.residentKiB
      << " KiB";
  std::cout << "descriptors " << settled.descriptors << " -> " << end.descriptors << ", resident "
            << settled.residentKiB << " KiB -> " << end.residentKiB << " KiB\n";
}

ToolScene::Settings SceneFor(Link link) {
  return link == Link::Serial ? WithSerialLine() : ToolScene::Settings{};
}

const sim::Bytes kGetStatus =
    sim::MakeFrame(frame::kDirRequest, CMD_GET_STATUS | 1, sim::Bytes(4, 0));

// The emulator keeps a window of the most recent requests it saw. Filled once before the run,
// the window only turns over, so what it holds in this process no longer grows with the run.
class RecordFiller {
 public:
  explicit RecordFiller(const ToolScene& scene) : scene_(scene) {}

  void Fill(Link link) {
    const std::size_t count = std::max(sim::Adapter::kKeptRequests, sim::UdpServer::kKeptRequests);
    link == Link::Udp ? OverUdp(count) : OverTheLine(count);
  }

 private:
  // From a socket of its own on the tool's address, one request and its answer at a time.
  void OverUdp(std::size_t count) {
    const toolkit::UniqueFd socket = toolkit::BoundUdp(kToolAddress, 0);
    ASSERT_TRUE(socket);
    const int fd = socket.get();
    const sockaddr_in a = toolkit::Address(kAdapterAddress, scene_.port);
    sim::Bytes datagram(2, 0);
    datagram.insert(datagram.end(), kGetStatus.begin(), kGetStatus.end());
    std::uint8_t answer[4096];
    for (std::size_t i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
      sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&a),
             sizeof a);
      pollfd p{fd, POLLIN, 0};
      ASSERT_EQ(poll(&p, 1, static_cast<int>(kDefaultWait.count())), 1);
      ASSERT_GT(recv(fd, answer, sizeof answer, 0), 0);
    }
  }

  // Through the tool's end of the line, raw, one request and its answer at a time; nothing is
  // left on the line for the run.
  void OverTheLine(std::size_t count) {
    const std::string path = "/dev/" + scene_.serialServer->PortName();
    const toolkit::UniqueFd port(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(port) << path;
    const int fd = port.get();
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    const sim::Bytes line = serial_line::Encode(serial_line::Body(kGetStatus));
    for (std::size_t i = 0; i < count && !::testing::Test::HasFailure(); ++i) {
      ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
      // An answer holds no end byte but its last.
      const auto deadline = Clock::now() + kDefaultWait;
      std::uint8_t last = 0;
      while (last != SERIAL_TERMINATOR && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 100);
        std::uint8_t chunk[512];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got > 0) last = chunk[got - 1];
      }
      ASSERT_EQ(last, SERIAL_TERMINATOR) << "no answer to request " << i;
    }
  }

  const ToolScene& scene_;
};

class SoakThroughTheObject : public ::testing::TestWithParam<Link> {};

TEST_P(SoakThroughTheObject, EveryGetStatusWorksAndNothingGrows) {
  const Link link = GetParam();
  ToolScene scene(SceneFor(link));
  RecordFiller(scene).Fill(link);
  ASSERT_FALSE(HasFailure());

  C_ZANTO_EXTCMD_IF extcmd(5000);
  const std::uint8_t mac[6] = {};
  ASSERT_EQ(link == Link::Udp
                ? extcmd.OpenEther(kToolAddress, kAdapterAddress, scene.port, mac)
                : extcmd.OpenSerial(scene.serialServer->PortName().c_str(), 115200, 8, 0, 0),
            1);
  const sim::Bytes expected = sim::StatusRecord(sim::StatusProfile{});
  const std::size_t exchanges = Exchanges(link);
  // Reading /proc takes memory of this process too: read it once before, so that what the
  // reading needs is in place for both readings that count.
  Usage settled = Usage::Of(getpid());
  std::size_t failed = 0;
  int firstError = 0;
  for (std::size_t i = 0; i < exchanges; ++i) {
    extcmd.MakeCommand(CMD_GET_STATUS, 4);
    const bool ok =
        extcmd.Transact(0) == 1 && std::equal(expected.begin(), expected.end(), extcmd.GetData());
    if (!ok && failed++ == 0) firstError = extcmd.GetErrorCode();
    if (i + 1 == SettledAfter(exchanges)) settled = Usage::Of(getpid());
  }
  const Usage end = Usage::Of(getpid());
  EXPECT_EQ(failed, 0u) << "of " << exchanges << "; the first with code " << firstError;
  ExpectNothingGrew(settled, end);
  EXPECT_EQ(link == Link::Udp ? extcmd.CloseEther() : extcmd.CloseSerial(), 1);
}

const std::string kStatus =
    "\n Mode ................... Master\n"
    " MAC Address ............ 00-11-22-33-44-55\n"
    " Registered Info ........ 1\n"
    " Ether LinkUp ........... 1\n"
    " Ether SpdDpx ........... 100\n"
    " Multiple Mode .......... 0\n"
    " Main Version ........... EMU-MAIN 1.0.0\n"
    " Boot Version ........... EMU-BOOT 1.0\n"
    " Beacon Status .......... 1\n"
    "\n\n Press any key";

class SoakThroughSample : public ::testing::TestWithParam<Link> {};

TEST_P(SoakThroughSample, EveryGetStatusWorksAndNothingGrows) {
  const Link link = GetParam();
  ToolScene scene(SceneFor(link));
  PipeProcess tool(scene.Launch(SAMPLE_PROGRAM));
  // Without a terminal nothing typed is echoed: the output is the tool's own.
  ASSERT_EQ(tool.ReadUntil(kLinkPrompt), kLinkPrompt);
  ASSERT_TRUE(tool.Write(LinkChoice(link) + "\n"));
  ASSERT_EQ(tool.ReadUntil(kSampleMenu), kSampleMenu);

  const std::size_t exchanges = Exchanges(link);
  Usage settled{};
  std::size_t failed = 0;
  std::string firstFailure;
  for (std::size_t i = 0; i < exchanges; ++i) {
    // The key is written once the tool waits for it, as a user would press it.
    ASSERT_TRUE(tool.Write("1\n")) << "the tool has ended after " << i << " exchanges";
    const auto shown = tool.ReadUntil(kKeyPrompt);
    ASSERT_TRUE(tool.Write("k"));
    const auto menu = tool.ReadUntil(kSampleMenu);
    ASSERT_TRUE(shown && menu) << "the tool stopped answering after " << i << " exchanges";
    if (*shown != kStatus || *menu != kSampleMenu) {
      if (failed++ == 0) firstFailure = *shown + *menu;
    }
    if (i + 1 == SettledAfter(exchanges)) settled = Usage::Of(tool.Pid());
  }
  const Usage end = Usage::Of(tool.Pid());
  EXPECT_EQ(failed, 0u) << "of " << exchanges << "; the first showed:\n" << firstFailure;
  ExpectNothingGrew(settled, end);
  ASSERT_TRUE(tool.Write("0\n"));
  EXPECT_EQ(tool.WaitExit(), 0);
}

const auto kLinkParamName = [](const auto& test) { return LinkName(test.param); };
INSTANTIATE_TEST_SUITE_P(Soak, SoakThroughTheObject, ::testing::Values(Link::Udp, Link::Serial),
                         kLinkParamName);
INSTANTIATE_TEST_SUITE_P(Soak, SoakThroughSample, ::testing::Values(Link::Udp, Link::Serial),
                         kLinkParamName);

}  // namespace
}  // namespace e2e
