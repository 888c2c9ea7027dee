// Internal helpers of FastHashTable: the copies of a node's key and value that
// the table hands to its caller (get, the cursor, the arrays). Every copy lives
// on the process heap and belongs to the caller. Not for users of the table.
#pragma once

#include <cstdint>
#include <cstring>

#include "fasthash/node.h"
#include "fasthash/outputs.h"
#include "fasthash/record.h"
#include "fasthash/value_handler.h"

namespace linemint::fasthash {

// A copy of a text key (the key and a NUL); null when memory runs out.
inline OwnedText keyTextCopy(const Node* node, int32_t valueSize) noexcept {
  return newText(nodeKeyBytes(node, valueSize), nodeKeyLength(node, valueSize));
}
// A copy of a byte-buffer key; null when memory runs out.
inline OwnedByteBuffer keyBufferCopy(const Node* node, int32_t valueSize) noexcept {
  return platform::newByteBuffer(nodeKeyBytes(node, valueSize), nodeKeyLength(node, valueSize));
}

// A copy of a stored text value with a NUL after it; null for an empty value.
// *failed becomes true when a non-empty value could not be copied.
inline OwnedText valueTextCopy(const Node* node, bool* failed) noexcept {
  const unsigned char* block = nodeValueBlock(node);
  if (block == nullptr) return nullptr;
  OwnedText copy = newText(valueBlockBytes(block), valueBlockLength(block));
  if (copy == nullptr) *failed = true;
  return copy;
}
// A copy of a stored byte-buffer value; null for an empty value, *failed as above.
inline OwnedByteBuffer valueBufferCopy(const Node* node, bool* failed) noexcept {
  const unsigned char* block = nodeValueBlock(node);
  if (block == nullptr) return nullptr;
  OwnedByteBuffer copy = platform::newByteBuffer(valueBlockBytes(block), valueBlockLength(block));
  if (copy == nullptr) *failed = true;
  return copy;
}

// The handle stored in a kind-99 node (0 for no value).
inline Handle storedHandle(const Node* node) noexcept { return load32(nodeValue(node)); }
// A handle the caller will own: a copy of a non-zero stored handle, else a new
// empty one. REQUIRES: handler non-null.
inline Handle handleForCaller(ValueHandler* handler, Handle stored) noexcept {
  return stored != 0 ? handler->copyValue(stored) : handler->newValue();
}

// Writes the node's key into the caller's key variable (int32_t, int64_t,
// OwnedText or OwnedByteBuffer by key kind). The variable's earlier text or
// buffer is freed before the copy is made; a copy that cannot be made leaves
// the variable null.
inline void deliverKey(const FastTableRecord& r, const Node* node, void* keyOut) noexcept {
  switch (r.keyKind) {
    case KeyKind::kInt64: {
      const int64_t key = nodeKeyInt64(node, r.valueSize);
      std::memcpy(keyOut, &key, 8);
      break;
    }
    case KeyKind::kText: {
      auto* out = static_cast<OwnedText*>(keyOut);
      out->reset();
      *out = keyTextCopy(node, r.valueSize);
      break;
    }
    case KeyKind::kBytes: {
      auto* out = static_cast<OwnedByteBuffer*>(keyOut);
      out->reset();
      *out = keyBufferCopy(node, r.valueSize);
      break;
    }
    default: store32(keyOut, nodeHash(node)); break;
  }
}

// Writes the node's value into the caller's value variable, typed by value
// kind as the header of FastHashTable lists. The variable's earlier text,
// buffer or handle is released first. Kind 99 without a handler (no entry can
// then exist) leaves the variable alone.
inline void deliverValue(const FastTableRecord& r, const Node* node, void* valueOut) noexcept {
  bool failed = false;
  switch (r.valueKind) {
    case ValueKind::kText: {
      auto* out = static_cast<OwnedText*>(valueOut);
      out->reset();
      *out = valueTextCopy(node, &failed);
      break;
    }
    case ValueKind::kBytes: {
      auto* out = static_cast<OwnedByteBuffer*>(valueOut);
      out->reset();
      *out = valueBufferCopy(node, &failed);
      break;
    }
    case ValueKind::kHandled: {
      if (r.valueHandler == nullptr) break;
      auto* out = static_cast<HandledValue*>(valueOut);
      out->reset();
      *out = HandledValue(handleForCaller(r.valueHandler, storedHandle(node)), r.valueHandler);
      break;
    }
    default: std::memcpy(valueOut, nodeValue(node), static_cast<uint32_t>(r.valueSize)); break;
  }
}

}  // namespace linemint::fasthash
