// ByteBuffer, and owning pointers to blocks on the process heap.
//
// Blocks that a table hands to its caller (texts, byte buffers, arrays, images)
// live on the process heap and belong to the caller. ProcessHeapPtr owns such a
// block: assigning a new one to it releases the old one first, which is the
// rule "an operation that writes into a caller's variable first releases what
// it held" in C++ terms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/heap.h"

namespace linemint::platform {

// Releases a block to the process heap.
struct ProcessHeapDeleter {
  void operator()(void* block) const noexcept { heapFree(processHeap(), 0, block); }
};

template <typename T>
using ProcessHeapPtr = std::unique_ptr<T, ProcessHeapDeleter>;

// Layout (as in memory and in every image): word 1 (32 bits), length L
// (32 bits), then the L bytes. Always reached through a pointer to a block of
// at least 8 + L bytes; never copied or constructed by value.
struct ByteBuffer {
  uint32_t one;
  uint32_t length;

  uint8_t* bytes() noexcept { return reinterpret_cast<uint8_t*>(this) + 8; }
  const uint8_t* bytes() const noexcept { return reinterpret_cast<const uint8_t*>(this) + 8; }

  ByteBuffer() = delete;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
};
static_assert(sizeof(ByteBuffer) == 8);

using OwnedByteBuffer = ProcessHeapPtr<ByteBuffer>;

// A new byte buffer of `length` bytes on the process heap, copying `bytes` when
// given (else zero-filled). Null when memory runs out.
inline OwnedByteBuffer newByteBuffer(const void* bytes, uint32_t length) noexcept {
  void* block = heapAllocate(processHeap(), kHeapZeroMemory, std::size_t{8} + length);
  if (block == nullptr) return nullptr;
  auto* b = static_cast<ByteBuffer*>(block);
  b->one = 1;
  b->length = length;
  if (bytes != nullptr && length != 0) std::memcpy(b->bytes(), bytes, length);
  return OwnedByteBuffer(b);
}

}  // namespace linemint::platform
