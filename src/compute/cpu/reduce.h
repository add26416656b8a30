#pragma once
// The float reductions reduce_sum, reduce_mean, reduce_prod, reduce_min and
// reduce_max over the axes of a ReducePlan, in binary32 for f32, f16 and
// bf16 data.
//
// Checks, in order: n = 0 succeeds at once; the dtype (the float kernel
// messages); the plan (its two messages); the input must hold n elements and
// the output the output count (buffer error naming the short one); the input
// must not overlap the output (buffer error naming the input).
//
// A full reduction to one value of aligned f32 data uses the vector
// primitives: the tier's sum (mean: divided by the reduced count), the
// product in index order from 1, the tier's min or max. Everything else walks
// the input in row-major order and folds each element into its output
// element, so every output folds its inputs in index order; mean then
// multiplies by (1 / reduced count). The f16 and bf16 walk rounds the running
// value to the output dtype after every fold, exactly as if it were read
// from, folded into and written back to the output each step. A binary32
// accumulator would be more accurate, but compiled archives may depend on
// these values, so the per-step rounding is kept. Bytes of the output past
// the output count are set to zero.
#include "compute/backend_error.h"
#include "compute/cpu/kernel_buffers.h"
#include "compute/cpu/reduce_plan.h"
#include "compute/kernel_call.h"

namespace tessary::cpu {

// The reduction of `kind`; `mean` scales a Sum by the reduced count. The
// call's kind is not read.
BackendResult<void> reduce_float(const ReduceCall& call, KernelInput in, KernelOutput out, ReduceKind kind,
                                 bool mean);

// Entry point of the execute loop: kind and mean flag from the call's kind
// (the five reductions; any other kind is refused).
BackendResult<void> reduce_kernel(const ReduceCall& call, KernelInput in, KernelOutput out);

}  // namespace tessary::cpu
