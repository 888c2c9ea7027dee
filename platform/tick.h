// Millisecond tick for timing a pass.
#pragma once

#include <cstdint>

namespace linemint::platform {

// Whole milliseconds of CLOCK_MONOTONIC. 64 bits wide, so it does not wrap
// within any run and a difference of two readings is never negative.
uint64_t tickMilliseconds() noexcept;

}  // namespace linemint::platform
