#pragma once
// The float matrix-product kernels: matmul, gemm and the fused forms that
// load-time fusion makes of a matmul followed by an add and/or an
// activation.
//
// Checks, in order, before anything is written: m, k or n of 0 succeeds at
// once (the fused forms still run their epilogue when only k is 0); a dtype
// without element width is refused ("float kernel: dtype has no fixed
// element width (sub-byte or unknown)"); A must hold m k elements, B k n
// (packed: k * 16 * ceil(n / 16)), gemm's C m n, the output m n, the addend
// m n, else the buffer error naming the short one; an input that overlaps the
// output is that input's buffer error (the product is written before the
// inputs are done with); then any dtype other than f32, f16 and bf16 is
// refused with the kernel's "only f32/f16/bf16" message.
//
// f32 works on binary32 arrays in place. Buffers that do not start on a
// 4-byte boundary are staged through the thread's widen scratch and give
// the same values. f16 and bf16 compute in binary32 and round once on
// writing; the fused forms' epilogue then reads the rounded value back, so
// their results are rounded twice.
#include <cstdint>
#include <string_view>

#include "compute/backend_error.h"
#include "compute/cpu/kernel_buffers.h"
#include "compute/kernel_call.h"

namespace tessary::cpu {

inline constexpr std::string_view kMsgMatmulComputeOnly = "matmul: only f32/f16/bf16 are supported compute dtypes";
inline constexpr std::string_view kMsgGemmComputeOnly = "gemm: only f32/f16/bf16 are supported compute dtypes";
// A call of another kind handed to matmul_kernel (a fault of the caller's
// mapping; fused_swiglu is refused before it gets here).
inline constexpr std::string_view kMsgMatmulUnknownKind = "matmul: unknown operation";

// C = A x B (call.packed: B in 16-column panels, honoured for f32 only; the
// 16-bit path always reads B as row-major [k, n]).
BackendResult<void> matmul_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelOutput out);
// A x B + D, D [m, n].
BackendResult<void> matmul_add_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelInput d,
                                     KernelOutput out);
// act(A x B), act = call.act (ids of FusedAct; others mean none).
BackendResult<void> matmul_activation_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelOutput out);
// act(A x B + D).
BackendResult<void> matmul_add_activation_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelInput d,
                                                KernelOutput out);
// Y = alpha (A x B) + beta C; alpha and beta are the binary32 patterns in
// the low 32 bits of the call's fields.
BackendResult<void> gemm_float(const GemmCall& call, KernelInput a, KernelInput b, KernelInput c, KernelOutput out);

// Entry points for the execute loop. matmul_kernel picks the form by
// call.kind: matmul, matmul_activation, matmul_add, matmul_add_activation
// (the addend is read only by the two add forms; pass an empty input
// otherwise).
BackendResult<void> matmul_kernel(const MatmulCall& call, KernelInput a, KernelInput b, KernelInput addend_or_empty,
                                  KernelOutput out);
BackendResult<void> gemm_kernel(const GemmCall& call, KernelInput a, KernelInput b, KernelInput c, KernelOutput out);

}  // namespace tessary::cpu
