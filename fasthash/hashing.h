// Key hashing and key comparison for FastHashTable.
//
// Two hash families, chosen by the processor: with SSE4.2 the CRC-32C register
// update (Castagnoli, reflected polynomial 0x82F63B78, started from 0, no
// inversion before or after: exactly what the CRC32 instruction accumulates);
// without it the multiply-by-31 sum h = h * 31 + b (mod 2^32) from 0. Texts and
// 64-bit keys add bytes as unsigned values, byte buffers as signed values.
//
// Because the CRC register does not depend on how the bytes are grouped into
// instruction operands, the CRC paths feed 8 bytes at a time where they can;
// the register equals the byte-by-byte one.
//
// Every routine here is safe on exact-size buffers: none reads beyond the
// terminating NUL except through aligned 16- or 32-byte loads, which cannot
// cross into another page (those scans are exempt from AddressSanitizer).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/byte_buffer.h"
#include "platform/simd.h"

namespace linemint::fasthash {

// CRC-32C register after feeding n bytes to the register crc.
// REQUIRES: the processor has SSE4.2 (platform::cpuFeatures.sse42 != 0).
uint32_t crc32cUpdate(uint32_t crc, const void* bytes, std::size_t n) noexcept;

// The same register update computed without the CRC32 instruction (table
// driven); any processor. Used to check the instruction path.
uint32_t crc32cUpdatePortable(uint32_t crc, const void* bytes, std::size_t n) noexcept;

// One byte step of each family, for hashes that grow a byte at a time.
// hashStepCrc32 REQUIRES SSE4.2.
uint32_t hashStepCrc32(uint32_t h, uint8_t byte) noexcept;
constexpr uint32_t hashStepSum31(uint32_t h, uint8_t byte) noexcept { return h * 31u + byte; }

// Hash of the bytes of `text` before its first NUL, in the family useCrc32
// selects; stores that byte count in *length. A null text gives hash 0 and
// length 0. The length comes out of the same pass as the hash.
uint32_t hashTextWith(const char* text, uint32_t* length, bool useCrc32) noexcept;

// Hash of n bytes as a byte-buffer key: CRC, or the multiply-by-31 sum over
// signed bytes. n == 0 (or null bytes) gives 0.
uint32_t hashByteRange(const void* bytes, uint32_t n, bool useCrc32) noexcept;

// Hash of a byte-buffer key; an absent or empty buffer gives 0.
inline uint32_t hashBytesWith(const platform::ByteBuffer* buffer, bool useCrc32) noexcept {
  if (buffer == nullptr) return 0;
  return hashByteRange(buffer->bytes(), buffer->length, useCrc32);
}

// Hash of a 64-bit key: the CRC of its 8 little-endian bytes (low word, then
// high word), or the multiply-by-31 sum of those bytes as unsigned values.
uint32_t hashInt64(bool useCrc32, int64_t key) noexcept;

// Hashes for a caller that already knows a text key's length n (the bytes
// before its first NUL), equal to hashTextWith for that text in each family.
//
// The CRC form relies on leading zero bytes leaving a register of 0
// unchanged. A key of at most 40 bytes with 40 readable bytes before its end
// goes in as five 8-byte words ending at its end, the bytes before the key
// masked to zero: no branch on the length. Any other key feeds its first
// n % 8 bytes as one word behind zero bytes, then whole words.
// crcOfKnownLength REQUIRES SSE4.2; [readableFrom, p) readable; 8 readable
// bytes at p, even when n < 8.
inline constexpr uint32_t kKnownLengthWindow = 40;
// 40 zero bytes, then 40 bytes of 0xFF: the masks of crcOfKnownLength's window.
alignas(64) inline constexpr unsigned char kKeepFrom[2 * kKnownLengthWindow] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0,    0,    0,    0,    0,    0,    0,    0,    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

LINEMINT_TARGET_SSE42 inline uint32_t crcOfKnownLength(const unsigned char* p, uint32_t n,
                                                       const unsigned char* readableFrom) noexcept {
  if (n <= kKnownLengthWindow && static_cast<std::size_t>(p - readableFrom) + n >= kKnownLengthWindow) {
    // Byte i of the window is kept when i >= 40 - n: kKeepFrom[n + i] is then 0xFF.
    const unsigned char* w = p + n - kKnownLengthWindow;
    const unsigned char* keep = kKeepFrom + n;
    uint32_t crc = 0;
    for (uint32_t k = 0; k < kKnownLengthWindow; k += 8) {
      uint64_t word, mask;
      std::memcpy(&word, w + k, 8);
      std::memcpy(&mask, keep + k, 8);
      crc = platform::simd::crc32cQword(crc, word & mask);
    }
    return crc;
  }
  const uint32_t head = n & 7u;
  uint64_t first;
  std::memcpy(&first, p, 8);
  first = head != 0 ? first << (64u - 8u * head) : 0;
  uint32_t crc = platform::simd::crc32cQword(0, first);
  for (const unsigned char* q = p + head; q < p + n; q += 8) {
    uint64_t word;
    std::memcpy(&word, q, 8);
    crc = platform::simd::crc32cQword(crc, word);
  }
  return crc;
}
inline uint32_t sum31OfKnownLength(const unsigned char* p, uint32_t n) noexcept {
  uint32_t h = 0;
  for (uint32_t i = 0; i < n; ++i) h = h * 31u + p[i];
  return h;
}

// The process-wide forms: they take the family from platform::cpuFeatures.sse42
// at every call.
uint32_t hashText(const char* text, uint32_t* length) noexcept;
uint32_t hashBytes(const platform::ByteBuffer* buffer) noexcept;

// The byte compare behind bytesEqual: 16 bytes per step down to at most 32,
// then the first and the last 16, 8 or 4 bytes by overlapping loads, so that
// one branch on the size replaces a loop over the tail. Never reads outside
// the n bytes. REQUIRES: n >= 1, a and b valid for n bytes.
inline bool bytesEqualOverlapping(const unsigned char* a, const unsigned char* b, uint32_t n) noexcept {
  while (n > 32) {
    if (!platform::simd::equal16(a, b)) return false;
    a += 16;
    b += 16;
    n -= 16;
  }
  if (n >= 16) return platform::simd::equal16(a, b) & platform::simd::equal16(a + n - 16, b + n - 16);
  if (n >= 8) {
    uint64_t a0, b0, a1, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&a1, a + n - 8, 8);
    std::memcpy(&b1, b + n - 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  if (n >= 4) {
    uint32_t a0, b0, a1, b1;
    std::memcpy(&a0, a, 4);
    std::memcpy(&b0, b, 4);
    std::memcpy(&a1, a + n - 4, 4);
    std::memcpy(&b1, b + n - 4, 4);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
  }
  return ((a[0] ^ b[0]) | (a[n >> 1] ^ b[n >> 1]) | (a[n - 1] ^ b[n - 1])) == 0;
}

// True when the n bytes at a and b are equal. False when n is 0 or when either
// address is at most 8 (treated as null), even for identical addresses; true
// without reading when a == b and n > 0. Never reads outside the n bytes.
// Inline, because every chain walk of a text or byte-buffer table ends in it.
inline bool bytesEqual(const void* a, const void* b, uint32_t n) noexcept {
  if (reinterpret_cast<uintptr_t>(a) <= 8 || reinterpret_cast<uintptr_t>(b) <= 8 || n == 0) return false;
  if (a == b) return true;
  return bytesEqualOverlapping(static_cast<const unsigned char*>(a), static_cast<const unsigned char*>(b), n);
}

// Bytes of `text` before its first NUL (0 for null). Chooses the scan from
// platform::cpuFeatures at every call: AVX2 over aligned 32-byte blocks, else
// SSE2 over aligned 16-byte blocks, else aligned 4-byte words.
uint32_t textLength(const char* text) noexcept;

// The three scans behind textLength, callable directly so tests run each one.
// textLengthAvx2 REQUIRES AVX2. None of them reads past the aligned block or
// word that holds the terminator.
uint32_t textLengthAvx2(const char* text) noexcept;
uint32_t textLengthSse2(const char* text) noexcept;
uint32_t textLengthWords(const char* text) noexcept;

}  // namespace linemint::fasthash
