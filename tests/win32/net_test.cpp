// Winsock behind the UDP seam: datagram limits, time-outs and requests to end, the socket
// library's start and stop, and the bind that is refused with access denied.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <array>
#include <string>
#include <thread>

#include "extcmd/zanto_extcmd_if.h"
#include "platform/net.h"
#include "platform/serial.h"
#include "platform/termination.h"
#include "platform/wait.h"
#include "tests/win32/win_support.h"

namespace {

using namespace std::chrono_literals;

// A seam socket bound to 127.0.0.1 on a port the system picks, with the library started.
class SeamSocket : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(plat::NetStartup(), 0);
    socket_ = plat::UdpSocket();
    ASSERT_NE(socket_, plat::kInvalidSocket);
    plat::Ipv4SockAddr local{plat::kFamilyInet, 0, plat::InetAddr("127.0.0.1"), {}};
    ASSERT_EQ(plat::Bind(socket_, local), plat::BindResult::Ok);
    sockaddr_in a{};
    int size = sizeof a;
    getsockname(static_cast<SOCKET>(socket_), reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
  }
  void TearDown() override {
    if (socket_ != plat::kInvalidSocket) plat::CloseSocket(socket_);
    plat::NetCleanup();
  }

  long Receive(std::int32_t timeoutMs) {
    return plat::RecvFrom(socket_, buffer_.data(), buffer_.size(), timeoutMs);
  }

  plat::SocketHandle socket_ = plat::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::array<std::uint8_t, 4096> buffer_{};
  wintest::TestSocket peer_{"127.0.0.2"};
};

TEST_F(SeamSocket, ADatagramOverTheBufferIsDroppedNeverCutShort) {
  ASSERT_TRUE(peer_.SendTo("127.0.0.1", port_, std::string(5000, 'x')));
  ASSERT_TRUE(peer_.SendTo("127.0.0.1", port_, "next"));
  EXPECT_EQ(Receive(2000), -1);
  EXPECT_EQ(Receive(2000), 4);
  EXPECT_EQ(std::string(buffer_.begin(), buffer_.begin() + 4), "next");
}

TEST_F(SeamSocket, AnEmptyDatagramReadsAsNoBytes) {
  ASSERT_TRUE(peer_.SendTo("127.0.0.1", port_, ""));
  EXPECT_EQ(Receive(2000), 0);
}

TEST_F(SeamSocket, NothingWithinTheTimeOutFails) { EXPECT_EQ(Receive(200), -1); }

TEST_F(SeamSocket, ADatagramOfExactlyTheBufferIsTakenWhole) {
  ASSERT_TRUE(peer_.SendTo("127.0.0.1", port_, std::string(4096, 'y')));
  EXPECT_EQ(Receive(2000), 4096);
}

// The one wait: a request to end, noted before the wait or during it, ends every wait.
TEST_F(SeamSocket, ARequestToEndBeforeTheWaitEndsIt) {
  const plat::TerminationWatch watch;
  plat::NoteOutputLost();
  EXPECT_TRUE(plat::TerminationRequested());
  EXPECT_EQ(Receive(plat::kWaitForever), -1);
  EXPECT_EQ(plat::Pause(600000), plat::WaitResult::Terminated);
}

TEST_F(SeamSocket, ARequestToEndDuringTheWaitEndsIt) {
  const plat::TerminationWatch watch;
  std::thread request([] {
    std::this_thread::sleep_for(200ms);
    plat::NoteOutputLost();
  });
  EXPECT_EQ(Receive(plat::kWaitForever), -1);
  request.join();
  EXPECT_TRUE(plat::TerminationRequested());
}

TEST(Pause, WithoutARequestTheTimePasses) {
  const plat::TerminationWatch watch;
  EXPECT_EQ(plat::Pause(50), plat::WaitResult::TimedOut);
  EXPECT_FALSE(plat::TerminationRequested());
}

// The socket library is really started by OpenEther and stopped by CloseEther (so their codes
// 10003 and 10007 can come from the system): once closed, nothing is left started.
bool LibraryStopped() {
  const bool stopped = WSACleanup() != 0 && WSAGetLastError() == WSANOTINITIALISED;
  return stopped;
}

TEST(SocketLibrary, EachOpenStartsItAndEachCloseStopsIt) {
  C_ZANTO_EXTCMD_IF extcmd(5000);
  ASSERT_EQ(extcmd.OpenEther("127.0.0.1", "127.0.0.2", 0, nullptr), 1);
  ASSERT_EQ(extcmd.CloseEther(), 1);
  EXPECT_TRUE(LibraryStopped());
}

TEST(SocketLibrary, AFailedBindStopsItAgain) {
  C_ZANTO_EXTCMD_IF extcmd(5000);
  // Not an address of this computer (a documentation address): the bind fails; nothing is sent.
  const int opened = extcmd.OpenEther("192.0.2.1", "127.0.0.2", 0, nullptr);
  if (opened == 1) {
    extcmd.CloseEther();
    GTEST_SKIP() << "Wine cannot show it: it lets a socket bind an address this computer does "
                    "not have, where Windows refuses with WSAEADDRNOTAVAIL";
  }
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(extcmd.GetErrorCode(), 10002);
  EXPECT_EQ(extcmd.GetConnectType(), CONNECT_NONE);
  EXPECT_TRUE(LibraryStopped());
}

TEST(SocketLibrary, ABindRefusedWithAccessDeniedStillOpens) {
  // Another program holds the port exclusively: Windows refuses the bind with WSAEACCES.
  const wintest::TestSocket library("127.0.0.3");  // keeps the socket library started
  C_ZANTO_EXTCMD_IF extcmd(5000);
  SOCKET exclusive = socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(exclusive, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
             sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  ASSERT_EQ(bind(exclusive, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
  int size = sizeof a;
  getsockname(exclusive, reinterpret_cast<sockaddr*>(&a), &size);
  const int opened = extcmd.OpenEther("127.0.0.1", "127.0.0.2", ntohs(a.sin_port), nullptr);
  const int code = extcmd.GetErrorCode();
  closesocket(exclusive);
  if (opened == 0 && code == 10002) {
    GTEST_SKIP() << "Wine cannot show it: it refuses a port held exclusively with "
                    "WSAEADDRINUSE, where Windows answers WSAEACCES";
  }
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(extcmd.CloseEther(), 1);
}

// "PORT" names a device in the device namespace, so COM10 and above open too.
TEST(SerialPortName, APlainNameIsADeviceAndABackslashKeepsIt) {
  EXPECT_EQ(plat::SerialDevicePath("COM1"), "\\\\.\\COM1");
  EXPECT_EQ(plat::SerialDevicePath("COM10"), "\\\\.\\COM10");
  EXPECT_EQ(plat::SerialDevicePath("\\\\.\\COM3"), "\\\\.\\COM3");
}

TEST(SerialPortName, AnAbsentPortFailsToOpen) {
  C_ZANTO_EXTCMD_IF extcmd(5000);
  EXPECT_EQ(extcmd.OpenSerial("COM199", 115200, 8, 0, 0), 0);
  EXPECT_EQ(extcmd.GetErrorCode(), 10102);
}

}  // namespace
