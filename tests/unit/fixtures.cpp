// Test doubles for the console and the link.
#include "tests/unit/fixtures.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace testing_support {

console::ConsoleIo::Line ScriptedConsole::ReadLine(std::string& line) {
  if (pos_ >= input_.size()) return Line::Ended;
  const std::size_t end = std::min(input_.find('\n', pos_), input_.size());
  line = input_.substr(pos_, end - pos_);
  pos_ = std::min(end + 1, input_.size());
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.size() > console::kMaxLine ? Line::TooLong : Line::Ok;
}

int ScriptedConsole::ReadKey() {
  if (pos_ >= input_.size()) return -1;
  return static_cast<unsigned char>(input_[pos_++]);
}

std::size_t ScriptedStreams::ReadInput(std::span<char> dest) {
  events.push_back("read");
  return Take(dest);
}

int ScriptedStreams::ReadTerminalKey() {
  events.push_back("key");
  std::array<char, 1> key{};
  return Take(key) == 1 ? static_cast<unsigned char>(key[0]) : -1;
}

std::size_t ScriptedStreams::Take(std::span<char> dest) {
  if (!endRequested && next_ >= chunks_.size()) endRequested = endWhenInputRunsOut;
  if (endRequested || next_ >= chunks_.size()) return 0;
  const std::string& chunk = chunks_[next_];
  const std::size_t n = std::min(dest.size(), chunk.size() - offset_);
  std::copy_n(chunk.begin() + static_cast<std::ptrdiff_t>(offset_), n, dest.begin());
  offset_ += n;
  if (offset_ == chunk.size()) {
    ++next_;
    offset_ = 0;
  }
  return n;
}

bool ScriptedStreams::WriteOutput(std::string_view bytes) {
  events.push_back("write");
  if (outputGone) return false;
  writes.emplace_back(bytes);
  return true;
}

bool ScriptedStreams::Pause(std::uint32_t) {
  events.push_back("pause");
  return !endRequested;
}

Bytes AnswerFrame(std::uint16_t code, std::span<const std::uint8_t> data) {
  Bytes f(frame::kHeaderSize + data.size(), 0);
  frame::WriteHeader(f.data(), frame::kDirAnswer, code);
  frame::SetLengths(f.data(), static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), f.begin() + frame::kHeaderSize);
  return f;
}

Bytes AnswerFrame(std::uint16_t code, std::initializer_list<std::uint8_t> leading,
                  std::size_t size) {
  Bytes data(std::max(size, leading.size()), 0);
  std::copy(leading.begin(), leading.end(), data.begin());
  return AnswerFrame(code, data);
}

FakeLink::FakeLink(int link, int timeoutMs) : C_ZANTO_EXTCMD_IF(timeoutMs) { m_nConnect = link; }

int FakeLink::Send() {
  const std::size_t length =
      frame::kFrameLengthBase + frame::Get16(m_pFrame + frame::kOffFrameLength);
  requests.emplace_back(m_pFrame, m_pFrame + length);
  timeoutsAtSend.push_back(m_nTimeout);
  pending_ = respond ? respond(requests.back()) : std::nullopt;
  return 1;
}

int FakeLink::Receive(std::size_t offset, int timeoutCode) {
  std::memset(m_Buffer, 0, sizeof m_Buffer);
  if (!pending_) {
    m_nError = timeoutCode;
    return 0;
  }
  Bytes answer = std::move(*pending_);
  pending_.reset();
  if (offset == 0) {  // serial: the checksum follows the frame
    const std::uint16_t sum = frame::Checksum(std::span<const std::uint8_t>(answer).subspan(
        frame::kFrameLengthBase, answer.size() - frame::kFrameLengthBase));
    answer.push_back(static_cast<std::uint8_t>(sum));
    answer.push_back(static_cast<std::uint8_t>(sum >> 8));
  }
  std::memcpy(m_Buffer + offset, answer.data(), std::min(answer.size(), sizeof m_Buffer - offset));
  return 1;
}

}  // namespace testing_support
