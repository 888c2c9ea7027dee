#include "app/find_pattern.h"

#include <cstring>

#include "platform/simd.h"

namespace linemint {

int64_t findPatternPlain(const uint8_t* haystack, std::size_t haystackLength, const uint8_t* pattern,
                         std::size_t patternLength, int64_t start) noexcept {
  const std::size_t off = start < 1 ? 0 : static_cast<std::size_t>(start - 1);
  if (off >= haystackLength || haystackLength - off < patternLength) return -1;
  const uint8_t first = pattern[0];
  const uint8_t* p = haystack + off;
  const uint8_t* const end = haystack + haystackLength;
  for (;;) {
    p = static_cast<const uint8_t*>(std::memchr(p, first, static_cast<std::size_t>(end - p)));
    if (p == nullptr) return -1;
    if (static_cast<std::size_t>(end - p) < patternLength) return -1;
    if (std::memcmp(p + 1, pattern + 1, patternLength - 1) == 0) return (p - haystack) + 1;
    ++p;
  }
}

}  // namespace linemint
