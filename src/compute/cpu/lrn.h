#pragma once
// Local response normalization across channels of an [N, Ch, S] tensor (S
// the product of the spatial dimensions), in binary32 for f32, f16 and bf16.
//
// a = alpha / size; for each element x at channel c the window is the
// channels max(0, c - floor((size - 1) / 2)) up to, not including,
// min(Ch, c + floor(size / 2) + 1) at the same n and spatial position;
// s = the sum of their squares in channel order (each square rounded, then
// added); y = x / powf(bias + a * s, beta).
//
// Checks, in order: the dtype (f64: the f64 message; anything else that is
// not f32/f16/bf16: "Lrn: float-only (byte-ring LRN is not defined)");
// Ch = 0 or size = 0: "lrn: channels/size must be > 0"; then the input and
// the output must hold N * Ch * S elements (buffer error naming the short
// one) and must not overlap (buffer error naming the input): the window
// reads neighbouring channels after their outputs are written.
#include <string_view>

#include "compute/backend_error.h"
#include "compute/cpu/kernel_buffers.h"
#include "compute/kernel_call.h"

namespace tessary::cpu {

inline constexpr std::string_view kMsgLrnShape = "lrn: channels/size must be > 0";
inline constexpr std::string_view kMsgLrnFloatOnly = "Lrn: float-only (byte-ring LRN is not defined)";

// Entry point of the execute loop.
BackendResult<void> lrn_kernel(const LrnCall& call, KernelInput in, KernelOutput out);

}  // namespace tessary::cpu
