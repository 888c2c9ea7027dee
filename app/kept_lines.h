// Where the pass puts the lines it keeps: a small buffer that is handed to a
// FileWriter whenever the next line would not fit, so the output never needs
// memory of its own size (only the buffer, which stays in the cache). A line
// longer than the buffer is written straight from where it lies.
//
// Without a writer, or once the writer has failed, lines are counted and
// dropped, so a pass whose output cannot be written still reads every line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file_writer.h"
#include "platform/simd.h"

namespace linemint {

class KeptLines {
 public:
  // REQUIRES: capacity >= 1; buffer holds capacity writable bytes and outlives
  // this object; writer, when given, is open.
  KeptLines(uint8_t* buffer, std::size_t capacity, platform::FileWriter* writer) noexcept
      : begin_(buffer), cursor_(buffer), end_(buffer + capacity), writer_(writer) {}

  // Appends the n bytes at line (a kept line with its line end).
  void add(const uint8_t* line, std::size_t n) noexcept {
    if (n > static_cast<std::size_t>(end_ - cursor_)) {
      spill(line, n);
      return;
    }
    platform::simd::copySmall(cursor_, line, n);
    cursor_ += n;
  }

  // Hands the buffered bytes to the writer. Call once at the end, before the
  // writer's commit.
  void flush() noexcept;

  // Every byte added so far, written or not.
  uint64_t bytes() const noexcept { return handedOver_ + static_cast<uint64_t>(cursor_ - begin_); }

 private:
  // add's slow path: flushes, then buffers the line or writes it directly.
  void spill(const uint8_t* line, std::size_t n) noexcept;

  // Layout: the buffer's start, its fill point and its end; the writer (null:
  // drop); bytes already handed over (or dropped).
  uint8_t* const begin_;
  uint8_t* cursor_;
  uint8_t* const end_;
  platform::FileWriter* const writer_;
  uint64_t handedOver_ = 0;
};

}  // namespace linemint
