// FastHashTable::serialize and FastHashTable::deserialize: the table to and
// from its FastTableImage (image.h).
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fasthash/fast_hash_table.h"
#include "fasthash/image.h"
#include "fasthash/node.h"

namespace linemint {

namespace {

using fasthash::loadLe32;
using fasthash::loadLe64;
using fasthash::Node;
using fasthash::storeLe32;
using fasthash::storeLe64;

// How a kind code lays out its field in the image. Key and value codes agree
// where both exist (3, 4, 10, 11), so one classification serves both.
enum class FieldShape { word, wide, text, buffer };

FieldShape fieldShapeOf(int32_t kind) noexcept {
  switch (kind) {
    case 4:
    case 6:
    case 8: return FieldShape::wide;
    case 10: return FieldShape::text;
    case 11: return FieldShape::buffer;
    default: return FieldShape::word;
  }
}

// Calls fn(node) for every node in walk order: buckets ascending, each chain
// head to tail. REQUIRES: the table created.
template <typename Fn>
void forEachNode(const FastTableRecord& r, Fn&& fn) noexcept {
  for (uint32_t b = 0; b < r.bucketCount; ++b)
    for (const Node* node = r.buckets[b]; node != nullptr; node = fasthash::nodeNext(node)) fn(node);
}

// Image bytes of a node's key field and value field.
uint64_t keyFieldSize(const FastTableRecord& r, const Node* node) noexcept {
  switch (fieldShapeOf(r.keyKind)) {
    case FieldShape::wide: return 8;
    case FieldShape::text: return uint64_t{fasthash::nodeKeyLength(node, r.valueSize)} + 5;
    case FieldShape::buffer: return uint64_t{fasthash::nodeKeyLength(node, r.valueSize)} + 8;
    default: return 4;
  }
}

uint64_t valueFieldSize(const FastTableRecord& r, const Node* node) noexcept {
  const FieldShape shape = fieldShapeOf(r.valueKind);
  if (shape == FieldShape::word) return 4;
  if (shape == FieldShape::wide) return 8;
  const unsigned char* block = fasthash::nodeValueBlock(node);
  const uint64_t length = block == nullptr ? 0 : fasthash::valueBlockLength(block);
  return length + (shape == FieldShape::text ? 5 : 8);
}

// Writes a text field (word L + 1, the bytes, a zero byte) or a ByteBuffer
// field (word 1, word L, the bytes) and returns the position after it.
unsigned char* writeTextField(unsigned char* out, const unsigned char* bytes, uint32_t length) noexcept {
  storeLe32(out, length + 1);
  if (length != 0) std::memcpy(out + 4, bytes, length);
  out[4 + length] = 0;
  return out + 5 + length;
}

unsigned char* writeBufferField(unsigned char* out, const unsigned char* bytes, uint32_t length) noexcept {
  storeLe32(out, 1);
  storeLe32(out + 4, length);
  if (length != 0) std::memcpy(out + 8, bytes, length);
  return out + 8 + length;
}

unsigned char* writeKeyField(const FastTableRecord& r, const Node* node, unsigned char* out) noexcept {
  switch (fieldShapeOf(r.keyKind)) {
    case FieldShape::wide:
      storeLe64(out, static_cast<uint64_t>(fasthash::nodeKeyInt64(node, r.valueSize)));
      return out + 8;
    case FieldShape::text:
      // The stored key is followed by its NUL, so the field is a plain copy.
      return writeTextField(out, fasthash::nodeKeyBytes(node, r.valueSize),
                            fasthash::nodeKeyLength(node, r.valueSize));
    case FieldShape::buffer:
      return writeBufferField(out, fasthash::nodeKeyBytes(node, r.valueSize),
                              fasthash::nodeKeyLength(node, r.valueSize));
    default:
      storeLe32(out, fasthash::nodeHash(node));  // a 32-bit key is its own hash
      return out + 4;
  }
}

unsigned char* writeValueField(const FastTableRecord& r, const Node* node, unsigned char* out) noexcept {
  const FieldShape shape = fieldShapeOf(r.valueKind);
  if (shape == FieldShape::word) {
    storeLe32(out, fasthash::load32(fasthash::nodeValue(node)));
    return out + 4;
  }
  if (shape == FieldShape::wide) {
    storeLe64(out, fasthash::load64(fasthash::nodeValue(node)));
    return out + 8;
  }
  const unsigned char* block = fasthash::nodeValueBlock(node);
  const unsigned char* bytes = block == nullptr ? nullptr : fasthash::valueBlockBytes(block);
  const uint32_t length = block == nullptr ? 0 : fasthash::valueBlockLength(block);
  return shape == FieldShape::text ? writeTextField(out, bytes, length) : writeBufferField(out, bytes, length);
}

// Reads fields from [at, end) with every bound checked. A field is either the
// 4 or 8 bytes of a number, or the bytes of a text (its zero byte follows them
// inside the field) or of a ByteBuffer.
class ImageReader {
 public:
  ImageReader(const unsigned char* at, const unsigned char* end) noexcept : at_(at), end_(end) {}

  struct Field {
    const unsigned char* bytes = nullptr;
    uint32_t length = 0;  // text or buffer bytes; 4 or 8 for numbers
  };

  // False, leaving *field unset, when the field does not end inside the image.
  bool read(FieldShape shape, Field* field) noexcept {
    const std::size_t left = static_cast<std::size_t>(end_ - at_);
    switch (shape) {
      case FieldShape::word:
      case FieldShape::wide: {
        const uint32_t width = shape == FieldShape::word ? 4 : 8;
        if (left < width) return false;
        *field = Field{at_, width};
        at_ += width;
        return true;
      }
      case FieldShape::text: {
        // The word L + 1 counts the text bytes and the zero byte that ends them.
        if (left < 4) return false;
        const uint32_t withZero = loadLe32(at_);
        if (withZero == 0 || withZero > left - 4) return false;
        if (at_[4 + (withZero - 1)] != 0) return false;
        *field = Field{at_ + 4, withZero - 1};
        at_ += 4 + std::size_t{withZero};
        return true;
      }
      case FieldShape::buffer: {
        if (left < 8) return false;
        const uint32_t length = loadLe32(at_ + 4);
        if (length > left - 8) return false;
        *field = Field{at_ + 8, length};
        at_ += 8 + std::size_t{length};
        return true;
      }
    }
    return false;
  }

 private:
  const unsigned char* at_;
  const unsigned char* end_;
};

constexpr std::size_t roundUp8(std::size_t n) noexcept { return (n + 7) & ~std::size_t{7}; }

// A field as the variable that insert expects for its kind. Numbers are
// decoded from little-endian into `number`; a text points into the image (its
// zero byte lies inside the field); a non-empty byte buffer is copied into
// `scratch` (8 + length bytes, 8-byte aligned), because a ByteBuffer inside
// the image may sit at any byte offset. An empty buffer passes as null.
struct FieldArgument {
  alignas(8) unsigned char number[8];
  const char* text;
  const ByteBuffer* buffer;

  const void* set(FieldShape shape, const ImageReader::Field& f, unsigned char* scratch) noexcept {
    switch (shape) {
      case FieldShape::word: {
        const uint32_t v = loadLe32(f.bytes);
        std::memcpy(number, &v, 4);
        return number;
      }
      case FieldShape::wide: {
        const uint64_t v = loadLe64(f.bytes);
        std::memcpy(number, &v, 8);
        return number;
      }
      case FieldShape::text:
        text = reinterpret_cast<const char*>(f.bytes);
        return &text;
      case FieldShape::buffer:
        buffer = nullptr;
        if (f.length != 0) {
          auto* copy = reinterpret_cast<ByteBuffer*>(scratch);
          copy->one = 1;
          copy->length = f.length;
          std::memcpy(copy->bytes(), f.bytes, f.length);
          buffer = copy;
        }
        return &buffer;
    }
    return number;
  }
};

}  // namespace

OwnedByteBuffer FastHashTable::serialize() const noexcept {
  const FastTableRecord& r = record_;
  if (r.heap == nullptr || r.buckets == nullptr || r.valueKind == ValueKind::kHandled) return nullptr;

  uint64_t total = fasthash::kImageHeaderSize;
  uint32_t entries = 0;
  forEachNode(r, [&](const Node* node) {
    total += keyFieldSize(r, node) + valueFieldSize(r, node);
    ++entries;
  });
  // The total travels as a signed 32-bit field: a larger table has no image.
  if (total > INT32_MAX) return nullptr;

  void* block = r.allocateHeap(r.processHeap, 0, 8 + static_cast<std::size_t>(total));
  if (block == nullptr) return nullptr;
  auto* image = static_cast<ByteBuffer*>(block);
  image->one = 1;
  image->length = static_cast<uint32_t>(total);
  unsigned char* out = image->bytes();

  uint32_t loadFactorBits;
  std::memcpy(&loadFactorBits, &r.loadFactor, 4);
  storeLe32(out + fasthash::kImageTotalOffset, static_cast<uint32_t>(total));
  storeLe32(out + fasthash::kImageKeyKindOffset, static_cast<uint32_t>(r.keyKind));
  storeLe32(out + fasthash::kImageValueKindOffset, static_cast<uint32_t>(r.valueKind));
  storeLe32(out + fasthash::kImageBucketCountOffset, r.bucketCount);
  storeLe32(out + fasthash::kImageLoadFactorOffset, loadFactorBits);
  storeLe32(out + fasthash::kImageAutoShrinkOffset, static_cast<uint32_t>(r.autoShrink));
  std::memset(out + fasthash::kImageReservedOffset, 0, fasthash::kImageReservedSize);
  storeLe32(out + fasthash::kImageCountOffset, entries);

  unsigned char* at = out + fasthash::kImageHeaderSize;
  forEachNode(r, [&](const Node* node) {
    at = writeKeyField(r, node, at);
    at = writeValueField(r, node, at);
  });
  return OwnedByteBuffer(image);
}

int32_t FastHashTable::deserialize(const ByteBuffer* image) noexcept {
  if (image == nullptr || image->length < fasthash::kImageHeaderSize) return 0;
  const unsigned char* bytes = image->bytes();
  const int32_t total = static_cast<int32_t>(loadLe32(bytes + fasthash::kImageTotalOffset));
  if (total < static_cast<int32_t>(fasthash::kImageHeaderSize) || static_cast<uint32_t>(total) > image->length)
    return 0;

  const int32_t storedKeyKind = static_cast<int32_t>(loadLe32(bytes + fasthash::kImageKeyKindOffset));
  const int32_t storedValueKind = static_cast<int32_t>(loadLe32(bytes + fasthash::kImageValueKindOffset));
  if (storedValueKind == ValueKind::kHandled) return 0;
  // The fields are laid out by the kinds that create will make of the codes.
  const FieldShape keyShape = fieldShapeOf(isKeyKind(storedKeyKind) ? storedKeyKind : KeyKind::kInt32);
  const FieldShape valueShape = fieldShapeOf(isValueKind(storedValueKind) ? storedValueKind : ValueKind::kInt32);
  const int32_t entries = static_cast<int32_t>(loadLe32(bytes + fasthash::kImageCountOffset));
  const unsigned char* first = bytes + fasthash::kImageHeaderSize;
  const unsigned char* end = bytes + total;

  // Check every entry before anything changes, noting the longest byte
  // buffers so that one scratch block serves every insert.
  uint32_t longestKeyBuffer = 0;
  uint32_t longestValueBuffer = 0;
  {
    ImageReader reader(first, end);
    ImageReader::Field key, value;
    for (int32_t i = 0; i < entries; ++i) {
      if (!reader.read(keyShape, &key) || !reader.read(valueShape, &value)) return 0;
      if (key.length > longestKeyBuffer) longestKeyBuffer = key.length;
      if (value.length > longestValueBuffer) longestValueBuffer = value.length;
    }
  }
  const std::size_t keyScratchSize = keyShape == FieldShape::buffer ? roundUp8(8 + std::size_t{longestKeyBuffer}) : 0;
  const std::size_t valueScratchSize = valueShape == FieldShape::buffer ? 8 + std::size_t{longestValueBuffer} : 0;
  platform::ProcessHeapPtr<unsigned char> scratch;
  if (keyScratchSize + valueScratchSize != 0) {
    scratch.reset(static_cast<unsigned char*>(
        platform::heapAllocate(platform::processHeap(), 0, keyScratchSize + valueScratchSize)));
    if (scratch == nullptr) return 0;
  }

  uint32_t loadFactorBits = loadLe32(bytes + fasthash::kImageLoadFactorOffset);
  float loadFactor;
  std::memcpy(&loadFactor, &loadFactorBits, 4);
  if (create(storedKeyKind, storedValueKind, static_cast<int32_t>(loadLe32(bytes + fasthash::kImageBucketCountOffset)),
             loadFactor, static_cast<int32_t>(loadLe32(bytes + fasthash::kImageAutoShrinkOffset))) == 0)
    return 0;

  ImageReader reader(first, end);
  ImageReader::Field key, value;
  FieldArgument keyArgument, valueArgument;
  for (int32_t i = 0; i < entries; ++i) {
    reader.read(keyShape, &key);
    reader.read(valueShape, &value);
    const void* keyRef = keyArgument.set(keyShape, key, scratch.get());
    const void* valueRef = valueArgument.set(valueShape, value, scratch.get() + keyScratchSize);
    if (insert(keyRef, valueRef) != 0) continue;
    // insert refuses an empty key, which the entry is skipped for; any other
    // refusal means memory ran out, and a partly rebuilt table is no rebuild.
    const bool emptyKey = (keyShape == FieldShape::text && key.bytes[0] == 0) ||
                          (keyShape == FieldShape::buffer && key.length == 0);
    if (!emptyKey) {
      destroy();
      return 0;
    }
  }
  return 1;
}

}  // namespace linemint
