// Frames and their serial line bytes that the serial tests share, among them the worked examples.
#pragma once

#include <vector>

#include "extcmd/serial_coding.h"
#include "tests/unit/fixtures.h"

namespace testing_support {

// A request frame as MakeCommand lays it out, with the given request code and data.
inline Bytes RequestFrame(std::uint16_t code, std::span<const std::uint8_t> data) {
  Bytes f = AnswerFrame(code, data);
  frame::Put16(f.data() + frame::kOffDirection, frame::kDirRequest);
  return f;
}
inline Bytes RequestFrame(std::uint16_t code, std::initializer_list<std::uint8_t> data) {
  return RequestFrame(code, Bytes(data));
}

// A frame as it travels on the line: checksum behind it, stuffed, terminated.
inline Bytes LineOf(std::span<const std::uint8_t> frame) {
  return serial_line::Encode(serial_line::Body(frame));
}

struct LineCase {
  const char* name;
  std::uint16_t code;  // request code
  Bytes data;
  Bytes line;  // the request on the line
};

// Requests with data length 4, written out byte for byte.
inline std::vector<LineCase> RequestLineCases() {
  const Bytes head = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAB, 0x03, 0x00, 0x14, 0x00,
                      0x01, 0xF0, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x67, 0x7E, 0x4E, 0x0B};
  const auto join = [&head](std::initializer_list<std::uint8_t> tail) {
    Bytes line = head;
    line.insert(line.end(), tail);
    return line;
  };
  return {
      {"Get Status",
       CMD_GET_STATUS | 1,
       {0, 0, 0, 0},
       join({0x41, 0xA1, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x65, 0x24, 0xA2})},
      {"Info Resolution with an A2 in the data",
       CMD_INFO_RESOLUTION | 1,
       {0xC0, 0xA8, 0x00, 0xA2},
       join({0x01, 0xB0, 0x00, 0x00, 0xC0, 0xA8, 0x00, 0xA3, 0x22, 0xE5, 0x3F, 0xA2})},
      // C7 and 87 turn the Get Status checksum 65 24 into A2 A3.
      {"checksum bytes A2 A3",
       CMD_GET_STATUS | 1,
       {0xC7, 0x87, 0x00, 0x00},
       join({0x41, 0xA1, 0x00, 0x00, 0xC7, 0x87, 0x00, 0x00, 0xA3, 0x22, 0xA3, 0x23, 0xA2})},
      {"data A3 and A2",
       CMD_GET_STATUS | 1,
       {0xA3, 0x00, 0xA2, 0x00},
       join({0x41, 0xA1, 0x00, 0x00, 0xA3, 0x23, 0x00, 0xA3, 0x22, 0x00, 0x64, 0x24, 0xA2})},
  };
}

}  // namespace testing_support
