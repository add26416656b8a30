#include "element_codec.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <fmt/format.h>

#include "types/float16.h"

namespace tessary::cli {

namespace {

template <class T>
void put(std::span<std::uint8_t> bytes, std::size_t index, T v) {
  std::memcpy(bytes.data() + index * sizeof(T), &v, sizeof(T));
}

template <class T>
T get(std::span<const std::uint8_t> bytes, std::size_t index) {
  T v;
  std::memcpy(&v, bytes.data() + index * sizeof(T), sizeof(T));
  return v;
}

template <class T>
T saturate(double v) {
  if (std::isnan(v)) return 0;
  const double t = std::trunc(v);
  if (t <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  // 2^63 and 2^64 are exactly representable; anything at or above them saturates.
  if (t >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(t);
}

}  // namespace

std::size_t port_element_bytes(DTypeId dtype) {
  const auto w = element_width(dtype);
  return w ? *w : 1;
}

bool writable_from_numbers(DTypeId dtype) { return is_fixed_width(dtype); }

void store_element(DTypeId dtype, std::span<std::uint8_t> bytes, std::size_t index, double value) {
  switch (dtype) {
    case DTypeId::Bool:
      put<std::uint8_t>(bytes, index, value != 0.0 ? 1 : 0);
      break;
    case DTypeId::U8:
      put(bytes, index, saturate<std::uint8_t>(value));
      break;
    case DTypeId::I8:
      put(bytes, index, saturate<std::int8_t>(value));
      break;
    case DTypeId::U64:
      put(bytes, index, saturate<std::uint64_t>(value));
      break;
    case DTypeId::I32:
      put(bytes, index, saturate<std::int32_t>(value));
      break;
    case DTypeId::I64:
      put(bytes, index, saturate<std::int64_t>(value));
      break;
    case DTypeId::F16:
      put(bytes, index, f32_to_f16_bits(static_cast<float>(value)));
      break;
    case DTypeId::BF16:
      put(bytes, index, f32_to_bf16_bits(static_cast<float>(value)));
      break;
    case DTypeId::F32:
      put(bytes, index, static_cast<float>(value));
      break;
    case DTypeId::F64:
      put(bytes, index, value);
      break;
    default:
      break;
  }
}

std::optional<double> load_element(DTypeId dtype, std::span<const std::uint8_t> bytes, std::size_t index) {
  switch (dtype) {
    case DTypeId::Bool:
      return get<std::uint8_t>(bytes, index) != 0 ? 1.0 : 0.0;
    case DTypeId::U8:
      return get<std::uint8_t>(bytes, index);
    case DTypeId::I8:
      return get<std::int8_t>(bytes, index);
    case DTypeId::U64:
      return static_cast<double>(get<std::uint64_t>(bytes, index));
    case DTypeId::I32:
      return get<std::int32_t>(bytes, index);
    case DTypeId::I64:
      return static_cast<double>(get<std::int64_t>(bytes, index));
    case DTypeId::F16:
      return f16_bits_to_f32(get<std::uint16_t>(bytes, index));
    case DTypeId::BF16:
      return bf16_bits_to_f32(get<std::uint16_t>(bytes, index));
    case DTypeId::F32:
      return get<float>(bytes, index);
    case DTypeId::F64:
      return get<double>(bytes, index);
    default:
      return std::nullopt;
  }
}

std::string format_element(DTypeId dtype, std::span<const std::uint8_t> bytes, std::size_t index) {
  switch (dtype) {
    case DTypeId::Bool:
      return get<std::uint8_t>(bytes, index) != 0 ? "true" : "false";
    case DTypeId::U8:
      return fmt::format("{}", get<std::uint8_t>(bytes, index));
    case DTypeId::I8:
      return fmt::format("{}", get<std::int8_t>(bytes, index));
    case DTypeId::U64:
      return fmt::format("{}", get<std::uint64_t>(bytes, index));
    case DTypeId::I32:
      return fmt::format("{}", get<std::int32_t>(bytes, index));
    case DTypeId::I64:
      return fmt::format("{}", get<std::int64_t>(bytes, index));
    default:
      break;
  }
  const auto v = load_element(dtype, bytes, index);
  if (!v) return fmt::format("0x{:02x}", bytes[index]);
  if (std::isnan(*v)) return "nan";
  if (std::isinf(*v)) return *v > 0 ? "inf" : "-inf";
  return fmt::format("{:.6g}", *v);
}

}  // namespace tessary::cli
