// The FastHashTable record and the codes of its key and value kinds.
//
// The record is the whole state of one table object. Every operation of the
// table, and the internal helpers in node.h, pool.h and hashing.h, work on it.
// A table exists (is "created") exactly while `buckets` is non-null.
#pragma once

#include <cstdint>

#include "platform/heap.h"

namespace linemint {

class ValueHandler;

namespace fasthash {
struct SmallBlockPool;
// A node is an opaque pooled block; node.h gives its layout and accessors.
struct Node;
}  // namespace fasthash

// Key kinds, the codes a caller passes to create. Any other code means kInt32.
struct KeyKind {
  static constexpr int32_t kInt32 = 3;   // 32-bit signed integer; the key is its own hash
  static constexpr int32_t kInt64 = 4;   // 64-bit signed integer
  static constexpr int32_t kText = 10;   // NUL-terminated bytes
  static constexpr int32_t kBytes = 11;  // platform::ByteBuffer
};

// Value kinds. Any other code means kInt32.
struct ValueKind {
  static constexpr int32_t kInt16 = 2;
  static constexpr int32_t kInt32 = 3;
  static constexpr int32_t kInt64 = 4;
  static constexpr int32_t kFloat = 5;
  static constexpr int32_t kDouble = 6;
  static constexpr int32_t kBool = 7;       // 32-bit
  static constexpr int32_t kDateTime = 8;   // 8 bytes
  static constexpr int32_t kText = 10;      // stored in a value block
  static constexpr int32_t kBytes = 11;     // stored in a value block
  static constexpr int32_t kHandled = 99;   // 32-bit handle owned through a ValueHandler
};

// True for the key kinds a table accepts.
constexpr bool isKeyKind(int32_t kind) noexcept {
  return kind == KeyKind::kInt32 || kind == KeyKind::kInt64 || kind == KeyKind::kText ||
         kind == KeyKind::kBytes;
}

// True for the value kinds a table accepts.
constexpr bool isValueKind(int32_t kind) noexcept {
  return (kind >= 2 && kind <= 8) || kind == ValueKind::kText || kind == ValueKind::kBytes ||
         kind == ValueKind::kHandled;
}

// The 32-bit tag that get reports beside a value of this kind.
// REQUIRES: isValueKind(valueKind).
constexpr uint32_t valueTagOf(int32_t valueKind) noexcept {
  switch (valueKind) {
    case ValueKind::kInt16: return 0x80000201u;
    case ValueKind::kInt64: return 0x80000401u;
    case ValueKind::kFloat: return 0x80000501u;
    case ValueKind::kDouble: return 0x80000601u;
    case ValueKind::kBool: return 0x80000002u;
    case ValueKind::kDateTime: return 0x80000003u;
    case ValueKind::kText: return 0x80000004u;
    case ValueKind::kBytes: return 0x80000005u;
    default: return 0x80000301u;  // 32-bit integer and handled values
  }
}

// Bytes of a node's value field. 8 for the 8-byte numbers and for the value
// block pointers of texts and byte buffers (pointers are 8 bytes here); 4 for
// everything else, handled values included (a handle is 32 bits).
constexpr int32_t valueSizeOf(int32_t valueKind) noexcept {
  switch (valueKind) {
    case ValueKind::kInt64:
    case ValueKind::kDouble:
    case ValueKind::kDateTime:
    case ValueKind::kText:
    case ValueKind::kBytes: return 8;
    default: return 4;
  }
}

// Layout of the table record (x86-64; integer and float fields 32 bits,
// pointers and handles 64 bits), in declaration order:
//   heap              8   private heap; null while not created
//   buckets           8   bucketCount chain heads (aligned Node* slots)
//   bucketCount       4   power of two, 16 .. 2^30
//   loadFactor        4   float, in (1e-7, 1 - 1e-7)
//   count             4   signed, entries stored
//   threshold         4   signed, floor(bucketCount * loadFactor)
//   indexShift        4   32 - log2(bucketCount)
//   keyKind           4
//   valueKind         4   (+4 padding)
//   allocateHeap      8   copied from platform::heapEntryPoints
//   freeHeap          8   likewise
//   valueTag          4   valueTagOf(valueKind)
//   cursorBucket      4   signed, next bucket the cursor looks into
//   cursorNode        8   node delivered last by the cursor, or null
//   valueHandler      8   handler of value kind 99; survives destroy and create
//   valueSize         4   valueSizeOf(valueKind)
//   autoShrink        4   non-zero: remove may halve the bucket array
//   maxTextKeyLength  4   longest text key ever inserted into this object
//   useCrc32          4   copy of cpuFeatures.sse42 at create: the hash family
//   reallocateHeap    8   copied from platform::heapEntryPoints
//   pool              8   small-block pool control block, on `heap`
//   processHeap       8   heap of every block handed to a caller
struct FastTableRecord {
  platform::HeapHandle heap;
  fasthash::Node** buckets;
  uint32_t bucketCount;
  float loadFactor;
  int32_t count;
  int32_t threshold;
  uint32_t indexShift;
  int32_t keyKind;
  int32_t valueKind;
  platform::AllocateHeapFn allocateHeap;
  platform::FreeHeapFn freeHeap;
  uint32_t valueTag;
  int32_t cursorBucket;
  fasthash::Node* cursorNode;
  ValueHandler* valueHandler;
  int32_t valueSize;
  int32_t autoShrink;
  uint32_t maxTextKeyLength;
  int32_t useCrc32;
  platform::ReallocateHeapFn reallocateHeap;
  fasthash::SmallBlockPool* pool;
  platform::HeapHandle processHeap;
};

}  // namespace linemint
