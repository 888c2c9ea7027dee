// FastHashTable::findKeyInText: the table's text keys as a dictionary, searched
// for in a text read as double-byte characters.
#include <cstdint>
#include <cstring>

#include "fasthash/fast_hash_table.h"
#include "fasthash/hashing.h"
#include "fasthash/node.h"

namespace linemint {

namespace {

// A byte above 0x7F begins a two-byte character.
constexpr bool beginsDoubleByte(unsigned char byte) noexcept { return byte > 0x7F; }

}  // namespace

int32_t FastHashTable::findKeyInText(const void* textRef, OwnedText* match) noexcept {
  const FastTableRecord& r = record_;
  if (r.buckets == nullptr || r.count == 0 || r.keyKind != KeyKind::kText || textRef == nullptr) return -1;
  const char* textVariable;
  std::memcpy(&textVariable, textRef, sizeof textVariable);
  const auto* text = reinterpret_cast<const unsigned char*>(textVariable);
  if (text == nullptr || text[0] == 0) return -1;

  const uint32_t length = fasthash::textLength(textVariable);
  const bool useCrc32 = r.useCrc32 != 0;
  // Every candidate is a piece of the text that starts at a character boundary
  // and ends at one; its hash grows with it, one byte step at a time, in the
  // family of the stored keys. A piece that starts with the text's last byte,
  // when that byte begins a two-byte character, takes in the terminating NUL
  // and matches no key; nothing past the NUL is read.
  for (uint32_t start = 0; start < length; start += beginsDoubleByte(text[start]) ? 2 : 1) {
    fasthash::KeyProbe candidate{0, 0, text + start, 0};
    while (candidate.length < r.maxTextKeyLength) {
      uint32_t steps = beginsDoubleByte(text[start + candidate.length]) ? 2 : 1;
      for (; steps != 0; --steps) {
        const unsigned char byte = text[start + candidate.length];
        candidate.hash = useCrc32 ? fasthash::hashStepCrc32(candidate.hash, byte)
                                  : fasthash::hashStepSum31(candidate.hash, byte);
        ++candidate.length;
      }
      const fasthash::Node* node = fasthash::findLinkOf<KeyKind::kText>(r, candidate).load();
      if (node != nullptr) {
        if (match != nullptr) {
          // When the copy cannot be had, the caller's variable ends up null
          // rather than holding an earlier text that is not this match.
          *match = newText(fasthash::nodeKeyBytes(node, r.valueSize), fasthash::nodeKeyLength(node, r.valueSize));
        }
        return static_cast<int32_t>(start + 1);
      }
      if (start + candidate.length >= length) break;
    }
  }
  return -1;
}

}  // namespace linemint
