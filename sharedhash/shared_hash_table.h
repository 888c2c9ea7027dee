// SharedHashTable: a handle to a chained hash table whose whole state lives in
// a reference-counted SharedTableState. Copies of a handle share one table:
// an insertion through one is seen through all, and the entries are freed when
// the last handle lets go.
//
// Keys and values are typed by kind codes fixed at creation: 3 (32-bit
// integer, held in the node), 10 (NUL-terminated text) and 11 (byte string,
// platform::ByteBuffer). The table stores its own copy of every text and block
// it is given; the caller keeps what it passed. Words the table hands back
// (get, keys, values, keysWithValue, forEach) are borrowed references to those
// copies.
//
// Enumeration order, shared by keys, values, keysWithValue, containsValue,
// forEach and the byte image: buckets from first to last, each chain from its
// head (newest first until a growth relinks it).
//
// Memory: the state, the record, the bucket array, the nodes and the copies
// all come zero-filled from the process heap. When memory runs out nothing is
// half-done: a failed create or fromBytes leaves the handle as it was and a
// failed insert leaves the entries as they were.
//
// Threads: only the reference count is atomic, so handles to one table may be
// copied and dropped on different threads; every other call on a shared table
// must be serialised by the callers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/byte_buffer.h"
#include "sharedhash/key_word.h"
#include "sharedhash/key_word_array.h"
#include "sharedhash/shared_table_record.h"
#include "sharedhash/shared_table_state.h"

namespace linemint {

// A routine of the caller's that forEach calls with each entry's key word,
// value word (both borrowed) and the caller's userData; a nonzero result stops
// the walk. It must not throw.
using EntryVisitor = int32_t (*)(KeyWord key, KeyWord value, int32_t userData);

class SharedHashTable {
 public:
  inline static constexpr int32_t kDefaultBucketCount = 11;
  inline static constexpr float kDefaultLoadFactor = 0.75f;

  // A handle that is not created.
  SharedHashTable() noexcept = default;

  // Copying makes a second handle to the same table (as copy() does).
  SharedHashTable(const SharedHashTable& other) noexcept;
  SharedHashTable& operator=(const SharedHashTable& other) noexcept;
  // Moving hands the reference over; `other` is left not created.
  SharedHashTable(SharedHashTable&& other) noexcept;
  SharedHashTable& operator=(SharedHashTable&& other) noexcept;

  // Drops this handle's reference (as destroy does).
  ~SharedHashTable();

  // Drops the handle's reference; the handle is not created afterwards. The
  // C++ object itself ends with its scope, as every object does.
  void destroy() noexcept;

  // A new handle to the same table (taking a reference), or a not-created
  // handle when this one is not created.
  SharedHashTable copy() const noexcept;

  // The state's own reference-counting operations, reached through the handle.
  //
  // query stores the state (null when not created) in *out and returns 0; it
  // takes no reference.
  int32_t query(const void* interfaceId, SharedTableState** out) const noexcept;
  // Takes one more reference on the state for a caller that keeps the raw
  // state from query; it gives that reference back with state->release().
  // Returns the new count, or 0 when not created.
  int32_t addReference() noexcept;
  // Gives up this handle's own reference, which leaves the handle not created
  // (it never keeps pointing at a state it no longer holds). Returns the new
  // count (0 when the table was freed), or 0 when not created.
  int32_t release() noexcept;

  // Drops the handle's reference; the handle is not created afterwards.
  void reset() noexcept;

  // Makes the handle refer to a new, empty table. bucketCount defaults to 11
  // and loadFactor to 0.75. Returns false, with the handle and its old table
  // untouched, when keyKind or valueKind is not 3, 10 or 11, bucketCount is
  // negative, loadFactor is not above 1e-7 (NaN included), or memory runs out.
  // A bucketCount of 0 makes a table of 1 bucket, so that a bucket index can
  // always be formed. On success the old table loses only this handle's
  // reference: other handles to it keep it, entries and all.
  bool create(int32_t keyKind, int32_t valueKind, std::optional<int32_t> bucketCount = std::nullopt,
              std::optional<float> loadFactor = std::nullopt) noexcept;

  // Makes the handle refer to a new table built from a SharedTableImage (see
  // shared_table_image.h), as create does: other handles to the old table keep
  // it. Returns false, with the handle and its old table untouched, when the
  // image is refused (too short, wrong tag or kinds, negative entry count, a
  // slot or item outside the image) or memory runs out. Never reads outside
  // the given bytes. A null block counts as empty and is refused.
  bool fromBytes(const platform::ByteBuffer* image) noexcept;
  bool fromBytes(std::span<const uint8_t> image) noexcept;

  // True when the handle refers to a table.
  bool isCreated() const noexcept { return state_ != nullptr; }

  // The number of entries, or 0 when not created.
  int32_t count() const noexcept;

  // Stores key -> value, copying texts and blocks. Returns 0 when a new entry
  // was added, 1 when the key was there and its value was replaced (the old
  // stored value is freed), -1 when the handle is not created or a forEach of
  // this table is in progress, -2 when memory ran out (the entries are exactly
  // as before in both failure cases). A table that has reached its
  // threshold grows to 2n + 1 buckets before taking a new key.
  // `value` may be a word this table handed out.
  int32_t insert(KeyWord key, KeyWord value) noexcept;

  // The stored value of key: the integer for value kind 3, for kinds 10 and 11
  // a borrowed reference to the table's copy, valid until that entry's value is
  // replaced or removed or the table is freed. The zero word when the key is
  // absent or the handle is not created (ask containsKey to tell those from a
  // stored 0 or null).
  KeyWord get(KeyWord key) const noexcept;

  // True when some entry's stored value equals `value` by the value kind (two
  // nulls are equal). Walks every entry: values are not indexed. False when
  // not created.
  bool containsValue(KeyWord value) const noexcept;

  // True when an entry with an equal key exists; false when not created.
  bool containsKey(KeyWord key) const noexcept;

  // Removes the entry of key and frees its copies. Returns false when there
  // was none, the handle is not created, or a forEach of this table is in
  // progress.
  bool remove(KeyWord key) noexcept;

  // Replaces `out` with an array of every key in enumeration order and
  // returns their number (count()). The words are borrowed references to the
  // table's copies. Not created: returns 0 and leaves `out` as it was. When
  // the array cannot be allocated: returns -1 and leaves `out` as it was.
  int32_t keys(KeyWordArray& out) const noexcept;

  // Replaces `out` with the keys, in enumeration order, of every entry whose
  // value equals `value` by the value kind, and returns their number (0 with
  // an empty array when none). Not created or out of memory: as for keys.
  int32_t keysWithValue(KeyWord value, KeyWordArray& out) const noexcept;

  // As keys, with every value.
  int32_t values(KeyWordArray& out) const noexcept;

  // Removes every entry. The bucket count and threshold stay as they are: the
  // table never shrinks. Does nothing when not created or while a forEach of
  // this table is in progress.
  void removeAll() noexcept;

  // The table's SharedTableImage, owned by the caller; an empty byte string
  // (length 0) when not created. Null when memory runs out or the image would
  // pass 2^31 - 1 bytes.
  platform::OwnedByteBuffer toBytes() const noexcept;

  // Calls visitor(key, value, userData) for each entry in enumeration order
  // until it returns nonzero. Nothing is called when not created or visitor is
  // null. While the walk runs, the table may be read (nested walks included)
  // but not changed: insert, remove and removeAll through any handle to it are
  // refused. The walk holds its own reference, so a visitor may reset,
  // re-create or destroy handles, this one included, without freeing the table
  // under the walk.
  void forEach(EntryVisitor visitor, int32_t userData = 0) const noexcept;

  // True when the table's invariants hold (see shared_table_record.h) and its
  // reference count is positive; true for a handle that is not created. For
  // tests and debugging: linear in the table's size.
  bool validate() const noexcept;

  // The table's record, for inspection by tests and diagnostics; null when not
  // created. Valid while this handle keeps referring to the same state.
  const SharedTableRecord* record() const noexcept { return state_ == nullptr ? nullptr : state_->record(); }

 private:
  // Makes the handle refer to a new state owning `record` and drops its old
  // reference. Returns false, freeing `record` and changing nothing, when the
  // state cannot be allocated.
  bool adoptRecord(SharedTableRecord* record) noexcept;

  // The record when it may be changed: null when not created or walked.
  SharedTableRecord* mutableRecord() const noexcept;

  SharedTableState* state_ = nullptr;
};

}  // namespace linemint
