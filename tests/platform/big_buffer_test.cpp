#include "platform/big_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace linemint::platform {
namespace {

TEST(BigBuffer, GrowsKeepingContentsAndSlackStaysReadableZero) {
  BigBuffer b;
  EXPECT_TRUE(b.empty());
  std::string expected;
  for (int i = 0; i < 100000; ++i) {
    const std::string piece = std::to_string(i) + ",";
    ASSERT_TRUE(b.append(piece.data(), piece.size()));
    expected += piece;
  }
  ASSERT_EQ(b.size(), expected.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data()), b.size()), expected);
  for (std::size_t i = 0; i < kBigBufferSlack; ++i) EXPECT_EQ(b.data()[b.capacity() + i], 0);

  BigBuffer moved = std::move(b);
  EXPECT_EQ(b.size(), 0u);
  EXPECT_EQ(moved.size(), expected.size());
  moved.reset();
  EXPECT_EQ(moved.capacity(), 0u);
}

}  // namespace
}  // namespace linemint::platform
