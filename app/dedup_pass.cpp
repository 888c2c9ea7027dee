#include "app/dedup_pass.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>

#include "app/find_pattern.h"
#include "app/input_loader.h"
#include "app/kept_lines.h"
#include "app/line_end_blocks.h"
#include "fasthash/bulk_text.h"
#include "platform/file_writer.h"
#include "platform/simd.h"
#include "platform/tick.h"
#include "sharedhash/shared_hash_table.h"

namespace linemint {

namespace {

// The kept lines' buffer: small enough to stay in the second-level cache,
// large enough that a write call carries many lines.
constexpr std::size_t kKeptLinesBuffer = std::size_t{256} << 10;

struct Counts {
  uint64_t read = 0;
  uint64_t kept = 0;
};

// The fallback variant's loop, one line at a time. `find(start)` returns the 1-based position
// of the next line end at or after start, or -1; `isNew(key)` answers whether a
// non-empty line with that NUL-terminated key is seen for the first time (and
// remembers it).
template <typename Find, typename IsNew>
Counts scanLines(uint8_t* data, std::size_t endLength, KeptLines& out, Find find, IsNew isNew) {
  Counts c;
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
      out.add(line, static_cast<std::size_t>(end - line) + endLength);
      ++c.kept;
    }
    ++c.read;
    start = pos + static_cast<int64_t>(endLength);
    pos = find(start);
  }
  return c;
}

// Where a line's key ends: at the first NUL byte of the line, or at its line
// end. NUL bytes are rare in text, so instead of testing every line the
// buffer is searched ahead in windows with memchr and the next NUL found is
// kept. The fast loop never writes to the input, so every NUL found is one of
// the input's own.
class KeyEnds {
 public:
  KeyEnds(const uint8_t* data, std::size_t length) noexcept : searchedTo_(data), end_(data + length) {}

  // REQUIRES: lines asked in file order; [line, lineEnd) unchanged input.
  const uint8_t* of(const uint8_t* line, const uint8_t* lineEnd) noexcept {
    if (nul_ != nullptr && nul_ >= line) return nul_ < lineEnd ? nul_ : lineEnd;
    // No NUL lies in [line, searchedTo_).
    while (searchedTo_ < lineEnd) {
      const uint8_t* from = searchedTo_ > line ? searchedTo_ : line;
      std::size_t window = static_cast<std::size_t>(end_ - from);
      if (window > kWindow) window = kWindow;
      if (static_cast<std::size_t>(lineEnd - from) > window) window = static_cast<std::size_t>(lineEnd - from);
      const auto* found = static_cast<const uint8_t*>(std::memchr(from, 0, window));
      if (found != nullptr) {
        nul_ = found;
        searchedTo_ = found + 1;
        return found < lineEnd ? found : lineEnd;
      }
      searchedTo_ = from + window;
    }
    return lineEnd;
  }

 private:
  static constexpr std::size_t kWindow = 64 * 1024;
  const uint8_t* nul_ = nullptr;
  const uint8_t* searchedTo_;
  const uint8_t* const end_;
};

// The fast variant's loop: the same lines, keys and decisions as scanLines,
// pipelined so that memory latency overlaps. Lines go through three stages a
// batch at a time: the block search gives a batch its line ends
// (LineEndBlocks), and each line's key end is found, its key hashed and its
// bucket prefetched; one batch later its chain head is prefetched; one batch
// after that it is inserted and, when new, copied out. Lines are decided
// strictly in file order, so a repeat inside one batch is found as such. The
// table takes each key as the bytes before its end, so the input is only
// read. The line end is a constant here (CR LF or LF).
// REQUIRES: 15 readable bytes after the data (a BigBuffer has them).
template <bool kCrc, std::size_t kEndLength>
__attribute__((always_inline)) inline Counts scanLinesFastBody(const uint8_t* data, std::size_t length,
                                                              KeptLines& out, FastHashTable& table) {
  static_assert(kEndLength == 1 || kEndLength == 2);
  using Finder = LineEndBlocks<kEndLength>;
  // Lines a batch asks for; the search may give up to kSlack more.
  constexpr std::size_t kLines = 16;
  constexpr std::size_t kRoom = kLines + Finder::kSlack;
  // Layout: the batch's line count, where its first line starts, each line's
  // end offset, key length (UINT32_MAX: too long to store) and key hash.
  struct Batch {
    std::size_t count;
    const uint8_t* first;
    std::size_t ends[kRoom];
    uint32_t keyLength[kRoom];
    uint32_t hash[kRoom];
  };
  Batch batches[3];
  const int32_t zero = 0;
  Counts c;
  KeyEnds keyEnds(data, length);
  Finder lineEnds(data, length);
  const uint8_t* next = data;  // where the next batch's first line starts

  // Stage 2: the chain heads, whose bucket slots stage 1 asked for.
  auto prefetchHeads = [&](const Batch& b) {
    for (std::size_t i = 0; i < b.count; ++i) table.prefetchChainHead(b.hash[i]);
  };
  // Stage 3: the decisions, in order. An empty line is dropped; insert
  // answers 2 exactly when the key was already there; an empty key (a line
  // starting with NUL) is never stored, so its line is always kept.
  auto decide = [&](const Batch& b) {
    const uint8_t* line = b.first;
    for (std::size_t i = 0; i < b.count; ++i) {
      const uint8_t* end = data + b.ends[i];
      if (end != line &&
          table.insertHashedText(reinterpret_cast<const char*>(line), b.keyLength[i], b.hash[i], &zero) != 2) {
        out.add(line, static_cast<std::size_t>(end - line) + kEndLength);
        ++c.kept;
      }
      line = end + kEndLength;
    }
    c.read += b.count;
  };

  // Batch k goes through stage 1 in round k, stage 2 in round k + 1 and
  // stage 3 in round k + 2; `last` is the first batch that found no line.
  std::size_t last = SIZE_MAX;
  for (std::size_t k = 0;; ++k) {
    if (k < last) {
      // Stage 1: the next lines, their keys and hashes. Written out here, not
      // in a lambda, so that it is compiled for the loop's own target (the
      // CRC instruction).
      Batch& b = batches[k % 3];
      b.count = lineEnds.next(b.ends, kLines);
      b.first = next;
      if (b.count == 0) last = k;
      const uint8_t* line = next;
      for (std::size_t i = 0; i < b.count; ++i) {
        const uint8_t* end = data + b.ends[i];
        const auto keyLength = static_cast<std::size_t>(keyEnds.of(line, end) - line);
        uint32_t hash = 0;
        if (keyLength <= FastHashTable::kMaxStoredLength) [[likely]] {
          b.keyLength[i] = static_cast<uint32_t>(keyLength);
          if constexpr (kCrc) {
            hash = fasthash::crcOfKnownLength(line, b.keyLength[i], data);
          } else {
            hash = fasthash::sum31OfKnownLength(line, b.keyLength[i]);
          }
        } else {
          // Too long for the table, which refuses it, so the line is kept.
          // The length must not wrap to 32 bits: a 4 GiB + 5 byte key would
          // pass for its first 5 bytes and could drop a different line.
          b.keyLength[i] = UINT32_MAX;
        }
        b.hash[i] = hash;
        table.prefetchBucket(hash);
        line = end + kEndLength;
      }
      next = line;
    }
    if (k >= 1 && k - 1 < last) prefetchHeads(batches[(k - 1) % 3]);
    if (k >= 2) {
      if (k - 2 >= last) break;
      decide(batches[(k - 2) % 3]);
    }
  }
  return c;
}

// Copies of the loop for each hash family and line end: the CRC ones may use
// the CRC32 instruction, the others run on any x86-64 processor. The table's
// own family picks one.
template <std::size_t kEndLength>
LINEMINT_TARGET_SSE42 Counts scanLinesFastCrc(const uint8_t* data, std::size_t length, KeptLines& out,
                                              FastHashTable& table) {
  return scanLinesFastBody<true, kEndLength>(data, length, out, table);
}

template <std::size_t kEndLength>
Counts scanLinesFastSum(const uint8_t* data, std::size_t length, KeptLines& out, FastHashTable& table) {
  return scanLinesFastBody<false, kEndLength>(data, length, out, table);
}

Counts scanLinesFast(const uint8_t* data, std::size_t length, LineEnd lineEnd, KeptLines& out,
                     FastHashTable& table) {
  const bool crc = table.record().useCrc32 != 0;
  if (lineEnd == LineEnd::crlf) {
    return crc ? scanLinesFastCrc<2>(data, length, out, table) : scanLinesFastSum<2>(data, length, out, table);
  }
  return crc ? scanLinesFastCrc<1>(data, length, out, table) : scanLinesFastSum<1>(data, length, out, table);
}

}  // namespace

std::string statusText(const DedupResult& result) {
  char ms[48];
  std::snprintf(ms, sizeof ms, "%.13g", static_cast<double>(result.elapsedMs));
  return std::string("耗时：") + ms + " ms 总行数：" + std::to_string(result.linesRead) +
         "  去重复剩余：" + std::to_string(result.linesKept);
}

namespace {

// One pass from its start to its result, over input that arrives as one or
// more runs of whole lines: the table created afresh, the kept lines' buffer
// and the output opened at start; every run scanned with the same table; the
// output committed (or abandoned) at the end.
class PassRun {
 public:
  PassRun(const OutputTarget& output, platform::HeapHandle privateHeap, PassVariant variant,
          FastHashTable& fastTable, SharedHashTable& sharedTable, LineEnd lineEnd) noexcept
      : output_(output),
        privateHeap_(privateHeap),
        variant_(variant),
        fastTable_(fastTable),
        sharedTable_(sharedTable),
        lineEnd_(lineEnd) {}
  PassRun(const PassRun&) = delete;
  PassRun& operator=(const PassRun&) = delete;
  ~PassRun() {
    if (buffer_ != nullptr) platform::heapFree(privateHeap_, 0, buffer_);
  }

  // Creates the table and opens the output. False when the pass cannot run at
  // all (no private heap, no memory for the buffer); the error is in result().
  // When only the output cannot be opened the pass still runs, without a
  // writer, so that the counts are there; the error stays.
  bool start() noexcept {
    const std::string errorPath = output_.toStandardOutput ? std::string("-") : output_.path;
    if (privateHeap_ == nullptr) {
      result_.error = {ENOMEM, errorPath};
      return false;
    }
    if (variant_ == PassVariant::fast) {
      fastTable_.create(10, 3);
    } else {
      sharedTable_.create(10, 3);
    }
    buffer_ = static_cast<uint8_t*>(platform::heapAllocate(privateHeap_, 0, kKeptLinesBuffer));
    if (buffer_ == nullptr) {
      result_.error = {ENOMEM, errorPath};
      return false;
    }
    if (output_.toStandardOutput) {
      writer_.openStandardOutput();
    } else {
      result_.error = writer_.open(output_.path);
    }
    kept_.emplace(buffer_, kKeptLinesBuffer, writer_.isOpen() ? &writer_ : nullptr);
    return true;
  }

  // Scans length bytes of whole lines (ending with the line end).
  // REQUIRES: start() returned true; data writable, with 15 readable bytes
  // after it.
  void scan(uint8_t* data, std::size_t length) noexcept {
    Counts c;
    if (variant_ == PassVariant::fast) {
      // insert answers 2 exactly when the key was already there, so one chain
      // walk decides; an empty key (a line starting with NUL) is never stored
      // and its line always kept.
      c = scanLinesFast(data, length, lineEnd_, *kept_, fastTable_);
    } else {
      const uint8_t* pattern = lineEndBytes(lineEnd_);
      const std::size_t m = lineEndLength(lineEnd_);
      c = scanLines(
          data, m, *kept_,
          [&](int64_t start) { return findPatternPlain(data, length, pattern, m, start); },
          [&](const char* key) {
            if (sharedTable_.containsKey(KeyWord::text(key))) return false;
            sharedTable_.insert(KeyWord::text(key), KeyWord::integer(0));
            return true;
          });
    }
    result_.linesRead += c.read;
    result_.linesKept += c.kept;
  }

  // Ends the pass. A failed read (readError) abandons the output; otherwise
  // the output is committed. Returns the result without its elapsed time.
  DedupResult finish(const platform::IoError& readError) noexcept {
    if (kept_) {
      kept_->flush();
      result_.bytesWritten = kept_->bytes();
    }
    if (readError.failed()) {
      writer_.abandon();
      result_.error = readError;
    } else if (writer_.isOpen()) {
      result_.error = writer_.commit(output_.syncToDisk);
    }
    result_.wroteOutput = kept_.has_value() && !result_.error.failed();
    return result_;
  }

  DedupResult result() const { return result_; }

 private:
  const OutputTarget& output_;
  const platform::HeapHandle privateHeap_;
  const PassVariant variant_;
  FastHashTable& fastTable_;
  SharedHashTable& sharedTable_;
  const LineEnd lineEnd_;
  uint8_t* buffer_ = nullptr;
  platform::FileWriter writer_;
  std::optional<KeptLines> kept_;
  DedupResult result_;
};

// Where the last line end in [data, data + n) ends, or 0 when there is none.
std::size_t endOfLastLine(const uint8_t* data, std::size_t n, LineEnd lineEnd) noexcept {
  if (lineEnd == LineEnd::lf) {
    const void* lf = memrchr(data, '\n', n);
    return lf == nullptr ? 0 : static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - data) + 1;
  }
  // CR LF: the last LF that follows a CR. Every CR LF in the input ends a
  // line (two of them cannot overlap), so cutting after one splits the lines
  // exactly where a scan of the whole input would.
  while (n >= 2) {
    const void* lf = memrchr(data + 1, '\n', n - 1);
    if (lf == nullptr) return 0;
    const auto at = static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - data);
    if (data[at - 1] == '\r') return at + 1;
    n = at;
  }
  return 0;
}

}  // namespace

DedupResult runDedupPass(platform::BigBuffer& inputBytes, const OutputTarget& output,
                         platform::HeapHandle privateHeap, PassVariant variant, FastHashTable& fastTable,
                         SharedHashTable& sharedTable, LineEnd lineEnd) {
  const uint64_t t0 = platform::tickMilliseconds();
  DedupResult r;
  if (inputBytes.size() != 0) {
    PassRun run(output, privateHeap, variant, fastTable, sharedTable, lineEnd);
    if (run.start()) {
      run.scan(inputBytes.data(), inputBytes.size());
      r = run.finish({});
    } else {
      r = run.result();
    }
  }
  r.elapsedMs = platform::tickMilliseconds() - t0;
  return r;
}

DedupResult runDedupPassOver(platform::FileReader& source, const OutputTarget& output,
                             platform::HeapHandle privateHeap, PassVariant variant, FastHashTable& fastTable,
                             SharedHashTable& sharedTable, LineEnd lineEnd, std::size_t pieceBytes) {
  const uint64_t t0 = platform::tickMilliseconds();
  const std::size_t m = lineEndLength(lineEnd);
  if (pieceBytes < m) pieceBytes = m;
  DedupResult r;
  platform::BigBuffer piece;
  // m spare bytes, so that the line end appended to a last line always fits.
  if (!piece.reserve(pieceBytes + m)) {
    r.error = {ENOMEM, source.path()};
    r.elapsedMs = platform::tickMilliseconds() - t0;
    return r;
  }
  PassRun run(output, privateHeap, variant, fastTable, sharedTable, lineEnd);
  bool started = false;
  platform::IoError readError;
  std::size_t limit = pieceBytes;  // bytes the piece holds before its spare
  for (;;) {
    std::size_t got = 0;
    readError = source.read(piece.data() + piece.size(), limit - piece.size(), &got);
    if (readError.failed()) break;
    piece.resize(piece.size() + got);
    const bool atEnd = piece.size() < limit;
    if (!started) {
      // The same empty inputs as loading: nothing is created or written.
      if (atEnd && countsAsEmpty(piece.size(), lineEnd)) break;
      if (!run.start()) {
        r = run.result();
        r.elapsedMs = platform::tickMilliseconds() - t0;
        return r;
      }
      started = true;
    }
    if (atEnd) {
      // A last line without its line end gets one, as loading gives it (the
      // piece keeps m spare bytes for it, so this cannot fail).
      appendMissingLineEnd(piece, lineEnd);
      if (piece.size() != 0) run.scan(piece.data(), piece.size());
      break;
    }
    const std::size_t whole = endOfLastLine(piece.data(), piece.size(), lineEnd);
    if (whole == 0) {
      // One line fills the piece: make room for more of it.
      if (limit > SIZE_MAX / 2 - m || !piece.reserve(limit * 2 + m)) {
        readError = {ENOMEM, source.path()};
        break;
      }
      limit *= 2;
      continue;
    }
    run.scan(piece.data(), whole);
    std::memmove(piece.data(), piece.data() + whole, piece.size() - whole);
    piece.resize(piece.size() - whole);
  }
  if (started) r = run.finish(readError);
  else r.error = readError;
  r.elapsedMs = platform::tickMilliseconds() - t0;
  return r;
}

}  // namespace linemint
