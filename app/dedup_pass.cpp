#include "app/dedup_pass.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "app/find_pattern.h"
#include "fasthash/fast_hash_table.h"
#include "platform/tick.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint {

namespace {

struct Counts {
  uint64_t read = 0;
  uint64_t kept = 0;
  uint8_t* cursor = nullptr;
};

// The loop common to both variants. `find(start)` returns the 1-based position
// of the next line end at or after start, or -1; `isNew(key)` answers whether a
// non-empty line with that NUL-terminated key is seen for the first time (and
// remembers it).
template <typename Find, typename IsNew>
Counts scanLines(uint8_t* data, std::size_t length, std::size_t endLength, uint8_t* out, Find find,
                 IsNew isNew) {
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
  (void)length;
  return c;
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
    const int32_t zero = 0;
    c = scanLines(
        data, length, m, out,
        [&](int64_t start) { return findPatternBlocks(data, length, pattern, m, start); },
        [&](const char* key) { return fastTable.insert(&key, &zero) != 2; });
  } else {
    c = scanLines(
        data, length, m, out,
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
