// Frame layout and checksum.
#include <gtest/gtest.h>

#include "extcmd/frame.h"

TEST(Checksum, Vectors) {
  const std::uint8_t four[] = {1, 2, 3, 4};
  EXPECT_EQ(frame::Checksum(four), 0x0602);
}
