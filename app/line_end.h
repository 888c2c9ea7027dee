// Which byte sequence ends a line.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linemint {

enum class LineEnd {
  crlf,  // CR LF (13, 10): the default
  lf,    // LF (10) alone, for Unix files
};

// The bytes of a line end and their number.
inline const uint8_t* lineEndBytes(LineEnd e) noexcept {
  static constexpr uint8_t kCrLf[2] = {13, 10};
  static constexpr uint8_t kLf[1] = {10};
  return e == LineEnd::crlf ? kCrLf : kLf;
}
inline std::size_t lineEndLength(LineEnd e) noexcept { return e == LineEnd::crlf ? 2 : 1; }

}  // namespace linemint
