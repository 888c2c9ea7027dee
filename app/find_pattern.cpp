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

int64_t findPatternBlocks(const uint8_t* haystack, std::size_t haystackLength, const uint8_t* pattern,
                          std::size_t patternLength, int64_t start) noexcept {
  std::size_t off = start < 2 ? 0 : static_cast<std::size_t>(start - 1);
  if (off >= haystackLength) return -1;
  const uint8_t first = pattern[0];
  for (;;) {
    const std::size_t remaining = haystackLength - off;
    uint32_t mask;
    if (remaining >= 16) {
      mask = platform::simd::matchMask16(haystack + off, first);
    } else {
      // The last partial block: test a copy so that no byte past the end is read.
      alignas(16) uint8_t tail[16] = {};
      std::memcpy(tail, haystack + off, remaining);
      mask = platform::simd::matchMask16(tail, first) & ((1u << remaining) - 1u);
    }
    while (mask != 0) {
      const std::size_t c = off + static_cast<std::size_t>(platform::simd::lowestSetBit(mask));
      mask &= mask - 1;
      std::size_t i = 1;
      for (; i < patternLength; ++i) {
        if (c + i >= haystackLength) return -1;
        if (haystack[c + i] != pattern[i]) break;
      }
      if (i == patternLength) return static_cast<int64_t>(c) + 1;
    }
    off += 16;
    if (off >= haystackLength) return -1;
  }
}

}  // namespace linemint
