#include "types/dtype.h"

namespace tessary {
namespace {

constexpr std::array<std::string_view, kDTypeCount> kNames = {
    "bool", "u8", "i8", "u64", "i32", "i64", "f16", "bf16", "f32", "f64", "i4", "e8cb"};

}  // namespace

std::string_view dtype_name(DTypeId t) {
  return is_known(t) ? kNames[dtype_tag(t)] : std::string_view("unknown");
}

std::optional<DTypeId> dtype_from_name(std::string_view name) {
  for (unsigned i = 0; i < kDTypeCount; ++i) {
    if (kNames[i] == name) return static_cast<DTypeId>(i);
  }
  return std::nullopt;
}

}  // namespace tessary
