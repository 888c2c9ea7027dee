// FastHashTable: keys and values copied out as arrays, and the search by value.
//
// An array is handed out whole or not at all: when the array itself or any
// text, buffer or handle copy in it cannot be had, everything made so far is
// released, the caller's variable is left empty and the result is 0. A partial
// array would look like a complete one.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fasthash/copy_out.h"
#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"
#include "platform/heap.h"

namespace linemint {

using fasthash::Node;

namespace {

// Calls visit(node) for every entry in walk order (buckets ascending, chains
// head to tail) until it returns false. A table without buckets has none.
template <typename Visit>
void forEachNode(const FastTableRecord& r, Visit visit) noexcept {
  if (r.buckets == nullptr) return;
  for (uint32_t b = 0; b < r.bucketCount; ++b) {
    for (const Node* node = r.buckets[b]; node != nullptr; node = fasthash::nodeNext(node)) {
      if (!visit(node)) return;
    }
  }
}

// Writes the node's key into one array element. False when a copy failed.
bool writeKeyElement(const FastTableRecord& r, const Node* node, unsigned char* element) noexcept {
  switch (r.keyKind) {
    case KeyKind::kInt64: {
      const int64_t key = fasthash::nodeKeyInt64(node, r.valueSize);
      std::memcpy(element, &key, 8);
      return true;
    }
    case KeyKind::kText: {
      char* text = fasthash::keyTextCopy(node, r.valueSize).release();
      std::memcpy(element, &text, sizeof text);
      return text != nullptr;
    }
    case KeyKind::kBytes: {
      ByteBuffer* buffer = fasthash::keyBufferCopy(node, r.valueSize).release();
      std::memcpy(element, &buffer, sizeof buffer);
      return buffer != nullptr;
    }
    default: fasthash::store32(element, fasthash::nodeHash(node)); return true;
  }
}

// Writes the node's value into one array element. False when a copy failed.
bool writeValueElement(const FastTableRecord& r, const Node* node, unsigned char* element) noexcept {
  bool failed = false;
  switch (r.valueKind) {
    case ValueKind::kText: {
      char* text = fasthash::valueTextCopy(node, &failed).release();
      std::memcpy(element, &text, sizeof text);
      return !failed;
    }
    case ValueKind::kBytes: {
      ByteBuffer* buffer = fasthash::valueBufferCopy(node, &failed).release();
      std::memcpy(element, &buffer, sizeof buffer);
      return !failed;
    }
    case ValueKind::kHandled:
      fasthash::store32(element, fasthash::handleForCaller(r.valueHandler, fasthash::storedHandle(node)));
      return true;
    default: std::memcpy(element, fasthash::nodeValue(node), static_cast<uint32_t>(r.valueSize)); return true;
  }
}

// The caller's value, read once by value kind, for the equality of
// containsValue and keysWithValue.
struct ValueProbe {
  const unsigned char* bytes;  // kinds 10, 11; null when absent
  uint32_t length;             // kinds 10, 11
  unsigned char field[8];      // the other kinds: the 4 or 8 given bytes
};

ValueProbe probeValue(const FastTableRecord& r, const void* valueRef) noexcept {
  ValueProbe v{nullptr, 0, {}};
  if (r.valueKind == ValueKind::kText) {
    const char* text;
    std::memcpy(&text, valueRef, sizeof text);
    v.bytes = reinterpret_cast<const unsigned char*>(text);
    v.length = fasthash::textLength(text);
  } else if (r.valueKind == ValueKind::kBytes) {
    const ByteBuffer* buffer;
    std::memcpy(&buffer, valueRef, sizeof buffer);
    if (buffer != nullptr) {
      v.bytes = buffer->bytes();
      v.length = buffer->length;
    }
  } else {
    std::memcpy(v.field, valueRef, static_cast<uint32_t>(r.valueSize));
  }
  return v;
}

// Floats compare as numbers (NaN equals nothing, +0 equals -0); texts and
// buffers need a stored block, so an empty given value equals nothing.
bool valueEquals(const FastTableRecord& r, const Node* node, const ValueProbe& v) noexcept {
  const unsigned char* field = fasthash::nodeValue(node);
  switch (r.valueKind) {
    case ValueKind::kFloat: {
      float a, b;
      std::memcpy(&a, field, 4);
      std::memcpy(&b, v.field, 4);
      return a == b;
    }
    case ValueKind::kDouble: {
      double a, b;
      std::memcpy(&a, field, 8);
      std::memcpy(&b, v.field, 8);
      return a == b;
    }
    case ValueKind::kText:
    case ValueKind::kBytes: {
      const unsigned char* block = fasthash::nodeValueBlock(node);
      return block != nullptr && fasthash::valueBlockLength(block) == v.length &&
             fasthash::bytesEqual(fasthash::valueBlockBytes(block), v.bytes, v.length);
    }
    default: return std::memcmp(field, v.field, static_cast<uint32_t>(r.valueSize)) == 0;
  }
}

bool isTextOrBytes(int32_t valueKind) noexcept {
  return valueKind == ValueKind::kText || valueKind == ValueKind::kBytes;
}

}  // namespace

int32_t FastHashTable::keysToArray(OwnedArray* array) noexcept {
  const FastTableRecord& r = record_;
  if (r.keyKind == 0) return 0;
  array->reset();
  OwnedArray result = OwnedArray::allocate(static_cast<uint32_t>(r.count), r.keyKind, nullptr);
  if (!result) return 0;
  uint32_t i = 0;
  bool complete = true;
  forEachNode(r, [&](const Node* node) { return complete = writeKeyElement(r, node, result.element(i++)); });
  if (!complete) return 0;  // result releases the copies made so far
  *array = std::move(result);
  return r.count;
}

int32_t FastHashTable::valuesToArray(OwnedArray* array) noexcept {
  const FastTableRecord& r = record_;
  if (r.valueKind == 0) return 0;
  array->reset();
  OwnedArray result = OwnedArray::allocate(static_cast<uint32_t>(r.count), r.valueKind, r.valueHandler);
  if (!result) return 0;
  uint32_t i = 0;
  bool complete = true;
  forEachNode(r, [&](const Node* node) { return complete = writeValueElement(r, node, result.element(i++)); });
  if (!complete) return 0;
  *array = std::move(result);
  return r.count;
}

int32_t FastHashTable::containsValue(const void* valueRef) noexcept {
  const FastTableRecord& r = record_;
  if (r.buckets == nullptr || r.valueKind == ValueKind::kHandled) return 0;
  const ValueProbe v = probeValue(r, valueRef);
  if (isTextOrBytes(r.valueKind) && v.bytes == nullptr) return 0;
  bool found = false;
  forEachNode(r, [&](const Node* node) { return !(found = valueEquals(r, node, v)); });
  return found ? 1 : 0;
}

int32_t FastHashTable::keysWithValue(const void* valueRef, OwnedArray* array) noexcept {
  const FastTableRecord& r = record_;
  if (r.buckets == nullptr || r.valueKind == ValueKind::kHandled) return 0;
  array->reset();

  const platform::HeapHandle heap = platform::processHeap();
  const std::size_t width = elementWidthOf(r.keyKind);
  uint32_t room = 16;
  auto* block = static_cast<FastArray*>(platform::heapAllocate(heap, platform::kHeapZeroMemory, 8 + room * width));
  if (block == nullptr) return 0;
  block->one = 1;
  block->count = 0;

  const ValueProbe v = probeValue(r, valueRef);
  bool complete = true;
  if (!isTextOrBytes(r.valueKind) || v.bytes != nullptr) {
    forEachNode(r, [&](const Node* node) {
      if (!valueEquals(r, node, v)) return true;
      if (block->count == room) {
        void* grown = platform::heapReallocate(heap, platform::kHeapZeroMemory, block, 8 + 2 * std::size_t{room} * width);
        if (grown == nullptr) return complete = false;
        block = static_cast<FastArray*>(grown);
        room *= 2;
      }
      // count only covers written elements, so that the block can be released
      // as an array at any point.
      complete = writeKeyElement(r, node, block->elements() + block->count * width);
      if (complete) ++block->count;
      return complete;
    });
  }
  if (!complete) {
    OwnedArray discarded(block, r.keyKind, nullptr);
    return 0;
  }
  // A failed trim keeps the larger block, which is still a sound array.
  if (void* trimmed = platform::heapReallocate(heap, 0, block, 8 + block->count * width)) {
    block = static_cast<FastArray*>(trimmed);
  }
  *array = OwnedArray(block, r.keyKind, nullptr);
  return static_cast<int32_t>(block->count);
}

}  // namespace linemint
