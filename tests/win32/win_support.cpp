// Scratch folders and test sockets for the Windows tests.
#include "tests/win32/win_support.h"

#include <fstream>
#include <random>

namespace wintest {

ScratchFolder::ScratchFolder() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() /
          ("plc-win-" + std::to_string(random()) + "-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchFolder::Write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << bytes;
  return file.string();
}

TestSocket::TestSocket(const char* address, std::uint16_t port) {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!started_) return;
  socket_ = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(address);
  if (socket_ != INVALID_SOCKET &&
      bind(socket_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
}

TestSocket::~TestSocket() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  if (started_) WSACleanup();
}

std::uint16_t TestSocket::Port() const {
  sockaddr_in a{};
  int size = sizeof a;
  getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &size);
  return ntohs(a.sin_port);
}

bool TestSocket::SendTo(const char* address, std::uint16_t port, const std::string& bytes) const {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr(address);
  return sendto(socket_, bytes.data(), static_cast<int>(bytes.size()), 0,
                reinterpret_cast<const sockaddr*>(&a), sizeof a) == static_cast<int>(bytes.size());
}

}  // namespace wintest
