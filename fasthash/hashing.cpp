#include "fasthash/hashing.h"

#include <array>
#include <cstring>

#include "platform/cpu_features.h"
#include "platform/simd.h"
#include "platform/text_scan.h"

namespace linemint::fasthash {

namespace {

constexpr uint32_t kCastagnoliReflected = 0x82F63B78u;

constexpr std::array<uint32_t, 256> makeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int k = 0; k < 8; ++k) r = (r & 1) != 0 ? (r >> 1) ^ kCastagnoliReflected : r >> 1;
    table[i] = r;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

LINEMINT_TARGET_SSE42 uint32_t crcRange(uint32_t crc, const unsigned char* p, std::size_t n) noexcept {
  while (n >= 8) {
    uint64_t q;
    std::memcpy(&q, p, 8);
    crc = platform::simd::crc32cQword(crc, q);
    p += 8;
    n -= 8;
  }
  if (n >= 4) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    crc = platform::simd::crc32cWord(crc, w);
    p += 4;
    n -= 4;
  }
  while (n > 0) {
    crc = platform::simd::crc32cByte(crc, *p++);
    --n;
  }
  return crc;
}

// The multiply-by-31 sum over n bytes, four at a time:
// h * 31^4 + b0 * 31^3 + b1 * 31^2 + b2 * 31 + b3 equals four single steps
// (mod 2^32) but leaves one multiply in the chain from one group to the next.
// Signed adds each byte sign-extended.
template <bool Signed>
uint32_t sum31Range(const unsigned char* p, std::size_t n) noexcept {
  auto byte = [](unsigned char b) -> uint32_t {
    if constexpr (Signed) return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(b)));
    return b;
  };
  uint32_t h = 0;
  while (n >= 4) {
    h = h * 923521u + (byte(p[0]) * 29791u + byte(p[1]) * 961u + byte(p[2]) * 31u + byte(p[3]));
    p += 4;
    n -= 4;
  }
  for (; n > 0; --n) h = h * 31u + byte(*p++);
  return h;
}

// A 4-byte word that may alias the text's bytes.
using AliasingWord = uint32_t __attribute__((may_alias));

// (w - 0x01010101) & ~w & 0x80808080: its lowest set bit marks the first zero
// byte of w (higher bits may be false alarms, the lowest never is).
constexpr uint32_t zeroBytes(uint32_t w) noexcept { return (w - 0x01010101u) & ~w & 0x80808080u; }

}  // namespace

uint32_t crc32cUpdate(uint32_t crc, const void* bytes, std::size_t n) noexcept {
  return crcRange(crc, static_cast<const unsigned char*>(bytes), n);
}

uint32_t crc32cUpdatePortable(uint32_t crc, const void* bytes, std::size_t n) noexcept {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::size_t i = 0; i < n; ++i) crc = (crc >> 8) ^ kCrcTable[(crc ^ p[i]) & 0xFF];
  return crc;
}

uint32_t hashStepCrc32(uint32_t h, uint8_t byte) noexcept { return platform::simd::crc32cByte(h, byte); }

uint32_t hashTextWith(const char* text, uint32_t* length, bool useCrc32) noexcept {
  if (text == nullptr) {
    *length = 0;
    return 0;
  }
  // The terminator is found with aligned 16-byte blocks, then the bytes are
  // fed 8 (CRC) or 4 (sum) at a time: no branch per byte, so that the
  // processor can run ahead into the table's memory.
  const uint32_t n = platform::zeroIndexSse2(text);
  *length = n;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  return useCrc32 ? crcRange(0, bytes, n) : sum31Range<false>(bytes, n);
}

uint32_t hashByteRange(const void* bytes, uint32_t n, bool useCrc32) noexcept {
  if (bytes == nullptr || n == 0) return 0;
  const auto* p = static_cast<const unsigned char*>(bytes);
  return useCrc32 ? crcRange(0, p, n) : sum31Range<true>(p, n);
}

uint32_t hashInt64(bool useCrc32, int64_t key) noexcept {
  const auto k = static_cast<uint64_t>(key);
  if (useCrc32) return platform::simd::crc32cQword(0, k);
  uint32_t h = 0;
  for (int i = 0; i < 8; ++i) h = h * 31u + static_cast<uint32_t>((k >> (8 * i)) & 0xFF);
  return h;
}

uint32_t hashText(const char* text, uint32_t* length) noexcept {
  return hashTextWith(text, length, platform::cpuFeatures.sse42 != 0);
}

uint32_t hashBytes(const platform::ByteBuffer* buffer) noexcept {
  return hashBytesWith(buffer, platform::cpuFeatures.sse42 != 0);
}

uint32_t textLengthAvx2(const char* text) noexcept { return text == nullptr ? 0 : platform::zeroIndexAvx2(text); }

uint32_t textLengthSse2(const char* text) noexcept { return text == nullptr ? 0 : platform::zeroIndexSse2(text); }

// Aligned 4-byte words: the word holding the terminator never reaches into
// the next page. Its bytes past the NUL (and before the start) lie outside
// the text, hence the exemption from AddressSanitizer.
__attribute__((no_sanitize_address)) uint32_t textLengthWords(const char* text) noexcept {
  if (text == nullptr) return 0;
  const auto start = reinterpret_cast<uintptr_t>(text);
  const auto* word = reinterpret_cast<const AliasingWord*>(start & ~uintptr_t{3});
  const uint32_t before = static_cast<uint32_t>(start & 3);
  // Bytes before the start become 0xFF so that they never count as a NUL.
  uint32_t w = *word | (before == 0 ? 0u : (1u << (8 * before)) - 1);
  for (;;) {
    const uint32_t z = zeroBytes(w);
    if (z != 0) {
      return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(word) - start) +
             static_cast<uint32_t>(__builtin_ctz(z)) / 8;
    }
    w = *++word;
  }
}

uint32_t textLength(const char* text) noexcept {
  if (platform::cpuFeatures.avx2 != 0) return textLengthAvx2(text);
  if (platform::cpuFeatures.sse2 != 0) return textLengthSse2(text);
  return textLengthWords(text);
}

}  // namespace linemint::fasthash
