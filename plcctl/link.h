// The script tool's command interface object: the tools' frames and checks, recording every
// frame it sends and receives in a capture file when asked to.
#pragma once

#include <cstdint>

#include "extcmd/prompt_serial.h"
#include "pcap/capture.h"

namespace plcctl {

// The object the script tool's link derives from, named here only: the tools' object with a serial
// receive that takes the answer as soon as its end-of-frame byte has arrived, not on the next of
// the tools' 100 ms looks.
using PlcctlLinkBase = PromptSerialIf;

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
