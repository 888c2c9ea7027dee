#include "app/find_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace linemint {
namespace {

int64_t find(const std::string& hay, const std::string& pat, int64_t start) {
  return findPatternPlain(reinterpret_cast<const uint8_t*>(hay.data()), hay.size(),
                          reinterpret_cast<const uint8_t*>(pat.data()), pat.size(), start);
}

TEST(FindPatternPlain, ContractCases) {
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
  };
  for (const Case& c : cases) EXPECT_EQ(find(c.hay, c.pat, c.start), c.expected) << c.what;
}

}  // namespace
}  // namespace linemint
