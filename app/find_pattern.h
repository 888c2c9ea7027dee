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

namespace linemint {

// Plain search: memchr for the pattern's first byte, then a compare.
// REQUIRES: patternLength >= 1.
int64_t findPatternPlain(const uint8_t* haystack, std::size_t haystackLength, const uint8_t* pattern,
                         std::size_t patternLength, int64_t start) noexcept;

// Block search: tests 16 bytes at a time with SSE2 (unaligned loads, blocks
// following the start offset), and only bytes equal to the pattern's first
// byte are examined further. The last partial block is copied out, so nothing
// past the haystack is read. Same result as findPatternPlain for every input.
// REQUIRES: patternLength >= 1.
int64_t findPatternBlocks(const uint8_t* haystack, std::size_t haystackLength, const uint8_t* pattern,
                          std::size_t patternLength, int64_t start) noexcept;

}  // namespace linemint
