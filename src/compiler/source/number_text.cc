#include "compiler/source/number_text.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace tessary {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits only, accumulated with an explicit overflow check against `limit`.
std::optional<std::uint64_t> digits_value(std::string_view digits, std::uint64_t limit) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : digits) {
    if (!is_digit(c)) return std::nullopt;
    auto d = static_cast<std::uint64_t>(c - '0');
    if (v > (limit - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

std::size_t skip_digits(std::string_view s, std::size_t i) {
  while (i < s.size() && is_digit(s[i])) ++i;
  return i;
}

bool equals_ignore_case(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<std::uint64_t> parse_u64(std::string_view text, bool allow_plus) noexcept {
  if (allow_plus && !text.empty() && text.front() == '+') text.remove_prefix(1);
  return digits_value(text, std::numeric_limits<std::uint64_t>::max());
}

std::optional<std::uint32_t> parse_u32(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto v = digits_value(text, std::numeric_limits<std::uint32_t>::max());
  if (!v) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<std::int32_t> parse_i32(std::string_view text) noexcept {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // The magnitude of the most negative value is one more than the largest.
  std::uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  auto v = digits_value(text, limit);
  if (!v) return std::nullopt;
  return negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(*v)) : static_cast<std::int32_t>(*v);
}

std::optional<std::uint8_t> parse_u8(std::string_view text) noexcept {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto v = digits_value(text, 255);
  if (!v) return std::nullopt;
  return static_cast<std::uint8_t>(*v);
}

std::optional<float> decimal_to_f32(std::string_view text) noexcept {
  std::string_view body = text;
  bool negative = false;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equals_ignore_case(body, "inf") || equals_ignore_case(body, "infinity")) {
    return negative ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
  }
  if (equals_ignore_case(body, "nan")) {
    float nan = std::numeric_limits<float>::quiet_NaN();
    return negative ? -nan : nan;
  }

  // Validate the decimal grammar ourselves so that the accepted set does not
  // depend on the C++ library, and remember where the digits lie for the
  // out-of-range classification below.
  std::size_t int_end = skip_digits(body, 0);
  std::size_t frac_begin = int_end, frac_end = int_end;
  if (int_end < body.size() && body[int_end] == '.') {
    frac_begin = int_end + 1;
    frac_end = skip_digits(body, frac_begin);
  }
  if (int_end == 0 && frac_end == frac_begin) return std::nullopt;  // no digit at all
  std::size_t i = frac_end;
  std::int64_t exponent = 0;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      exp_negative = body[i] == '-';
      ++i;
    }
    std::size_t exp_begin = i;
    i = skip_digits(body, i);
    if (i == exp_begin) return std::nullopt;
    for (std::size_t j = exp_begin; j < i; ++j) {
      // Saturate: any exponent this large is far outside binary32 either way.
      if (exponent < 1000000000) exponent = exponent * 10 + (body[j] - '0');
    }
    if (exp_negative) exponent = -exponent;
  }
  if (i != body.size()) return std::nullopt;

  float value = 0.0f;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // The value rounds to infinity or to zero; tell which from the decimal
    // exponent of the first non-zero digit (overflow needs 38 or more,
    // underflow -46 or less, so the sign alone decides).
    std::int64_t lead = 0;
    bool found = false;
    for (std::size_t j = 0; j < int_end && !found; ++j) {
      if (body[j] != '0') {
        lead = static_cast<std::int64_t>(int_end - 1 - j);
        found = true;
      }
    }
    for (std::size_t j = frac_begin; j < frac_end && !found; ++j) {
      if (body[j] != '0') {
        lead = -static_cast<std::int64_t>(j - frac_begin + 1);
        found = true;
      }
    }
    value = (found && lead + exponent >= 0) ? std::numeric_limits<float>::infinity() : 0.0f;
  } else if (ec != std::errc{} || ptr != body.data() + body.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace tessary
