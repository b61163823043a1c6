// Owned pipes, files and UDP sockets for the tests and the bench.
#include "tests/toolkit/fd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>
#include <system_error>

namespace toolkit {

PipeEnds MakePipe() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  return {UniqueFd(ends[0]), UniqueFd(ends[1])};
}

UniqueFd OpenFile(const std::filesystem::path& path, int flags) {
  UniqueFd fd(open(path.c_str(), flags | O_CLOEXEC, 0600));
  if (!fd) throw std::system_error(errno, std::generic_category(), path.string());
  return fd;
}

UniqueFd OpenNull() { return OpenFile("/dev/null", O_RDWR); }

sockaddr_in Address(const char* address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}

UniqueFd BoundUdp(const char* address, std::uint16_t port) {
  UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  const sockaddr_in a = Address(address, port);
  if (fd && bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) return fd;
  return {};
}

}  // namespace toolkit
