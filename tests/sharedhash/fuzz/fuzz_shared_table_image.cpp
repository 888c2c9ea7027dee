// Fuzz body for SharedHashTable::fromBytes. Every input is offered as an
// image to a handle that already holds a table: a refused image must leave
// that table as it was; an accepted one must give a valid table whose own
// image loads again into an equal table. Under ASan any read outside the
// input shows, since the input is an exact-size buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "sharedhash/shared_hash_table.h"
#include "sharedhash/word_rules.h"
#include "tests/support/fuzz_check.h"

namespace {

using linemint::KeyWord;
using linemint::KeyWordArray;
using linemint::SharedHashTable;

// Same kinds, same count, and for every key of a an equal value in b.
bool sameEntries(const SharedHashTable& a, const SharedHashTable& b) {
  const linemint::SharedTableRecord& ra = *a.record();
  const linemint::SharedTableRecord& rb = *b.record();
  if (ra.keyKind != rb.keyKind || ra.valueKind != rb.valueKind || a.count() != b.count()) return false;
  KeyWordArray keys;
  if (a.keys(keys) != a.count()) return false;
  for (KeyWord k : keys)
    if (!b.containsKey(k) || !linemint::wordsEqual(ra.valueKind, a.get(k), b.get(k))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  SharedHashTable t;
  FUZZ_CHECK(t.create(linemint::kIntegerKind, linemint::kIntegerKind));
  FUZZ_CHECK(t.insert(KeyWord::integer(1), KeyWord::integer(2)) == 0);
  const linemint::SharedTableRecord* before = t.record();

  if (!t.fromBytes(std::span<const uint8_t>(data, size))) {
    FUZZ_CHECK(t.record() == before);
    FUZZ_CHECK(t.count() == 1 && t.get(KeyWord::integer(1)).asInteger() == 2);
    return 0;
  }
  FUZZ_CHECK(t.validate());
  FUZZ_CHECK(t.record()->bucketCount >= 11);

  linemint::platform::OwnedByteBuffer image = t.toBytes();
  FUZZ_CHECK(image != nullptr);
  SharedHashTable again;
  FUZZ_CHECK(again.fromBytes(image.get()));
  FUZZ_CHECK(again.validate());
  FUZZ_CHECK(sameEntries(t, again));
  FUZZ_CHECK(sameEntries(again, t));

  // The walks agree with each other on the loaded table.
  KeyWordArray values;
  FUZZ_CHECK(t.values(values) == t.count());
  for (KeyWord v : values) {
    FUZZ_CHECK(t.containsValue(v));
    KeyWordArray holders;
    FUZZ_CHECK(t.keysWithValue(v, holders) >= 1);
  }
  return 0;
}
