// How SharedHashTable hashes and compares the words of each kind, and which
// bucket a hash falls in. Stored copies and given words follow the same rules,
// so a lookup with the caller's text finds the table's copy of it.
//
// Hash (32 bits, wrapping arithmetic):
//   null reference, integer 0    -> 0
//   kind 3                       -> the integer's bit pattern
//   kind 10                      -> sum of byte[i] * 31^i over the text's bytes
//                                   (unsigned), i.e. h = h * 31 + byte walked
//                                   from the last byte back to the first
//   kind 11, length L            -> the same walk over the first L bytes of the
//                                   block: the word 1, the length, then the
//                                   first L - 8 data bytes. The word is always
//                                   taken as 1 (see hashWord).
//   any other kind               -> 0
//
// Golden values (a change to the hash has to be a decision): the text "abc"
// hashes to 98274; a block whose data are "abc" (L = 3) hashes to 1.
#pragma once

#include <cstdint>
#include <cstring>

#include "sharedhash/key_word.h"

namespace linemint {

// The length L of a referenced byte-string block, read without assuming the
// block is aligned. REQUIRES: word refers to at least the 8 header bytes.
inline uint32_t byteStringLength(KeyWord word) noexcept {
  uint32_t length;
  std::memcpy(&length, word.asByteAddress() + 4, sizeof length);
  return length;
}

// The hash of a word of `kind`. For kind 11 the first header word is hashed as
// 1 whatever the block holds there, so that two blocks that compare equal
// (same length, same data) always hash alike.
// REQUIRES: a non-null reference of kind 10 or 11 points at a whole text or block.
uint32_t hashWord(int32_t kind, KeyWord word) noexcept;

// Equality by kind: integers by value; texts byte for byte up to and including
// the NUL; byte strings by length and data (the header word is not compared);
// two nulls are equal, a null and a non-null are not; other kinds never equal.
bool wordsEqual(int32_t kind, KeyWord a, KeyWord b) noexcept;

// The bucket of a hash: the sign bit is cleared, then the remainder by
// bucketCount, so the index is never negative.
// REQUIRES: bucketCount > 0.
inline int32_t bucketIndex(uint32_t hash, int32_t bucketCount) noexcept {
  return static_cast<int32_t>((hash & 0x7FFFFFFFu) % static_cast<uint32_t>(bucketCount));
}

}  // namespace linemint
