// Terminator scans over aligned blocks, for text-length measurement.
//
// Each scan reads the aligned 16-byte (SSE2) or 32-byte (AVX2) blocks that hold
// the text, starting with the block of its first byte, and stops at the block
// that holds the terminating NUL. An aligned block never crosses a page
// boundary, so the bytes it holds before the text's start or after its NUL are
// always readable; those reads lie outside the text's own object, so the scans
// are exempt from AddressSanitizer (they are the only reads that are).
#pragma once

#include <cstdint>

namespace linemint::platform {

// Bytes of text before its first NUL, via aligned 16-byte SSE2 blocks.
// REQUIRES: text non-null and NUL-terminated within 4 GiB.
uint32_t zeroIndexSse2(const char* text) noexcept;

// The same via aligned 32-byte AVX2 blocks.
// REQUIRES: as zeroIndexSse2, and a processor with AVX2 (cpuFeatures.avx2).
uint32_t zeroIndexAvx2(const char* text) noexcept;

}  // namespace linemint::platform
