#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/norm.h"

#include <bit>
#include <cmath>
#include <span>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/float_staging.h"
#include "compute/cpu/norm_operands.h"
#include "compute/cpu/norm_row_ops.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

using namespace norm_detail;

// The shape of one call: units of k elements; in the group form each unit
// is made of `runs` channel runs of `run` elements starting at channel
// first_channel(unit).
struct UnitShape {
  std::size_t units = 0;  // B (row form) or B * G (group form)
  std::size_t k = 0;      // F or F / G
  bool group = false;
  std::size_t groups = 0;  // G
  std::size_t runs = 0;    // channels per group, Ch / G
  std::size_t run = 0;     // elements per channel, F / Ch
};

// Normalizes one unit: x -> y (y may be x). gamma and beta are indexed by
// column in the row form and by channel in the group form; either may be
// null.
void normalize_unit(const UnitShape& s, std::size_t unit, const float* x, float* y, const float* gamma,
                    const float* beta, float eps) {
  const std::size_t k = s.k;
  const float c = 1.0f / static_cast<float>(k);
  const float mean = simd_f32_sum(std::span<const float>(x, k)) * c;
  row_sub_const(x, mean, y, k);
  const float dd = simd_f32_dot(std::span<const float>(y, k), std::span<const float>(y, k));
  const float inv = 1.0f / std::sqrt(c * dd + eps);
  if (!s.group) {
    row_affine(y, inv, gamma, beta, y, k);
    return;
  }
  const std::size_t ch0 = (unit % s.groups) * s.runs;
  for (std::size_t q = 0; q < s.runs; ++q) {
    const std::size_t ch = ch0 + q;
    float* run = y + q * s.run;
    row_affine_const(run, inv, gamma != nullptr ? gamma + ch : nullptr, beta != nullptr ? beta[ch] : 0.0f, run, s.run);
  }
}

}  // namespace

BackendResult<float> norm_epsilon(std::uint64_t field) {
  const auto bits = static_cast<std::uint32_t>(field);
  if (bits == 0) return std::bit_cast<float>(kDefaultNormEpsilonBits);
  const bool sign = (bits >> 31) != 0;
  const bool finite = ((bits >> 23) & 0xFFu) != 0xFFu;
  if (sign || !finite) return std::unexpected(BackendError::unsupported(kMsgNormEpsilon));
  return std::bit_cast<float>(bits);
}

BackendResult<void> norm_float(const NormCall& call, KernelInput x, KernelInput gamma, KernelInput beta,
                               KernelOutput out) {
  const auto width = compute_width(call.dtype);
  if (!width) return std::unexpected(width.error());
  const auto eps = norm_epsilon(call.epsilon);
  if (!eps) return std::unexpected(eps.error());
  const std::size_t b = call.rows;
  const std::size_t f = call.features;
  if (b == 0 || f == 0) return {};

  UnitShape s;
  std::size_t affine_len = f;  // gamma and beta elements
  if (call.groups == 0) {
    s.units = b;
    s.k = f;
  } else {
    const std::size_t ch = call.channels;
    const std::size_t g = call.groups;
    if (ch == 0 || f % ch != 0 || f % g != 0 || ch % g != 0) {
      return std::unexpected(BackendError::unsupported(kMsgGroupNormShape));
    }
    s.group = true;
    s.groups = g;
    s.units = b * g;
    s.k = f / g;
    s.runs = ch / g;
    s.run = f / ch;
    affine_len = ch;
  }

  const std::size_t w = *width;
  const std::uint64_t count = static_cast<std::uint64_t>(b) * f;
  const bool has_gamma = affine_present(gamma);
  const bool has_beta = affine_present(beta);
  if (auto ok = check_holds(x, count, w); !ok) return ok;
  if (has_gamma) {
    if (auto ok = check_holds(gamma, affine_len, w); !ok) return ok;
  }
  if (has_beta) {
    if (auto ok = check_holds(beta, affine_len, w); !ok) return ok;
  }
  if (!holds_elements(out.bytes.size(), count, w)) return std::unexpected(BackendError::buffer_error(out.id));
  const std::size_t out_len = count * w;
  if (auto ok = check_streamed(x, out, out_len); !ok) return ok;
  if (has_gamma) {
    if (auto ok = check_disjoint(gamma, affine_len * w, out, out_len); !ok) return ok;
  }
  if (has_beta) {
    if (auto ok = check_disjoint(beta, affine_len * w, out, out_len); !ok) return ok;
  }

  const bool direct = call.dtype == DTypeId::F32 && f32_aligned(x.bytes.data()) && f32_aligned(out.bytes.data()) &&
                      (!has_gamma || f32_aligned(gamma.bytes.data())) &&
                      (!has_beta || f32_aligned(beta.bytes.data()));
  if (direct) {
    const auto* xs = reinterpret_cast<const float*>(x.bytes.data());
    auto* ys = reinterpret_cast<float*>(out.bytes.data());
    const auto* gs = has_gamma ? reinterpret_cast<const float*>(gamma.bytes.data()) : nullptr;
    const auto* bs = has_beta ? reinterpret_cast<const float*>(beta.bytes.data()) : nullptr;
    for (std::size_t u = 0; u < s.units; ++u) normalize_unit(s, u, xs + u * s.k, ys + u * s.k, gs, bs, *eps);
    return {};
  }

  // Staged: gamma and beta once, then each unit converted, normalized in
  // place and written back.
  float* stage = staging_floats(2 * affine_len + s.k);
  float* gs = has_gamma ? stage : nullptr;
  float* bs = has_beta ? stage + affine_len : nullptr;
  float* unit = stage + 2 * affine_len;
  if (gs != nullptr) load_floats(gamma.bytes.data(), call.dtype, 0, affine_len, gs);
  if (bs != nullptr) load_floats(beta.bytes.data(), call.dtype, 0, affine_len, bs);
  for (std::size_t u = 0; u < s.units; ++u) {
    load_floats(x.bytes.data(), call.dtype, u * s.k, s.k, unit);
    normalize_unit(s, u, unit, unit, gs, bs, *eps);
    store_floats(out.bytes.data(), call.dtype, u * s.k, s.k, unit);
  }
  return {};
}

BackendResult<void> norm_kernel(const NormCall& call, KernelInput x, KernelInput second, KernelInput third,
                                KernelInput fourth, KernelOutput out) {
  switch (call.kind) {
    case CallKind::LayerNorm:
    case CallKind::GroupNorm:
    case CallKind::InstanceNorm: return norm_float(call, x, second, third, out);
    case CallKind::RmsNorm: return rms_norm_float(call, x, second, out);
    case CallKind::AddRmsNorm: return add_rms_norm_float(call, x, second, fourth, out);
    default: return std::unexpected(BackendError::unsupported(kMsgFloatKernelUnknownOp));
  }
}

}  // namespace tessary::cpu
