#include "platform/simd.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace linemint::platform::simd {
namespace {

// Every length across the size steps of copySmall, on exact-size heap blocks
// (a move outside either block shows under AddressSanitizer), with guard bytes
// around the destination range checked untouched.
TEST(Simd, CopySmallCopiesExactlyTheRange) {
  std::mt19937 rng(11);
  for (std::size_t n = 0; n <= 140; ++n) {
    const auto src = std::make_unique<unsigned char[]>(n + 1);
    for (std::size_t i = 0; i < n; ++i) src[i] = static_cast<unsigned char>(rng());
    std::vector<unsigned char> dst(n + 2, 0xA5);
    const auto exact = std::make_unique<unsigned char[]>(n + 1);
    copySmall(exact.get(), src.get(), n);
    copySmall(dst.data() + 1, src.get(), n);
    EXPECT_EQ(dst.front(), 0xA5) << n;
    EXPECT_EQ(dst.back(), 0xA5) << n;
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(dst[i + 1], src[i]) << "length " << n << " byte " << i;
      ASSERT_EQ(exact[i], src[i]) << "length " << n << " byte " << i;
    }
  }
}

}  // namespace
}  // namespace linemint::platform::simd
