// The UDP link: one request datagram out, one answer datagram in; and the static ARP entry.
#include <cstdio>
#include <cstring>
#include <vector>

#include "extcmd/zanto_extcmd_if.h"
#include "platform/net.h"
#include "platform/process.h"

namespace {

// The adapters live on 192.168.0.0/24; with no host address configured, the local address is
// the first of this computer's addresses in that network.
bool InAdapterNetwork(std::uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(&networkOrder);
  return b[0] == 192 && b[1] == 168 && b[2] == 0;
}

constexpr std::uint32_t kAnyAddress = 0;

}  // namespace

int C_ZANTO_EXTCMD_IF::OpenEther(const char* hostIp, const char* targetIp, std::uint16_t port,
                                 const std::uint8_t* /*mac: never read*/) {
  if (m_nConnect != CONNECT_NONE) {
    m_nError = ERR_ETHER_ALREADY_OPEN;
    return 0;
  }
  if (plat::NetStartup() != 0) {
    m_nError = ERR_ETHER_STARTUP;
    return 0;
  }

  std::uint32_t localAddr = kAnyAddress;
  if (hostIp[0] != '\0') {
    localAddr = plat::InetAddr(hostIp);
  } else {
    char hostName[128] = {};
    std::vector<std::uint32_t> addresses;
    if (!plat::GetHostName(hostName, sizeof hostName) || !plat::ResolveIpv4(hostName, addresses)) {
      plat::NetCleanup();
      return 0;  // no code of its own: the earlier one stays for the report
    }
    for (const std::uint32_t a : addresses) {
      if (InAdapterNetwork(a)) {
        localAddr = a;
        break;
      }
    }
  }

  plat::Ipv4SockAddr local{};
  local.family = plat::kFamilyInet;
  local.port = plat::HostToNet16(port);
  local.addr = localAddr;

  std::memset(&m_DestAddr, 0, sizeof m_DestAddr);
  m_DestAddr.family = plat::kFamilyInet;
  m_DestAddr.port = plat::HostToNet16(port);
  m_DestAddr.addr = plat::InetAddr(targetIp);

  m_Socket = plat::UdpSocket();
  if (m_Socket == plat::kInvalidSocket) {
    plat::NetCleanup();
    m_nError = ERR_ETHER_OPEN;
    return 0;
  }
  plat::SetSocketOption(m_Socket, plat::SockOpt::ReuseAddr, 1);
  plat::SetSocketOption(m_Socket, plat::SockOpt::ExclusiveAddrUse, 1);
  plat::SetSocketOption(m_Socket, plat::SockOpt::Broadcast, 1);

  const plat::BindResult bound = plat::Bind(m_Socket, local);
  if (bound == plat::BindResult::Failed) {
    plat::CloseSocket(m_Socket);
    m_Socket = plat::kInvalidSocket;
    plat::NetCleanup();
    m_nError = ERR_ETHER_OPEN;
    return 0;
  }
  // Access denied leaves the socket unbound: the system picks the local port at the first send.
  m_nConnect = CONNECT_ETHER;
  return 1;
}

int C_ZANTO_EXTCMD_IF::CloseEther() {
  if (m_nConnect != CONNECT_ETHER) {
    m_nError = ERR_ETHER_NOT_OPEN;
    return 0;
  }
  if (plat::CloseSocket(m_Socket) != 0) {
    m_nError = ERR_ETHER_CLOSE;
    return 0;
  }
  m_Socket = plat::kInvalidSocket;
  if (plat::NetCleanup() != 0) {
    m_nError = ERR_ETHER_CLEANUP;
    return 0;
  }
  m_nConnect = CONNECT_NONE;
  return 1;
}

int C_ZANTO_EXTCMD_IF::EtherSend() {
  const std::size_t length = frame::kDatagramLead + frame::kFrameLengthBase +
                             frame::Get16(m_pFrame + frame::kOffFrameLength);
  // A frame that claims more than the buffer holds is not sent: nothing beyond it may leave.
  if (length > sizeof m_Buffer) {
    m_nError = ERR_ETHER_SEND;
    return 0;
  }
  plat::SetSocketOption(m_Socket, plat::SockOpt::SendTimeoutMs, m_nTimeout);
  if (plat::SendTo(m_Socket, m_Buffer, length, m_DestAddr) > 0) return 1;
  m_nError = ERR_ETHER_SEND;
  return 0;
}

int C_ZANTO_EXTCMD_IF::EtherRecv() {
  std::memset(m_Buffer, 0, sizeof m_Buffer);
  plat::SetSocketOption(m_Socket, plat::SockOpt::RecvTimeoutMs, m_nTimeout);
  if (plat::RecvFrom(m_Socket, m_Buffer, sizeof m_Buffer, m_nTimeout) > 0) return 1;
  m_nError = ERR_ETHER_RECV;
  return 0;
}

int C_ZANTO_EXTCMD_IF::SetArpEntry(const char* targetIp, const std::uint8_t* mac,
                                   const char* hostIp) {
  char commandLine[256];
  std::snprintf(commandLine, sizeof commandLine, "arp -s %s %02x-%02x-%02x-%02x-%02x-%02x %s\n",
                targetIp, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5], hostIp);
  if (!plat::RunCommandLine(commandLine)) {
    m_nError = ERR_ARP_START;
    return 0;
  }
  return 1;
}
