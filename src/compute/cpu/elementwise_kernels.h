#pragma once
// Float element-wise kernels: one-input and two-input operations over n
// elements of f32, f16 or bf16, computed in binary32.
//
// Checks, in order: the dtype (no fixed element width: "float kernel: dtype
// has no fixed element width (sub-byte or unknown)"; f64 and the integer
// types are refused too), then each input and then the output must hold n
// elements (else the buffer error naming it), and an input may be the output
// itself but must not overlap it shifted (buffer error naming the input).
// Nothing is written on failure.
//
// f32 buffers that start on a 4-byte boundary are processed as binary32
// arrays (through the slice function when there is one); other buffers go
// element by element through read_float/write_float. Both give the same
// values.
#include <cstdint>
#include <span>
#include <string_view>

#include "compute/backend_error.h"
#include "compute/cpu/activation_slices.h"
#include "compute/cpu/elementwise_op_ids.h"
#include "compute/cpu/kernel_buffers.h"
#include "types/dtype.h"

namespace tessary::cpu {

// Refusal of the fixed-width types that are not compute types.
inline constexpr std::string_view kMsgFloatKernelComputeOnly =
    "float kernel: only f32/f16/bf16 are supported compute dtypes";
// An operation value outside its enum (a fault of the caller's mapping).
inline constexpr std::string_view kMsgFloatKernelUnknownOp = "float kernel: unknown operation";

using ScalarUnary = float (*)(float);
using ScalarBinary = float (*)(float, float);
using F32BinarySlice = void (*)(std::span<const float> a, std::span<const float> b, std::span<float> out);

// The kernels the execute loop calls for unary and binary float calls.
BackendResult<void> unary_kernel(UnaryOp op, DTypeId dtype, KernelInput in, KernelOutput out, std::uint64_t n);
BackendResult<void> binary_kernel(BinaryOp op, DTypeId dtype, KernelInput a, KernelInput b, KernelOutput out,
                                  std::uint64_t n);

// Generic forms for other kernels with a scalar function of their own.
// `slice` may be null.
BackendResult<void> unary_float_acc(DTypeId dtype, KernelInput in, KernelOutput out, std::uint64_t n,
                                    ScalarUnary f, F32Slice slice);
BackendResult<void> binary_float_acc(DTypeId dtype, KernelInput a, KernelInput b, KernelOutput out,
                                     std::uint64_t n, ScalarBinary f, F32BinarySlice slice);

// An activation with a 16-bit table: f16 and bf16 elements are mapped
// through lut::table (n = 0 returns at once); f32 is unary_float_acc with f
// and slice. Other dtypes are refused as by unary_float_acc.
BackendResult<void> unary_act(ActTable act, DTypeId dtype, KernelInput in, KernelOutput out, std::uint64_t n,
                              ScalarUnary f, F32Slice slice);

}  // namespace tessary::cpu
