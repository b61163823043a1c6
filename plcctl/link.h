// The script tool's command interface object: the tools' object, recording every frame it sends
// and receives in a capture file when asked to.
#pragma once

#include <cstdint>

#include "extcmd/zanto_extcmd_if.h"
#include "pcap/capture.h"

namespace plcctl {

// The object the script tool's link derives from, named here only: the tools' own object, whose
// serial receive looks for the answer every 100 ms.
using PlcctlLinkBase = C_ZANTO_EXTCMD_IF;

class PlcctlLink final : public PlcctlLinkBase {
 public:
  using PlcctlLinkBase::PlcctlLinkBase;

  // From now on every frame goes into the capture as well: over UDP as datagrams between
  // `local` (this computer's end) and the adapter addressed, over serial as the line bytes.
  void RecordTo(pcap::CaptureFile* capture, const pcap::Endpoint& local);

  int EtherSend() override;
  int EtherRecv() override;
  int SerialSend() override;
  int SerialRecv() override;

 private:
  pcap::Endpoint Adapter() const;

  pcap::CaptureFile* capture_ = nullptr;
  pcap::Endpoint local_;
};

}  // namespace plcctl
