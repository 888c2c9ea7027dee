#include "fasthash/hashing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "test_support.h"

namespace linemint::fasthash {
namespace {

using test::Family;

std::unique_ptr<ByteBuffer, platform::ProcessHeapDeleter> bufferOf(const std::string& bytes) {
  return platform::newByteBuffer(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// The known answers pin both families, so that a change to either has to be
// a decision.
struct WorkedValue {
  const char* what;
  enum { text, buffer, int64 } form;
  std::string bytes;
  int64_t key;
  uint32_t crc32;
  uint32_t sum31;
};

class WorkedValues : public testing::TestWithParam<WorkedValue> {};

TEST_P(WorkedValues, BothFamilies) {
  const WorkedValue& v = GetParam();
  for (const bool crc : {true, false}) {
    const uint32_t expected = crc ? v.crc32 : v.sum31;
    uint32_t got = 0;
    if (v.form == WorkedValue::text) {
      uint32_t length = 99;
      got = hashTextWith(v.bytes.c_str(), &length, crc);
      EXPECT_EQ(length, v.bytes.size());
    } else if (v.form == WorkedValue::buffer) {
      got = hashBytesWith(bufferOf(v.bytes).get(), crc);
    } else {
      got = hashInt64(crc, v.key);
    }
    EXPECT_EQ(got, expected) << v.what << (crc ? " (crc)" : " (sum31)");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hashing, WorkedValues,
    testing::Values(WorkedValue{"text abc", WorkedValue::text, "abc", 0, 0x562F9CCDu, 96354u},
                    WorkedValue{"int64 1", WorkedValue::int64, "", 1, 0x493C7D27u, 0x67E12CDFu},
                    WorkedValue{"buffer 0x80", WorkedValue::buffer, "\x80", 0, 0x82F63B78u, 0xFFFFFF80u},
                    WorkedValue{"text 0x80", WorkedValue::text, "\x80", 0, 0x82F63B78u, 0x00000080u},
                    WorkedValue{"empty text", WorkedValue::text, "", 0, 0, 0},
                    WorkedValue{"empty buffer", WorkedValue::buffer, "", 0, 0, 0},
                    // One whole word then a word holding the NUL, and a
                    // word plus a byte: the same as feeding bytes one by one.
                    WorkedValue{"text abcd", WorkedValue::text, "abcd", 0, 0xDAAF41F6u, 2987074u},
                    WorkedValue{"text abcde", WorkedValue::text, "abcde", 0, 0x8122A0A2u, 92599395u}));

TEST(Hashing, AbsentKeysHashToZero) {
  uint32_t length = 7;
  EXPECT_EQ(hashTextWith(nullptr, &length, true), 0u);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(hashTextWith("\0abc", &length, true), 0u);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(hashBytesWith(nullptr, true), 0u);
  EXPECT_EQ(hashBytesWith(nullptr, false), 0u);
}

// RFC 3720, B.4. The published values use the usual start of all ones and a
// final inversion; the table's register starts at 0 without inversion, so
// the same update is checked with that framing added around it.
TEST(Hashing, Crc32cCheckVectors) {
  if (test::realFeatures().sse42 == 0) GTEST_SKIP() << "no SSE4.2";
  std::vector<uint8_t> zeros(32, 0), ones(32, 0xFF), up(32), down(32);
  for (int i = 0; i < 32; ++i) {
    up[i] = static_cast<uint8_t>(i);
    down[i] = static_cast<uint8_t>(31 - i);
  }
  const uint8_t iscsiRead[48] = {0x01, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
                                 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x18, 0x28, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  struct Vector {
    const uint8_t* bytes;
    size_t n;
    uint32_t crc;
  } vectors[] = {{zeros.data(), 32, 0x8A9136AAu},
                 {ones.data(), 32, 0x62A8AB43u},
                 {up.data(), 32, 0x46DD794Eu},
                 {down.data(), 32, 0x113FDB5Cu},
                 {iscsiRead, 48, 0xD9963A56u}};
  for (const Vector& v : vectors) {
    EXPECT_EQ(~crc32cUpdate(0xFFFFFFFFu, v.bytes, v.n), v.crc);
    EXPECT_EQ(~crc32cUpdatePortable(0xFFFFFFFFu, v.bytes, v.n), v.crc);
  }
}

// The instruction path feeds 8, 4 and 1 bytes at a time; every length and
// start offset must give the byte-by-byte register.
TEST(Hashing, Crc32cInstructionMatchesPortableForEveryLengthAndOffset) {
  if (test::realFeatures().sse42 == 0) GTEST_SKIP() << "no SSE4.2";
  std::mt19937 rng(20240531);
  std::vector<uint8_t> data(96);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t n = 0; n + offset <= data.size(); ++n) {
      ASSERT_EQ(crc32cUpdate(0x1234u, data.data() + offset, n), crc32cUpdatePortable(0x1234u, data.data() + offset, n))
          << "offset " << offset << " length " << n;
    }
  }
}

// The sum is computed four bytes at a time; every length must give the
// byte-by-byte sum, unsigned for texts and signed for buffers.
TEST(Hashing, Sum31MatchesTheByteByByteSumForEveryLength) {
  std::mt19937 rng(7);
  std::string bytes(80, ' ');
  for (char& c : bytes) c = static_cast<char>(1 + rng() % 255);
  for (size_t n = 0; n <= bytes.size(); ++n) {
    uint32_t unsignedSum = 0, signedSum = 0;
    for (size_t i = 0; i < n; ++i) {
      unsignedSum = unsignedSum * 31u + static_cast<uint8_t>(bytes[i]);
      signedSum = signedSum * 31u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i])));
    }
    const std::string text = bytes.substr(0, n);
    uint32_t length = 0;
    ASSERT_EQ(hashTextWith(text.c_str(), &length, false), unsignedSum) << n;
    ASSERT_EQ(hashByteRange(text.data(), static_cast<uint32_t>(n), false), signedSum) << n;
  }
}

TEST(Hashing, TextAndBufferAgreeBelow0x80AndDifferAboveInSum31Only) {
  const std::string low = "plain ascii line";
  const std::string high = "caf\xC3\xA9";
  for (const bool crc : {true, false}) {
    uint32_t length = 0;
    EXPECT_EQ(hashTextWith(low.c_str(), &length, crc), hashBytesWith(bufferOf(low).get(), crc));
    const bool same = hashTextWith(high.c_str(), &length, crc) == hashBytesWith(bufferOf(high).get(), crc);
    EXPECT_EQ(same, crc) << (crc ? "crc" : "sum31");
  }
}

TEST(Hashing, HashStepsGrowTheTextHashByteByByte) {
  const std::string text = "incremental \xB0\xA1 text";
  for (const bool crc : {true, false}) {
    if (crc && test::realFeatures().sse42 == 0) continue;
    uint32_t h = 0;
    for (const char c : text) h = crc ? hashStepCrc32(h, static_cast<uint8_t>(c)) : hashStepSum31(h, static_cast<uint8_t>(c));
    uint32_t length = 0;
    EXPECT_EQ(h, hashTextWith(text.c_str(), &length, crc));
  }
}

TEST(Hashing, BytesEqualEdgeCases) {
  const char a[] = "0123456789abcdefXYZW0123456789";
  char b[sizeof a];
  std::memcpy(b, a, sizeof a);
  EXPECT_FALSE(bytesEqual(a, a, 0)) << "zero bytes are never equal";
  EXPECT_FALSE(bytesEqual(a, b, 0));
  EXPECT_FALSE(bytesEqual(nullptr, b, 4));
  EXPECT_FALSE(bytesEqual(reinterpret_cast<const void*>(8), b, 4)) << "addresses up to 8 count as null";
  // The same address with n > 0 is equal without reading: even past the end.
  EXPECT_TRUE(bytesEqual(a, a, 1u << 30));
  // A difference at every position, through each step width (16, 8, 4, 1).
  for (uint32_t n = 1; n < sizeof a; ++n) {
    EXPECT_TRUE(bytesEqual(a, b, n)) << n;
    for (uint32_t at = 0; at < n; ++at) {
      b[at] ^= 0x20;
      EXPECT_FALSE(bytesEqual(a, b, n)) << "n " << n << " difference at " << at;
      b[at] ^= 0x20;
    }
  }
}

// The overlapping compare must give bytesEqual's answer for every length
// across its 4-, 8-, 16- and 32-byte steps, with a difference at every
// position, on exact-size heap copies so that a read outside shows under
// AddressSanitizer.
TEST(Hashing, OverlappingCompareAgreesWithBytesEqual) {
  std::mt19937 rng(41);
  for (uint32_t n = 1; n <= 80; ++n) {
    std::vector<unsigned char> a(n);
    for (auto& byte : a) byte = static_cast<unsigned char>(rng());
    const auto x = std::make_unique<unsigned char[]>(n);
    const auto y = std::make_unique<unsigned char[]>(n);
    std::memcpy(x.get(), a.data(), n);
    std::memcpy(y.get(), a.data(), n);
    EXPECT_TRUE(bytesEqualOverlapping(x.get(), y.get(), n)) << n;
    for (uint32_t at = 0; at < n; ++at) {
      y[at] ^= 0x01;
      ASSERT_EQ(bytesEqualOverlapping(x.get(), y.get(), n), bytesEqual(x.get(), y.get(), n)) << n << " at " << at;
      ASSERT_FALSE(bytesEqualOverlapping(x.get(), y.get(), n));
      y[at] ^= 0x01;
    }
  }
}

// The known-length hashes must equal the text hash of each family for every
// length and start offset. The CRC form is taken both ways: with the bytes
// before the key readable (its fixed window, which reads them and must mask
// them off) and with none readable (its word loop, whose first word mixes in
// bytes past the key, which must not count either).
TEST(Hashing, KnownLengthHashesEqualTheTextHash) {
  std::mt19937 rng(5);
  std::vector<unsigned char> data(160);
  for (std::size_t offset = 0; offset < 48; ++offset) {
    for (uint32_t n = 0; n <= 80; ++n) {
      for (auto& byte : data) byte = static_cast<unsigned char>(1 + rng() % 255);
      data[offset + n] = 0;
      const unsigned char* key = data.data() + offset;
      const char* text = reinterpret_cast<const char*>(key);
      uint32_t length = 0;
      if (test::realFeatures().sse42 != 0) {
        const uint32_t expected = hashTextWith(text, &length, true);
        ASSERT_EQ(length, n);
        ASSERT_EQ(crcOfKnownLength(key, n, data.data()), expected) << "offset " << offset << " length " << n;
        ASSERT_EQ(crcOfKnownLength(key, n, key), expected) << "offset " << offset << " length " << n;
      }
      ASSERT_EQ(sum31OfKnownLength(key, n), hashTextWith(text, &length, false)) << n;
    }
  }
}

// Each scan on exact-size heap texts, the terminator swept across every
// offset of two 32-byte blocks and the start across every alignment, so that
// an over-read shows under AddressSanitizer and a wrong mask shows anywhere.
TEST(Hashing, EveryTextLengthScanOnExactSizeTexts) {
  const bool avx2 = test::realFeatures().avx2 != 0;
  for (uint32_t start = 0; start < 32; ++start) {
    for (uint32_t n = 0; n < 70; ++n) {
      std::vector<char> storage(start + n + 1, 'x');
      // Zero bytes before the start must not count.
      for (uint32_t i = 0; i < start; ++i) storage[i] = 0;
      storage[start + n] = 0;
      auto exact = std::make_unique<char[]>(storage.size());
      std::memcpy(exact.get(), storage.data(), storage.size());
      const char* text = exact.get() + start;
      ASSERT_EQ(textLengthWords(text), n) << "start " << start;
      ASSERT_EQ(textLengthSse2(text), n) << "start " << start;
      if (avx2) {
        ASSERT_EQ(textLengthAvx2(text), n) << "start " << start;
      }
      uint32_t length = 0;
      hashTextWith(text, &length, false);
      ASSERT_EQ(length, n);
      if (test::realFeatures().sse42 != 0) {
        const uint32_t h = hashTextWith(text, &length, true);
        ASSERT_EQ(length, n);
        ASSERT_EQ(h, crc32cUpdatePortable(0, text, n));
      }
    }
  }
  EXPECT_EQ(textLengthWords(nullptr), 0u);
  EXPECT_EQ(textLengthSse2(nullptr), 0u);
}

// textLength chooses its scan from the features at every call; forcing each
// one off must still give the right length for a text that begins one byte
// before a 32-byte boundary.
TEST(Hashing, TextLengthHonoursForcedFeatures) {
  alignas(64) char storage[128];
  std::memset(storage, 'y', sizeof storage);
  storage[31 + 50] = 0;
  const char* text = storage + 31;
  const platform::CpuFeatures real = test::realFeatures();
  for (const platform::CpuFeatures forced :
       {real, platform::CpuFeatures{real.sse2, real.sse42, 0}, platform::CpuFeatures{0, real.sse42, 0}}) {
    test::ScopedCpuFeatures scope(forced);
    EXPECT_EQ(textLength(text), 50u);
    EXPECT_EQ(FastHashTable::textLength(text), 50u);
    EXPECT_EQ(textLength(nullptr), 0u);
  }
}

// The process-wide hashes follow sse42 as it stands at each call.
TEST(Hashing, ProcessWideHashFollowsTheFeatureFlag) {
  const platform::CpuFeatures real = test::realFeatures();
  uint32_t length = 0;
  {
    test::ScopedCpuFeatures scope({real.sse2, 0, real.avx2});
    EXPECT_EQ(FastHashTable::hashText("abc", &length), 96354u);
    EXPECT_EQ(hashBytes(bufferOf("\x80").get()), 0xFFFFFF80u);
  }
  if (real.sse42 != 0) {
    test::ScopedCpuFeatures scope(real);
    EXPECT_EQ(FastHashTable::hashText("abc", &length), 0x562F9CCDu);
    EXPECT_EQ(FastHashTable::hashBytes(bufferOf("\x80").get()), 0x82F63B78u);
  }
}

// The AVX2 decision from raw registers: OS support (XCR0 bits 1 and 2) and
// the AVX and OSXSAVE bits are all needed.
TEST(Hashing, Avx2DecisionFromRegisters) {
  constexpr uint32_t osxsaveAndAvx = (1u << 27) | (1u << 28);
  constexpr uint32_t avx2Bit = 1u << 5;
  struct Case {
    uint32_t ecx, ebx;
    uint64_t xcr0;
    uint32_t expected;
  } cases[] = {
      {osxsaveAndAvx, avx2Bit, 0x6, 1},
      {osxsaveAndAvx, avx2Bit, 0x2, 0},  // the OS does not save YMM state
      {osxsaveAndAvx, avx2Bit, 0x4, 0},
      {osxsaveAndAvx, 0, 0x6, 0},        // no AVX2
      {1u << 27, avx2Bit, 0x6, 0},       // no AVX
      {1u << 28, avx2Bit, 0x6, 0},       // no OSXSAVE
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::avx2FromRegisters(c.ecx, c.ebx, c.xcr0), c.expected) << std::hex << c.ecx << " " << c.xcr0;
  }
}

TEST(Hashing, ProbeReportsFeaturesOfThisMachine) {
  const platform::CpuFeatures f = test::realFeatures();
  EXPECT_EQ(f.sse2, 0x4000000u) << "x86-64 always has SSE2, stored as its bit in place";
  EXPECT_TRUE(f.sse42 == 0 || f.sse42 == 0x100000u);
  EXPECT_TRUE(f.avx2 == 0 || f.avx2 == 1);
}

}  // namespace
}  // namespace linemint::fasthash
