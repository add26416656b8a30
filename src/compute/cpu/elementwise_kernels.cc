#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/elementwise_kernels.h"

#include <cstring>

#include "compute/cpu/elementwise_ops.h"
#include "compute/cpu/half_act_tables.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

BackendResult<std::size_t> float_width(DTypeId dtype) {
  const auto w = element_width(dtype);
  if (!w) return std::unexpected(BackendError::unsupported(kMsgNoFixedWidth));
  if (dtype == DTypeId::F64) return std::unexpected(BackendError::unsupported(kMsgF64NotCompute));
  if (!is_compute_type(dtype)) return std::unexpected(BackendError::unsupported(kMsgFloatKernelComputeOnly));
  return *w;
}

BackendResult<void> check_buffers(std::span<const KernelInput> ins, const KernelOutput& out, std::uint64_t n,
                                  std::size_t width) {
  for (const KernelInput& in : ins) {
    if (!holds_elements(in.bytes.size(), n, width)) return std::unexpected(BackendError::buffer_error(in.id));
  }
  if (!holds_elements(out.bytes.size(), n, width)) return std::unexpected(BackendError::buffer_error(out.id));
  for (const KernelInput& in : ins) {
    if (overlaps_shifted(in.bytes.data(), out.bytes.data(), n * width)) {
      return std::unexpected(BackendError::buffer_error(in.id));
    }
  }
  return {};
}

bool aligned_f32(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % alignof(float) == 0; }

template <DTypeId T, typename F>
void unary_elements(const std::uint8_t* in, std::uint8_t* out, std::size_t n, F f) {
  for (std::size_t i = 0; i < n; ++i) write_float(out, i, T, f(read_float(in, i, T)));
}

template <typename F>
void run_unary(DTypeId dtype, const std::uint8_t* in, std::uint8_t* out, std::size_t n, F f, F32Slice slice) {
  if (dtype == DTypeId::F32 && aligned_f32(in) && aligned_f32(out)) {
    const auto* x = reinterpret_cast<const float*>(in);
    auto* y = reinterpret_cast<float*>(out);
    if (slice != nullptr) {
      slice(std::span<const float>(x, n), std::span<float>(y, n));
    } else {
      for (std::size_t i = 0; i < n; ++i) y[i] = f(x[i]);
    }
    return;
  }
  switch (dtype) {
    case DTypeId::F16: return unary_elements<DTypeId::F16>(in, out, n, f);
    case DTypeId::BF16: return unary_elements<DTypeId::BF16>(in, out, n, f);
    default: return unary_elements<DTypeId::F32>(in, out, n, f);
  }
}

template <DTypeId T, typename F>
void binary_elements(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, std::size_t n, F f) {
  for (std::size_t i = 0; i < n; ++i) write_float(out, i, T, f(read_float(a, i, T), read_float(b, i, T)));
}

template <typename F>
void run_binary(DTypeId dtype, const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, std::size_t n, F f,
                F32BinarySlice slice) {
  if (dtype == DTypeId::F32 && aligned_f32(a) && aligned_f32(b) && aligned_f32(out)) {
    const auto* x = reinterpret_cast<const float*>(a);
    const auto* z = reinterpret_cast<const float*>(b);
    auto* y = reinterpret_cast<float*>(out);
    if (slice != nullptr) {
      slice(std::span<const float>(x, n), std::span<const float>(z, n), std::span<float>(y, n));
    } else {
      for (std::size_t i = 0; i < n; ++i) y[i] = f(x[i], z[i]);
    }
    return;
  }
  switch (dtype) {
    case DTypeId::F16: return binary_elements<DTypeId::F16>(a, b, out, n, f);
    case DTypeId::BF16: return binary_elements<DTypeId::BF16>(a, b, out, n, f);
    default: return binary_elements<DTypeId::F32>(a, b, out, n, f);
  }
}

// f16/bf16 activation through its table. The caller has checked the dtype.
BackendResult<void> half_table_kernel(ActTable act, DTypeId dtype, const KernelInput& in, const KernelOutput& out,
                                      std::uint64_t n) {
  if (n == 0) return {};
  const KernelInput ins[] = {in};
  if (auto ok = check_buffers(ins, out, n, 2); !ok) return ok;
  const auto table = lut::table(act, dtype == DTypeId::BF16 ? HalfFormat::BF16 : HalfFormat::F16);
  const std::uint8_t* x = in.bytes.data();
  std::uint8_t* y = out.bytes.data();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint16_t h;
    std::memcpy(&h, x + 2 * i, 2);
    h = table[h];
    std::memcpy(y + 2 * i, &h, 2);
  }
  return {};
}

bool is_half(DTypeId dtype) { return dtype == DTypeId::F16 || dtype == DTypeId::BF16; }

}  // namespace

BackendResult<void> unary_float_acc(DTypeId dtype, KernelInput in, KernelOutput out, std::uint64_t n, ScalarUnary f,
                                    F32Slice slice) {
  const auto width = float_width(dtype);
  if (!width) return std::unexpected(width.error());
  const KernelInput ins[] = {in};
  if (auto ok = check_buffers(ins, out, n, *width); !ok) return ok;
  if (n == 0) return {};
  run_unary(dtype, in.bytes.data(), out.bytes.data(), n, f, slice);
  return {};
}

BackendResult<void> binary_float_acc(DTypeId dtype, KernelInput a, KernelInput b, KernelOutput out, std::uint64_t n,
                                     ScalarBinary f, F32BinarySlice slice) {
  const auto width = float_width(dtype);
  if (!width) return std::unexpected(width.error());
  const KernelInput ins[] = {a, b};
  if (auto ok = check_buffers(ins, out, n, *width); !ok) return ok;
  if (n == 0) return {};
  run_binary(dtype, a.bytes.data(), b.bytes.data(), out.bytes.data(), n, f, slice);
  return {};
}

BackendResult<void> unary_act(ActTable act, DTypeId dtype, KernelInput in, KernelOutput out, std::uint64_t n,
                              ScalarUnary f, F32Slice slice) {
  if (is_half(dtype)) return half_table_kernel(act, dtype, in, out, n);
  return unary_float_acc(dtype, in, out, n, f, slice);
}

BackendResult<void> unary_kernel(UnaryOp op, DTypeId dtype, KernelInput in, KernelOutput out, std::uint64_t n) {
  const auto width = float_width(dtype);
  if (!width) return std::unexpected(width.error());
  if (static_cast<unsigned>(op) >= kUnaryOpCount) {
    return std::unexpected(BackendError::unsupported(kMsgFloatKernelUnknownOp));
  }
  if (is_half(dtype)) {
    switch (op) {
      case UnaryOp::Sigmoid: return half_table_kernel(ActTable::Sigmoid, dtype, in, out, n);
      case UnaryOp::Tanh: return half_table_kernel(ActTable::Tanh, dtype, in, out, n);
      case UnaryOp::Gelu: return half_table_kernel(ActTable::Gelu, dtype, in, out, n);
      case UnaryOp::Silu: return half_table_kernel(ActTable::Silu, dtype, in, out, n);
      case UnaryOp::Exp: return half_table_kernel(ActTable::Exp, dtype, in, out, n);
      case UnaryOp::Erf: return half_table_kernel(ActTable::Erf, dtype, in, out, n);
      default: break;
    }
  }
  const KernelInput ins[] = {in};
  if (auto ok = check_buffers(ins, out, n, *width); !ok) return ok;
  if (n == 0) return {};
  const std::uint8_t* x = in.bytes.data();
  std::uint8_t* y = out.bytes.data();
  switch (op) {
    case UnaryOp::Neg: run_unary(dtype, x, y, n, [](float v) { return unary_f::neg(v); }, nullptr); break;
    case UnaryOp::Relu: run_unary(dtype, x, y, n, [](float v) { return relu_f(v); }, relu_slice); break;
    case UnaryOp::Sigmoid: run_unary(dtype, x, y, n, [](float v) { return sigmoid_f(v); }, sigmoid_slice); break;
    case UnaryOp::Tanh: run_unary(dtype, x, y, n, [](float v) { return tanh_f(v); }, tanh_slice); break;
    case UnaryOp::Gelu: run_unary(dtype, x, y, n, [](float v) { return gelu_f(v); }, gelu_slice); break;
    case UnaryOp::Silu: run_unary(dtype, x, y, n, [](float v) { return silu_f(v); }, silu_slice); break;
    case UnaryOp::Elu: run_unary(dtype, x, y, n, [](float v) { return elu_f(v); }, nullptr); break;
    case UnaryOp::Selu: run_unary(dtype, x, y, n, [](float v) { return selu_f(v); }, nullptr); break;
    case UnaryOp::Exp: run_unary(dtype, x, y, n, [](float v) { return exp_f(v); }, nullptr); break;
    case UnaryOp::Log: run_unary(dtype, x, y, n, [](float v) { return unary_f::log(v); }, nullptr); break;
    case UnaryOp::Log1p: run_unary(dtype, x, y, n, [](float v) { return std::log1p(v); }, nullptr); break;
    case UnaryOp::Sqrt: run_unary(dtype, x, y, n, [](float v) { return std::sqrt(v); }, nullptr); break;
    case UnaryOp::Reciprocal: run_unary(dtype, x, y, n, [](float v) { return 1.0f / v; }, nullptr); break;
    case UnaryOp::Sin: run_unary(dtype, x, y, n, [](float v) { return std::sin(v); }, nullptr); break;
    case UnaryOp::Cos: run_unary(dtype, x, y, n, [](float v) { return std::cos(v); }, nullptr); break;
    case UnaryOp::Tan: run_unary(dtype, x, y, n, [](float v) { return std::tan(v); }, nullptr); break;
    case UnaryOp::Asin:
      run_unary(dtype, x, y, n, [](float v) { return std::asin(unary_f::clamp_unit(v)); }, nullptr);
      break;
    case UnaryOp::Acos:
      run_unary(dtype, x, y, n, [](float v) { return std::acos(unary_f::clamp_unit(v)); }, nullptr);
      break;
    case UnaryOp::Atan: run_unary(dtype, x, y, n, [](float v) { return std::atan(v); }, nullptr); break;
    case UnaryOp::Ceil: run_unary(dtype, x, y, n, [](float v) { return std::ceil(v); }, nullptr); break;
    case UnaryOp::Floor: run_unary(dtype, x, y, n, [](float v) { return std::floor(v); }, nullptr); break;
    case UnaryOp::Round: run_unary(dtype, x, y, n, [](float v) { return std::round(v); }, nullptr); break;
    case UnaryOp::Erf: run_unary(dtype, x, y, n, [](float v) { return erf_f(v); }, nullptr); break;
    case UnaryOp::IsNan: run_unary(dtype, x, y, n, [](float v) { return unary_f::is_nan(v); }, nullptr); break;
    case UnaryOp::Sign: run_unary(dtype, x, y, n, [](float v) { return unary_f::sign(v); }, nullptr); break;
    case UnaryOp::Abs: run_unary(dtype, x, y, n, [](float v) { return unary_f::abs(v); }, nullptr); break;
  }
  return {};
}

BackendResult<void> binary_kernel(BinaryOp op, DTypeId dtype, KernelInput a, KernelInput b, KernelOutput out,
                                  std::uint64_t n) {
  const auto width = float_width(dtype);
  if (!width) return std::unexpected(width.error());
  if (static_cast<unsigned>(op) >= kBinaryOpCount) {
    return std::unexpected(BackendError::unsupported(kMsgFloatKernelUnknownOp));
  }
  const KernelInput ins[] = {a, b};
  if (auto ok = check_buffers(ins, out, n, *width); !ok) return ok;
  if (n == 0) return {};
  const std::uint8_t* x = a.bytes.data();
  const std::uint8_t* z = b.bytes.data();
  std::uint8_t* y = out.bytes.data();
  switch (op) {
    case BinaryOp::Add: run_binary(dtype, x, z, y, n, [](float p, float q) { return p + q; }, simd_f32_add); break;
    case BinaryOp::Sub: run_binary(dtype, x, z, y, n, [](float p, float q) { return p - q; }, nullptr); break;
    case BinaryOp::Mul: run_binary(dtype, x, z, y, n, [](float p, float q) { return p * q; }, simd_f32_mul); break;
    case BinaryOp::Div: run_binary(dtype, x, z, y, n, [](float p, float q) { return p / q; }, nullptr); break;
    case BinaryOp::Pow:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return std::pow(p, q); }, nullptr);
      break;
    case BinaryOp::Mod:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::mod(p, q); }, nullptr);
      break;
    case BinaryOp::Min:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::min(p, q); }, nullptr);
      break;
    case BinaryOp::Max:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::max(p, q); }, nullptr);
      break;
    case BinaryOp::Equal:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::truth(p == q); }, nullptr);
      break;
    case BinaryOp::Less:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::truth(p < q); }, nullptr);
      break;
    case BinaryOp::LessOrEqual:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::truth(p <= q); }, nullptr);
      break;
    case BinaryOp::Greater:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::truth(p > q); }, nullptr);
      break;
    case BinaryOp::GreaterOrEqual:
      run_binary(dtype, x, z, y, n, [](float p, float q) { return binary_f::truth(p >= q); }, nullptr);
      break;
  }
  return {};
}

}  // namespace tessary::cpu
