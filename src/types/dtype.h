#pragma once
// DTypeId: the one-byte element type tag shared by the C interface, the
// archive and kernel calls. The numbers travel in files: append-only.
#include <cstdint>

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

}  // namespace tessary
