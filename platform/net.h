// IPv4 UDP sockets, host-name lookup and dotted-address conversion, as the UDP link needs them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace plat {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 socket address as the adapter link keeps it: family, port and address in network
// order, then 8 zero bytes (16 bytes in all, the classic sockaddr_in layout).
struct Ipv4SockAddr {
  std::uint16_t family;
  std::uint16_t port;
  std::uint32_t addr;
  std::uint8_t zero[8];
};
static_assert(sizeof(Ipv4SockAddr) == 16);

inline constexpr std::uint16_t kFamilyInet = 2;  // AF_INET on every supported system

enum class SockOpt { ReuseAddr, ExclusiveAddrUse, Broadcast, SendTimeoutMs, RecvTimeoutMs };
enum class BindResult { Ok, AccessDenied, Failed };

// Starts and stops the socket library; 0 means success (the systems without one always succeed).
int NetStartup();
int NetCleanup();

// Dotted-decimal text to an address in network order; 0xFFFFFFFF for text that is no address.
std::uint32_t InetAddr(const char* text);
std::uint16_t HostToNet16(std::uint16_t value);

// This computer's host name; false when it cannot be obtained.
bool GetHostName(char* buffer, std::size_t size);
// The name's IPv4 addresses (network order) in resolver order; false when it cannot be resolved.
bool ResolveIpv4(const char* name, std::vector<std::uint32_t>& addresses);

SocketHandle UdpSocket();
// Sets an integer socket option; the result is deliberately not reported.
void SetSocketOption(SocketHandle socket, SockOpt option, int value);
BindResult Bind(SocketHandle socket, const Ipv4SockAddr& local);
// Bytes sent, or -1.
long SendTo(SocketHandle socket, const std::uint8_t* data, std::size_t size,
            const Ipv4SockAddr& to);
// Bytes of one datagram received from any sender, waiting at most timeoutMs (0 or less: no
// limit) for it to come; -1 on time-out, failure, a datagram that does not fit the buffer (it is
// never silently cut short), or a request to end that came first. The caller has set
// SockOpt::RecvTimeoutMs to timeoutMs just before, as the link does before every receive, so
// the wait may rest on the option.
long RecvFrom(SocketHandle socket, std::uint8_t* buffer, std::size_t size, std::int32_t timeoutMs);
// 0, or -1 when closing fails.
int CloseSocket(SocketHandle socket);

}  // namespace plat
