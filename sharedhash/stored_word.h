// The table's own copies of keys and values.
//
//   kind 3:  the integer itself; nothing is allocated or freed
//   kind 10: the text's bytes and its NUL (length + 1 bytes, zero-filled block)
//   kind 11: the whole block: word 1, length L, the L data bytes (L + 8 bytes)
//   null references, and kinds the table does not know, are stored as null
//
// The caller keeps what it passed in; a stored word never refers to it.
#pragma once

#include <cstdint>

#include "platform/heap.h"
#include "sharedhash/key_word.h"

namespace linemint {

// Makes the stored form of `given` on heap and writes it to *stored. Returns
// false, with nothing allocated and *stored untouched, when memory runs out.
// A stored byte string always carries the word 1 in its header.
// REQUIRES: a non-null reference of kind 10 or 11 points at a whole text or block.
bool copyWordIn(platform::HeapHandle heap, int32_t kind, KeyWord given, KeyWord* stored) noexcept;

// Frees a word made by copyWordIn (nothing for kind 3 and for null).
void freeStoredWord(platform::HeapHandle heap, int32_t kind, KeyWord stored) noexcept;

}  // namespace linemint
