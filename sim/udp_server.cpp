// POSIX UDP transport of the emulated adapter (a Linux test and demo tool).
#include "sim/udp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace sim {
namespace {

using plat::posix::UniqueFd;

// The answer datagram may be as large as a request may claim; anything larger is cut and
// recorded as it came.
constexpr std::size_t kReceiveBuffer = 65536;
constexpr std::size_t kLeadingBytes = 2;

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

sockaddr_in Address(const std::string& text, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  if (inet_pton(AF_INET, text.c_str(), &a.sin_addr) != 1) {
    errno = EINVAL;
    Fail("not an IPv4 address: " + text);
  }
  return a;
}

// A UDP socket bound to address:port. Address reuse is allowed so that a tool bound to the
// wildcard address with the same port (it asks for reuse too) can run beside the emulator.
UniqueFd BoundSocket(const std::string& address, std::uint16_t port) {
  UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd) Fail("socket");
  const int one = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const sockaddr_in a = Address(address, port);
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    Fail("cannot bind " + address + ":" + std::to_string(port));
  }
  return fd;
}

pcap::Endpoint ToEndpoint(const in_addr& address, std::uint16_t port) {
  pcap::Endpoint e;
  std::memcpy(e.address.data(), &address.s_addr, e.address.size());
  e.port = port;
  return e;
}

in_addr ToInAddr(const pcap::Endpoint& e) {
  in_addr a{};
  std::memcpy(&a.s_addr, e.address.data(), e.address.size());
  return a;
}

}  // namespace

UdpServer::UdpServer(Adapter& adapter, const Options& options, pcap::CaptureFile* capture)
    : adapter_(adapter), capture_(capture) {
  socket_ = BoundSocket(options.address, options.port);
  sockaddr_in bound{};
  socklen_t size = sizeof bound;
  getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&bound), &size);
  port_ = ntohs(bound.sin_port);
  bound_ = bound.sin_addr.s_addr;
  // Bound to every address, the kernel says where each request came to; bound to one, that
  // address is the answer, and the per-datagram control data would only slow each exchange.
  if (bound_ == INADDR_ANY) {
    const int one = 1;
    setsockopt(socket_.get(), IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
  }
  otherSocket_ = BoundSocket(options.otherAddress, 0);
  size = sizeof bound;
  getsockname(otherSocket_.get(), reinterpret_cast<sockaddr*>(&bound), &size);
  other_ = ToEndpoint(bound.sin_addr, ntohs(bound.sin_port));
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) Fail("pipe");
  wakeRead_.reset(pipeEnds[0]);
  wakeWrite_.reset(pipeEnds[1]);
  thread_ = std::thread(&UdpServer::Run, this);
}

UdpServer::~UdpServer() { Stop(); }

void UdpServer::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  const char wake = 1;
  // The pipe is never read, so one byte keeps it readable for every later poll (a delayed
  // answer's wait); shutting the socket for reading ends the receive, also one not yet begun.
  [[maybe_unused]] const ssize_t written = write(wakeWrite_.get(), &wake, 1);
  shutdown(socket_.get(), SHUT_RD);
  thread_.join();
}

bool UdpServer::StopDuring(std::chrono::milliseconds delay) const {
  pollfd wake{wakeRead_.get(), POLLIN, 0};
  return poll(&wake, 1, static_cast<int>(delay.count())) > 0;
}

void UdpServer::Run() {
  Bytes buffer(kReceiveBuffer);
  // One blocking receive per request, as a plain UDP server makes: no poll beside it, so the
  // emulator adds as little as it can to the round trip the tools see.
  while (!stop_) {
    sockaddr_in from{};
    iovec data{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket_.get(), &message, 0);
    if (stop_) return;
    if (got < 0) continue;
    // The request's destination address, and the local address to answer from.
    in_addr to{bound_};
    in_addr local{bound_};
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        to = info.ipi_addr;
        local = info.ipi_spec_dst;
      }
    }

    Datagram datagram;
    datagram.bytes.assign(buffer.begin(), buffer.begin() + got);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    datagram.fromAddress = text;
    datagram.fromPort = ntohs(from.sin_port);
    if (capture_ != nullptr) {
      capture_->Datagram(ToEndpoint(from.sin_addr, datagram.fromPort), ToEndpoint(to, port_),
                         datagram.bytes);
    }
    RecordReceived(datagram);

    if (datagram.bytes.size() < kLeadingBytes) continue;
    auto reply = adapter_.Handle(std::span(datagram.bytes).subspan(kLeadingBytes));
    if (!reply) continue;
    if (reply->delay.count() > 0 && StopDuring(reply->delay)) return;
    // Counted before it goes out, not after: a tool that has the answer may look at the count
    // at once, before this thread runs again.
    RecordAnswer();
    Send(*reply, datagram, ToEndpoint(local, port_));
  }
}

void UdpServer::Send(Reply& reply, const Datagram& to, const pcap::Endpoint& local) {
  reply.wire.assign(kLeadingBytes, 0);
  reply.wire.insert(reply.wire.end(), reply.frame.begin(), reply.frame.end());
  reply.Damage(Stage::Datagram);
  Bytes& out = reply.wire;
  const int fd = reply.fromOtherAddress ? otherSocket_.get() : socket_.get();
  const pcap::Endpoint source = reply.fromOtherAddress ? other_ : local;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(to.fromPort);
  inet_pton(AF_INET, to.fromAddress.c_str(), &a.sin_addr);
  iovec data{out.data(), out.size()};
  msghdr message{};
  message.msg_name = &a;
  message.msg_namelen = sizeof a;
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  // The answer leaves from the address the request came to, also when bound to every address.
  alignas(cmsghdr) std::uint8_t control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  if (fd == socket_.get() && bound_ == INADDR_ANY) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = ToInAddr(local);
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
  }
  // Recorded as it is handed over, before the tool can have it: whoever reads the capture once
  // the tool has reacted finds the answer in it.
  if (capture_ != nullptr) capture_->Datagram(source, ToEndpoint(a.sin_addr, to.fromPort), out);
  sendmsg(fd, &message, MSG_NOSIGNAL);
}

}  // namespace sim
