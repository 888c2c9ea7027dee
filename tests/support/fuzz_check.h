// FUZZ_CHECK: the assertion of fuzz bodies. A failed check prints where and
// aborts, which libFuzzer reports as a crash and the corpus replay as a
// failed test.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)
