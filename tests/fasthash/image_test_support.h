// Helpers for the image tests and the image fuzz body: they read a table's
// entries by walking its buckets and chains directly, so they need nothing but
// the core operations (create, insert, contains, validate). No GoogleTest here:
// the fuzz body includes this header too.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"
#include "platform/byte_buffer.h"
#include "platform/cpu_features.h"
#include "platform/heap.h"

namespace linemint::test {

// The processor probe and the heap entry points, as start-up fills them.
inline void initPlatformOnce() {
  static const bool done = [] {
    platform::probeCpuFeatures();
    platform::resolveHeapEntryPoints();
    return true;
  }();
  (void)done;
}

// One entry as plain bytes: the key's bytes (kinds 3 and 4: its little-endian
// integer bytes), and the value: the valueSize bytes of the field for numbers,
// the stored bytes for texts and buffers with `valueIsNull` for a null block.
struct Entry {
  std::string key;
  std::string value;
  bool valueIsNull = false;

  bool operator==(const Entry&) const = default;
};

inline Entry entryOf(const FastTableRecord& r, const fasthash::Node* node) {
  Entry e;
  switch (r.keyKind) {
    case KeyKind::kInt32: {
      const uint32_t k = fasthash::nodeHash(node);
      e.key.assign(reinterpret_cast<const char*>(&k), 4);
      break;
    }
    case KeyKind::kInt64: {
      const int64_t k = fasthash::nodeKeyInt64(node, r.valueSize);
      e.key.assign(reinterpret_cast<const char*>(&k), 8);
      break;
    }
    default:
      e.key.assign(reinterpret_cast<const char*>(fasthash::nodeKeyBytes(node, r.valueSize)),
                   fasthash::nodeKeyLength(node, r.valueSize));
  }
  if (r.valueKind == ValueKind::kText || r.valueKind == ValueKind::kBytes) {
    const unsigned char* block = fasthash::nodeValueBlock(node);
    e.valueIsNull = block == nullptr;
    if (block != nullptr)
      e.value.assign(reinterpret_cast<const char*>(fasthash::valueBlockBytes(block)), fasthash::valueBlockLength(block));
  } else {
    e.value.assign(reinterpret_cast<const char*>(fasthash::nodeValue(node)), static_cast<std::size_t>(r.valueSize));
  }
  return e;
}

// Every entry in walk order (buckets ascending, chains head to tail).
inline std::vector<Entry> entriesOf(const FastHashTable& table) {
  std::vector<Entry> entries;
  const FastTableRecord& r = table.record();
  if (r.buckets == nullptr) return entries;
  for (uint32_t b = 0; b < r.bucketCount; ++b)
    for (const fasthash::Node* n = r.buckets[b]; n != nullptr; n = fasthash::nodeNext(n))
      entries.push_back(entryOf(r, n));
  return entries;
}

// A key variable for insert and contains, made from Entry::key bytes. Owns
// what the variable points at (the text, or a ByteBuffer block).
class KeyArgument {
 public:
  KeyArgument(int32_t keyKind, const std::string& key) : kind_(keyKind), text_(key) {
    if (kind_ == KeyKind::kBytes) buffer_ = platform::newByteBuffer(key.data(), static_cast<uint32_t>(key.size()));
    std::memcpy(number_, key.data(), key.size() < 8 ? key.size() : 8);
    textPointer_ = text_.c_str();
    bufferPointer_ = buffer_.get();
  }
  KeyArgument(const KeyArgument&) = delete;
  KeyArgument& operator=(const KeyArgument&) = delete;

  const void* ref() const {
    switch (kind_) {
      case KeyKind::kText: return &textPointer_;
      case KeyKind::kBytes: return &bufferPointer_;
      default: return number_;
    }
  }

 private:
  int32_t kind_;
  std::string text_;
  platform::OwnedByteBuffer buffer_;
  alignas(8) unsigned char number_[8] = {};
  const char* textPointer_ = nullptr;
  const platform::ByteBuffer* bufferPointer_ = nullptr;
};

// The stored entry of this key, found through the table's own chain walk;
// false when the key is not stored.
inline bool lookUp(const FastHashTable& table, const std::string& key, Entry* out) {
  KeyArgument arg(table.record().keyKind, key);
  const fasthash::Node* node = fasthash::findNode(table.record(), arg.ref());
  if (node == nullptr) return false;
  *out = entryOf(table.record(), node);
  return true;
}

// An exact-size image buffer (so that an over-read shows under
// AddressSanitizer) holding these bytes.
inline platform::OwnedByteBuffer imageOf(const void* bytes, std::size_t size) {
  return platform::newByteBuffer(bytes, static_cast<uint32_t>(size));
}
inline platform::OwnedByteBuffer imageOf(const std::string& bytes) { return imageOf(bytes.data(), bytes.size()); }

inline std::string bytesOf(const platform::ByteBuffer* image) {
  return image == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(image->bytes()), image->length);
}

// Builders for hand-written images: little-endian words and fields.
inline std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}
inline std::string le64(uint64_t v) { return le32(static_cast<uint32_t>(v)) + le32(static_cast<uint32_t>(v >> 32)); }
inline std::string textField(const std::string& text) { return le32(static_cast<uint32_t>(text.size() + 1)) + text + '\0'; }
inline std::string bufferField(const std::string& bytes) { return le32(1) + le32(static_cast<uint32_t>(bytes.size())) + bytes; }

// A header for `entries` with the total filled in from the entries' size.
inline std::string imageWith(int32_t keyKind, int32_t valueKind, const std::string& entries, int32_t count,
                             uint32_t bucketCount = 16, uint32_t loadFactorBits = 0x3F400000, int32_t autoShrink = 1) {
  std::string body = le32(static_cast<uint32_t>(keyKind)) + le32(static_cast<uint32_t>(valueKind)) + le32(bucketCount) +
                     le32(loadFactorBits) + le32(static_cast<uint32_t>(autoShrink)) + std::string(16, '\0') +
                     le32(static_cast<uint32_t>(count)) + entries;
  return le32(static_cast<uint32_t>(body.size() + 4)) + body;
}

}  // namespace linemint::test
