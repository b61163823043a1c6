// POSIX sockets behind the UDP link's seam.
#include "platform/net.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/posix/wait_fd.h"
#include "platform/termination.h"

namespace plat {
namespace {

sockaddr_in ToSockaddr(const Ipv4SockAddr& a) {
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_port = a.port;
  s.sin_addr.s_addr = a.addr;
  return s;
}

void SetTimeout(int fd, int option, int milliseconds) {
  timeval tv{};
  if (milliseconds > 0) {
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = static_cast<suseconds_t>(milliseconds % 1000) * 1000;
  }
  // A zero timeval means "wait for ever", which is what a time-out of 0 or less asks for.
  setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv);
}

}  // namespace

int NetStartup() { return 0; }
int NetCleanup() { return 0; }

std::uint32_t InetAddr(const char* text) { return inet_addr(text); }
std::uint16_t HostToNet16(std::uint16_t value) { return htons(value); }

bool GetHostName(char* buffer, std::size_t size) {
  if (gethostname(buffer, size) != 0) return false;
  buffer[size - 1] = '\0';
  return true;
}

bool ResolveIpv4(const char* name, std::vector<std::uint32_t>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return false;
  addresses.clear();
  for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
    addresses.push_back(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
  }
  freeaddrinfo(list);
  return true;
}

SocketHandle UdpSocket() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  return fd < 0 ? kInvalidSocket : fd;
}

void SetSocketOption(SocketHandle socket, SockOpt option, int value) {
  const int fd = static_cast<int>(socket);
  switch (option) {
    case SockOpt::ReuseAddr:
      setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value);
      break;
    case SockOpt::ExclusiveAddrUse:
      break;  // no such option here: a bound port is only shared on request
    case SockOpt::Broadcast:
      setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &value, sizeof value);
      break;
    case SockOpt::SendTimeoutMs:
      SetTimeout(fd, SO_SNDTIMEO, value);
      break;
    case SockOpt::RecvTimeoutMs:
      SetTimeout(fd, SO_RCVTIMEO, value);
      break;
  }
}

BindResult Bind(SocketHandle socket, const Ipv4SockAddr& local) {
  const sockaddr_in s = ToSockaddr(local);
  if (bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&s), sizeof s) == 0) {
    return BindResult::Ok;
  }
  return errno == EACCES ? BindResult::AccessDenied : BindResult::Failed;
}

long SendTo(SocketHandle socket, const std::uint8_t* data, std::size_t size,
            const Ipv4SockAddr& to) {
  const sockaddr_in s = ToSockaddr(to);
  ssize_t sent;
  do {
    sent = sendto(static_cast<int>(socket), data, size, MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&s), sizeof s);
  } while (sent < 0 && errno == EINTR);
  return sent;
}

long RecvFrom(SocketHandle socket, std::uint8_t* buffer, std::size_t size, std::int32_t timeoutMs) {
  // One blocking receive, bounded by the receive time-out option that the link has just set: no
  // poll beside it. A request to end shuts the socket for reading, which ends the receive at
  // once, also when the request came just before it began.
  const int fd = static_cast<int>(socket);
  const posix::ShutOnRequest shut(fd);
  const std::uint32_t start = TickCount();
  for (;;) {
    if (TerminationRequested()) return -1;
    // MSG_TRUNC makes the call report the datagram's real length, so an oversize one is seen.
    const ssize_t got = recv(fd, buffer, size, MSG_TRUNC);
    if (got == 0 && TerminationRequested()) return -1;  // shut by the request, not a datagram
    if (got >= 0) return static_cast<std::size_t>(got) > size ? -1 : got;
    if (errno != EINTR) return -1;  // the time-out passed (EAGAIN), or the socket failed
    // A signal that ends nothing (a stop and continue, say) cut the wait short: it goes on for
    // the time that is left.
    if (timeoutMs > 0) {
      const std::uint32_t waited = TickCount() - start;
      if (waited >= static_cast<std::uint32_t>(timeoutMs)) return -1;
      SetTimeout(fd, SO_RCVTIMEO, static_cast<int>(static_cast<std::uint32_t>(timeoutMs) - waited));
    }
  }
}

int CloseSocket(SocketHandle socket) { return close(static_cast<int>(socket)) == 0 ? 0 : -1; }

}  // namespace plat
