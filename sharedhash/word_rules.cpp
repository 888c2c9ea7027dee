#include "sharedhash/word_rules.h"

#include <cstring>

namespace linemint {
namespace {

uint32_t hashText(const char* text) noexcept {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text);
  uint32_t h = 0;
  for (std::size_t i = std::strlen(text); i > 0; --i) h = h * 31 + bytes[i - 1];
  return h;
}

uint32_t hashByteString(KeyWord block) noexcept {
  const uint32_t length = byteStringLength(block);
  const uint8_t* data = block.asByteAddress() + 8;
  // The block's first `length` bytes, seen as header word 1, length, data.
  uint8_t header[8] = {1, 0, 0, 0};
  std::memcpy(header + 4, &length, 4);  // little-endian, as the block stores it
  uint32_t h = 0;
  for (uint32_t i = length; i > 8; --i) h = h * 31 + data[i - 9];
  for (uint32_t i = length < 8 ? length : 8; i > 0; --i) h = h * 31 + header[i - 1];
  return h;
}

}  // namespace

uint32_t hashWord(int32_t kind, KeyWord word) noexcept {
  if (word.isZero()) return 0;
  switch (kind) {
    case kIntegerKind: return static_cast<uint32_t>(word.asInteger());
    case kTextKind: return hashText(word.asText());
    case kByteStringKind: return hashByteString(word);
    default: return 0;
  }
}

bool wordsEqual(int32_t kind, KeyWord a, KeyWord b) noexcept {
  switch (kind) {
    case kIntegerKind: return a.asInteger() == b.asInteger();
    case kTextKind:
      if (a.isZero() || b.isZero()) return a.isZero() && b.isZero();
      return std::strcmp(a.asText(), b.asText()) == 0;
    case kByteStringKind: {
      if (a.isZero() || b.isZero()) return a.isZero() && b.isZero();
      const uint32_t length = byteStringLength(a);
      return length == byteStringLength(b) &&
             std::memcmp(a.asByteAddress() + 8, b.asByteAddress() + 8, length) == 0;
    }
    default: return false;
  }
}

}  // namespace linemint
