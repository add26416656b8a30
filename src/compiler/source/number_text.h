#pragma once
// Conversions of number texts written in programs. They accept exactly the
// grammar stated at each function and never throw; the texts come from
// untrusted program lines.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tessary {

// Optional "+", one or more ASCII digits, value below 2^32.
std::optional<std::uint32_t> parse_u32(std::string_view text) noexcept;

// Optional "+" or "-", one or more ASCII digits, value within signed 32 bits.
std::optional<std::int32_t> parse_i32(std::string_view text) noexcept;

// Optional "+", one or more ASCII digits, value at most 255.
std::optional<std::uint8_t> parse_u8(std::string_view text) noexcept;

// One or more ASCII digits (optionally after "+" when `allow_plus`), value
// below 2^64.
std::optional<std::uint64_t> parse_u64(std::string_view text, bool allow_plus) noexcept;

// Decimal text to binary32, rounded to nearest-even; values beyond the range
// round to infinity or zero as IEEE rounding does. Accepts an optional sign
// followed by either a decimal number (digits with an optional fraction, or a
// fraction alone, then an optional exponent "e"/"E" with optional sign and
// digits) or one of "inf", "infinity", "nan" in any letter case. Anything
// else, including surrounding white space, is refused.
std::optional<float> decimal_to_f32(std::string_view text) noexcept;

}  // namespace tessary
