// Handled values: opaque 32-bit handles whose making, copying and release a
// table with value kind 99 leaves to a caller-supplied ValueHandler.
#pragma once

#include <cstdint>
#include <utility>

namespace linemint {

// A handle; 0 means "no value". Only the handler interprets it.
using Handle = uint32_t;

// Makes, copies and releases the handles of a kind-99 table. The caller owns
// the handler; a table keeps a pointer to it and never destroys it. The
// operations run synchronously inside the table operation that needs them and
// must not call back into that table.
class ValueHandler {
 public:
  virtual ~ValueHandler() = default;
  // A new empty handle, handed out where a stored handle is 0.
  virtual Handle newValue() noexcept = 0;
  // A new handle that copies the one held in `handle`.
  virtual Handle copyValue(const Handle& handle) noexcept = 0;
  // Ends a handle; it is not used again.
  virtual void releaseValue(Handle handle) noexcept = 0;
};

// A handle copy that belongs to the caller: releasing (destruction, reset or
// assigning another copy) hands a non-zero handle back to its handler, so a
// table that delivers a new copy into a HandledValue variable releases the
// copy it held by move-assignment.
class HandledValue {
 public:
  HandledValue() noexcept = default;
  // Takes ownership of `handle`, to be released through `handler`.
  HandledValue(Handle handle, ValueHandler* handler) noexcept : handle_(handle), handler_(handler) {}
  HandledValue(HandledValue&& other) noexcept
      : handle_(std::exchange(other.handle_, 0)), handler_(other.handler_) {}
  HandledValue& operator=(HandledValue&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, 0);
      handler_ = other.handler_;
    }
    return *this;
  }
  HandledValue(const HandledValue&) = delete;
  HandledValue& operator=(const HandledValue&) = delete;
  ~HandledValue() { reset(); }

  Handle value() const noexcept { return handle_; }
  ValueHandler* handler() const noexcept { return handler_; }

  // Releases a non-zero handle and leaves 0.
  void reset() noexcept {
    if (handle_ != 0 && handler_ != nullptr) handler_->releaseValue(handle_);
    handle_ = 0;
  }
  // Gives the handle up without releasing it.
  Handle release() noexcept { return std::exchange(handle_, 0); }

 private:
  Handle handle_ = 0;
  ValueHandler* handler_ = nullptr;
};

}  // namespace linemint
