// The line-end search: where the next occurrence of a short pattern (CR LF, or
// LF alone) begins in a buffer.
//
// Both implementations meet one contract. Positions are 1-based and 64-bit; a
// start below 1 counts as 1. The result is the position p of the first
// occurrence that begins at or after start and lies wholly inside the haystack
// (p + patternLength - 1 <= haystackLength), or -1 when there is none (also for
// an empty haystack or a start past its end). Haystack and pattern are only read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/simd.h"

namespace linemint {

// Plain search: memchr for the pattern's first byte, then a compare.
// REQUIRES: patternLength >= 1.
int64_t findPatternPlain(const uint8_t* haystack, std::size_t haystackLength, const uint8_t* pattern,
                         std::size_t patternLength, int64_t start) noexcept;

// Block search: tests 16 bytes at a time with SSE2 (unaligned loads, blocks
// following the start offset), and only bytes equal to the pattern's first
// byte are examined further. The last partial block is copied out, so nothing
// past the haystack is read. Same result as findPatternPlain for every input.
// Inline, for callers that search once per line. (The pass takes every line
// end of a buffer at once from LineEndBlocks, which tests the same blocks.)
// REQUIRES: patternLength >= 1.
inline int64_t findPatternBlocks(const uint8_t* haystack, std::size_t haystackLength, const uint8_t* pattern,
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
