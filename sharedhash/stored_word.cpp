#include "sharedhash/stored_word.h"

#include <cstring>

#include "sharedhash/table_memory.h"
#include "sharedhash/word_rules.h"

namespace linemint {

bool copyWordIn(platform::HeapHandle heap, int32_t kind, KeyWord given, KeyWord* stored) noexcept {
  if (kind == kIntegerKind) {
    *stored = given;
    return true;
  }
  if (given.isZero() || (kind != kTextKind && kind != kByteStringKind)) {
    *stored = KeyWord();
    return true;
  }
  if (kind == kTextKind) {
    const std::size_t length = std::strlen(given.asText());
    void* copy = allocateTableBlock(heap, length + 1);
    if (copy == nullptr) return false;
    std::memcpy(copy, given.asText(), length);
    *stored = KeyWord::text(static_cast<const char*>(copy));
    return true;
  }
  const uint32_t length = byteStringLength(given);
  auto* copy = static_cast<uint8_t*>(allocateTableBlock(heap, std::size_t{8} + length));
  if (copy == nullptr) return false;
  const uint32_t one = 1;
  std::memcpy(copy, &one, 4);
  std::memcpy(copy + 4, &length, 4);
  std::memcpy(copy + 8, given.asByteAddress() + 8, length);
  *stored = KeyWord::bytes(reinterpret_cast<const platform::ByteBuffer*>(copy));
  return true;
}

void freeStoredWord(platform::HeapHandle heap, int32_t kind, KeyWord stored) noexcept {
  if ((kind == kTextKind || kind == kByteStringKind) && !stored.isZero())
    freeTableBlock(heap, const_cast<uint8_t*>(stored.asByteAddress()));
}

}  // namespace linemint
