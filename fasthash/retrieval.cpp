// FastHashTable: get, adjustValue, remove and the four accessors.
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "fasthash/copy_out.h"
#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"

namespace linemint {

using fasthash::Node;

TaggedValue FastHashTable::get(const void* keyRef, int32_t* found) noexcept {
  TaggedValue result;
  result.tag = record_.valueTag;
  const Node* node = fasthash::findNode(record_, keyRef);
  if (found != nullptr) *found = node != nullptr ? 1 : 0;
  if (node == nullptr) return result;
  // A copy that cannot be allocated comes out as payload 0 with found = 1: the
  // key is stored, and no address of memory we did not get is handed out.
  bool failed = false;
  switch (record_.valueKind) {
    case ValueKind::kText:
      result.text = fasthash::valueTextCopy(node, &failed);
      result.payload = reinterpret_cast<uintptr_t>(result.text.get());
      break;
    case ValueKind::kBytes:
      result.buffer = fasthash::valueBufferCopy(node, &failed);
      result.payload = reinterpret_cast<uintptr_t>(result.buffer.get());
      break;
    case ValueKind::kInt64:
    case ValueKind::kDouble:
    case ValueKind::kDateTime: result.payload = fasthash::load64(fasthash::nodeValue(node)); break;
    default: result.payload = fasthash::load32(fasthash::nodeValue(node)); break;
  }
  return result;
}

namespace {

// Integer arithmetic modulo 2^bits of T. The work is done in an unsigned type
// at least as wide as int, so that neither promotion nor overflow is undefined.
// Division by 0 leaves the value; division by -1 is negation modulo 2^bits,
// which keeps T's minimum where the machine division would trap.
template <typename T>
T adjustInteger(T value, T operand, AdjustOp op) noexcept {
  using Wide = std::conditional_t<(sizeof(T) > 4), uint64_t, uint32_t>;
  const Wide a = static_cast<Wide>(value);
  const Wide b = static_cast<Wide>(operand);
  switch (op) {
    case AdjustOp::add: return static_cast<T>(a + b);
    case AdjustOp::subtract: return static_cast<T>(a - b);
    case AdjustOp::multiply: return static_cast<T>(a * b);
    case AdjustOp::divide:
      if (operand == 0) return value;
      if (operand == -1) return static_cast<T>(Wide{0} - a);
      return static_cast<T>(value / operand);
  }
  return value;
}

template <typename T>
T adjustFloat(T value, T operand, AdjustOp op) noexcept {
  switch (op) {
    case AdjustOp::add: return value + operand;
    case AdjustOp::subtract: return value - operand;
    case AdjustOp::multiply: return value * operand;
    case AdjustOp::divide: return value / operand;
  }
  return value;
}

// Reads T from field, applies op with the operand at operandRef, stores it back
// and hands the new value to resultRef when given.
template <typename T>
void adjustField(unsigned char* field, const void* operandRef, AdjustOp op, void* resultRef) noexcept {
  T value;
  T operand;
  std::memcpy(&value, field, sizeof value);
  std::memcpy(&operand, operandRef, sizeof operand);
  if constexpr (std::is_floating_point_v<T>) {
    value = adjustFloat(value, operand, op);
  } else {
    value = adjustInteger(value, operand, op);
  }
  std::memcpy(field, &value, sizeof value);
  if (resultRef != nullptr) std::memcpy(resultRef, &value, sizeof value);
}

}  // namespace

int32_t FastHashTable::adjustValue(const void* keyRef, const void* operandRef, AdjustOp op,
                                   void* resultRef) noexcept {
  const int32_t kind = record_.valueKind;
  if (record_.buckets == nullptr || kind < ValueKind::kInt16 || kind > ValueKind::kDouble) return 0;
  Node* node = fasthash::findNode(record_, keyRef);
  if (node == nullptr) return 0;
  unsigned char* field = fasthash::nodeValue(node);
  switch (kind) {
    case ValueKind::kInt16: {
      // Only the low half of the 4-byte field is the number; the high half is
      // whatever insert stored there and stays so.
      const uint32_t stored = fasthash::load32(field);
      int16_t low = static_cast<int16_t>(static_cast<uint16_t>(stored));
      adjustField<int16_t>(reinterpret_cast<unsigned char*>(&low), operandRef, op, resultRef);
      fasthash::store32(field, (stored & 0xFFFF0000u) | static_cast<uint16_t>(low));
      break;
    }
    case ValueKind::kInt32: adjustField<int32_t>(field, operandRef, op, resultRef); break;
    case ValueKind::kInt64: adjustField<int64_t>(field, operandRef, op, resultRef); break;
    case ValueKind::kFloat: adjustField<float>(field, operandRef, op, resultRef); break;
    default: adjustField<double>(field, operandRef, op, resultRef); break;
  }
  return 1;
}

int32_t FastHashTable::remove(const void* keyRef) noexcept {
  FastTableRecord& r = record_;
  if (r.buckets == nullptr || r.count == 0) return 0;
  const fasthash::KeyProbe k = fasthash::probeKey(r, keyRef);
  if (fasthash::probeIsEmpty(r, k)) return 0;
  const fasthash::Link link = fasthash::findLink(r, k);
  Node* node = link.load();
  if (node == nullptr) return 0;
  link.store(fasthash::nodeNext(node));

  // The cursor must never advance from a node that went back to the pool. It
  // steps back to the node before the removed one, or, when the removed node
  // headed its chain, to "bucket not yet entered"; either way the next advance
  // delivers the node that followed the removed one, and no entry of the walk
  // is skipped or delivered twice.
  if (r.cursorNode == node) {
    Node** head = &r.buckets[fasthash::bucketIndex(k.hash, r.indexShift)];
    if (link.at == static_cast<void*>(head)) {
      r.cursorNode = nullptr;
      r.cursorBucket = static_cast<int32_t>(head - r.buckets);
    } else {
      r.cursorNode = reinterpret_cast<Node*>(static_cast<unsigned char*>(link.at) - fasthash::kNodeNextOffset);
    }
  }

  releaseValueField(node);
  freeNode(node);
  --r.count;

  // An empty table keeps its size: halving needs a ratio, and there is none
  // to take with no entry left.
  if (r.autoShrink != 0 && r.bucketCount > 16 && r.count > 0 &&
      static_cast<int32_t>(r.bucketCount) / r.count >= 8) {
    resize(r.bucketCount / 2);
    r.cursorBucket = 0;
    r.cursorNode = nullptr;
  }
  return 1;
}

int32_t FastHashTable::getBucketCount() const noexcept { return static_cast<int32_t>(record_.bucketCount); }
int32_t FastHashTable::getCount() const noexcept { return record_.count; }
int32_t FastHashTable::getKeyKind() const noexcept { return record_.keyKind; }
int32_t FastHashTable::getValueKind() const noexcept { return record_.valueKind; }

}  // namespace linemint
