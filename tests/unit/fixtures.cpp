// Test doubles for the console and the link.
#include "tests/unit/fixtures.h"

#include <algorithm>
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
  const std::size_t length = frame::Get16(m_pFrame + frame::kOffFrameLength) + 12u;
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
    const std::uint16_t sum = frame::Checksum(
        std::span<const std::uint8_t>(answer).subspan(frame::kFrameLengthBase,
                                                      answer.size() - frame::kFrameLengthBase));
    answer.push_back(static_cast<std::uint8_t>(sum));
    answer.push_back(static_cast<std::uint8_t>(sum >> 8));
  }
  std::memcpy(m_Buffer + offset, answer.data(),
              std::min(answer.size(), sizeof m_Buffer - offset));
  return 1;
}

}  // namespace testing_support
