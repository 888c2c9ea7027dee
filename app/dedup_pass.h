// One run of line de-duplication over a loaded input.
//
// The pass keeps the first occurrence of every distinct non-empty line in file
// order, drops empty lines and later repeats, and writes the kept lines, each
// with its line end, as the whole output. A line's key is its bytes up to the
// first NUL; keys compare byte for byte. The input is borrowed and left
// exactly as it was found: the fast variant only reads it; the fallback
// overwrites each line end's first byte with NUL while the line is looked up
// and puts it back at once.
//
// Two variants make the same decisions and differ only in their parts: fast
// (the 16-byte block search and FastHashTable, with keys hashed and prefetched
// a few lines ahead) and fallback (the plain search and SharedHashTable, one
// line at a time). FastHashTable stores no empty text key, so the fast variant
// keeps every line whose first byte is NUL; the fallback keeps only the first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/line_end.h"
#include "platform/big_buffer.h"
#include "platform/file_io.h"
#include "platform/file_reader.h"
#include "platform/heap.h"

namespace linemint {

class FastHashTable;
class SharedHashTable;

enum class PassVariant { fast, fallback };

// Where the kept lines go.
struct OutputTarget {
  std::string path;               // the file to replace (ignored for standard output)
  bool toStandardOutput = false;  // write to standard output instead of a file
  bool syncToDisk = true;         // fsync the file before it replaces the old one
};

// What one pass did. Counters are 64-bit: inputs may exceed 4 GiB.
struct DedupResult {
  uint64_t elapsedMs = 0;     // table creation through buffer release
  uint64_t linesRead = 0;     // every line end found, empty lines included
  uint64_t linesKept = 0;     // lines written
  uint64_t bytesWritten = 0;  // length of the output
  bool wroteOutput = false;   // false for an empty input (nothing is written)
  platform::IoError error;    // code 0 when the pass succeeded
};

// The status text: "耗时：" ms " ms 总行数：" read "  去重复剩余：" kept.
std::string statusText(const DedupResult& result);

// Runs the pass over inputBytes, which must be empty or end with the line end
// (loadInput makes it so). An empty input writes nothing and reports zeros.
// Otherwise the variant's table is created afresh (discarding what an earlier
// pass left in it) and the kept lines are written to `output` as they are
// found, through a 256 KiB buffer taken from privateHeap and released before
// the pass returns; a file is replaced only once the whole output is written.
// Failures (no private heap, no memory for the buffer, an output that cannot be
// created or written) come back in DedupResult::error with the counts of the
// scan; a failed write leaves an existing output file untouched.
DedupResult runDedupPass(platform::BigBuffer& inputBytes, const OutputTarget& output,
                         platform::HeapHandle privateHeap, PassVariant variant, FastHashTable& fastTable,
                         SharedHashTable& sharedTable, LineEnd lineEnd = LineEnd::crlf);

// The bytes read at a time by runDedupPassOver.
inline constexpr std::size_t kPassPieceBytes = std::size_t{1} << 20;

// The same pass over an input read from source in pieces of pieceBytes, for
// inputs of any size: every output byte, count and error the same as
// loadInput's reading and normalising followed by runDedupPass, but the input
// is never held whole. Each piece is cut after its last line end, and the rest
// is carried into the next; a line longer than a piece makes the piece grow
// to hold it. Memory: the table, the piece and the kept lines' buffer.
// A read that fails part-way is reported with the input's path, and the
// output is then left as it was. The elapsed time includes the reading.
DedupResult runDedupPassOver(platform::FileReader& source, const OutputTarget& output,
                             platform::HeapHandle privateHeap, PassVariant variant, FastHashTable& fastTable,
                             SharedHashTable& sharedTable, LineEnd lineEnd = LineEnd::crlf,
                             std::size_t pieceBytes = kPassPieceBytes);

}  // namespace linemint
