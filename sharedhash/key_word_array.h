// KeyWordArray: an array of KeyWords that a table hands to its caller (keys,
// values, keys with a value). The caller owns the array; the words in it are
// borrowed references to the table's own stored copies (for kinds 10 and 11),
// valid until that entry is removed or its value replaced, or the table is freed.
//
// Layout (one block on the process heap):
//   one     4  uint32, always 1
//   count   4  int32, the number of elements n
//   words   8n n KeyWords, in the table's enumeration order
//
// An array object may also hold no block at all (default-constructed, or
// moved from); it then reads as empty.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sharedhash/key_word.h"

namespace linemint {

class KeyWordArray {
 public:
  KeyWordArray() noexcept = default;
  KeyWordArray(KeyWordArray&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  KeyWordArray& operator=(KeyWordArray&& other) noexcept;
  KeyWordArray(const KeyWordArray&) = delete;
  KeyWordArray& operator=(const KeyWordArray&) = delete;
  ~KeyWordArray() { reset(); }

  // An array of n zero words on the process heap; one holding no block when
  // memory runs out. REQUIRES: n >= 0.
  static KeyWordArray withCount(int32_t n) noexcept;

  // Releases the block; the array reads as empty and holds no block.
  void reset() noexcept;

  // True when a block is held (an empty array given by a table holds one).
  bool hasBlock() const noexcept { return block_ != nullptr; }

  int32_t size() const noexcept { return block_ == nullptr ? 0 : header()->count; }
  bool empty() const noexcept { return size() == 0; }
  const KeyWord* data() const noexcept { return block_ == nullptr ? nullptr : words(); }
  KeyWord* data() noexcept { return block_ == nullptr ? nullptr : words(); }
  const KeyWord* begin() const noexcept { return data(); }
  const KeyWord* end() const noexcept { return data() + size(); }
  // REQUIRES: 0 <= i < size().
  KeyWord operator[](int32_t i) const noexcept { return words()[i]; }

  // The block itself (layout above), for callers that pass it on whole.
  const void* block() const noexcept { return block_; }

 private:
  struct Header {
    uint32_t one;
    int32_t count;
  };
  static_assert(sizeof(Header) == 8);

  explicit KeyWordArray(void* block) noexcept : block_(block) {}
  const Header* header() const noexcept { return static_cast<const Header*>(block_); }
  KeyWord* words() const noexcept {
    return reinterpret_cast<KeyWord*>(static_cast<uint8_t*>(block_) + sizeof(Header));
  }

  void* block_ = nullptr;
};

}  // namespace linemint
