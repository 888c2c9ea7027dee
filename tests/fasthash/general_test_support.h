// Helpers for the tests of FastHashTable's retrieval, cursor, array and
// handled-value operations: caller variables of every kind, a counting value
// handler, and reading what the table hands out.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fasthash/fast_hash_table.h"
#include "platform/byte_buffer.h"
#include "test_support.h"

namespace linemint::test {

// Probes the processor and resolves the heap entry points before a suite runs,
// as start-up does.
class FastTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { realFeatures(); }
};

// A caller's variable for a key or value: 4 or 8 raw bytes, or a variable
// holding a pointer to a text or byte buffer (null when absent). Texts live in
// exact-size heap blocks so that a read past the NUL shows under ASan.
class Arg {
 public:
  template <typename T>
  static Arg of(T v) {
    static_assert(sizeof(T) <= 8);
    Arg a;
    std::memcpy(a.raw_, &v, sizeof v);
    return a;
  }
  static Arg text(std::optional<std::string_view> s) {
    Arg a;
    a.form_ = Form::kText;
    if (s) {
      a.textStorage_ = std::make_unique<char[]>(s->size() + 1);
      std::memcpy(a.textStorage_.get(), s->data(), s->size());
      a.textStorage_[s->size()] = '\0';
      a.text_ = a.textStorage_.get();
    }
    return a;
  }
  static Arg bytes(std::optional<std::string_view> s) {
    Arg a;
    a.form_ = Form::kBytes;
    if (s) {
      a.bufferStorage_ = platform::newByteBuffer(s->data(), static_cast<uint32_t>(s->size()));
      a.buffer_ = a.bufferStorage_.get();
    }
    return a;
  }
  // A key of the kind: kinds 3 and 4 take the number, 10 and 11 the bytes.
  static Arg key(int32_t keyKind, int64_t number, std::optional<std::string_view> s = std::nullopt) {
    switch (keyKind) {
      case KeyKind::kInt64: return of<int64_t>(number);
      case KeyKind::kText: return text(s);
      case KeyKind::kBytes: return bytes(s);
      default: return of<int32_t>(static_cast<int32_t>(number));
    }
  }

  const void* ref() const {
    switch (form_) {
      case Form::kText: return &text_;
      case Form::kBytes: return &buffer_;
      default: return raw_;
    }
  }

 private:
  enum class Form { kRaw, kText, kBytes };
  Form form_ = Form::kRaw;
  unsigned char raw_[8] = {};
  std::unique_ptr<char[]> textStorage_;
  const char* text_ = nullptr;
  platform::OwnedByteBuffer bufferStorage_;
  const ByteBuffer* buffer_ = nullptr;
};

// Contents of texts and byte buffers handed out; nullopt for null.
inline std::optional<std::string> contents(const char* text) {
  if (text == nullptr) return std::nullopt;
  return std::string(text);
}
inline std::optional<std::string> contents(const ByteBuffer* buffer) {
  if (buffer == nullptr) return std::nullopt;
  EXPECT_EQ(buffer->one, 1u);
  return std::string(reinterpret_cast<const char*>(buffer->bytes()), buffer->length);
}

// A value handler that keeps every handle it made alive until it is released,
// and counts misuse: releasing a handle twice or one it never made, or copying
// one that is not alive. A table that is correct leaves no handle alive once it
// and every caller copy are gone.
class CountingHandler : public ValueHandler {
 public:
  Handle newValue() noexcept override {
    ++newCalls;
    return make();
  }
  Handle copyValue(const Handle& handle) noexcept override {
    ++copyCalls;
    if (!isAlive(handle)) ++misuse;
    return make();
  }
  void releaseValue(Handle handle) noexcept override {
    ++releaseCalls;
    if (!isAlive(handle)) {
      ++misuse;
      return;
    }
    alive_[handle - kFirst] = false;
  }

  bool isAlive(Handle h) const { return h >= kFirst && h - kFirst < alive_.size() && alive_[h - kFirst]; }
  int aliveCount() const {
    int n = 0;
    for (bool a : alive_) n += a ? 1 : 0;
    return n;
  }

  int newCalls = 0;
  int copyCalls = 0;
  int releaseCalls = 0;
  int misuse = 0;

 private:
  static constexpr Handle kFirst = 1000;
  Handle make() {
    alive_.push_back(true);
    return kFirst + static_cast<Handle>(alive_.size() - 1);
  }
  std::vector<bool> alive_;
};

// The 32-bit keys the cursor delivers from where it stands to the end.
inline std::vector<int32_t> restOfWalk(FastHashTable& t) {
  std::vector<int32_t> keys;
  for (int32_t k = 0; t.nextKey(&k) == 1;) keys.push_back(k);
  return keys;
}

}  // namespace linemint::test
