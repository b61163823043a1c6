// Frames recorded as they pass the link, in the form the emulator's captures have.
#include "plcctl/link.h"

#include <cstring>
#include <vector>

#include "extcmd/frame.h"
#include "extcmd/serial_coding.h"
#include "platform/net.h"

namespace plcctl {
namespace {

// The datagram's two leading bytes and the header bytes before FrameLength's count begins.
constexpr std::size_t kDatagramOverFrameLength = 2 + frame::kFrameLengthBase;
// The serial body: the FrameLength bytes after offset 12 and the checksum behind them.
constexpr std::size_t kChecksumSize = 2;

pcap::Endpoint EndpointOf(std::uint32_t networkOrderAddress, std::uint16_t networkOrderPort) {
  pcap::Endpoint e;
  std::memcpy(e.address.data(), &networkOrderAddress, e.address.size());
  e.port = plat::HostToNet16(networkOrderPort);  // the same swap both ways
  return e;
}

// The frame body (with its checksum) at the start of the buffer, when it lies inside it.
std::span<const std::uint8_t> SerialBody(const std::uint8_t* buffer) {
  const std::size_t length =
      frame::kFrameLengthBase + frame::Get16(buffer + frame::kOffFrameLength) + kChecksumSize;
  if (length > EXTCMD_BUFFER_SIZE) return {};
  return {buffer, length};
}

}  // namespace

void PlcctlLink::RecordTo(pcap::CaptureFile* capture, const pcap::Endpoint& local) {
  capture_ = capture;
  local_ = local;
}

pcap::Endpoint PlcctlLink::Adapter() const { return EndpointOf(m_DestAddr.addr, m_DestAddr.port); }

int PlcctlLink::EtherSend() {
  const int sent = PlcctlLinkBase::EtherSend();
  if (sent && capture_ != nullptr) {
    const std::size_t length =
        frame::Get16(m_pFrame + frame::kOffFrameLength) + kDatagramOverFrameLength;
    capture_->Datagram(local_, Adapter(), {m_Buffer, length});
  }
  return sent;
}

int PlcctlLink::EtherRecv() {
  if (capture_ == nullptr) return PlcctlLinkBase::EtherRecv();
  // The receive of the tools' object, keeping the datagram's size for the record: the sender is
  // not asked for, so the answer is recorded as coming from the adapter addressed.
  std::memset(m_Buffer, 0, sizeof m_Buffer);
  plat::SetSocketOption(m_Socket, plat::SockOpt::RecvTimeoutMs, m_nTimeout);
  const long received = plat::RecvFrom(m_Socket, m_Buffer, sizeof m_Buffer, m_nTimeout);
  if (received <= 0) {
    m_nError = ERR_ETHER_RECV;
    return 0;
  }
  capture_->Datagram(Adapter(), local_, {m_Buffer, static_cast<std::size_t>(received)});
  return 1;
}

int PlcctlLink::SerialSend() {
  const int sent = PlcctlLinkBase::SerialSend();
  // The send has put the checksum behind the frame; the line carries the body stuffed.
  if (capture_ != nullptr) {
    const auto body = SerialBody(m_Buffer);
    if (!body.empty()) {
      capture_->SerialBytes(pcap::LineDirection::ToAdapter, serial_line::Encode(body));
    }
  }
  return sent;
}

int PlcctlLink::SerialRecv() {
  const int received = PlcctlLinkBase::SerialRecv();
  // The answer as the line carried it: its unstuffed body stuffed again, which gives back the
  // bytes received up to the end of the frame.
  if (received && capture_ != nullptr) {
    const auto body = SerialBody(m_Buffer);
    if (!body.empty()) {
      capture_->SerialBytes(pcap::LineDirection::FromAdapter, serial_line::Encode(body));
    }
  }
  return received;
}

}  // namespace plcctl
