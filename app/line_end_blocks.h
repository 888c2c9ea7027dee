// The block search as a cursor over one buffer, for the pass, which wants
// every line end in order: each 64 bytes are tested once, as four 16-byte SSE2
// blocks, and the line ends found in them are turned into offsets four at a
// time without a branch per line end. Where a call of findPatternBlocks per
// line tests its line's first block again and takes a branch for each block
// and each candidate byte, this takes one branch per 64 bytes, which a
// processor can predict when line lengths vary at random.
//
// Same occurrences, in the same order, as findPatternBlocks called from 1 and
// then from each result + the line end's length. Nothing past the buffer is
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/simd.h"

namespace linemint {

// kEndLength 2: CR LF; 1: LF.
template <std::size_t kEndLength>
class LineEndBlocks {
  static_assert(kEndLength == 1 || kEndLength == 2);

 public:
  // next() may write up to this many entries past its limit.
  static constexpr std::size_t kSlack = 64;

  // REQUIRES: data readable for length bytes, and unchanged while this cursor is used.
  LineEndBlocks(const uint8_t* data, std::size_t length) noexcept : data_(data), length_(length) {}

  // Writes the 0-based offsets of the next line ends (where each one's first
  // byte lies) to out, in order, and returns how many: at least one and at
  // least `limit` when that many are left, 0 when none is. Entries past the
  // count up to limit + kSlack may be overwritten.
  // REQUIRES: limit >= 1; out has room for limit + kSlack entries.
  std::size_t next(std::size_t* out, std::size_t limit) noexcept {
    std::size_t n = 0;
    while (n < limit && base_ < length_) {
      uint64_t bits = endsAt(base_);
      const auto count = static_cast<std::size_t>(__builtin_popcountll(bits));
      std::size_t* o = out + n;
      // Four offsets per step whether or not there are four; an empty mask
      // gives offset base_ + 63, which lies past the count and is overwritten
      // or ignored. Lines of 16 bytes or more never need a second step.
      for (std::size_t done = 0; done < count; done += 4) {
        for (int k = 0; k < 4; ++k) {
          o[done + k] = base_ + static_cast<std::size_t>(__builtin_ctzll(bits | (uint64_t{1} << 63)));
          bits &= bits - 1;
        }
      }
      n += count;
      base_ += 64;
    }
    return n;
  }

 private:
  // Bit k set when a line end begins at offset base + k. The last partial
  // stretch is tested in a zero-filled copy, so that nothing past the buffer
  // is read (a zero byte is neither CR nor LF). REQUIRES: base < length_.
  uint64_t endsAt(std::size_t base) const noexcept {
    const std::size_t remaining = length_ - base;
    const uint8_t* p = data_ + base;
    alignas(16) uint8_t tail[64];
    if (remaining < 64) {
      std::memset(tail, 0, sizeof tail);
      std::memcpy(tail, p, remaining);
      p = tail;
    }
    const uint64_t lf = mask64(p, '\n');
    if constexpr (kEndLength == 1) {
      return lf;
    } else {
      // A CR at offset 63 pairs with an LF that starts the next stretch.
      const uint64_t lfNext = remaining > 64 && data_[base + 64] == '\n' ? 1 : 0;
      return mask64(p, '\r') & ((lf >> 1) | (lfNext << 63));
    }
  }

  static uint64_t mask64(const uint8_t* p, uint8_t b) noexcept {
    return uint64_t{platform::simd::matchMask16(p, b)} | uint64_t{platform::simd::matchMask16(p + 16, b)} << 16 |
           uint64_t{platform::simd::matchMask16(p + 32, b)} << 32 |
           uint64_t{platform::simd::matchMask16(p + 48, b)} << 48;
  }

  // Layout: the buffer and its length; the offset of the next 64 bytes to test.
  const uint8_t* const data_;
  const std::size_t length_;
  std::size_t base_ = 0;
};

}  // namespace linemint
