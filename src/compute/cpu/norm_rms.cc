// rms_norm and add_rms_norm.
#pragma GCC optimize("fp-contract=off")

#include <cmath>
#include <span>

#include "compute/cpu/float_staging.h"
#include "compute/cpu/norm.h"
#include "compute/cpu/norm_operands.h"
#include "compute/cpu/norm_row_ops.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

using namespace norm_detail;

// y = (inv * h) * gamma over one row, inv from the row's mean square; y may be h.
void rms_row(const float* h, float* y, const float* gamma, std::size_t cols, float eps) {
  const float ms = simd_f32_dot(std::span<const float>(h, cols), std::span<const float>(h, cols)) /
                   static_cast<float>(cols);
  const float inv = 1.0f / std::sqrt(ms + eps);
  row_scale_mul(h, inv, gamma, y, cols);
}

// Both RMS norms; residual null for rms_norm. Gamma presence is decided by
// the caller.
BackendResult<void> rms_common(const NormCall& call, const KernelInput& x, const KernelInput* residual,
                               const KernelInput& gamma, bool has_gamma, const KernelOutput& out) {
  const auto width = compute_width(call.dtype);
  if (!width) return std::unexpected(width.error());
  const auto eps = norm_epsilon(call.epsilon);
  if (!eps) return std::unexpected(eps.error());
  const std::size_t rows = call.rows;
  const std::size_t cols = call.features;
  if (rows == 0 || cols == 0) return {};

  const std::size_t w = *width;
  const std::uint64_t count = static_cast<std::uint64_t>(rows) * cols;
  if (auto ok = check_holds(x, count, w); !ok) return ok;
  if (residual != nullptr) {
    if (auto ok = check_holds(*residual, count, w); !ok) return ok;
  }
  if (has_gamma) {
    if (auto ok = check_holds(gamma, cols, w); !ok) return ok;
  }
  if (!holds_elements(out.bytes.size(), count, w)) return std::unexpected(BackendError::buffer_error(out.id));
  const std::size_t out_len = count * w;
  if (auto ok = check_streamed(x, out, out_len); !ok) return ok;
  if (residual != nullptr) {
    if (auto ok = check_streamed(*residual, out, out_len); !ok) return ok;
  }
  if (has_gamma) {
    if (auto ok = check_disjoint(gamma, cols * w, out, out_len); !ok) return ok;
  }

  const bool direct = call.dtype == DTypeId::F32 && f32_aligned(x.bytes.data()) && f32_aligned(out.bytes.data()) &&
                      (residual == nullptr || f32_aligned(residual->bytes.data())) &&
                      (!has_gamma || f32_aligned(gamma.bytes.data()));
  if (direct) {
    const auto* xs = reinterpret_cast<const float*>(x.bytes.data());
    const auto* rs = residual != nullptr ? reinterpret_cast<const float*>(residual->bytes.data()) : nullptr;
    const auto* gs = has_gamma ? reinterpret_cast<const float*>(gamma.bytes.data()) : nullptr;
    auto* ys = reinterpret_cast<float*>(out.bytes.data());
    for (std::size_t r = 0; r < rows; ++r) {
      const float* xr = xs + r * cols;
      float* yr = ys + r * cols;
      if (rs != nullptr) {
        // h = x + residual goes to the output first, then is normalized there.
        simd_f32_add(std::span<const float>(xr, cols), std::span<const float>(rs + r * cols, cols),
                     std::span<float>(yr, cols));
        xr = yr;
      }
      rms_row(xr, yr, gs, cols, *eps);
    }
    return {};
  }

  // Staged: gamma once, then each row (and its residual row) converted, h
  // kept in binary32, normalized in place and written back.
  const std::size_t gamma_len = has_gamma ? cols : 0;
  float* stage = staging_floats(gamma_len + 2 * cols);
  float* gs = has_gamma ? stage : nullptr;
  float* row = stage + gamma_len;
  float* res = row + cols;
  if (gs != nullptr) load_floats(gamma.bytes.data(), call.dtype, 0, cols, gs);
  for (std::size_t r = 0; r < rows; ++r) {
    load_floats(x.bytes.data(), call.dtype, r * cols, cols, row);
    if (residual != nullptr) {
      load_floats(residual->bytes.data(), call.dtype, r * cols, cols, res);
      simd_f32_add(std::span<const float>(row, cols), std::span<const float>(res, cols), std::span<float>(row, cols));
    }
    rms_row(row, row, gs, cols, *eps);
    store_floats(out.bytes.data(), call.dtype, r * cols, cols, row);
  }
  return {};
}

}  // namespace

BackendResult<void> rms_norm_float(const NormCall& call, KernelInput x, KernelInput gamma, KernelOutput out) {
  return rms_common(call, x, nullptr, gamma, affine_present(gamma), out);
}

BackendResult<void> add_rms_norm_float(const NormCall& call, KernelInput x, KernelInput residual, KernelInput gamma,
                                       KernelOutput out) {
  return rms_common(call, x, &residual, gamma, gamma.id != kSlotNone, out);
}

}  // namespace tessary::cpu
