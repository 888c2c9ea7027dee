#include "app/find_pattern.h"

#include <cstring>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace linemint {
namespace {

using FindFn = int64_t (*)(const uint8_t*, std::size_t, const uint8_t*, std::size_t, int64_t) noexcept;

class FindPatternTest : public ::testing::TestWithParam<FindFn> {
 protected:
  int64_t find(const std::string& hay, const std::string& pat, int64_t start) {
    // An exact-size heap copy, so that a read past the end shows under ASan.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[hay.size() + (hay.empty() ? 1 : 0)]);
    std::memcpy(exact.get(), hay.data(), hay.size());
    return GetParam()(exact.get(), hay.size(), reinterpret_cast<const uint8_t*>(pat.data()), pat.size(), start);
  }
};

TEST_P(FindPatternTest, ContractCases) {
  struct Case { std::string hay; std::string pat; int64_t start; int64_t expected; const char* what; };
  const Case cases[] = {
      {"\r\nab", "\r\n", 0, 1, "start 0 counts as 1"},
      {"\r\nab", "\r\n", 1, 1, "pattern at the very start"},
      {"\r\nab", "\r\n", -7, 1, "negative start counts as 1"},
      {"a\r\r\n", "\r\n", 1, 3, "a CR not followed by LF is passed over"},
      {"ab\r", "\r\n", 1, -1, "a CR as the last byte"},
      {"ab\r\n", "\r\n", 5, -1, "start one past the end"},
      {"ab\r\n", "\r\n", 99, -1, "start far past the end"},
      {"", "\r\n", 1, -1, "empty haystack"},
      {"ab\r\ncd\r\n", "\r\n", 4, 7, "start inside a line end finds the next"},
      {"ab\r\ncd\r\n", "\r\n", 3, 3, "start on the CR"},
      {"x\ny\n", "\n", 3, 4, "one-byte pattern"},
      {"abcabd", "abd", 1, 4, "three-byte pattern after a near miss"},
      {"0123456789abcde\r\nx", "\r\n", 1, 16, "CR ending one block, LF starting the next"},
      {"\r\r\r\n\r\n", "\r\n", 1, 3, "several CRs in one block: the first followed by LF wins"},
      {"0123456789abcdefghijklmnopq\r", "\r\n", 1, -1, "CR last in a partial block"},
  };
  for (const Case& c : cases) EXPECT_EQ(find(c.hay, c.pat, c.start), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Both, FindPatternTest, ::testing::Values(&findPatternPlain, &findPatternBlocks),
                         [](const auto& info) { return info.param == &findPatternPlain ? "plain" : "blocks"; });

// The block search against the plain one on exact-size heap buffers of 0 to
// 80 bytes, every start, patterns of 1 to 3 bytes, with CR and LF placed at
// every offset around the 16-byte block boundaries.
TEST(FindPatternBlocks, AgreesWithPlainEverywhere) {
  const std::string patterns[] = {"\r", "\n", "\r\n", "\r\n\r", "a", "ab", "abc", std::string("\0\r", 2)};
  std::mt19937 rng(1234);
  const char alphabet[] = {'\r', '\n', 'a', 'b', 'c', '\0', 'x'};
  for (std::size_t length = 0; length <= 80; ++length) {
    for (int trial = 0; trial < 12; ++trial) {
      std::vector<uint8_t> bytes(length);
      for (auto& b : bytes) b = static_cast<uint8_t>(trial < 2 ? 'x' : alphabet[rng() % sizeof alphabet]);
      if (trial < 2 && length > 0) {
        // Sweep one CR (and LF after it) across the block boundaries.
        const std::size_t at = (rng() % length);
        bytes[at] = '\r';
        if (trial == 1 && at + 1 < length) bytes[at + 1] = '\n';
      }
      std::unique_ptr<uint8_t[]> exact(new uint8_t[length + (length == 0 ? 1 : 0)]);
      if (length != 0) std::memcpy(exact.get(), bytes.data(), length);
      for (const std::string& pat : patterns) {
        const auto* p = reinterpret_cast<const uint8_t*>(pat.data());
        for (int64_t start = -1; start <= static_cast<int64_t>(length) + 2; ++start) {
          ASSERT_EQ(findPatternBlocks(exact.get(), length, p, pat.size(), start),
                    findPatternPlain(exact.get(), length, p, pat.size(), start))
              << "length " << length << " start " << start << " pattern size " << pat.size();
        }
      }
    }
  }
}

TEST(FindPatternBlocks, LineEndAtEveryOffsetAroundBlockBoundaries) {
  for (std::size_t length = 2; length <= 64; ++length) {
    for (std::size_t at = 0; at + 1 < length; ++at) {
      std::unique_ptr<uint8_t[]> exact(new uint8_t[length]);
      std::memset(exact.get(), 'y', length);
      exact[at] = '\r';
      exact[at + 1] = '\n';
      const uint8_t crlf[2] = {'\r', '\n'};
      for (int64_t start = 0; start <= static_cast<int64_t>(length) + 1; ++start) {
        const int64_t expected = start <= static_cast<int64_t>(at) + 1 ? static_cast<int64_t>(at) + 1 : -1;
        ASSERT_EQ(findPatternBlocks(exact.get(), length, crlf, 2, start), expected) << length << " " << at << " " << start;
      }
    }
  }
}

}  // namespace
}  // namespace linemint
