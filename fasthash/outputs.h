// Owning types for what FastHashTable hands to its callers: texts, byte
// buffers, arrays and tagged values. Every such block lives on the process
// heap and belongs to the caller. An operation that writes into a caller's
// variable move-assigns into it, which releases what the variable held first;
// an output that is not given (a null pointer) is not written, and a refused
// operation leaves the variable as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "fasthash/record.h"
#include "fasthash/value_handler.h"
#include "platform/byte_buffer.h"
#include "platform/heap.h"

namespace linemint {

// A NUL-terminated text on the process heap.
using OwnedText = platform::ProcessHeapPtr<char>;
using platform::ByteBuffer;
using platform::OwnedByteBuffer;

// A new text of `length` bytes copied from `bytes`, followed by a NUL, on the
// process heap; null when memory runs out.
inline OwnedText newText(const void* bytes, uint32_t length) noexcept {
  void* block = platform::heapAllocate(platform::processHeap(), 0, std::size_t{length} + 1);
  if (block == nullptr) return nullptr;
  auto* text = static_cast<char*>(block);
  if (length != 0) std::memcpy(text, bytes, length);
  text[length] = '\0';
  return OwnedText(text);
}

// Layout of an array handed to a caller (one block on the process heap):
//   one    32 bits, always 1 (one dimension)
//   count  32 bits, number of elements
//   then count elements of elementWidthOf(kind) bytes each, 8-byte aligned:
//     kinds 2, 3, 5, 7, 99 and key kind 3: 4 bytes
//     kinds 4, 6, 8: 8 bytes
//     kinds 10, 11: 8 bytes, a pointer to a text or ByteBuffer of the process
//     heap owned by the array, or null
struct FastArray {
  uint32_t one;
  uint32_t count;

  unsigned char* elements() noexcept { return reinterpret_cast<unsigned char*>(this) + 8; }
  const unsigned char* elements() const noexcept { return reinterpret_cast<const unsigned char*>(this) + 8; }

  FastArray() = delete;
  FastArray(const FastArray&) = delete;
  FastArray& operator=(const FastArray&) = delete;
};
static_assert(sizeof(FastArray) == 8);

// Element width of an array of keys or values of this kind code. Key and
// value codes agree wherever both exist (3, 4, 10, 11).
constexpr uint32_t elementWidthOf(int32_t kind) noexcept {
  switch (kind) {
    case 4:
    case 6:
    case 8:
    case 10:
    case 11: return 8;
    default: return 4;
  }
}

// An array owned by the caller, with everything in it: destroying or
// reassigning it frees its texts and byte buffers (kinds 10, 11) or releases
// its non-zero handles through its handler (kind 99), then its storage. The
// array remembers the kind of its own elements, so it is always released by
// the kind it was made with.
class OwnedArray {
 public:
  OwnedArray() noexcept = default;
  // Adopts `block` (on the process heap) holding elements of `elementKind`.
  OwnedArray(FastArray* block, int32_t elementKind, ValueHandler* handler) noexcept
      : block_(block), elementKind_(elementKind), handler_(handler) {}
  OwnedArray(OwnedArray&& other) noexcept
      : block_(std::exchange(other.block_, nullptr)),
        elementKind_(other.elementKind_),
        handler_(other.handler_) {}
  OwnedArray& operator=(OwnedArray&& other) noexcept {
    if (this != &other) {
      reset();
      block_ = std::exchange(other.block_, nullptr);
      elementKind_ = other.elementKind_;
      handler_ = other.handler_;
    }
    return *this;
  }
  OwnedArray(const OwnedArray&) = delete;
  OwnedArray& operator=(const OwnedArray&) = delete;
  ~OwnedArray() { reset(); }

  // A zero-filled array of `count` elements with its header set; an empty
  // OwnedArray (get() == nullptr) when memory runs out.
  static OwnedArray allocate(uint32_t count, int32_t elementKind, ValueHandler* handler) noexcept {
    const std::size_t bytes = 8 + std::size_t{count} * elementWidthOf(elementKind);
    void* block = platform::heapAllocate(platform::processHeap(), platform::kHeapZeroMemory, bytes);
    if (block == nullptr) return OwnedArray();
    auto* array = static_cast<FastArray*>(block);
    array->one = 1;
    array->count = count;
    return OwnedArray(array, elementKind, handler);
  }

  FastArray* get() const noexcept { return block_; }
  explicit operator bool() const noexcept { return block_ != nullptr; }
  uint32_t size() const noexcept { return block_ == nullptr ? 0 : block_->count; }
  int32_t elementKind() const noexcept { return elementKind_; }
  uint32_t elementWidth() const noexcept { return elementWidthOf(elementKind_); }
  // Address of element i. REQUIRES: i < size().
  unsigned char* element(uint32_t i) const noexcept { return block_->elements() + std::size_t{i} * elementWidth(); }

  // Typed reads of element i. REQUIRES: i < size() and the matching kind.
  int32_t int32At(uint32_t i) const noexcept { return read<int32_t>(i); }
  int64_t int64At(uint32_t i) const noexcept { return read<int64_t>(i); }
  float floatAt(uint32_t i) const noexcept { return read<float>(i); }
  double doubleAt(uint32_t i) const noexcept { return read<double>(i); }
  Handle handleAt(uint32_t i) const noexcept { return read<Handle>(i); }
  const char* textAt(uint32_t i) const noexcept { return read<const char*>(i); }
  const ByteBuffer* bufferAt(uint32_t i) const noexcept { return read<const ByteBuffer*>(i); }

  // Releases every owned element and the storage; leaves an empty array.
  void reset() noexcept {
    if (block_ == nullptr) return;
    const uint32_t n = block_->count;
    if (elementKind_ == 10 || elementKind_ == 11) {
      for (uint32_t i = 0; i < n; ++i) platform::heapFree(platform::processHeap(), 0, read<void*>(i));
    } else if (elementKind_ == ValueKind::kHandled && handler_ != nullptr) {
      for (uint32_t i = 0; i < n; ++i) {
        const Handle h = read<Handle>(i);
        if (h != 0) handler_->releaseValue(h);
      }
    }
    platform::heapFree(platform::processHeap(), 0, block_);
    block_ = nullptr;
  }

 private:
  template <typename T>
  T read(uint32_t i) const noexcept {
    T v;
    std::memcpy(&v, element(i), sizeof v);
    return v;
  }

  FastArray* block_ = nullptr;
  int32_t elementKind_ = 0;
  ValueHandler* handler_ = nullptr;
};

// What get hands out: a 64-bit payload and the table's value tag.
//   kinds 2, 3, 5, 7, 99: the 4-byte value field in the low 32 bits (kind 99:
//                         the stored handle itself, still owned by the table)
//   kinds 4, 6, 8:        the 8 bytes of the value field
//   kind 10:              address of `text`, a new copy owned here; 0 for null
//   kind 11:              address of `buffer`, likewise
struct TaggedValue {
  uint64_t payload = 0;
  uint32_t tag = 0;
  OwnedText text;
  OwnedByteBuffer buffer;

  int32_t asInt32() const noexcept { return static_cast<int32_t>(static_cast<uint32_t>(payload)); }
  int16_t asInt16() const noexcept { return static_cast<int16_t>(static_cast<uint16_t>(payload)); }
  int64_t asInt64() const noexcept { return static_cast<int64_t>(payload); }
  float asFloat() const noexcept {
    const uint32_t low = static_cast<uint32_t>(payload);
    float f;
    std::memcpy(&f, &low, 4);
    return f;
  }
  double asDouble() const noexcept {
    double d;
    std::memcpy(&d, &payload, 8);
    return d;
  }
};

}  // namespace linemint
