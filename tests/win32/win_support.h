// What the Windows tests share: a scratch folder, and loopback UDP sockets of their own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace wintest {

// A fresh folder under the temporary folder, removed with everything in it at the end.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  // Writes the bytes to a file in the folder and returns its full path.
  std::string Write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// A UDP socket of the test bound to address:port (0: the system picks one), with the socket
// library started for its lifetime.
class TestSocket {
 public:
  explicit TestSocket(const char* address, std::uint16_t port = 0);
  ~TestSocket();
  TestSocket(const TestSocket&) = delete;
  TestSocket& operator=(const TestSocket&) = delete;
  bool Ok() const { return socket_ != INVALID_SOCKET; }
  std::uint16_t Port() const;
  bool SendTo(const char* address, std::uint16_t port, const std::string& bytes) const;
  SOCKET Native() const { return socket_; }

 private:
  bool started_ = false;
  SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace wintest
