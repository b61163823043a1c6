// Serial line coding: stuffing, unstuffing, checksum placement and the receive time-out rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "extcmd/serial_coding.h"
#include "tests/unit/serial_frames.h"

using namespace testing_support;

TEST(SerialCoding, RequestsOnTheLineByteForByte) {
  for (const LineCase& c : RequestLineCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(serial_line::Encode(serial_line::Body(RequestFrame(c.code, c.data))), c.line);
  }
}

TEST(SerialCoding, ChecksumFollowsTheFrameLowByteFirst) {
  const Bytes frame = RequestFrame(CMD_GET_STATUS | 1, {0, 0, 0, 0});
  const Bytes body = serial_line::Body(frame);
  ASSERT_EQ(body.size(), frame.size() + frame::kChecksumSize);
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), body.begin()));
  EXPECT_EQ(body[32], 0x65);
  EXPECT_EQ(body[33], 0x24);
}

// Every byte value survives the round trip, and the only raw terminator is the last line byte.
TEST(SerialCoding, EveryByteValueRoundTripsAndOnlyTheLastByteEndsTheFrame) {
  Bytes body;
  for (int i = 0; i < 256; ++i) {
    body.push_back(static_cast<std::uint8_t>(i));
    body.push_back(static_cast<std::uint8_t>(255 - i));
  }
  const Bytes line = serial_line::Encode(body);
  EXPECT_EQ(std::count(line.begin(), line.end(), SERIAL_TERMINATOR), 1);
  EXPECT_EQ(line.back(), SERIAL_TERMINATOR);
  EXPECT_EQ(line.size(), body.size() + 1 + 4);  // A2 and A3 appear twice each

  Bytes dest(4096, 0);
  const serial_line::Unescaped r = serial_line::Unescape(line, dest);
  EXPECT_TRUE(r.terminated);
  EXPECT_EQ(r.consumed, line.size());
  ASSERT_EQ(r.stored, body.size() + 1);
  EXPECT_TRUE(std::equal(body.begin(), body.end(), dest.begin()));
  EXPECT_EQ(dest[body.size()], SERIAL_TERMINATOR);
}

TEST(SerialCoding, UnescapeFollowsTheReceiveRuleWithinBothBuffers) {
  struct Case {
    const char* name;
    Bytes line;
    std::size_t room;
    Bytes stored;
    std::size_t consumed;
    bool terminated;
  };
  const Case cases[] = {
      {"escape sets bit 7", {0x41, 0xA3, 0x41, 0xA2}, 16, {0x41, 0xC1, 0xA2}, 4, true},
      {"a run of escapes acts as one",
       {0xA3, 0xA3, 0x22, 0x55, 0xA2},
       16,
       {0xA2, 0x55, 0xA2},
       5,
       true},
      {"escaped terminator still ends", {0x10, 0xA3, 0xA2, 0x77, 0xA2}, 16, {0x10, 0xA2}, 3, true},
      {"bytes after the terminator stay unread",
       {0x01, 0xA2, 0x02, 0xA2},
       16,
       {0x01, 0xA2},
       2,
       true},
      {"no terminator stops at the end", {0x11, 0x22, 0x33}, 16, {0x11, 0x22, 0x33}, 3, false},
      {"trailing escape stores nothing", {0x11, 0xA3}, 16, {0x11}, 2, false},
      {"a full destination stops it", {0x11, 0x22, 0x33, 0xA2}, 2, {0x11, 0x22}, 2, false},
      {"terminator with no room", {0x11, 0x22, 0xA2}, 2, {0x11, 0x22}, 2, false},
      {"no room at all", {0x11, 0xA2}, 0, {}, 0, false},
      {"nothing read", {}, 16, {}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Guard bytes behind the destination must stay as they are.
    Bytes dest(c.room + 4, 0x5A);
    const serial_line::Unescaped r =
        serial_line::Unescape(c.line, std::span<std::uint8_t>(dest.data(), c.room));
    EXPECT_EQ(r.stored, c.stored.size());
    EXPECT_EQ(r.consumed, c.consumed);
    EXPECT_EQ(r.terminated, c.terminated);
    EXPECT_EQ(Bytes(dest.begin(), dest.begin() + static_cast<std::ptrdiff_t>(r.stored)), c.stored);
    EXPECT_TRUE(std::all_of(dest.begin() + static_cast<std::ptrdiff_t>(c.room), dest.end(),
                            [](std::uint8_t b) { return b == 0x5A; }));
  }
}

TEST(SerialCoding, TimeOutOnAWrappingMillisecondCounter) {
  struct Case {
    const char* name;
    std::uint32_t start, now;
    std::int32_t limit;
    bool timedOut;
  };
  const Case cases[] = {
      {"before the limit", 1000, 1099, 100, false},
      {"at the limit", 1000, 1100, 100, true},
      {"wrap past 2^32", 0xFFFFFF00u, 0x10, 273, false},
      {"wrap past 2^32 at the limit", 0xFFFFFF00u, 0x10, 272, true},
      // Crossing from positive to negative as signed numbers counts one millisecond less.
      {"signed crossing", 0x7FFFFF00u, 0x80000010u, 272, false},
      {"signed crossing at the limit", 0x7FFFFF00u, 0x80000010u, 271, true},
      {"counter behind the start", 5000, 4000, 100000, true},
      {"zero limit", 7, 7, 0, true},
      {"negative limit", 7, 8, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(serial_line::TimedOut(c.start, c.now, c.limit), c.timedOut);
  }
}
