// SharedTableImage: the self-contained byte image of a SharedHashTable.
//
// Layout: 32-bit little-endian signed integers, no gaps, no alignment.
//   offset 0        4  tag, the ASCII bytes "hash" (lower case, no terminator)
//   offset 4        4  key kind: 3, 10 or 11
//   offset 8        4  value kind: 3, 10 or 11
//   offset 12       4  entry count N
//   offset 16 + 8i  4  key slot of entry i
//   offset 20 + 8i  4  value slot of entry i
//   offset 16 + 8N     data area: the items, to the end
//
// A slot holds, for kind 3, the integer itself; for kinds 10 and 11, 0 for a
// null key or value, else the offset from the image's first byte of its item.
// Items: a text is its bytes and one zero byte; a byte string is the whole
// block (word 1, length L, the L bytes). The writer lays out the entries in
// the table's enumeration order and the items in entry order, each entry's
// key item before its value item. An integer-only table's image is exactly
// 16 + 8N bytes; an empty table's is 16.
//
// The image carries no bucket count, load factor or hash: a loaded table is
// laid out afresh with N + 11 buckets and the load factor 0.75.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/byte_buffer.h"
#include "sharedhash/shared_table_record.h"

namespace linemint {

// The image of the table in record, on the process heap (the caller owns it).
// Null when memory runs out or the image would pass 2^31 - 1 bytes, the most
// that 32-bit signed offsets can address.
platform::OwnedByteBuffer writeImage(const SharedTableRecord& record) noexcept;

// A new record built from an image, as if each entry were inserted in image
// order (a key listed twice keeps the later value). Null when the image is
// refused or memory runs out. Refused: fewer than 16 bytes, a tag other than
// "hash", a kind other than 3, 10 or 11, a negative N, slots that do not fit
// in the image, and any offset whose item (a text up to its zero byte, a
// block's 8-byte header and its L bytes) does not lie wholly inside the
// image. Nothing outside `image` is ever read. Offsets may point anywhere in
// the image, the header and the slots included.
SharedTableRecord* readImage(std::span<const uint8_t> image) noexcept;

}  // namespace linemint
