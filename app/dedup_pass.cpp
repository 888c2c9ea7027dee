#include "app/dedup_pass.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/find_pattern.h"
#include "fasthash/bulk_text.h"
#include "platform/simd.h"
#include "platform/tick.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint {

namespace {

struct Counts {
  uint64_t read = 0;
  uint64_t kept = 0;
  uint8_t* cursor = nullptr;
};

// The fallback variant's loop, one line at a time. `find(start)` returns the 1-based position
// of the next line end at or after start, or -1; `isNew(key)` answers whether a
// non-empty line with that NUL-terminated key is seen for the first time (and
// remembers it).
template <typename Find, typename IsNew>
Counts scanLines(uint8_t* data, std::size_t endLength, uint8_t* out, Find find, IsNew isNew) {
  Counts c;
  c.cursor = out;
  int64_t start = 1;
  int64_t pos = find(start);
  while (pos > 0) {
    uint8_t* line = data + (start - 1);
    uint8_t* end = data + (pos - 1);
    const uint8_t saved = *end;
    *end = 0;
    const bool keep = end != line && isNew(reinterpret_cast<const char*>(line));
    *end = saved;
    if (keep) {
      const std::size_t n = static_cast<std::size_t>(end - line) + endLength;
      std::memcpy(c.cursor, line, n);
      c.cursor += n;
      ++c.kept;
    }
    ++c.read;
    start = pos + static_cast<int64_t>(endLength);
    pos = find(start);
  }
  return c;
}

// The hash and length of a line's key: its bytes up to the first NUL, which is
// at `end` at the latest (the NUL written over the line end). The same value
// as the table's own text hash in the family kCrc names: CRC-32C fed 8 bytes
// at a time equals CRC-32C fed byte by byte. The NUL search loads 16 bytes at
// a time and may read up to 15 bytes past `end`, which the input buffer's
// slack allows.
template <bool kCrc>
__attribute__((always_inline)) inline uint32_t hashLineKey(const uint8_t* line, uint32_t* length) noexcept {
  const uint8_t* p = line;
  uint32_t zeros;
  while ((zeros = platform::simd::matchMask16(p, 0)) == 0) p += 16;
  const auto n = static_cast<std::size_t>(p - line) + static_cast<std::size_t>(platform::simd::lowestSetBit(zeros));
  *length = static_cast<uint32_t>(n);
  uint32_t h = 0;
  const uint8_t* q = line;
  const uint8_t* const stop = line + n;
  if constexpr (kCrc) {
    for (; stop - q >= 8; q += 8) {
      uint64_t word;
      std::memcpy(&word, q, 8);
      h = platform::simd::crc32cQword(h, word);
    }
    for (; q < stop; ++q) h = platform::simd::crc32cByte(h, *q);
  } else {
    for (; q < stop; ++q) h = h * 31u + *q;
  }
  return h;
}

// The fast variant's loop: the same lines, keys and decisions as scanLines,
// pipelined so that memory latency overlaps. Each line end found is turned
// into a NUL at once, the key hashed and its bucket prefetched; kHalf lines
// later its chain head is prefetched; kHalf lines after that it is inserted,
// its line end restored and the line copied out. Lines are decided strictly in
// file order, so a repeat inside one batch is found as such.
// REQUIRES: 15 readable bytes after the data (a BigBuffer has them).
template <bool kCrc>
__attribute__((always_inline)) inline Counts scanLinesFastBody(uint8_t* data, std::size_t length,
                                                              const uint8_t* pattern, std::size_t endLength,
                                                              uint8_t* out, FastHashTable& table) {
  constexpr std::size_t kBatch = 16;
  constexpr std::size_t kHalf = kBatch / 2;
  struct Pending {
    uint8_t* line;
    uint8_t* end;
    uint32_t keyLength;
    uint32_t hash;
  };
  Pending ring[kBatch];
  const int32_t zero = 0;
  const uint8_t endByte = pattern[0];
  Counts c;
  c.cursor = out;
  std::size_t pushed = 0;
  std::size_t done = 0;
  int64_t start = 1;
  int64_t pos = findPatternBlocks(data, length, pattern, endLength, start);

  auto finish = [&](Pending& e) {
    bool keep = false;
    if (e.end != e.line) {
      keep = table.insertHashedText(reinterpret_cast<const char*>(e.line), e.keyLength, e.hash, &zero) != 2;
    }
    *e.end = endByte;
    if (keep) {
      const std::size_t n = static_cast<std::size_t>(e.end - e.line) + endLength;
      std::memcpy(c.cursor, e.line, n);
      c.cursor += n;
      ++c.kept;
    }
  };

  while (pos > 0) {
    Pending& e = ring[pushed % kBatch];
    e.line = data + (start - 1);
    e.end = data + (pos - 1);
    *e.end = 0;
    if (e.end != e.line) {
      e.hash = hashLineKey<kCrc>(e.line, &e.keyLength);
      table.prefetchBucket(e.hash);
    }
    ++pushed;
    if (pushed > kHalf) {
      const Pending& mid = ring[(pushed - 1 - kHalf) % kBatch];
      if (mid.end != mid.line) table.prefetchChainHead(mid.hash);
    }
    if (pushed - done == kBatch) finish(ring[done++ % kBatch]);
    start = pos + static_cast<int64_t>(endLength);
    pos = findPatternBlocks(data, length, pattern, endLength, start);
  }
  while (done < pushed) finish(ring[done++ % kBatch]);
  c.read = pushed;
  return c;
}

// Two copies of the loop: one may use the CRC32 instruction, the other must run
// on any x86-64 processor. The table's own family picks one.
LINEMINT_TARGET_SSE42 Counts scanLinesFastCrc(uint8_t* data, std::size_t length, const uint8_t* pattern,
                                              std::size_t endLength, uint8_t* out, FastHashTable& table) {
  return scanLinesFastBody<true>(data, length, pattern, endLength, out, table);
}

Counts scanLinesFastSum(uint8_t* data, std::size_t length, const uint8_t* pattern, std::size_t endLength,
                        uint8_t* out, FastHashTable& table) {
  return scanLinesFastBody<false>(data, length, pattern, endLength, out, table);
}

Counts scanLinesFast(uint8_t* data, std::size_t length, const uint8_t* pattern, std::size_t endLength,
                     uint8_t* out, FastHashTable& table) {
  return table.record().useCrc32 != 0 ? scanLinesFastCrc(data, length, pattern, endLength, out, table)
                                      : scanLinesFastSum(data, length, pattern, endLength, out, table);
}

}  // namespace

std::string statusText(const DedupResult& result) {
  char ms[48];
  std::snprintf(ms, sizeof ms, "%.13g", static_cast<double>(result.elapsedMs));
  return std::string("耗时：") + ms + " ms 总行数：" + std::to_string(result.linesRead) +
         "  去重复剩余：" + std::to_string(result.linesKept);
}

DedupResult runDedupPass(platform::BigBuffer& inputBytes, const OutputTarget& output,
                         platform::HeapHandle privateHeap, PassVariant variant, FastHashTable& fastTable,
                         SharedHashTable& sharedTable, LineEnd lineEnd) {
  DedupResult r;
  const uint64_t t0 = platform::tickMilliseconds();
  const std::size_t length = inputBytes.size();
  if (length == 0) {
    r.elapsedMs = platform::tickMilliseconds() - t0;
    return r;
  }
  const std::string& errorPath = output.toStandardOutput ? std::string("-") : output.path;
  if (privateHeap == nullptr) {
    r.error = {ENOMEM, errorPath};
    r.elapsedMs = platform::tickMilliseconds() - t0;
    return r;
  }

  const uint8_t* pattern = lineEndBytes(lineEnd);
  const std::size_t m = lineEndLength(lineEnd);
  uint8_t* data = inputBytes.data();

  if (variant == PassVariant::fast) {
    fastTable.create(10, 3);
  } else {
    sharedTable.create(10, 3);
  }
  auto* out = static_cast<uint8_t*>(platform::heapAllocate(privateHeap, platform::kHeapZeroMemory, length));
  if (out == nullptr) {
    r.error = {ENOMEM, errorPath};
    r.elapsedMs = platform::tickMilliseconds() - t0;
    return r;
  }

  Counts c;
  if (variant == PassVariant::fast) {
    // insert answers 2 exactly when the key was already there, so one chain
    // walk decides; an empty key (a line starting with NUL) is never stored
    // and its line always kept.
    c = scanLinesFast(data, length, pattern, m, out, fastTable);
  } else {
    c = scanLines(
        data, m, out,
        [&](int64_t start) { return findPatternPlain(data, length, pattern, m, start); },
        [&](const char* key) {
          if (sharedTable.containsKey(KeyWord::text(key))) return false;
          sharedTable.insert(KeyWord::text(key), KeyWord::integer(0));
          return true;
        });
  }

  r.linesRead = c.read;
  r.linesKept = c.kept;
  r.bytesWritten = static_cast<uint64_t>(c.cursor - out);
  r.error = output.toStandardOutput ? platform::writeStandardOutput(out, r.bytesWritten)
                                    : platform::writeWholeFile(output.path, out, r.bytesWritten, output.syncToDisk);
  r.wroteOutput = !r.error.failed();
  platform::heapFree(privateHeap, 0, out);
  r.elapsedMs = platform::tickMilliseconds() - t0;
  return r;
}

}  // namespace linemint
