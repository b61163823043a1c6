// Every handler of both tools takes any answer bytes over either link without reading or
// writing outside the frame buffer (the sanitizers watch), and prints only what it received.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "sample/handlers.h"
#include "tarvik/handlers.h"
#include "tests/unit/fixtures.h"

namespace {

// Receives the fuzz input as the answer, as the links do: into the cleared buffer, behind the
// two leading bytes on UDP, from byte 0 (with whatever checksum the bytes hold) on serial.
class RawAnswerLink : public C_ZANTO_EXTCMD_IF {
 public:
  RawAnswerLink(int link, std::span<const std::uint8_t> answer, bool repair)
      : C_ZANTO_EXTCMD_IF(5000), answer_(answer), repair_(repair) {
    m_nConnect = link;
  }
  int EtherSend() override { return Sent(); }
  int SerialSend() override { return Sent(); }
  int EtherRecv() override { return Receive(frame::kDatagramLead); }
  int SerialRecv() override { return Receive(0); }

 private:
  int Sent() {
    expected_ = frame::AnswerCode(frame::Get16(m_pFrame + frame::kOffCommand));
    return 1;
  }
  int Receive(std::size_t offset) {
    std::memset(m_Buffer, 0, sizeof m_Buffer);
    const std::size_t n = std::min(answer_.size(), sizeof m_Buffer - offset);
    if (n > 0) std::memcpy(m_Buffer + offset, answer_.data(), n);
    if (repair_) {
      fuzz::RepairHeader({m_Buffer + offset, n}, frame::kDirAnswer, expected_);
      if (m_nConnect == CONNECT_SERIAL && n >= frame::kHeaderSize) {
        // A matching checksum, where the claimed length leaves room for one.
        const std::size_t length = frame::Get16(m_Buffer + frame::kOffFrameLength);
        if (frame::kFrameLengthBase + length + frame::kChecksumSize <= sizeof m_Buffer) {
          frame::Put16(m_Buffer + frame::kFrameLengthBase + length,
                       frame::Checksum({m_Buffer + frame::kFrameLengthBase, length}));
        }
      }
    }
    return 1;
  }
  std::span<const std::uint8_t> answer_;
  bool repair_;
  std::uint16_t expected_ = 0;
};

struct HandlerRun {
  int (*handler)(C_ZANTO_EXTCMD_IF&);
  const char* input;  // what the technician types, keys included
};

constexpr std::array<HandlerRun, 5> kRuns = {{
    {GetStatus, "k"},
    {InfoResolution, "127.0.0.1\nk"},
    {PlcRemote, "1\n0123456789ab\n10\nk0\n"},
    {SystemCommand, "show\nk"},
    {Restart, "k"},
}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  const std::uint8_t choice = fuzz::TakeChoice(input);
  const HandlerRun& run = kRuns[choice % kRuns.size()];
  const int link = (choice & 0x40) ? CONNECT_SERIAL : CONNECT_ETHER;
  testing_support::ScriptedConsole io(run.input);
  RawAnswerLink extcmd(link, input, (choice & 0x80) != 0);
  try {
    run.handler(extcmd);
  } catch (const console::InputEnded&) {
    // A handler that asks for more than the script holds ends as at the end of input.
  }
  return 0;
}
