// Hashing, equality and bucket index of table words.
#include "sharedhash/word_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "table_test_support.h"

namespace linemint {
namespace {

using testing::block;

// The hash written the other way round: sum of byte[i] * 31^i over the bytes.
uint32_t powerSum(const std::vector<uint8_t>& bytes) {
  uint32_t h = 0, power = 1;
  for (uint8_t b : bytes) {
    h += b * power;
    power *= 31;
  }
  return h;
}

// The first L bytes of a block as the hash sees them: word 1, length, data.
std::vector<uint8_t> hashedBlockBytes(const std::string& data) {
  const auto length = static_cast<uint32_t>(data.size());
  std::vector<uint8_t> bytes = {1, 0, 0, 0};
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(length >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.resize(length);
  return bytes;
}

// Pinned so that a change to the hash has to be a decision.
TEST(WordHash, GoldenValues) {
  EXPECT_EQ(hashWord(kTextKind, KeyWord::text("abc")), 98274u);
  EXPECT_EQ(hashWord(kTextKind, KeyWord::text("")), 0u);
  EXPECT_EQ(hashWord(kTextKind, KeyWord::text(nullptr)), 0u);
  EXPECT_EQ(hashWord(kTextKind, KeyWord::text("\xff")), 255u);  // bytes are unsigned
  EXPECT_EQ(hashWord(kIntegerKind, KeyWord::integer(-1)), 0xFFFFFFFFu);
  EXPECT_EQ(hashWord(kIntegerKind, KeyWord::integer(0)), 0u);
  EXPECT_EQ(hashWord(kByteStringKind, KeyWord::bytes(block("abc").get())), 1u);
  EXPECT_EQ(hashWord(kByteStringKind, KeyWord::bytes(block("").get())), 0u);
  EXPECT_EQ(hashWord(kByteStringKind, KeyWord::bytes(nullptr)), 0u);
  EXPECT_EQ(hashWord(4, KeyWord::integer(77)), 0u);
}

TEST(WordHash, TextIsPowerSumOfItsBytes) {
  for (const std::string& s :
       std::vector<std::string>{"a", "ab", "hello, world", "\x80\x81\xfe line", std::string(300, 'z')}) {
    const std::vector<uint8_t> bytes(s.begin(), s.end());
    EXPECT_EQ(hashWord(kTextKind, KeyWord::text(s.c_str())), powerSum(bytes)) << s;
  }
}

// Every length around the 8-byte header: the walk covers the header and only
// then the first L - 8 data bytes.
TEST(WordHash, ByteStringWalksHeaderThenData) {
  const std::string source = "0123456789abcdefghijklmnopqrstuv";
  for (std::size_t length = 0; length <= source.size(); ++length) {
    const std::string data = source.substr(0, length);
    auto b = block(data);
    EXPECT_EQ(hashWord(kByteStringKind, KeyWord::bytes(b.get())), powerSum(hashedBlockBytes(data)))
        << "length " << length;
  }
}

TEST(WordHash, ByteStringHeaderWordIsTakenAsOne) {
  auto normal = block("abcdefghijkl");
  auto odd = block("abcdefghijkl");
  odd->one = 7;
  EXPECT_EQ(hashWord(kByteStringKind, KeyWord::bytes(odd.get())),
            hashWord(kByteStringKind, KeyWord::bytes(normal.get())));
  EXPECT_TRUE(wordsEqual(kByteStringKind, KeyWord::bytes(odd.get()), KeyWord::bytes(normal.get())));
}

TEST(WordHash, BucketIndexClearsTheSignBit) {
  EXPECT_EQ(bucketIndex(98274u, 11), 0);
  EXPECT_EQ(bucketIndex(0xFFFFFFFFu, 11), 1);
  EXPECT_EQ(bucketIndex(0x7FFFFFFFu, 11), 1);
  EXPECT_EQ(bucketIndex(0x80000000u, 11), 0);
  EXPECT_EQ(bucketIndex(12345u, 1), 0);
}

struct EqualityCase {
  const char* name;
  int32_t kind;
  KeyWord a, b;
  bool equal;
};

TEST(WordEquality, ByKind) {
  auto ab = block("ab"), abc = block("abc"), abc2 = block("abc"), abd = block("abd");
  auto empty = block(""), empty2 = block("");
  const char text1[] = "line";
  const char text2[] = "line";
  const EqualityCase cases[] = {
      {"integers equal", kIntegerKind, KeyWord::integer(-5), KeyWord::integer(-5), true},
      {"integers differ", kIntegerKind, KeyWord::integer(1), KeyWord::integer(2), false},
      {"texts equal, other copies", kTextKind, KeyWord::text(text1), KeyWord::text(text2), true},
      {"text prefix", kTextKind, KeyWord::text("lin"), KeyWord::text("line"), false},
      {"texts differ in a high byte", kTextKind, KeyWord::text("\x80"), KeyWord::text("\x81"), false},
      {"two null texts", kTextKind, KeyWord::text(nullptr), KeyWord::text(nullptr), true},
      {"null text and empty text", kTextKind, KeyWord::text(nullptr), KeyWord::text(""), false},
      {"empty text and null text", kTextKind, KeyWord::text(""), KeyWord::text(nullptr), false},
      {"blocks equal", kByteStringKind, KeyWord::bytes(abc.get()), KeyWord::bytes(abc2.get()), true},
      {"blocks of other lengths", kByteStringKind, KeyWord::bytes(ab.get()), KeyWord::bytes(abc.get()), false},
      {"blocks differ in data", kByteStringKind, KeyWord::bytes(abc.get()), KeyWord::bytes(abd.get()), false},
      {"two empty blocks", kByteStringKind, KeyWord::bytes(empty.get()), KeyWord::bytes(empty2.get()), true},
      {"null and empty block", kByteStringKind, KeyWord::bytes(nullptr), KeyWord::bytes(empty.get()), false},
      {"two null blocks", kByteStringKind, KeyWord::bytes(nullptr), KeyWord::bytes(nullptr), true},
      {"unknown kind", 4, KeyWord::integer(1), KeyWord::integer(1), false},
  };
  for (const EqualityCase& c : cases) EXPECT_EQ(wordsEqual(c.kind, c.a, c.b), c.equal) << c.name;
}

}  // namespace
}  // namespace linemint
