#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/reduce.h"

#include <cstring>
#include <span>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/float_staging.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

// The value as it reads back after a write in dtype T.
template <DTypeId T>
float round_to(float v) {
  if constexpr (T == DTypeId::F16) return f16_bits_to_f32(f32_to_f16_bits(v));
  if constexpr (T == DTypeId::BF16) return bf16_bits_to_f32(f32_to_bf16_bits(v));
  return v;
}

// Row-major walk over runs of the innermost axis. A reduced innermost axis
// folds a whole run into one output element, a kept one folds the run
// element-wise into a run of outputs; both keep each output's fold in input
// index order. The odometer over the outer axes moves the output index by
// an axis' kept stride where the axis is kept.
template <DTypeId T>
void walk(const ReducePlan& plan, ReduceKind kind, bool mean, const std::uint8_t* in, std::uint8_t* out,
          std::uint64_t n) {
  const float init = reduce_initial(kind);
  for (std::uint64_t o = 0; o < plan.output_count; ++o) write_float(out, o, T, init);

  const unsigned last = plan.rank - 1;
  const std::uint64_t len = plan.dims[last];
  std::array<std::uint64_t, kMaxReduceRank> idx{};
  std::uint64_t base = 0;
  for (std::uint64_t i = 0; i < n; i += len) {
    if (plan.reduced[last]) {
      // round_to gives the value a write and read-back of the output element
      // would give, so the per-step 16-bit rounding is preserved.
      float acc = read_float(out, base, T);
      for (std::uint64_t j = 0; j < len; ++j) acc = round_to<T>(reduce_fold(kind, acc, read_float(in, i + j, T)));
      write_float(out, base, T, acc);
    } else {
      for (std::uint64_t j = 0; j < len; ++j) {
        write_float(out, base + j, T, reduce_fold(kind, read_float(out, base + j, T), read_float(in, i + j, T)));
      }
    }
    for (unsigned k = last; k-- > 0;) {
      if (++idx[k] < plan.dims[k]) {
        if (!plan.reduced[k]) base += plan.kept_strides[k];
        break;
      }
      idx[k] = 0;
      if (!plan.reduced[k]) base -= plan.kept_strides[k] * (plan.dims[k] - 1);
    }
  }

  if (mean) {
    const float inv = 1.0f / static_cast<float>(plan.reduced_count);
    for (std::uint64_t o = 0; o < plan.output_count; ++o) write_float(out, o, T, read_float(out, o, T) * inv);
  }
}

float full_f32(ReduceKind kind, bool mean, std::uint64_t reduced_count, const float* x, std::size_t n) {
  const std::span<const float> xs(x, n);
  switch (kind) {
    case ReduceKind::Sum: {
      const float s = simd_f32_sum(xs);
      return mean ? s / static_cast<float>(reduced_count) : s;
    }
    case ReduceKind::Prod: {
      float p = 1.0f;
      for (std::size_t i = 0; i < n; ++i) p *= x[i];
      return p;
    }
    case ReduceKind::Min: return simd_f32_min(xs);
    case ReduceKind::Max: return simd_f32_max(xs);
  }
  return 0.0f;
}

}  // namespace

BackendResult<void> reduce_float(const ReduceCall& call, KernelInput in, KernelOutput out, ReduceKind kind,
                                 bool mean) {
  const std::uint64_t n = call.n;
  if (n == 0) return {};
  const auto width = compute_width(call.dtype);
  if (!width) return std::unexpected(width.error());
  auto plan = ReducePlan::make(call, n);
  if (!plan) return std::unexpected(plan.error());
  if (!holds_elements(in.bytes.size(), n, *width)) return std::unexpected(BackendError::buffer_error(in.id));
  if (!holds_elements(out.bytes.size(), plan->output_count, *width)) {
    return std::unexpected(BackendError::buffer_error(out.id));
  }
  // The output is initialised before the input is read, so no overlap at all.
  if (overlaps(in.bytes.data(), n * *width, out.bytes.data(), out.bytes.size())) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }

  const std::size_t used = plan->output_count * *width;
  std::uint8_t* y = out.bytes.data();
  if (call.dtype == DTypeId::F32 && plan->output_count == 1 && f32_aligned(in.bytes.data()) &&
      f32_aligned(y)) {
    const float v = full_f32(kind, mean, plan->reduced_count, reinterpret_cast<const float*>(in.bytes.data()), n);
    std::memcpy(y, &v, sizeof v);
  } else {
    switch (call.dtype) {
      case DTypeId::F16: walk<DTypeId::F16>(*plan, kind, mean, in.bytes.data(), y, n); break;
      case DTypeId::BF16: walk<DTypeId::BF16>(*plan, kind, mean, in.bytes.data(), y, n); break;
      default: walk<DTypeId::F32>(*plan, kind, mean, in.bytes.data(), y, n); break;
    }
  }
  std::memset(y + used, 0, out.bytes.size() - used);
  return {};
}

BackendResult<void> reduce_kernel(const ReduceCall& call, KernelInput in, KernelOutput out) {
  switch (call.kind) {
    case CallKind::ReduceSum: return reduce_float(call, in, out, ReduceKind::Sum, false);
    case CallKind::ReduceMean: return reduce_float(call, in, out, ReduceKind::Sum, true);
    case CallKind::ReduceProd: return reduce_float(call, in, out, ReduceKind::Prod, false);
    case CallKind::ReduceMin: return reduce_float(call, in, out, ReduceKind::Min, false);
    case CallKind::ReduceMax: return reduce_float(call, in, out, ReduceKind::Max, false);
    default: return std::unexpected(BackendError::unsupported(kMsgFloatKernelUnknownOp));
  }
}

}  // namespace tessary::cpu
