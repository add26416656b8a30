#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/softmax.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <span>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/float_staging.h"
#include "compute/cpu/norm_row_ops.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

// Rows are processed in batches so that the index-order sums of several rows
// run as independent chains; one row's sum alone is a chain of dependent
// additions and would bound the whole kernel.
constexpr std::size_t kBatch = 8;

constexpr float kSumFloor = 1e-30f;

// Columns are exponentiated and summed a chunk at a time, so the sums read
// the chunk from L1 rather than a whole batch of rows from L2. The sums still
// run over each row in index order: chunking only pauses them.
constexpr std::size_t kChunk = 512;

// Kept scalar: packing the rows' elements into vector lanes costs more
// shuffles than the independent scalar chains cost additions.
template <std::size_t K>
__attribute__((optimize("no-tree-slp-vectorize", "no-tree-vectorize"))) void sequential_sums_k(
    const float* const* rows, std::size_t j0, std::size_t j1, float* sums) {
  float s[K];
  const float* p[K];
  for (std::size_t r = 0; r < K; ++r) {
    s[r] = sums[r];
    p[r] = rows[r];
  }
  for (std::size_t j = j0; j < j1; ++j) {
    for (std::size_t r = 0; r < K; ++r) s[r] += p[r][j];
  }
  for (std::size_t r = 0; r < K; ++r) sums[r] = s[r];
}

// sums[r] += rows[r][j0] + ... + rows[r][j1 - 1], added in index order, for
// count <= kBatch rows.
void sequential_sums(const float* const* rows, std::size_t count, std::size_t j0, std::size_t j1, float* sums) {
  switch (count) {
    case 8: return sequential_sums_k<8>(rows, j0, j1, sums);
    case 7: return sequential_sums_k<7>(rows, j0, j1, sums);
    case 6: return sequential_sums_k<6>(rows, j0, j1, sums);
    case 5: return sequential_sums_k<5>(rows, j0, j1, sums);
    case 4: return sequential_sums_k<4>(rows, j0, j1, sums);
    case 3: return sequential_sums_k<3>(rows, j0, j1, sums);
    case 2: return sequential_sums_k<2>(rows, j0, j1, sums);
    case 1: return sequential_sums_k<1>(rows, j0, j1, sums);
    default: return;
  }
}

// One batch of `count` rows of `cols` binary32 values. y[r] may be x[r]; t[r]
// receives the exponentials and may be y[r] for softmax (not for
// log_softmax, which reads x after the sums).
void softmax_batch(const float* const* x, float* const* y, float* const* t, std::size_t count, std::size_t cols,
                   bool log) {
  constexpr float kNegInf = -std::numeric_limits<float>::infinity();
  float m[kBatch];
  const float* live_t[kBatch];
  std::size_t live_row[kBatch];
  std::size_t live = 0;
  for (std::size_t r = 0; r < count; ++r) {
    m[r] = simd_f32_max(std::span<const float>(x[r], cols));
    if (m[r] <= kNegInf) {
      std::fill(y[r], y[r] + cols, log ? kNegInf : 0.0f);
      continue;
    }
    live_t[live] = t[r];
    live_row[live] = r;
    ++live;
  }
  float sums[kBatch] = {};
  for (std::size_t j0 = 0; j0 < cols; j0 += kChunk) {
    const std::size_t len = std::min(kChunk, cols - j0);
    for (std::size_t i = 0; i < live; ++i) {
      const std::size_t r = live_row[i];
      row_sub_const(x[r] + j0, m[r], t[r] + j0, len);
      simd_f32_exp_inplace(std::span<float>(t[r] + j0, len));
    }
    sequential_sums(live_t, live, j0, j0 + len, sums);
  }
  for (std::size_t i = 0; i < live; ++i) {
    const std::size_t r = live_row[i];
    float s = sums[i];
    if (!(s > kSumFloor)) s = kSumFloor;
    if (log) {
      const float l = m[r] + std::log(s);
      row_sub_const(x[r], l, y[r], cols);
    } else {
      row_div_const(t[r], s, y[r], cols);
    }
  }
}

}  // namespace

BackendResult<void> softmax_float(const SoftmaxCall& call, KernelInput in, KernelOutput out, bool log) {
  const auto width = compute_width(call.dtype);
  if (!width) return std::unexpected(width.error());
  const std::size_t rows = call.rows;
  const std::size_t cols = call.cols;
  if (rows == 0 || cols == 0) return {};
  const std::uint64_t count = static_cast<std::uint64_t>(rows) * cols;
  if (!holds_elements(in.bytes.size(), count, *width)) return std::unexpected(BackendError::buffer_error(in.id));
  if (!holds_elements(out.bytes.size(), count, *width)) return std::unexpected(BackendError::buffer_error(out.id));
  if (overlaps_shifted(in.bytes.data(), out.bytes.data(), count * *width)) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }

  const std::size_t batch = std::min(kBatch, rows);
  const float* xr[kBatch];
  float* yr[kBatch];
  float* tr[kBatch];

  if (call.dtype == DTypeId::F32 && f32_aligned(in.bytes.data()) && f32_aligned(out.bytes.data())) {
    const auto* x = reinterpret_cast<const float*>(in.bytes.data());
    auto* y = reinterpret_cast<float*>(out.bytes.data());
    float* scratch = log ? staging_floats(batch * cols) : nullptr;
    for (std::size_t r0 = 0; r0 < rows; r0 += batch) {
      const std::size_t k = std::min(batch, rows - r0);
      for (std::size_t r = 0; r < k; ++r) {
        xr[r] = x + (r0 + r) * cols;
        yr[r] = y + (r0 + r) * cols;
        tr[r] = log ? scratch + r * cols : yr[r];
      }
      softmax_batch(xr, yr, tr, k, cols, log);
    }
    return {};
  }

  // f16, bf16 and unaligned f32: each batch is staged in binary32, computed
  // in place there, and written back.
  float* stage = staging_floats((log ? 2 : 1) * batch * cols);
  float* texp = stage + batch * cols;
  for (std::size_t r0 = 0; r0 < rows; r0 += batch) {
    const std::size_t k = std::min(batch, rows - r0);
    load_floats(in.bytes.data(), call.dtype, r0 * cols, k * cols, stage);
    for (std::size_t r = 0; r < k; ++r) {
      xr[r] = stage + r * cols;
      yr[r] = stage + r * cols;
      tr[r] = log ? texp + r * cols : yr[r];
    }
    softmax_batch(xr, yr, tr, k, cols, log);
    store_floats(out.bytes.data(), call.dtype, r0 * cols, k * cols, stage);
  }
  return {};
}

BackendResult<void> softmax_kernel(const SoftmaxCall& call, KernelInput in, KernelOutput out) {
  switch (call.kind) {
    case CallKind::Softmax: return softmax_float(call, in, out, false);
    case CallKind::LogSoftmax: return softmax_float(call, in, out, true);
    default: return std::unexpected(BackendError::unsupported(kMsgFloatKernelUnknownOp));
  }
}

}  // namespace tessary::cpu
