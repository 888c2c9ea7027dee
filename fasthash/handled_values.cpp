// FastHashTable: the value handler and the copies of handled values (kind 99).
#include <cstdint>

#include "fasthash/copy_out.h"
#include "fasthash/fast_hash_table.h"
#include "fasthash/node.h"

namespace linemint {

using fasthash::Node;

void FastHashTable::setValueHandler(ValueHandler* handler) noexcept {
  if (handler != nullptr) record_.valueHandler = handler;
}

int32_t FastHashTable::getHandledValue(const void* keyRef, HandledValue* value) noexcept {
  ValueHandler* handler = record_.valueHandler;
  if (handler == nullptr) return 0;
  int32_t found = 0;
  Handle stored = 0;
  if (record_.valueKind == ValueKind::kHandled) {
    if (const Node* node = fasthash::findNode(record_, keyRef)) {
      found = 1;
      stored = fasthash::storedHandle(node);
    }
  }
  if (value != nullptr) {
    // The caller's old copy goes back before the new one is made, so a walk
    // through one variable never holds two copies.
    value->reset();
    *value = HandledValue(fasthash::handleForCaller(handler, stored), handler);
  }
  return found;
}

}  // namespace linemint
