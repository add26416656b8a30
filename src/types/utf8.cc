#include "types/utf8.h"

namespace tessary {

bool is_valid_utf8(const std::uint8_t* s, std::size_t len) noexcept {
  std::size_t i = 0;
  while (i < len) {
    const std::uint8_t c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t extra;
    std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the first continuation byte
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      if (c == 0xE0) lo = 0xA0;  // overlong
      if (c == 0xED) hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      if (c == 0xF0) lo = 0x90;  // overlong
      if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (len - i <= extra) return false;
    if (s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace tessary
