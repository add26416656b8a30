#pragma once
// DTypeId: the one-byte element type tag shared by the C interface, the
// archive and kernel calls. The numbers travel in files: append-only.
//
// Also here: element widths, storage sizes, and the element accessors that
// kernels use to read elements into binary32/binary64 or signed 64-bit values
// and to write them back. Accessors address elements by index into raw bytes;
// the calling kernel has already checked the buffer length, so they do no
// bounds checks of their own.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "types/float16.h"

namespace tessary {

enum class DTypeId : std::uint8_t {
  Bool = 0,
  U8 = 1,
  I8 = 2,
  U64 = 3,
  I32 = 4,
  I64 = 5,
  F16 = 6,
  BF16 = 7,
  F32 = 8,
  F64 = 9,
  I4 = 10,
  E8cb = 11,
};

// Tags 0..11 are defined; every other byte value is an unknown type.
inline constexpr unsigned kDTypeCount = 12;

inline constexpr std::uint8_t dtype_tag(DTypeId t) { return static_cast<std::uint8_t>(t); }

inline constexpr bool is_known(DTypeId t) { return dtype_tag(t) < kDTypeCount; }

inline constexpr std::optional<DTypeId> dtype_from_tag(std::uint8_t tag) {
  if (tag >= kDTypeCount) return std::nullopt;
  return static_cast<DTypeId>(tag);
}

// Element widths in bytes of the fixed-width tags 0..9, indexed by tag.
inline constexpr std::array<std::uint8_t, 10> kElementWidths = {1, 1, 1, 8, 4, 8, 2, 2, 4, 8};

inline constexpr bool is_fixed_width(DTypeId t) { return dtype_tag(t) < kElementWidths.size(); }

// Width in bytes, or nothing for the sub-byte types (i4, e8cb) and unknown tags.
inline constexpr std::optional<std::uint32_t> element_width(DTypeId t) {
  if (!is_fixed_width(t)) return std::nullopt;
  return kElementWidths[dtype_tag(t)];
}

// The types float kernels compute in (always through binary32).
inline constexpr bool is_compute_type(DTypeId t) {
  return t == DTypeId::F32 || t == DTypeId::F16 || t == DTypeId::BF16;
}

// Float storage types: the compute types plus f64.
inline constexpr bool is_float_type(DTypeId t) {
  return is_compute_type(t) || t == DTypeId::F64;
}

// Fixed-width integer types, bool included.
inline constexpr bool is_integer_type(DTypeId t) { return dtype_tag(t) <= dtype_tag(DTypeId::I64); }

// Element types the gather kernel accepts for its indices; u64 is not one.
inline constexpr bool is_index_type(DTypeId t) { return t == DTypeId::I32 || t == DTypeId::I64; }

inline constexpr bool is_quantized_weight_type(DTypeId t) {
  return t == DTypeId::U8 || t == DTypeId::I8 || t == DTypeId::I4 || t == DTypeId::E8cb;
}

// Bytes that n elements occupy. Fixed-width products saturate at 2^64 - 1
// (a present value, not nothing); i4 packs two per byte and e8cb one byte per
// group of 8, both rounding up. Unknown tags give nothing.
inline constexpr std::optional<std::uint64_t> storage_bytes_u64(DTypeId t, std::uint64_t n) {
  if (const auto w = element_width(t)) {
    return n > UINT64_MAX / *w ? UINT64_MAX : n * *w;
  }
  if (t == DTypeId::I4) return n - n / 2;
  if (t == DTypeId::E8cb) return n / 8 + (n % 8 != 0 ? 1 : 0);
  return std::nullopt;
}

// Lower-case name of a tag ("f32", "e8cb", ...), "unknown" for other values.
std::string_view dtype_name(DTypeId t);
// The tag with exactly that name, or nothing.
std::optional<DTypeId> dtype_from_name(std::string_view name);

// Messages of the kernels' dtype checks, shared so every kernel words them alike.
inline constexpr std::string_view kMsgNoFixedWidth =
    "float kernel: dtype has no fixed element width (sub-byte or unknown)";
inline constexpr std::string_view kMsgF64NotCompute =
    "f64 is not a supported compute dtype (tessary computes in f16/bf16/f32)";

namespace dtype_detail {
template <typename T>
inline T load_raw(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));  // element buffers need not be aligned
  return v;
}
template <typename T>
inline void store_raw(std::uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}
}  // namespace dtype_detail

// Element `index` of an f16, bf16 or f32 buffer as binary32. Callers pass only
// those tags; any other tag reads nothing and gives 0.
inline float read_float(const std::uint8_t* bytes, std::size_t index, DTypeId t) {
  using namespace dtype_detail;
  switch (t) {
    case DTypeId::F16: return f16_bits_to_f32(load_raw<std::uint16_t>(bytes + index * 2));
    case DTypeId::BF16: return bf16_bits_to_f32(load_raw<std::uint16_t>(bytes + index * 2));
    case DTypeId::F32: return load_raw<float>(bytes + index * 4);
    default: return 0.0f;
  }
}

// Writes a binary32 value as element `index` of an f16, bf16 or f32 buffer
// (f16 ties away from zero, bf16 truncates). Other tags write nothing.
inline void write_float(std::uint8_t* bytes, std::size_t index, DTypeId t, float v) {
  using namespace dtype_detail;
  switch (t) {
    case DTypeId::F16: store_raw(bytes + index * 2, f32_to_f16_bits(v)); break;
    case DTypeId::BF16: store_raw(bytes + index * 2, f32_to_bf16_bits(v)); break;
    case DTypeId::F32: store_raw(bytes + index * 4, v); break;
    default: break;
  }
}

// Like read_float but as binary64, and f64 elements are read exactly. Every
// non-float tag gives 0.0.
inline double load_float(const std::uint8_t* bytes, std::size_t index, DTypeId t) {
  if (t == DTypeId::F64) return dtype_detail::load_raw<double>(bytes + index * 8);
  return read_float(bytes, index, t);
}

// Writes a binary64 value: for f16, bf16 and f32 it is first rounded to
// binary32 (nearest, ties to even), then stored by the write_float rules.
// An f64 element receives the binary64 value unchanged, so casts and
// dequantization into f64 produce real values rather than leaving the
// destination untouched. Non-float tags write nothing.
inline void store_float(std::uint8_t* bytes, std::size_t index, DTypeId t, double v) {
  if (t == DTypeId::F64) {
    dtype_detail::store_raw(bytes + index * 8, v);
    return;
  }
  write_float(bytes, index, t, static_cast<float>(v));
}

// Element `index` as a signed 64-bit value: bool and u8 zero-extend, i8 and
// i32 sign-extend, i64 and u64 are the 64-bit pattern as is. Other tags give 0.
inline std::int64_t load_int(const std::uint8_t* bytes, std::size_t index, DTypeId t) {
  using namespace dtype_detail;
  switch (t) {
    case DTypeId::Bool:
    case DTypeId::U8: return bytes[index];
    case DTypeId::I8: return static_cast<std::int8_t>(bytes[index]);
    case DTypeId::I32: return load_raw<std::int32_t>(bytes + index * 4);
    case DTypeId::U64:
    case DTypeId::I64: return load_raw<std::int64_t>(bytes + index * 8);
    default: return 0;
  }
}

// Writes a signed 64-bit value: bool stores 1 for non-zero, u8/i8 the low 8
// bits, i32 the low 32 bits, u64/i64 all 64 bits. Other tags write nothing.
inline void store_int(std::uint8_t* bytes, std::size_t index, DTypeId t, std::int64_t v) {
  using namespace dtype_detail;
  const auto u = static_cast<std::uint64_t>(v);
  switch (t) {
    case DTypeId::Bool: bytes[index] = v != 0 ? 1 : 0; break;
    case DTypeId::U8:
    case DTypeId::I8: bytes[index] = static_cast<std::uint8_t>(u); break;
    case DTypeId::I32: store_raw(bytes + index * 4, static_cast<std::uint32_t>(u)); break;
    case DTypeId::U64:
    case DTypeId::I64: store_raw(bytes + index * 8, u); break;
    default: break;
  }
}

// Span forms of the accessors, for callers that hold a view rather than a pointer.
inline float read_float(std::span<const std::uint8_t> b, std::size_t i, DTypeId t) {
  return read_float(b.data(), i, t);
}
inline void write_float(std::span<std::uint8_t> b, std::size_t i, DTypeId t, float v) {
  write_float(b.data(), i, t, v);
}
inline double load_float(std::span<const std::uint8_t> b, std::size_t i, DTypeId t) {
  return load_float(b.data(), i, t);
}
inline void store_float(std::span<std::uint8_t> b, std::size_t i, DTypeId t, double v) {
  store_float(b.data(), i, t, v);
}
inline std::int64_t load_int(std::span<const std::uint8_t> b, std::size_t i, DTypeId t) {
  return load_int(b.data(), i, t);
}
inline void store_int(std::span<std::uint8_t> b, std::size_t i, DTypeId t, std::int64_t v) {
  store_int(b.data(), i, t, v);
}

// Float to signed 64-bit: truncation toward zero, NaN to 0, saturation at
// 2^63 - 1 and -2^63. Narrower integer destinations then take the low bits
// through store_int.
inline std::int64_t cast_float_to_int(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9223372036854775808.0) return INT64_MAX;
  if (v < -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(v);
}

// Float to u64: truncation toward zero into [0, 2^64 - 1], saturating at both
// ends, NaN to 0. A 64-bit destination saturates to its own range, as i64
// does, instead of going through the signed value (which would turn 2^63 and
// above into 2^63 - 1 and negative values into huge ones).
inline std::uint64_t cast_float_to_u64(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<std::uint64_t>(v);
}

// Integer value as binary64. The stored pattern of a u64 element is read as
// unsigned here, so 2^64 - 1 converts to about 1.8e19, not to -1. Everything
// else that handles integers (load_int, integer-to-integer casts) sees the u64
// pattern as the i64 of the same bits.
inline double int_to_double(std::int64_t v, DTypeId src) {
  if (src == DTypeId::U64) return static_cast<double>(static_cast<std::uint64_t>(v));
  return static_cast<double>(v);
}

// Converts element `index` of `src` (tag `from`) into element `index` of `dst`
// (tag `to`) by the cast rules: float to float through binary64 (and binary32
// for the 16/32-bit formats), float to integer by cast_float_to_int /
// cast_float_to_u64, integer to float through binary64, integer to integer
// through the signed 64-bit value. Both tags must be fixed-width (the cast
// kernel checks); otherwise nothing is written.
inline void cast_element(const std::uint8_t* src, DTypeId from, std::uint8_t* dst, DTypeId to,
                         std::size_t index) {
  if (!is_fixed_width(from) || !is_fixed_width(to)) return;
  if (is_float_type(from)) {
    const double v = load_float(src, index, from);
    if (is_float_type(to)) {
      store_float(dst, index, to, v);
    } else if (to == DTypeId::U64) {
      store_int(dst, index, to, static_cast<std::int64_t>(cast_float_to_u64(v)));
    } else {
      store_int(dst, index, to, cast_float_to_int(v));
    }
    return;
  }
  const std::int64_t v = load_int(src, index, from);
  if (is_float_type(to)) {
    store_float(dst, index, to, int_to_double(v, from));
  } else {
    store_int(dst, index, to, v);
  }
}

}  // namespace tessary
