#pragma once
// UTF-8 validation shared by the C interface, the archive decoders and the
// source frontends. Accepts exactly the well-formed sequences of RFC 3629:
// no overlongs, no surrogates, nothing above U+10FFFF.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tessary {

bool is_valid_utf8(const std::uint8_t* data, std::size_t len) noexcept;

inline bool is_valid_utf8(std::span<const std::uint8_t> bytes) noexcept {
  return is_valid_utf8(bytes.data(), bytes.size());
}
inline bool is_valid_utf8(std::string_view text) noexcept {
  return is_valid_utf8(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

}  // namespace tessary
