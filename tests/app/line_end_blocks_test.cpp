#include "app/line_end_blocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "app/find_pattern.h"

namespace linemint {
namespace {

// Every line end, by findPatternBlocks called from 1 and then after each one.
std::vector<std::size_t> endsBySearch(const uint8_t* data, std::size_t length, const uint8_t* end,
                                      std::size_t endLength) {
  std::vector<std::size_t> ends;
  for (int64_t p = findPatternBlocks(data, length, end, endLength, 0); p > 0;
       p = findPatternBlocks(data, length, end, endLength, p + static_cast<int64_t>(endLength))) {
    ends.push_back(static_cast<std::size_t>(p - 1));
  }
  return ends;
}

template <std::size_t kEndLength>
std::vector<std::size_t> endsByCursor(const uint8_t* data, std::size_t length, std::size_t limit) {
  LineEndBlocks<kEndLength> cursor(data, length);
  std::vector<std::size_t> out(limit + LineEndBlocks<kEndLength>::kSlack);
  std::vector<std::size_t> ends;
  for (std::size_t n; (n = cursor.next(out.data(), limit)) != 0;) {
    EXPECT_TRUE(n >= limit || cursor.next(out.data(), limit) == 0) << "a short batch before the end";
    ends.insert(ends.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    if (n < limit) break;
  }
  return ends;
}

// Exact-size heap buffers (a read past the end shows under AddressSanitizer)
// of 0 to 200 bytes: CR, LF and other bytes at random, runs of line ends
// (more than four to a 64-byte stretch), and a CR LF swept across every
// stretch boundary; batch limits from 1 up.
TEST(LineEndBlocks, FindsWhatTheBlockSearchFindsInOrder) {
  const uint8_t crlf[2] = {'\r', '\n'};
  const uint8_t lf[1] = {'\n'};
  std::mt19937 rng(99);
  const char alphabet[] = {'\r', '\n', 'a', '\0', '\r', '\n', 'x'};
  for (std::size_t length = 0; length <= 200; ++length) {
    for (int trial = 0; trial < 8; ++trial) {
      std::unique_ptr<uint8_t[]> exact(new uint8_t[length + (length == 0 ? 1 : 0)]);
      for (std::size_t i = 0; i < length; ++i) {
        exact[i] = static_cast<uint8_t>(trial == 0 ? 'y' : trial == 1 ? "\r\n"[i % 2] : alphabet[rng() % sizeof alphabet]);
      }
      if (trial == 0 && length >= 2) {
        const std::size_t at = (length * 7 + 13) % (length - 1);
        exact[at] = '\r';
        exact[at + 1] = '\n';
      }
      const auto wantCrLf = endsBySearch(exact.get(), length, crlf, 2);
      const auto wantLf = endsBySearch(exact.get(), length, lf, 1);
      for (std::size_t limit : {1, 3, 256}) {
        ASSERT_EQ(endsByCursor<2>(exact.get(), length, limit), wantCrLf) << length << " " << trial << " " << limit;
        ASSERT_EQ(endsByCursor<1>(exact.get(), length, limit), wantLf) << length << " " << trial << " " << limit;
      }
    }
  }
}

TEST(LineEndBlocks, CrLfSplitAcrossEveryStretchBoundary) {
  for (std::size_t length : {64, 65, 66, 127, 128, 129, 130}) {
    for (std::size_t at = 60; at < 68 && at + 1 < length; ++at) {
      std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
      std::memset(exact.get(), 'z', length);
      exact[at] = '\r';
      exact[at + 1] = '\n';
      exact[length - 1] = '\r';  // a CR as the last byte ends no line
      const std::vector<std::size_t> want = at + 1 == length - 1 ? std::vector<std::size_t>{} : std::vector<std::size_t>{at};
      EXPECT_EQ(endsByCursor<2>(exact.get(), length, 4), want) << length << " " << at;
    }
  }
}

}  // namespace
}  // namespace linemint
