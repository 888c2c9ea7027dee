#include "platform/tick.h"

#include <time.h>

namespace linemint::platform {

uint64_t tickMilliseconds() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace linemint::platform
