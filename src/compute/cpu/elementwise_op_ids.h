#pragma once
// Identifiers of the float element-wise operations. Both operation enums list
// the float operations in the order of the kernel-call variants, so the
// dispatch maps a variant to its operation by position.
#include <cstdint>

namespace tessary::cpu {

enum class UnaryOp : std::uint8_t {
  Neg,
  Relu,
  Sigmoid,
  Tanh,
  Gelu,
  Silu,
  Elu,
  Selu,
  Exp,
  Log,
  Log1p,
  Sqrt,
  Reciprocal,
  Sin,
  Cos,
  Tan,
  Asin,
  Acos,
  Atan,
  Ceil,
  Floor,
  Round,
  Erf,
  IsNan,
  Sign,
  Abs,
};
inline constexpr unsigned kUnaryOpCount = 26;

enum class BinaryOp : std::uint8_t {
  Add,
  Sub,
  Mul,
  Div,
  Pow,
  Mod,
  Min,
  Max,
  Equal,
  Less,
  LessOrEqual,
  Greater,
  GreaterOrEqual,
};
inline constexpr unsigned kBinaryOpCount = 13;

// Index of the 16-bit lookup table of an activation.
enum class ActTable : std::uint8_t {
  Sigmoid = 0,
  Tanh = 1,
  Gelu = 2,
  Silu = 3,
  Exp = 4,
  Erf = 5,
};
inline constexpr unsigned kActTableCount = 6;

}  // namespace tessary::cpu
