#include "sharedhash/shared_table_image.h"

#include <climits>
#include <cstring>

#include "sharedhash/table_memory.h"
#include "sharedhash/word_rules.h"

namespace linemint {
namespace {

constexpr uint8_t kTag[4] = {'h', 'a', 's', 'h'};
constexpr std::size_t kHeaderBytes = 16;
constexpr int32_t kLoadedBucketsBeyondEntries = 11;
constexpr float kLoadedLoadFactor = 0.75f;

void putLe32(uint8_t* at, int32_t value) noexcept {
  const auto v = static_cast<uint32_t>(value);
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
  at[2] = static_cast<uint8_t>(v >> 16);
  at[3] = static_cast<uint8_t>(v >> 24);
}

int32_t getLe32(const uint8_t* at) noexcept {
  const uint32_t v = uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
  return static_cast<int32_t>(v);
}

// Bytes an item of this word takes in the data area.
uint64_t itemBytes(int32_t kind, KeyWord stored) noexcept {
  if (stored.isZero()) return 0;
  if (kind == kTextKind) return std::strlen(stored.asText()) + 1;
  if (kind == kByteStringKind) return uint64_t{8} + byteStringLength(stored);
  return 0;
}

// Writes one slot, and for a text or block its item at *dataOffset.
void writeWord(uint8_t* image, std::size_t slot, int32_t kind, KeyWord stored, uint64_t* dataOffset) noexcept {
  if (kind == kIntegerKind) {
    putLe32(image + slot, stored.asInteger());
    return;
  }
  const uint64_t bytes = itemBytes(kind, stored);
  if (bytes == 0) return;  // null: the slot stays 0
  putLe32(image + slot, static_cast<int32_t>(*dataOffset));
  // A text's zero byte is already there: the image arrives zero-filled.
  std::memcpy(image + *dataOffset, stored.asByteAddress(), kind == kTextKind ? bytes - 1 : bytes);
  *dataOffset += bytes;
}

// The word a slot designates, pointing into the image, or false when its item
// does not lie wholly inside the image.
bool readWord(std::span<const uint8_t> image, std::size_t slot, int32_t kind, KeyWord* word) noexcept {
  const int32_t value = getLe32(image.data() + slot);
  if (kind == kIntegerKind) {
    *word = KeyWord::integer(value);
    return true;
  }
  if (value == 0) {
    *word = KeyWord();
    return true;
  }
  if (value < 0 || static_cast<std::size_t>(value) >= image.size()) return false;
  const auto offset = static_cast<std::size_t>(value);
  const uint8_t* item = image.data() + offset;
  const std::size_t room = image.size() - offset;
  if (kind == kTextKind) {
    if (std::memchr(item, 0, room) == nullptr) return false;
    *word = KeyWord::text(reinterpret_cast<const char*>(item));
    return true;
  }
  if (room < 8) return false;
  const auto length = static_cast<uint32_t>(getLe32(item + 4));
  if (uint64_t{8} + length > room) return false;
  *word = KeyWord::bytes(reinterpret_cast<const platform::ByteBuffer*>(item));
  return true;
}

}  // namespace

platform::OwnedByteBuffer writeImage(const SharedTableRecord& record) noexcept {
  const uint64_t slotsEnd = kHeaderBytes + uint64_t{8} * static_cast<uint32_t>(record.entryCount);
  uint64_t size = slotsEnd;
  if (record.keyKind != kIntegerKind || record.valueKind != kIntegerKind) {
    walkNodes(record, [&](const SharedTableNode* node) {
      size += itemBytes(record.keyKind, node->key) + itemBytes(record.valueKind, node->value);
      return size > INT32_MAX;  // no need to measure further
    });
  }
  if (size > INT32_MAX) return nullptr;

  platform::OwnedByteBuffer out = platform::newByteBuffer(nullptr, static_cast<uint32_t>(size));
  if (out == nullptr) return nullptr;
  uint8_t* image = out->bytes();
  std::memcpy(image, kTag, sizeof kTag);
  putLe32(image + 4, record.keyKind);
  putLe32(image + 8, record.valueKind);
  putLe32(image + 12, record.entryCount);
  std::size_t slot = kHeaderBytes;
  uint64_t dataOffset = slotsEnd;
  walkNodes(record, [&](const SharedTableNode* node) {
    writeWord(image, slot, record.keyKind, node->key, &dataOffset);
    writeWord(image, slot + 4, record.valueKind, node->value, &dataOffset);
    slot += 8;
    return false;
  });
  return out;
}

SharedTableRecord* readImage(std::span<const uint8_t> image) noexcept {
  if (image.size() < kHeaderBytes) return nullptr;
  if (std::memcmp(image.data(), kTag, sizeof kTag) != 0) return nullptr;
  const int32_t keyKind = getLe32(image.data() + 4);
  const int32_t valueKind = getLe32(image.data() + 8);
  const int32_t entryCount = getLe32(image.data() + 12);
  if (!isSharedTableKind(keyKind) || !isSharedTableKind(valueKind)) return nullptr;
  if (entryCount < 0 || entryCount > INT32_MAX - kLoadedBucketsBeyondEntries) return nullptr;
  if (kHeaderBytes + uint64_t{8} * static_cast<uint32_t>(entryCount) > image.size()) return nullptr;

  SharedTableRecord* record = newRecord(platform::processHeap(), keyKind, valueKind,
                                        entryCount + kLoadedBucketsBeyondEntries, kLoadedLoadFactor);
  if (record == nullptr) return nullptr;
  for (int32_t i = 0; i < entryCount; ++i) {
    const std::size_t slot = kHeaderBytes + std::size_t{8} * static_cast<uint32_t>(i);
    KeyWord key, value;
    if (!readWord(image, slot, keyKind, &key) || !readWord(image, slot + 4, valueKind, &value) ||
        insertInto(*record, key, value) == kInsertOutOfMemory) {
      freeRecord(record);
      return nullptr;
    }
  }
  return record;
}

}  // namespace linemint
