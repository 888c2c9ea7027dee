// Fuzz body for FastHashTable::deserialize, also replayed over its committed
// corpus as a unit test (fuzz_fast_table_image_replay).
//
// Every input is handed, as an exact-size image, to an object that already
// holds a table. A refused image must leave that table exactly as it was. An
// accepted one must give a valid table in which every stored key is found, and
// its own image must read back into the same kinds, settings and entries (in
// the same walk order) and serialize to the same bytes again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "fasthash/image.h"
#include "image_test_support.h"
#include "tests/support/fuzz_check.h"

namespace {

using linemint::FastHashTable;
using linemint::FastTableRecord;
namespace t = linemint::test;

// Two settings are tamed in the input copy, because a table of 2^30 chain
// heads takes 8 GiB of address space and a second per walk, and even 2^16
// heads cost a third of the throughput; create's normalisation is the same
// code whatever the value:
//   * a stated bucket count above 2^10 is lowered to 2^10;
//   * a load factor that create keeps but that is below 1/16 is raised to 1/16,
//     since with bucketCount * loadFactor < 1 every insert doubles the table.
// With loadFactor >= 1/16 a table never holds more than threshold entries, so
// its image rebuilds it with the same bucket count and chain order.
constexpr int32_t kLargestFuzzedBucketCount = 1 << 10;
constexpr float kSmallestFuzzedLoadFactor = 1.0f / 16;

void tameSettings(std::string& input) {
  namespace fh = linemint::fasthash;
  if (input.size() < fh::kImageHeaderSize) return;
  auto* header = reinterpret_cast<unsigned char*>(input.data());
  if (static_cast<int32_t>(fh::loadLe32(header + fh::kImageBucketCountOffset)) > kLargestFuzzedBucketCount)
    fh::storeLe32(header + fh::kImageBucketCountOffset, kLargestFuzzedBucketCount);
  const uint32_t bits = fh::loadLe32(header + fh::kImageLoadFactorOffset);
  float loadFactor;
  std::memcpy(&loadFactor, &bits, 4);
  if (static_cast<double>(loadFactor) > 1e-7 && loadFactor < kSmallestFuzzedLoadFactor) {
    uint32_t raised;
    std::memcpy(&raised, &kSmallestFuzzedLoadFactor, 4);
    fh::storeLe32(header + fh::kImageLoadFactorOffset, raised);
  }
}

bool sameSettings(const FastTableRecord& a, const FastTableRecord& b) {
  return a.keyKind == b.keyKind && a.valueKind == b.valueKind && a.count == b.count &&
         a.bucketCount == b.bucketCount && std::memcmp(&a.loadFactor, &b.loadFactor, 4) == 0 &&
         a.autoShrink == b.autoShrink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  t::initPlatformOnce();
  if (size > UINT32_MAX - 8) return 0;
  std::string input(reinterpret_cast<const char*>(data), size);
  tameSettings(input);
  const auto image = t::imageOf(input);
  FUZZ_CHECK(image != nullptr);

  FastHashTable table;
  FUZZ_CHECK(table.create(linemint::KeyKind::kText, linemint::ValueKind::kInt32) == 1);
  const t::KeyArgument earlierKey(linemint::KeyKind::kText, "earlier");
  const int32_t earlierValue = 7;
  FUZZ_CHECK(table.insert(earlierKey.ref(), &earlierValue) == 1);
  const std::vector<t::Entry> earlierEntries = t::entriesOf(table);

  if (table.deserialize(image.get()) == 0) {
    FUZZ_CHECK(table.record().keyKind == linemint::KeyKind::kText);
    FUZZ_CHECK(table.record().valueKind == linemint::ValueKind::kInt32);
    FUZZ_CHECK(t::entriesOf(table) == earlierEntries);
    FUZZ_CHECK(table.validate() == nullptr);
    return 0;
  }

  FUZZ_CHECK(table.validate() == nullptr);
  const std::vector<t::Entry> entries = t::entriesOf(table);
  FUZZ_CHECK(entries.size() == static_cast<std::size_t>(table.record().count));
  for (const t::Entry& e : entries) {
    const t::KeyArgument key(table.record().keyKind, e.key);
    FUZZ_CHECK(table.contains(key.ref()) == 1);
  }

  const linemint::OwnedByteBuffer again = table.serialize();
  FUZZ_CHECK(again != nullptr);
  FastHashTable copy;
  FUZZ_CHECK(copy.deserialize(again.get()) == 1);
  FUZZ_CHECK(copy.validate() == nullptr);
  FUZZ_CHECK(sameSettings(copy.record(), table.record()));
  FUZZ_CHECK(t::entriesOf(copy) == entries);
  const linemint::OwnedByteBuffer third = copy.serialize();
  FUZZ_CHECK(t::bytesOf(third.get()) == t::bytesOf(again.get()));
  return 0;
}
