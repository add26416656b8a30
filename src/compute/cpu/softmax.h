#pragma once
// softmax and log_softmax over the last axis: rows of `cols` consecutive
// elements, each normalized on its own, computed in binary32 for f32, f16
// and bf16 data.
//
// Per row: m = the row maximum (NaN elements skipped). A row whose maximum
// is -infinity (all -infinity, or nothing but NaN) gives 0 everywhere
// (softmax) or -infinity everywhere (log_softmax). Otherwise t = fastexp(x -
// m), s = the sum of t in index order (raised to 1e-30 when not above it,
// NaN included); softmax writes t / s (a division per element), log_softmax
// x - (m + logf(s)).
//
// Checks, in order: the dtype (the float kernel messages), rows or cols 0
// (success, no buffer touched), then the input and the output must hold
// rows * cols elements (buffer error naming the short one); the input may be
// the output itself but must not overlap it shifted (buffer error naming the
// input).
#include "compute/backend_error.h"
#include "compute/cpu/kernel_buffers.h"
#include "compute/kernel_call.h"

namespace tessary::cpu {

// The kernel of both softmax calls; `log` selects log_softmax. The call's
// kind is not read.
BackendResult<void> softmax_float(const SoftmaxCall& call, KernelInput in, KernelOutput out, bool log);

// Entry point of the execute loop: the log flag from the call's kind
// (softmax or log_softmax; any other kind is refused).
BackendResult<void> softmax_kernel(const SoftmaxCall& call, KernelInput in, KernelOutput out);

}  // namespace tessary::cpu
