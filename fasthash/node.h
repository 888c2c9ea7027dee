// Internal helpers shared by every operation of FastHashTable: the node layout,
// key hashing by kind, and the chain walk. Not for users of the table.
//
// Node layout: one pooled block of exactly nodeSize bytes. Pool blocks are only
// 4-byte aligned, so every field is read and written with memcpy.
//   offset 0          hash        32 bits; for key kind 3 the key itself
//   offset 4          next        64-bit pointer to the next node of the chain, null at its end
//   offset 12         value       valueSize bytes (4, or 8 for 8-byte numbers and value blocks)
//   offset 12 + vs    key part, by key kind:
//                       3:  nothing
//                       4:  the 8 key bytes, little-endian
//                       10: key length (32 bits, >= 1), the text bytes, one NUL
//                       11: key length (32 bits, >= 1), the buffer bytes
// So a node takes 12 + vs bytes (kind 3), 20 + vs (4), 17 + vs + length (10)
// and 16 + vs + length (11).
//
// Value block (text and byte-buffer values): a pooled block of length + 4
// bytes, a 32-bit length (>= 1) then the bytes, no NUL. An empty value is a
// null pointer instead of a block.
#pragma once

#include <cstdint>
#include <cstring>

#include "fasthash/hashing.h"
#include "fasthash/record.h"
#include "platform/byte_buffer.h"

namespace linemint::fasthash {

inline constexpr uint32_t kNodeHashOffset = 0;
inline constexpr uint32_t kNodeNextOffset = 4;
inline constexpr uint32_t kNodeValueOffset = 12;

inline unsigned char* bytesOf(Node* node) noexcept { return reinterpret_cast<unsigned char*>(node); }
inline const unsigned char* bytesOf(const Node* node) noexcept {
  return reinterpret_cast<const unsigned char*>(node);
}

inline uint32_t load32(const void* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void store32(void* p, uint32_t v) noexcept { std::memcpy(p, &v, 4); }
inline uint64_t load64(const void* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void store64(void* p, uint64_t v) noexcept { std::memcpy(p, &v, 8); }

inline uint32_t nodeHash(const Node* node) noexcept { return load32(bytesOf(node) + kNodeHashOffset); }
inline void setNodeHash(Node* node, uint32_t hash) noexcept { store32(bytesOf(node) + kNodeHashOffset, hash); }

inline Node* nodeNext(const Node* node) noexcept {
  Node* next;
  std::memcpy(&next, bytesOf(node) + kNodeNextOffset, sizeof next);
  return next;
}
inline void setNodeNext(Node* node, Node* next) noexcept {
  std::memcpy(bytesOf(node) + kNodeNextOffset, &next, sizeof next);
}

// Address of the value field (valueSize bytes, unaligned).
inline unsigned char* nodeValue(Node* node) noexcept { return bytesOf(node) + kNodeValueOffset; }
inline const unsigned char* nodeValue(const Node* node) noexcept { return bytesOf(node) + kNodeValueOffset; }

// Value block pointer of a text or byte-buffer value (null for an empty value).
inline unsigned char* nodeValueBlock(const Node* node) noexcept {
  unsigned char* block;
  std::memcpy(&block, bytesOf(node) + kNodeValueOffset, sizeof block);
  return block;
}
inline void setNodeValueBlock(Node* node, unsigned char* block) noexcept {
  std::memcpy(bytesOf(node) + kNodeValueOffset, &block, sizeof block);
}
// Length and bytes of a value block. REQUIRES: block non-null.
inline uint32_t valueBlockLength(const unsigned char* block) noexcept { return load32(block); }
inline const unsigned char* valueBlockBytes(const unsigned char* block) noexcept { return block + 4; }

// Key kinds 10 and 11: the stored key length and key bytes.
inline uint32_t nodeKeyLength(const Node* node, int32_t valueSize) noexcept {
  return load32(bytesOf(node) + kNodeValueOffset + static_cast<uint32_t>(valueSize));
}
inline const unsigned char* nodeKeyBytes(const Node* node, int32_t valueSize) noexcept {
  return bytesOf(node) + kNodeValueOffset + static_cast<uint32_t>(valueSize) + 4;
}
// Key kind 4: the stored 64-bit key.
inline int64_t nodeKeyInt64(const Node* node, int32_t valueSize) noexcept {
  return static_cast<int64_t>(load64(bytesOf(node) + kNodeValueOffset + static_cast<uint32_t>(valueSize)));
}

// Bytes of a node for a key of this kind and (kinds 10, 11) byte length.
inline uint32_t nodeSize(int32_t keyKind, int32_t valueSize, uint32_t keyLength) noexcept {
  const uint32_t fixed = kNodeValueOffset + static_cast<uint32_t>(valueSize);
  switch (keyKind) {
    case KeyKind::kInt64: return fixed + 8;
    case KeyKind::kText: return fixed + 4 + keyLength + 1;
    case KeyKind::kBytes: return fixed + 4 + keyLength;
    default: return fixed;
  }
}
inline uint32_t nodeSizeOf(const FastTableRecord& r, const Node* node) noexcept {
  const bool hasLength = r.keyKind == KeyKind::kText || r.keyKind == KeyKind::kBytes;
  return nodeSize(r.keyKind, r.valueSize, hasLength ? nodeKeyLength(node, r.valueSize) : 0);
}

// A key taken from the caller's variable and hashed once.
//   kind 3:      hash = the key; nothing else
//   kind 4:      hash, int64Key
//   kind 10, 11: hash, length (0 for an absent or empty key), bytes
struct KeyProbe {
  uint32_t hash;
  uint32_t length;
  const unsigned char* bytes;
  int64_t int64Key;
};

// Reads and hashes the key that keyRef designates, by the table's key kind:
// kind 3 an int32_t variable, 4 an int64_t, 10 a `const char*` variable (null
// = absent), 11 a `const platform::ByteBuffer*` variable (null = absent).
// REQUIRES: keyRef non-null; the table created.
inline KeyProbe probeKey(const FastTableRecord& r, const void* keyRef) noexcept {
  KeyProbe k{0, 0, nullptr, 0};
  switch (r.keyKind) {
    case KeyKind::kText: {
      const char* text;
      std::memcpy(&text, keyRef, sizeof text);
      k.hash = hashTextWith(text, &k.length, r.useCrc32 != 0);
      k.bytes = reinterpret_cast<const unsigned char*>(text);
      break;
    }
    case KeyKind::kBytes: {
      const platform::ByteBuffer* buffer;
      std::memcpy(&buffer, keyRef, sizeof buffer);
      if (buffer != nullptr) {
        k.length = buffer->length;
        k.bytes = buffer->bytes();
        k.hash = hashByteRange(k.bytes, k.length, r.useCrc32 != 0);
      }
      break;
    }
    case KeyKind::kInt64:
      std::memcpy(&k.int64Key, keyRef, 8);
      k.hash = hashInt64(r.useCrc32 != 0, k.int64Key);
      break;
    default:
      k.hash = load32(keyRef);
      break;
  }
  return k;
}

// True when the key kind stores a length and the probe's key is empty, which
// no stored key ever is.
inline bool probeIsEmpty(const FastTableRecord& r, const KeyProbe& k) noexcept {
  return (r.keyKind == KeyKind::kText || r.keyKind == KeyKind::kBytes) && k.length == 0;
}

// A link: the bucket slot or a node's next field that holds a node pointer.
// Next fields are unaligned, so a link is a byte address read with memcpy.
struct Link {
  void* at;
  Node* load() const noexcept {
    Node* node;
    std::memcpy(&node, at, sizeof node);
    return node;
  }
  void store(Node* node) const noexcept { std::memcpy(at, &node, sizeof node); }
};

inline Link linkOfNext(Node* node) noexcept { return Link{bytesOf(node) + kNodeNextOffset}; }

// Bucket index of a hash: its low log2(bucketCount) bits, by two shifts.
inline uint32_t bucketIndex(uint32_t hash, uint32_t indexShift) noexcept {
  return (hash << indexShift) >> indexShift;
}

// True when the node holds the probed key, for a table of key kind Kind: the
// stored hash first, then (texts and buffers) the stored length, then the
// bytes; 64-bit keys compare both halves.
template <int32_t Kind>
inline bool nodeHoldsKeyOf(const Node* node, const KeyProbe& k, int32_t valueSize) noexcept {
  if (nodeHash(node) != k.hash) return false;
  if constexpr (Kind == KeyKind::kInt32) {
    return true;
  } else if constexpr (Kind == KeyKind::kInt64) {
    return nodeKeyInt64(node, valueSize) == k.int64Key;
  } else {
    // A stored key is never empty, so equal lengths mean n >= 1 and a probe
    // with bytes: bytesEqual's guards for null and empty cannot apply.
    return nodeKeyLength(node, valueSize) == k.length &&
           bytesEqualOverlapping(nodeKeyBytes(node, valueSize), k.bytes, k.length);
  }
}

inline bool nodeHoldsKey(const FastTableRecord& r, const Node* node, const KeyProbe& k) noexcept {
  switch (r.keyKind) {
    case KeyKind::kInt32: return nodeHoldsKeyOf<KeyKind::kInt32>(node, k, r.valueSize);
    case KeyKind::kInt64: return nodeHoldsKeyOf<KeyKind::kInt64>(node, k, r.valueSize);
    default: return nodeHoldsKeyOf<KeyKind::kText>(node, k, r.valueSize);
  }
}

// Walks the chain of the probed key's bucket and returns the link that points
// at the first node holding the key, or, when no node does, the null link at
// the chain's end (where a new node is appended). One walk serves lookup,
// append and unlink. REQUIRES: the table created, its key kind Kind.
template <int32_t Kind>
inline Link findLinkOf(const FastTableRecord& r, const KeyProbe& k) noexcept {
  Link link{&r.buckets[bucketIndex(k.hash, r.indexShift)]};
  for (Node* node = link.load(); node != nullptr; node = link.load()) {
    if (nodeHoldsKeyOf<Kind>(node, k, r.valueSize)) return link;
    link = linkOfNext(node);
  }
  return link;
}

// findLinkOf for the table's own key kind. REQUIRES: the table created.
inline Link findLink(const FastTableRecord& r, const KeyProbe& k) noexcept {
  switch (r.keyKind) {
    case KeyKind::kInt32: return findLinkOf<KeyKind::kInt32>(r, k);
    case KeyKind::kInt64: return findLinkOf<KeyKind::kInt64>(r, k);
    default: return findLinkOf<KeyKind::kText>(r, k);  // texts and byte buffers compare alike
  }
}

// The node holding the key that keyRef designates, or null (also when the
// table is not created).
inline Node* findNode(const FastTableRecord& r, const void* keyRef) noexcept {
  if (r.buckets == nullptr) return nullptr;
  const KeyProbe k = probeKey(r, keyRef);
  if (probeIsEmpty(r, k)) return nullptr;
  return findLink(r, k).load();
}

}  // namespace linemint::fasthash
