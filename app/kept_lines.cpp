#include "app/kept_lines.h"

namespace linemint {

void KeptLines::flush() noexcept {
  const auto n = static_cast<std::size_t>(cursor_ - begin_);
  if (n != 0 && writer_ != nullptr) writer_->append(begin_, n);
  handedOver_ += n;
  cursor_ = begin_;
}

void KeptLines::spill(const uint8_t* line, std::size_t n) noexcept {
  flush();
  if (n <= static_cast<std::size_t>(end_ - begin_)) {
    platform::simd::copySmall(cursor_, line, n);
    cursor_ += n;
    return;
  }
  if (writer_ != nullptr) writer_->append(line, n);
  handedOver_ += n;
}

}  // namespace linemint
