#pragma once
// The normalisation kernels, in binary32 for f32, f16 and bf16 data:
// layer_norm, group_norm and instance_norm (one kernel, row and group forms),
// rms_norm and add_rms_norm.
//
// NormCall fields: rows and features are B and F (Rn and Cn for the RMS
// norms); channels and groups are Ch and G; G = 0 selects the row form
// (B rows of F elements, gamma and beta indexed by column), G > 0 the group
// form (B samples of F features made of Ch channels of F / Ch elements; a
// group is F / G consecutive elements; gamma and beta indexed by channel).
//
// Optional operands: an input whose id is kSlotNone is absent. The gamma and
// beta of layer/group/instance/rms norm are also absent when their bytes are
// empty (a zero-length buffer). add_rms_norm's gamma is absent only by its
// id; present, it must hold its elements like any other input. rms_norm
// applies no beta (its third operand is not read).
//
// Checks, in order: the dtype (the float kernel messages); the epsilon;
// B or F (Rn or Cn) zero: success without touching a buffer; the group-form
// divisibility; then every used input and the output must hold their element
// counts (buffer error naming the short one). x (and add_rms_norm's
// residual) may be the output itself but must not overlap it shifted; gamma
// and beta must not overlap the output at all (buffer error naming the
// input).
//
// Arithmetic per normalized unit (a row, or a group) of k elements:
//   c = 1 / k; mean = sum(x) * c; d = x - mean;
//   inv = 1 / sqrt(c * dot(d, d) + epsilon);
//   y = beta + gamma * (inv * d)   (no gamma: inv * d; no beta: + 0)
// RMS norm per row of Cn: ms = dot(x, x) / Cn; inv = 1 / sqrt(ms + epsilon);
//   y = (inv * x) * gamma (no gamma: inv * x).
// add_rms_norm: h = x + residual first, then the RMS norm of h.
// sum and dot are the tier's vector primitives, so results are reproducible
// per tier. f16, bf16 and unaligned f32 data are converted to binary32, go
// through the same arithmetic (intermediates stay binary32) and are rounded
// once on the final write.
#include <cstdint>
#include <string_view>

#include "compute/backend_error.h"
#include "compute/cpu/kernel_buffers.h"
#include "compute/kernel_call.h"

namespace tessary::cpu {

inline constexpr std::string_view kMsgNormEpsilon =
    "norm epsilon must be a positive finite f32 (0 selects the default)";
inline constexpr std::string_view kMsgGroupNormShape =
    "group_norm: require channels|feature, num_groups|feature, num_groups|channels";

// 1e-9 as binary32, used when the call's epsilon bits are 0.
inline constexpr std::uint32_t kDefaultNormEpsilonBits = 0x3089705Fu;

// The epsilon a norm call selects: its low 32 bits as binary32, the default
// for 0, else a positive finite value (normal or subnormal, sign clear) or
// kMsgNormEpsilon. The high 32 bits are not read.
BackendResult<float> norm_epsilon(std::uint64_t field);

// layer_norm, group_norm, instance_norm (the call's kind is not read).
BackendResult<void> norm_float(const NormCall& call, KernelInput x, KernelInput gamma, KernelInput beta,
                               KernelOutput out);
// rms_norm: rows and features are Rn and Cn.
BackendResult<void> rms_norm_float(const NormCall& call, KernelInput x, KernelInput gamma, KernelOutput out);
// add_rms_norm: gamma is optional (absent by id only).
BackendResult<void> add_rms_norm_float(const NormCall& call, KernelInput x, KernelInput residual,
                                       KernelInput gamma, KernelOutput out);

// Entry point of the execute loop, routed on the call's kind; the operands
// in the order of the call's references (x, second, third, fourth), absent
// ones with id kSlotNone and empty bytes. layer/group/instance/rms norm:
// second = gamma, third = beta, fourth unused. add_rms_norm: second =
// residual, third unused, fourth = gamma. Any other kind is refused.
BackendResult<void> norm_kernel(const NormCall& call, KernelInput x, KernelInput second, KernelInput third,
                                KernelInput fourth, KernelOutput out);

}  // namespace tessary::cpu
