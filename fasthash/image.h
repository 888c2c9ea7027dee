// FastTableImage: the byte image that FastHashTable::serialize writes and
// FastHashTable::deserialize reads. It holds a table's settings and entries but
// no hashes and no node layout, so it reads back the same on any machine and
// whichever hash family either side uses.
//
// Layout: every integer 32-bit little-endian, fields back to back, no padding.
//   offset 0   total        length of the image in bytes, this field included
//   offset 4   keyKind      3, 4, 10 or 11
//   offset 8   valueKind    2 to 8, 10 or 11 (never 99)
//   offset 12  bucketCount  the table's bucket count when written
//   offset 16  loadFactor   IEEE-754 binary32
//   offset 20  autoShrink
//   offset 24  reserved     16 bytes, written as zero, never read
//   offset 40  count N      signed; N <= 0 means no entries
//   offset 44  N entries, each a key field followed by a value field
//
// Key field, by key kind (L = the key's byte length):
//   3   4 bytes      the 32-bit key
//   4   8 bytes      the 64-bit key
//   10  L + 5 bytes  the word L + 1, the L text bytes, one zero byte
//   11  L + 8 bytes  a ByteBuffer: the word 1, the word L, the L bytes
// Value field, by value kind:
//   2, 3, 5, 7  4 bytes  the value field (a 16-bit value in the low half)
//   4, 6, 8     8 bytes  the value field
//   10          L + 5    as a text key; a null value is the word 1 and one zero byte
//   11          L + 8    as a byte-buffer key; a null value is the words 1 and 0
//
// Entries come in walk order: buckets ascending, each chain head to tail.
//
// What the reader accepts. The image is the first `total` bytes of the buffer;
// bytes after them are ignored. Before anything is changed the whole image is
// checked, and refused when:
//   * the buffer is shorter than 44 bytes or than `total`, or `total` < 44;
//   * the value kind is 99 (a handled value means nothing outside its handler);
//   * some field of the N entries ends past `total`: a text field whose first
//     word is 0 or whose last byte is not zero, a byte-buffer field longer than
//     the rest of the image, a number cut short.
// Kind codes other than those above are read the way create normalises them:
// an unknown key kind as 3 (4-byte keys), an unknown value kind as 3 (4-byte
// values). The bucket count and load factor go to create unchanged. Inside a
// field, a text that holds an earlier zero byte ends there, and the first word
// of a ByteBuffer field is not checked. Entries that insert refuses (empty keys)
// are skipped; a key listed twice keeps its later value.
#pragma once

#include <cstdint>

namespace linemint::fasthash {

inline constexpr uint32_t kImageHeaderSize = 44;

inline constexpr uint32_t kImageTotalOffset = 0;
inline constexpr uint32_t kImageKeyKindOffset = 4;
inline constexpr uint32_t kImageValueKindOffset = 8;
inline constexpr uint32_t kImageBucketCountOffset = 12;
inline constexpr uint32_t kImageLoadFactorOffset = 16;
inline constexpr uint32_t kImageAutoShrinkOffset = 20;
inline constexpr uint32_t kImageReservedOffset = 24;
inline constexpr uint32_t kImageReservedSize = 16;
inline constexpr uint32_t kImageCountOffset = 40;

// Little-endian fields, whatever the machine's own byte order.
inline uint32_t loadLe32(const unsigned char* p) noexcept {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t loadLe64(const unsigned char* p) noexcept {
  return uint64_t{loadLe32(p)} | uint64_t{loadLe32(p + 4)} << 32;
}
inline void storeLe32(unsigned char* p, uint32_t v) noexcept {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}
inline void storeLe64(unsigned char* p, uint64_t v) noexcept {
  storeLe32(p, static_cast<uint32_t>(v));
  storeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace linemint::fasthash
