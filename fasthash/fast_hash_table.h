// FastHashTable: a typed, chained hash table on a private heap.
//
// Design
//   * A power-of-two array of chain heads (`buckets`); the bucket of a hash is
//     its low log2(bucketCount) bits, taken with two shifts. New nodes go to
//     the end of their chain, so one bucket keeps first-insertion order.
//   * Every node is one block of exactly the size its key needs (node.h), taken
//     from the table's small-block pool (pool.h), which serves 36 size classes
//     from 16 KiB pages of the table's private heap. Texts and byte buffers
//     stored as values live in value blocks from the same pool.
//   * Keys hash with CRC-32C where the processor has SSE4.2, else with the
//     multiply-by-31 sum (hashing.h); 32-bit integer keys are their own hash.
//     A table keeps the family it was created with (`useCrc32`).
//   * The table grows (doubles) when count exceeds threshold =
//     floor(bucketCount * loadFactor); nodes are relinked, never copied.
//   * Teardown destroys the private heap: one call, whatever the entry count.
//
// Passing keys and values. Operations take the address of the caller's
// variable (keyRef, valueRef), typed by the table's kinds:
//
//   kind | key variable (keyRef)        | value variable (valueRef) for insert,
//        |                              | containsValue, keysWithValue
//   -----+------------------------------+-------------------------------------
//    2   | -                            | int32_t (the 4-byte field; the value
//        |                              |   is its low 16 bits)
//    3   | int32_t                      | int32_t
//    4   | int64_t                      | int64_t
//    5   | -                            | float
//    6   | -                            | double
//    7   | -                            | int32_t (boolean)
//    8   | -                            | 8 bytes (double holding a date-time)
//    10  | const char* (null = absent)  | const char* (null or "" = empty)
//    11  | const ByteBuffer* (null =    | const ByteBuffer* (null or length 0
//        |   absent)                    |   = empty)
//    99  | -                            | Handle (0 = no value)
//
// Outputs (next, nextKey, nextValue) are variables of these types:
//   keys:   3 int32_t, 4 int64_t, 10 OwnedText, 11 OwnedByteBuffer
//   values: 2, 3, 7 int32_t (4 bytes), 4 int64_t, 5 float, 6 double,
//           8 8 bytes, 10 OwnedText, 11 OwnedByteBuffer, 99 HandledValue
// adjustValue's operand and result use the arithmetic width: 2 int16_t,
// 3 int32_t, 4 int64_t, 5 float, 6 double.
//
// A null output pointer means "not given": it is not written. A refused
// operation leaves every output untouched. Nothing throws.
//
// Threads: one at a time per table; the private heap takes no lock.
#pragma once

#include <cstdint>
#include <optional>

#include "fasthash/outputs.h"
#include "fasthash/record.h"
#include "fasthash/value_handler.h"
#include "platform/byte_buffer.h"

namespace linemint {

namespace fasthash {
struct KeyProbe;
struct Link;
}  // namespace fasthash

// Operation codes of adjustValue. Any other code leaves the value unchanged
// (the call still succeeds and reports the current value).
enum class AdjustOp : int32_t { add = 0, subtract = 1, multiply = 2, divide = 3 };

class FastHashTableTestPeer;

class FastHashTable {
 public:
  // An object that holds no table: every field zero except valueTag
  // (0x80000301). Operations answer their failure result until create.
  FastHashTable() noexcept;
  FastHashTable(const FastHashTable&) = delete;
  FastHashTable& operator=(const FastHashTable&) = delete;

  // Calls destroy.
  ~FastHashTable();

  // Builds a new, empty table, tearing down any table the object held first
  // (its handled values released). Returns 1 on success, 0 when the private
  // heap, the bucket array or the pool cannot be had; the object is then not
  // created (an earlier table is gone either way).
  //   keyKind:     3, 4, 10 or 11; anything else becomes 3.
  //   valueKind:   2..8, 10, 11 or 99; anything else becomes 3.
  //   bucketCount: omitted = 0; below 16 becomes 16, otherwise rounded down
  //                to a power of two and capped at 2^30.
  //   loadFactor:  used when 1e-7 < x < 1 - 1e-7 (in double); otherwise,
  //                omitted, NaN, 0, negative or >= 1: 0.75.
  //   autoShrink:  omitted = 1; a given value is stored as it is.
  // Leaves valueHandler and maxTextKeyLength as they were.
  int32_t create(int32_t keyKind, int32_t valueKind, std::optional<int32_t> bucketCount = std::nullopt,
                 std::optional<float> loadFactor = std::nullopt,
                 std::optional<int32_t> autoShrink = std::nullopt) noexcept;

  // Tears the table down: releases handled values (kind 99), then destroys the
  // private heap, which frees every node, value block and page at once. Zeroes
  // heap, buckets, bucketCount and count; the kinds and settings stay readable.
  // Does nothing on an object that is not created.
  void destroy() noexcept;

 private:
  // Relinks every node into a new zero-filled array of newBucketCount heads,
  // keeping each node's stored hash; nodes landing in one bucket keep their
  // relative order of the walk (old buckets ascending, chains head to tail).
  // Sets bucketCount, indexShift and threshold. Does nothing when
  // newBucketCount equals bucketCount, and leaves the table as it was when the
  // new array cannot be allocated. REQUIRES: created; newBucketCount a power
  // of two in [16, 2^30].
  void resize(uint32_t newBucketCount) noexcept;

 public:
  // Hash of a text key (bytes before the first NUL) and its length, in the
  // family of platform::cpuFeatures.sse42 now. Null text: hash 0, length 0.
  static uint32_t hashText(const char* text, uint32_t* length) noexcept;
  // Hash of a byte-buffer key; null or empty: 0.
  static uint32_t hashBytes(const ByteBuffer* buffer) noexcept;
  // Equality of n bytes; false for n == 0 or an address <= 8.
  static bool bytesEqual(const void* a, const void* b, uint32_t n) noexcept;
  // Bytes before the first NUL; 0 for null.
  static uint32_t textLength(const char* text) noexcept;
  // Hash of a 64-bit key in the family useCrc32 selects.
  static uint32_t hashInt64(bool useCrc32, int64_t key) noexcept;

  // k for n = 2^k with k in 1..31; 0 for every other n, 0 and 1 included.
  static uint32_t log2Exact(uint32_t n) noexcept;
  // The largest power of two not above n; 0 for 0.
  static uint32_t floorPowerOfTwo(uint32_t n) noexcept;

 private:
  // Hands every non-zero stored handle to valueHandler->releaseValue, walking
  // buckets ascending and chains head to tail. Value fields are not cleared:
  // destroy frees the heap right after. REQUIRES: created, value kind 99.
  void releaseHandledValues() noexcept;

  // The table's small-block pool (pool.h). initPool sets up the control block
  // on `heap` (nothing when heap is null); poolAllocate returns a block of at
  // least size bytes or null when the heap is out of memory; poolFree takes a
  // block back, given the size it was allocated with (null is ignored).
  void initPool() noexcept;
  void* poolAllocate(uint32_t size) noexcept;
  void poolFree(void* block, uint32_t size) noexcept;

 public:
  // Adds the key with its value, or replaces the value of an equal stored key
  // (releasing the old value block or handle first). Returns 1 for a new
  // entry, 2 for a replaced value, 0 when nothing was stored: not created,
  // value kind 99 without a handler, an empty or absent text or byte-buffer
  // key, or memory exhausted (the table is then unchanged). A new entry that
  // makes count exceed threshold doubles the bucket array and resets the
  // cursor. Text keys raise maxTextKeyLength.
  int32_t insert(const void* keyRef, const void* valueRef) noexcept;

  // Longest text or byte-buffer key or value stored: its node or value block
  // size must still fit a 32-bit pool request. Longer ones are refused (0).
  static constexpr uint32_t kMaxStoredLength = 0xFFFFFF00u;

  // Bulk insertion of text keys, for callers that insert many keys in a row
  // and want to hash ahead and prefetch (the de-duplication pass). The inline
  // definitions are in fasthash/bulk_text.h.
  //
  // The hash and length of a text key, in this table's family: exactly what
  // insert computes for it. REQUIRES: created, key kind 10.
  inline uint32_t hashTextKey(const char* text, uint32_t* length) const noexcept;
  // Hints the cache to fetch the bucket slot of hash. REQUIRES: created.
  inline void prefetchBucket(uint32_t hash) const noexcept;
  // Hints the cache to fetch the first node of hash's chain; reads the bucket
  // slot, so it pays after prefetchBucket has had time. REQUIRES: created.
  inline void prefetchChainHead(uint32_t hash) const noexcept;
  // insert(&text, valueRef) for a key whose hash and length came from
  // hashTextKey: the same result and the same effects, without hashing again.
  // Only the key's `length` bytes are read, so text need not be
  // NUL-terminated: a key inside a larger buffer is passed as it lies (hash it
  // with fasthash::crcOfKnownLength or sum31OfKnownLength by the table's
  // family). REQUIRES: no NUL among those bytes.
  // Not created, or key kind other than 10: 0. A length above
  // kMaxStoredLength is refused (0) whatever the hash.
  inline int32_t insertHashedText(const char* text, uint32_t length, uint32_t hash, const void* valueRef) noexcept;

  // The value of the key and the table's valueTag. *found, when given,
  // receives 1 or 0. Text and byte-buffer values come out as new copies owned
  // by the result. Not found or not created: payload 0.
  TaggedValue get(const void* keyRef, int32_t* found = nullptr) noexcept;

  // Collects, in walk order, the keys of every entry whose value equals
  // *valueRef, into *array (its earlier contents released first). Returns the
  // number of keys. Not created or value kind 99: 0, array untouched. An
  // absent text or buffer value gives an empty array.
  int32_t keysWithValue(const void* valueRef, OwnedArray* array) noexcept;

  // Applies op with *operandRef to the stored number of the key (value kinds
  // 2 to 6), in place, and writes the new value to *resultRef when given.
  // Returns 1 when the key was found and processed, 0 otherwise (not created,
  // key absent, value kind without arithmetic). Integer division by zero and
  // INT_MIN / -1 do not fault.
  int32_t adjustValue(const void* keyRef, const void* operandRef, AdjustOp op,
                      void* resultRef = nullptr) noexcept;

  // 1 when an equal key is stored, else 0 (also when not created).
  int32_t contains(const void* keyRef) noexcept;

  // 1 when some entry holds a value equal to *valueRef (floats compare as
  // floats: NaN equals nothing, +0 equals -0; an empty text or buffer equals
  // nothing), else 0. Not created or value kind 99: 0.
  int32_t containsValue(const void* valueRef) noexcept;

  // Removes the key's entry and releases its node and value. With autoShrink,
  // halves the bucket array (never below 16) when bucketCount / count >= 8
  // afterwards, resetting the cursor; a removal that leaves no entry does not
  // halve. Removing the entry the cursor stands on steps the cursor back, so
  // that the next advance delivers the entry that followed the removed one and
  // the walk skips nothing. Returns 1 when removed, else 0.
  int32_t remove(const void* keyRef) noexcept;

  // The record's fields as they stand (0 before the first create; after
  // destroy bucketCount and count are 0, the kinds remain).
  int32_t getBucketCount() const noexcept;
  int32_t getCount() const noexcept;
  int32_t getKeyKind() const noexcept;
  int32_t getValueKind() const noexcept;

  // Every key (walk order) into *array, its earlier contents released first.
  // Returns count. Never created: 0, array untouched.
  int32_t keysToArray(OwnedArray* array) noexcept;
  // Every value, likewise; kind 99 elements are fresh handle copies.
  // These two and keysWithValue hand out an array whole or not at all: when
  // memory for it or for a copy in it runs out, *array is left empty and the
  // result is 0.
  int32_t valuesToArray(OwnedArray* array) noexcept;

  // Puts the cursor before the first entry. Needs no created table.
  void resetCursor() noexcept;
  // Advance the one cursor of the table (buckets ascending, chains head to
  // tail) and deliver the entry's key and/or value into the given variables.
  // Return 1 when an entry was delivered, 0 at the end or when not created
  // (outputs then untouched).
  int32_t next(void* keyOut, void* valueOut) noexcept;
  int32_t nextKey(void* keyOut) noexcept;
  int32_t nextValue(void* valueOut) noexcept;

  // Delivers into *value a fresh copy of the key's stored handle (newValue
  // when the stored handle is 0, the key absent or the kind not 99), its old
  // contents released first. Returns 1 when the key is stored in a kind-99
  // table, else 0. Without an installed handler: 0 and *value untouched.
  int32_t getHandledValue(const void* keyRef, HandledValue* value) noexcept;
  // Installs the handler for value kind 99; null is ignored. The caller keeps
  // ownership; it stays installed across destroy and create.
  void setValueHandler(ValueHandler* handler) noexcept;

  // 1-based position of the earliest place in *textRef (a `const char*`
  // variable) where a stored text key begins, looking only at double-byte
  // character boundaries, the shortest key winning at that place; -1 when
  // none. *match, when given and a key is found, receives a copy of the key.
  int32_t findKeyInText(const void* textRef, OwnedText* match = nullptr) noexcept;

  // The table's byte image on the process heap; null when not created, for
  // value kind 99, or when memory runs out.
  OwnedByteBuffer serialize() const noexcept;
  // Rebuilds the object's table from an image (layout and what is refused:
  // image.h). Returns 1 when rebuilt, 0 when the image is refused (null,
  // shorter than its header or than its stated length, value kind 99, entries
  // that do not end inside it: the object is unchanged), or when create fails
  // or memory runs out while rebuilding (the object is then not created).
  // Never reads outside the image.
  int32_t deserialize(const ByteBuffer* image) noexcept;

  // Checks the table's invariants and returns null when they hold, otherwise a
  // static text naming the first broken one:
  //   count = sum of chain lengths; every node in the bucket of its hash;
  //   bucketCount a power of two in [16, 2^30], indexShift = 32 - log2;
  //   threshold = floor(bucketCount * loadFactor); every pool page on exactly
  //   one list and in the state of that list; used = capacity - free bits;
  //   summary bits match the bitmap words; the blocks in use of each size class
  //   are exactly the table's nodes and value blocks.
  // An object that is not created is valid.
  const char* validate() const noexcept;

  // Read-only view of the record, for tests, validate and benchmarks.
  const FastTableRecord& record() const noexcept { return record_; }

 private:
  friend class FastHashTableTestPeer;

  // Helpers shared by the operations of every source file.

  // Builds the contents of a value field from the caller's value variable, by
  // value kind: a copy of 4 or 8 bytes; for texts and byte buffers a new value
  // block (null for an empty value); for kind 99 copyValue of a non-zero
  // handle (0 stays 0). Returns false, allocating nothing, when memory runs
  // out. REQUIRES: created; a handler installed for kind 99.
  bool makeValueField(const void* valueRef, unsigned char field[8]) noexcept;
  // Releases what a node's value field owns: its value block (kinds 10, 11)
  // or its non-zero handle (kind 99), and clears the field. Other kinds: nothing.
  void releaseValueField(fasthash::Node* node) noexcept;
  // Gives an unlinked node back to the pool with its own size.
  void freeNode(fasthash::Node* node) noexcept;
  // The body of insert once the key is probed and its chain walked: link is
  // what findLink returned (the link to the equal node, or the chain's end).
  int32_t insertAt(const fasthash::KeyProbe& k, fasthash::Link link, const void* valueRef) noexcept;
  // What follows an insertion that made count exceed threshold: the bucket
  // array doubles (unless it has 2^30 buckets) and the cursor is reset.
  void grewPastThreshold() noexcept;

  FastTableRecord record_;
};

}  // namespace linemint
