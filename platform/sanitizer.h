// AddressSanitizer poisoning for memory that we manage ourselves (heap chunks,
// pool pages). Without ASan the macros compile to nothing.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define LINEMINT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LINEMINT_ASAN 1
#endif
#endif

#if defined(LINEMINT_ASAN)
#include <sanitizer/asan_interface.h>
#define LINEMINT_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define LINEMINT_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
#else
#define LINEMINT_POISON(addr, size) ((void)(addr), (void)(size))
#define LINEMINT_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif
