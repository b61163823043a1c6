// Descriptors a test or the bench owns: pipes, /dev/null, files, loopback UDP sockets.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <filesystem>

#include "platform/posix/unique_fd.h"

namespace toolkit {

using plat::posix::UniqueFd;

// Both ends of a pipe, closed on exec (a program started gets only the end given to it).
struct PipeEnds {
  UniqueFd read;
  UniqueFd write;
};
// Throws std::system_error when the pipe cannot be made.
PipeEnds MakePipe();

// A file opened with the flags given (and close-on-exec; created with mode 0600 under O_CREAT);
// throws std::system_error when it cannot be opened.
UniqueFd OpenFile(const std::filesystem::path& path, int flags);
// /dev/null, for reading and writing: where a program's input ends at once and output goes.
UniqueFd OpenNull();

// An IPv4 socket address.
sockaddr_in Address(const char* address, std::uint16_t port);
// A UDP socket bound to address:port (0: the system picks the port), without address reuse;
// empty when the bind fails (the port is taken).
UniqueFd BoundUdp(const char* address, std::uint16_t port);

}  // namespace toolkit
