// Windows Sockets 2 behind the UDP link's seam.
#include "platform/net.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

#include <array>
#include <cstring>

#include "platform/clock.h"
#include "platform/win32/wait_handle.h"

namespace plat {
namespace {

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

sockaddr_in ToSockaddr(const Ipv4SockAddr& a) {
  sockaddr_in s{};
  s.sin_family = AF_INET;
  s.sin_port = a.port;
  s.sin_addr.s_addr = a.addr;
  return s;
}

// Every option the link sets is a 4-byte integer at level SOL_SOCKET; the time-outs are in
// milliseconds, 0 meaning none.
struct OptionName {
  SockOpt option;
  int name;
};
constexpr std::array<OptionName, 5> kOptions = {{
    {SockOpt::ReuseAddr, SO_REUSEADDR},
    {SockOpt::ExclusiveAddrUse, SO_EXCLUSIVEADDRUSE},
    {SockOpt::Broadcast, SO_BROADCAST},
    {SockOpt::SendTimeoutMs, SO_SNDTIMEO},
    {SockOpt::RecvTimeoutMs, SO_RCVTIMEO},
}};

// The socket's "a datagram is waiting" as an event object (WSAEventSelect), for the one wait to
// watch beside the termination watch's event. Selecting events makes the socket non-blocking;
// the end of the selection makes it blocking again, as the send and its time-out expect.
class ReadableEvent {
 public:
  explicit ReadableEvent(SOCKET socket) : socket_(socket), event_(WSACreateEvent()) {
    selected_ = event_ != WSA_INVALID_EVENT && WSAEventSelect(socket_, event_, FD_READ) == 0;
  }
  ~ReadableEvent() {
    if (selected_) {
      WSAEventSelect(socket_, nullptr, 0);
      u_long blocking = 0;
      ioctlsocket(socket_, FIONBIO, &blocking);
    }
    if (event_ != WSA_INVALID_EVENT) WSACloseEvent(event_);
  }
  ReadableEvent(const ReadableEvent&) = delete;
  ReadableEvent& operator=(const ReadableEvent&) = delete;

  bool Selected() const { return selected_; }
  HANDLE Handle() const { return event_; }

 private:
  SOCKET socket_;
  WSAEVENT event_;
  bool selected_ = false;
};

}  // namespace

int NetStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data);
}

int NetCleanup() { return WSACleanup() == 0 ? 0 : -1; }

std::uint32_t InetAddr(const char* text) { return inet_addr(text); }
std::uint16_t HostToNet16(std::uint16_t value) { return htons(value); }

bool GetHostName(char* buffer, std::size_t size) {
  if (gethostname(buffer, static_cast<int>(size)) != 0) return false;
  buffer[size - 1] = '\0';
  return true;
}

bool ResolveIpv4(const char* name, std::vector<std::uint32_t>& addresses) {
  const hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4) return false;
  addresses.clear();
  for (char** a = host->h_addr_list; *a != nullptr; ++a) {
    std::uint32_t address = 0;
    std::memcpy(&address, *a, sizeof address);  // network order, as listed
    addresses.push_back(address);
  }
  return true;
}

SocketHandle UdpSocket() {
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

void SetSocketOption(SocketHandle socket, SockOpt option, int value) {
  for (const OptionName& o : kOptions) {
    if (o.option != option) continue;
    setsockopt(Native(socket), SOL_SOCKET, o.name, reinterpret_cast<const char*>(&value),
               sizeof value);
    return;
  }
}

BindResult Bind(SocketHandle socket, const Ipv4SockAddr& local) {
  const sockaddr_in s = ToSockaddr(local);
  if (bind(Native(socket), reinterpret_cast<const sockaddr*>(&s), sizeof s) == 0) {
    return BindResult::Ok;
  }
  return WSAGetLastError() == WSAEACCES ? BindResult::AccessDenied : BindResult::Failed;
}

long SendTo(SocketHandle socket, const std::uint8_t* data, std::size_t size,
            const Ipv4SockAddr& to) {
  const sockaddr_in s = ToSockaddr(to);
  return sendto(Native(socket), reinterpret_cast<const char*>(data), static_cast<int>(size), 0,
                reinterpret_cast<const sockaddr*>(&s), sizeof s);
}

long RecvFrom(SocketHandle socket, std::uint8_t* buffer, std::size_t size, std::int32_t timeoutMs) {
  // The wait is that of every other wait of the tools, so a request to end cuts it short; the
  // receive time-out option stays set on the socket as well.
  const SOCKET s = Native(socket);
  const ReadableEvent readable(s);
  if (!readable.Selected()) return -1;
  const std::uint32_t start = TickCount();
  for (;;) {
    // Cleared before the receive: a datagram that comes after a receive found none sets it again.
    WSAResetEvent(readable.Handle());
    const int got =
        recvfrom(s, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0, nullptr, nullptr);
    if (got != SOCKET_ERROR) return got;
    // WSAEMSGSIZE: a datagram larger than the buffer, dropped rather than taken cut short.
    if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    std::int32_t left = kWaitForever;
    if (timeoutMs > 0) {
      const std::uint32_t waited = TickCount() - start;
      if (waited >= static_cast<std::uint32_t>(timeoutMs)) return -1;
      left = static_cast<std::int32_t>(static_cast<std::uint32_t>(timeoutMs) - waited);
    }
    if (win32::WaitHandle(readable.Handle(), left) != WaitResult::Ready) return -1;
  }
}

int CloseSocket(SocketHandle socket) { return closesocket(Native(socket)) == 0 ? 0 : -1; }

}  // namespace plat
