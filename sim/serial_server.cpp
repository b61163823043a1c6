// The serial transport of the emulated adapter: the same core, the serial line coding.
#include "sim/serial_server.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "extcmd/frame.h"
#include "extcmd/serial_coding.h"

namespace sim {
namespace {

// How long one read waits, and so how soon Stop is noticed.
constexpr std::int32_t kReadRoundMs = 50;
constexpr auto kStopStep = std::chrono::milliseconds(kReadRoundMs);
// Bytes that never reach an end-of-frame byte are dropped beyond this much.
constexpr std::size_t kMaxPending = std::size_t{64} * 1024;
constexpr std::int32_t kWriteTimeoutMs = 5000;
constexpr std::size_t kChecksumSize = 2;

// Unstuffs one line frame (which ends in the end-of-frame byte) and checks that it holds one
// frame of FrameLength bytes and its checksum, nothing more or less.
LineFrame Decode(Bytes line) {
  Bytes body(line.size(), 0);
  const serial_line::Unescaped u = serial_line::Unescape(line, body);
  body.resize(u.terminated ? u.stored - 1 : u.stored);
  LineFrame f{std::move(line), {}, false};
  if (body.size() < frame::kFrameLengthBase + kChecksumSize) return f;
  const std::size_t size = frame::kFrameLengthBase + frame::Get16(&body[frame::kOffFrameLength]);
  if (body.size() != size + kChecksumSize) return f;
  f.frame.assign(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size));
  f.checksumOk = serial_line::Body(f.frame) == body;
  return f;
}

}  // namespace

SerialServer::SerialServer(Adapter& adapter, const Options& options, pcap::CaptureFile* capture)
    : adapter_(adapter), capture_(capture) {
  line_ = options.device.empty()
              ? SerialEnd::CreatePty()
              : SerialEnd::OpenDevice(options.device.c_str(),
                                      {options.rate, 8, 0, 0, SERIAL_TERMINATOR});
  if (!line_) {
    throw std::system_error(errno, std::generic_category(),
                            options.device.empty() ? "cannot make a pseudo-terminal pair"
                                                   : "cannot open serial port " + options.device);
  }
  thread_ = std::thread(&SerialServer::Run, this);
}

SerialServer::~SerialServer() { Stop(); }

void SerialServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool SerialServer::StopDuring(std::chrono::milliseconds pause) const {
  const auto end = std::chrono::steady_clock::now() + pause;
  for (auto now = std::chrono::steady_clock::now(); now < end;
       now = std::chrono::steady_clock::now()) {
    if (stop_) return true;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kStopStep, end - now));
  }
  return stop_;
}

bool SerialServer::Send(std::span<const std::uint8_t> bytes) {
  // The request before its answer, and both before the tool can have the answer: whoever reads
  // the capture once the tool has reacted finds them in it.
  CaptureReceived();
  if (capture_ != nullptr) capture_->SerialBytes(pcap::LineDirection::FromAdapter, bytes);
  return line_->Write(bytes, kWriteTimeoutMs);
}

void SerialServer::CaptureReceived() {
  if (capture_ == nullptr || burst_.empty()) return;
  capture_->SerialBytes(pcap::LineDirection::ToAdapter, burst_);
  burst_.clear();
}

void SerialServer::Run() {
  Bytes pending;
  std::uint8_t chunk[4096];
  while (!stop_) {
    const std::size_t got = line_->Read(chunk, kReadRoundMs);
    pending.insert(pending.end(), chunk, chunk + got);
    if (capture_ != nullptr) burst_.insert(burst_.end(), chunk, chunk + got);
    if (got == 0) CaptureReceived();
    for (auto end = std::find(pending.begin(), pending.end(), SERIAL_TERMINATOR);
         end != pending.end() && !stop_;
         end = std::find(pending.begin(), pending.end(), SERIAL_TERMINATOR)) {
      Bytes line(pending.begin(), end + 1);
      pending.erase(pending.begin(), end + 1);
      Serve(std::move(line));
    }
    if (pending.size() > kMaxPending) pending.clear();
  }
  CaptureReceived();
}

void SerialServer::Serve(Bytes line) {
  LineFrame request = Decode(std::move(line));
  const bool answerable = request.checksumOk;
  const Bytes frame = request.frame;
  RecordReceived(std::move(request));
  if (!answerable) return;  // the adapter drops a damaged request

  auto reply = adapter_.Handle(frame);
  if (!reply) return;
  if (reply->delay.count() > 0 && StopDuring(reply->delay)) return;

  reply->wire = serial_line::Body(reply->frame);
  reply->Damage(Stage::LineBody);
  reply->wire = serial_line::Encode(reply->wire);
  reply->Damage(Stage::Line);
  const Bytes& out = reply->wire;
  // In one piece, or in three with the fault's pause between them.
  const std::size_t count = reply->piecePause.count() == 0 ? 1 : 3;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0 && StopDuring(reply->piecePause)) return;
    // Counted before its last bytes go out, not after: a tool that has the whole answer may
    // look at the count at once, before this thread runs again.
    if (i + 1 == count) RecordAnswer();
    const std::size_t from = out.size() * i / count;
    Send(std::span(out).subspan(from, out.size() * (i + 1) / count - from));
  }
}

}  // namespace sim
