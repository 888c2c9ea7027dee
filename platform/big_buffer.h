// BigBuffer: an owned, growable byte buffer for whole files.
//
// Its memory is an anonymous mapping advised for transparent huge pages, so a
// buffer of hundreds of megabytes is faulted in 2 MiB at a time instead of 4 KiB.
// At least kBigBufferSlack readable bytes follow the capacity: scanners that
// load 16 or 32 bytes at a time may read past the end of the data without
// leaving the mapping. Bytes never written read as zero.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linemint::platform {

inline constexpr std::size_t kBigBufferSlack = 64;

class BigBuffer {
 public:
  BigBuffer() noexcept = default;
  BigBuffer(BigBuffer&& other) noexcept;
  BigBuffer& operator=(BigBuffer&& other) noexcept;
  BigBuffer(const BigBuffer&) = delete;
  BigBuffer& operator=(const BigBuffer&) = delete;
  ~BigBuffer();

  // Makes room for at least `capacity` bytes, keeping the contents. Returns
  // false, with the buffer unchanged, when the memory cannot be had.
  bool reserve(std::size_t capacity) noexcept;

  // Sets the size. REQUIRES: n <= capacity().
  void resize(std::size_t n) noexcept { size_ = n; }

  // Appends n bytes, growing when needed. Returns false, unchanged, on failure.
  bool append(const void* bytes, std::size_t n) noexcept;

  // Releases the memory; the buffer becomes empty with no capacity.
  void reset() noexcept;

  uint8_t* data() noexcept { return data_; }
  const uint8_t* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }

 private:
  uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t mapped_ = 0;
};

}  // namespace linemint::platform
