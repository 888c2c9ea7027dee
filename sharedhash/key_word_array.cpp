#include "sharedhash/key_word_array.h"

#include "platform/heap.h"

namespace linemint {

KeyWordArray& KeyWordArray::operator=(KeyWordArray&& other) noexcept {
  if (this != &other) {
    reset();
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

KeyWordArray KeyWordArray::withCount(int32_t n) noexcept {
  // The caller owns the array, so it comes from the process heap directly and
  // not through the table's own allocation accounting.
  void* block = platform::heapAllocate(platform::processHeap(), platform::kHeapZeroMemory,
                                       sizeof(Header) + sizeof(KeyWord) * static_cast<std::size_t>(n));
  if (block == nullptr) return KeyWordArray();
  auto* h = static_cast<Header*>(block);
  h->one = 1;
  h->count = n;
  return KeyWordArray(block);
}

void KeyWordArray::reset() noexcept {
  platform::heapFree(platform::processHeap(), 0, block_);
  block_ = nullptr;
}

}  // namespace linemint
