// FastHashTable::findKeyInText in both hash families: the earliest character
// position wins, then the shortest key; keys are only looked for at double-byte
// character boundaries; the text is never read past its NUL.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "image_test_support.h"
#include "platform/cpu_features.h"
#include "test_support.h"

namespace linemint::test {
namespace {

// The text on an exact-size heap block (its NUL is the block's last byte), so
// that a read past the NUL shows under AddressSanitizer.
class ExactText {
 public:
  explicit ExactText(const std::string& s) : bytes_(new char[s.size() + 1]) {
    std::memcpy(bytes_.get(), s.c_str(), s.size() + 1);
    pointer_ = bytes_.get();
  }
  const void* ref() const { return &pointer_; }

 private:
  std::unique_ptr<char[]> bytes_;
  const char* pointer_;
};

class KeyScanTest : public ::testing::TestWithParam<Family> {
 protected:
  KeyScanTest() : features_(featuresFor(GetParam())) {}
  void SetUp() override {
    if (GetParam() == Family::crc32 && realFeatures().sse42 == 0) GTEST_SKIP() << "no SSE4.2";
  }

  // A new text-key table holding these keys (value 0 each).
  static void fill(FastHashTable& t, const std::vector<std::string>& keys) {
    ASSERT_EQ(t.create(KeyKind::kText, ValueKind::kInt32), 1);
    const int32_t zero = 0;
    for (const std::string& k : keys) {
      const char* key = k.c_str();
      ASSERT_EQ(t.insert(&key, &zero), 1) << k;
    }
  }

  ScopedCpuFeatures features_;
};

struct ScanCase {
  std::vector<std::string> keys;
  std::string text;
  int32_t position;
  std::string match;
};

TEST_P(KeyScanTest, EarliestStartThenShortestKeyAtCharacterBoundaries) {
  const std::vector<ScanCase> cases = {
      {{"bcd", "cd"}, "abcde", 2, "bcd"},               // an earlier start beats a shorter key
      {{"ab", "abc"}, "xabc", 2, "ab"},                 // the shortest key at one start
      {{"abcd", "b"}, "abcd", 1, "abcd"},
      {{"de"}, "abcde", 4, "de"},
      {{"abc"}, "abc", 1, "abc"},
      {{"abcd"}, "abc", -1, ""},
      {{"zz"}, "abc", -1, ""},
      {{"A"}, "\xB0\xA1" "A", 3, "A"},                  // a two-byte character, then A
      {{"\xA1" "A"}, "\xB0\xA1" "A", -1, ""},           // position 2 lies inside a character
      {{"\xB0\xA1"}, "x\xB0\xA1", 2, "\xB0\xA1"},
      {{"b"}, "\xC1" "b", -1, ""},                      // b is the second byte of a character
      {{"\xC1"}, "ab\xC1", -1, ""},                     // the last character takes in the NUL
      {{"b\xC1"}, "ab\xC1", -1, ""},                  // so does the piece that ends with it
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    FastHashTable t;
    fill(t, c.keys);
    const ExactText text(c.text);
    OwnedText match = newText("earlier", 7);
    EXPECT_EQ(t.findKeyInText(text.ref(), &match), c.position);
    ASSERT_NE(match, nullptr);
    EXPECT_EQ(std::string(match.get()), c.position == -1 ? "earlier" : c.match);
    EXPECT_EQ(t.findKeyInText(text.ref()), c.position);  // no match variable: nothing to write
  }
}

TEST_P(KeyScanTest, NothingToSearchGivesMinusOne) {
  FastHashTable never;
  const ExactText abc("abc");
  EXPECT_EQ(never.findKeyInText(abc.ref()), -1);

  FastHashTable integers;
  ASSERT_EQ(integers.create(KeyKind::kInt32, ValueKind::kInt32), 1);
  const int32_t key = 0x00636261;  // the bytes of "abc" as an integer key
  ASSERT_EQ(integers.insert(&key, &key), 1);
  EXPECT_EQ(integers.findKeyInText(abc.ref()), -1);

  FastHashTable empty;
  fill(empty, {});
  EXPECT_EQ(empty.findKeyInText(abc.ref()), -1);

  FastHashTable t;
  fill(t, {"a"});
  const char* absent = nullptr;
  const ExactText emptyText("");
  OwnedText match = newText("kept", 4);
  EXPECT_EQ(t.findKeyInText(&absent, &match), -1);
  EXPECT_EQ(t.findKeyInText(emptyText.ref(), &match), -1);
  EXPECT_STREQ(match.get(), "kept");
  t.destroy();
  EXPECT_EQ(t.findKeyInText(abc.ref(), &match), -1);
  EXPECT_STREQ(match.get(), "kept");
}

// Keys gone from the object still count in maxTextKeyLength, which only adds
// candidates that match nothing. (Built by re-creating the object, which keeps
// maxTextKeyLength, in place of removing the keys.)
TEST_P(KeyScanTest, KeysNoLongerStoredAreNotFound) {
  FastHashTable t;
  fill(t, {"abcdefghij", "cd"});
  fill(t, {"q"});
  EXPECT_EQ(t.record().maxTextKeyLength, 10u);
  const ExactText gone("abcdefghij");
  EXPECT_EQ(t.findKeyInText(gone.ref()), -1);
  const ExactText later("abcdefghijq");
  OwnedText match;
  EXPECT_EQ(t.findKeyInText(later.ref(), &match), 11);
  EXPECT_STREQ(match.get(), "q");
}

// The position and key a plain scan finds: every character boundary in order,
// every piece ending at a character boundary (or just past the NUL) from the
// shortest up.
std::pair<int32_t, std::string> referenceScan(const std::set<std::string>& keys, const std::string& text) {
  const auto width = [&](std::size_t at) { return static_cast<unsigned char>(text[at]) > 0x7F ? 2 : 1; };
  for (std::size_t s = 0; s < text.size(); s += width(s)) {
    for (std::size_t n = 0; s + n < text.size();) {
      n += width(s + n);
      const std::string piece = text.substr(s, n);  // shorter than n when it takes in the NUL
      if (piece.size() == n && keys.count(piece) != 0) return {static_cast<int32_t>(s + 1), piece};
    }
  }
  return {-1, ""};
}

TEST_P(KeyScanTest, AgreesWithAPlainScanOnRandomTexts) {
  std::mt19937 random(20240611);
  const char alphabet[] = {'a', 'b', 'c', '\xB0', '\xA1', '\xFE'};
  const auto randomString = [&](std::size_t maxLength) {
    std::string s(1 + random() % maxLength, ' ');
    for (char& c : s) c = alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 400; ++round) {
    std::set<std::string> keys;
    const int keyCount = 1 + static_cast<int>(random() % 20);
    while (static_cast<int>(keys.size()) < keyCount) keys.insert(randomString(5));
    FastHashTable t;
    fill(t, std::vector<std::string>(keys.begin(), keys.end()));
    for (int i = 0; i < 10; ++i) {
      const std::string text = randomString(24);
      const auto [position, key] = referenceScan(keys, text);
      const ExactText exact(text);
      OwnedText match;
      ASSERT_EQ(t.findKeyInText(exact.ref(), &match), position) << ::testing::PrintToString(text);
      if (position != -1) {
        ASSERT_NE(match, nullptr);
        EXPECT_EQ(std::string(match.get()), key);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothHashFamilies, KeyScanTest, ::testing::Values(Family::crc32, Family::sum31), familyName);

}  // namespace
}  // namespace linemint::test
