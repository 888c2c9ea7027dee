// KeyWord: one key or value as it crosses the SharedHashTable interface.
//
// Layout: one 64-bit word.
//   kind 3  (integer):     the 32-bit signed integer, zero-extended
//   kind 10 (text):        the address of a NUL-terminated text, or 0 for null
//   kind 11 (byte string): the address of a platform::ByteBuffer block
//                          (word 1, length L, L bytes), or 0 for null
// A word does not know its kind: the table that stores or hands it out does
// (its keyKind or valueKind). The zero word is at once the integer 0 and the
// null reference, which is what lookups answer for "nothing there".
#pragma once

#include <cstdint>

#include "platform/byte_buffer.h"

namespace linemint {

// The kind codes a SharedHashTable accepts for its keys and for its values.
inline constexpr int32_t kIntegerKind = 3;
inline constexpr int32_t kTextKind = 10;
inline constexpr int32_t kByteStringKind = 11;

// True for the three kind codes above.
constexpr bool isSharedTableKind(int32_t kind) noexcept {
  return kind == kIntegerKind || kind == kTextKind || kind == kByteStringKind;
}

class KeyWord {
 public:
  // The zero word: integer 0, null text, null byte string.
  constexpr KeyWord() noexcept = default;

  static constexpr KeyWord integer(int32_t value) noexcept {
    return KeyWord(static_cast<uint32_t>(value));
  }
  // A reference to the caller's text; the word does not own it. Null is allowed.
  static KeyWord text(const char* text) noexcept {
    return KeyWord(reinterpret_cast<std::uintptr_t>(text));
  }
  // A reference to the caller's block; the word does not own it. Null is allowed.
  static KeyWord bytes(const platform::ByteBuffer* block) noexcept {
    return KeyWord(reinterpret_cast<std::uintptr_t>(block));
  }

  // REQUIRES (for each of the three): the word was made for that kind. The
  // pointers are whatever the word refers to; for words handed out by a table
  // they are borrowed references to the table's own copies.
  constexpr int32_t asInteger() const noexcept { return static_cast<int32_t>(static_cast<uint32_t>(bits_)); }
  const char* asText() const noexcept { return reinterpret_cast<const char*>(bits_); }
  const platform::ByteBuffer* asBytes() const noexcept {
    return reinterpret_cast<const platform::ByteBuffer*>(bits_);
  }
  // The referenced block as raw bytes. Table code reads byte-string fields
  // through this with memcpy, because a block inside an image may sit at any
  // address, aligned or not.
  const uint8_t* asByteAddress() const noexcept { return reinterpret_cast<const uint8_t*>(bits_); }

  // True for the zero word (integer 0 or a null reference).
  constexpr bool isZero() const noexcept { return bits_ == 0; }
  constexpr uint64_t bits() const noexcept { return bits_; }

  // The same word: equal integers, or the same address. This is not the
  // table's key equality, which compares the contents of texts and blocks.
  friend constexpr bool operator==(KeyWord a, KeyWord b) noexcept = default;

 private:
  constexpr explicit KeyWord(uint64_t bits) noexcept : bits_(bits) {}

  uint64_t bits_ = 0;
};
static_assert(sizeof(KeyWord) == 8);

}  // namespace linemint
