#include "platform/big_buffer.h"

#include <sys/mman.h>

#include <cstring>
#include <utility>

namespace linemint::platform {

namespace {
constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t mappingFor(std::size_t capacity) noexcept {
  const std::size_t bytes = capacity + kBigBufferSlack;
  const std::size_t unit = bytes >= kHugePage ? kHugePage : kPage;
  return (bytes + unit - 1) / unit * unit;
}
}  // namespace

BigBuffer::BigBuffer(BigBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

BigBuffer& BigBuffer::operator=(BigBuffer&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

BigBuffer::~BigBuffer() { reset(); }

void BigBuffer::reset() noexcept {
  if (data_ != nullptr) munmap(data_, mapped_);
  data_ = nullptr;
  size_ = capacity_ = mapped_ = 0;
}

bool BigBuffer::reserve(std::size_t capacity) noexcept {
  if (capacity <= capacity_) return true;
  if (capacity > (std::size_t{1} << 46)) return false;
  const std::size_t bytes = mappingFor(capacity);
  void* p = nullptr;
  if (data_ == nullptr) {
    p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  } else {
    // mremap moves the pages themselves; nothing is copied.
    p = mremap(data_, mapped_, bytes, MREMAP_MAYMOVE);
  }
  if (p == MAP_FAILED) return false;
  if (bytes >= kHugePage) madvise(p, bytes, MADV_HUGEPAGE);
  data_ = static_cast<uint8_t*>(p);
  mapped_ = bytes;
  capacity_ = bytes - kBigBufferSlack;
  return true;
}

bool BigBuffer::append(const void* bytes, std::size_t n) noexcept {
  if (n > capacity_ - size_) {
    std::size_t want = capacity_ * 2;
    if (want < size_ + n) want = size_ + n;
    if (!reserve(want)) return false;
  }
  if (n != 0) std::memcpy(data_ + size_, bytes, n);
  size_ += n;
  return true;
}

}  // namespace linemint::platform
