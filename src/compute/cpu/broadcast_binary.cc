#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/broadcast_binary.h"

#include <cstddef>

namespace tessary::cpu {
namespace {

struct AddOp {
  static float apply(float bcast, float full) { return bcast + full; }
};
struct MulOp {
  static float apply(float bcast, float full) { return bcast * full; }
};
struct SubBroadcastFirst {
  static float apply(float bcast, float full) { return bcast - full; }
};
struct SubFullFirst {
  static float apply(float bcast, float full) { return full - bcast; }
};

// Calls row(r, a_offset) for every output row r, where a_offset is the
// broadcast operand's element offset of that row's first element. The
// offset follows the output multi-index through an odometer over the outer
// dimensions, innermost first.
template <typename Row>
void walk_rows(const BroadcastPlan& plan, Row row) {
  std::array<std::uint64_t, kMaxBroadcastRank> idx{};
  std::uint64_t a_off = 0;
  const int outer = static_cast<int>(plan.rank) - 2;
  for (std::uint64_t r = 0; r < plan.rows; ++r) {
    row(r, a_off);
    for (int k = outer; k >= 0; --k) {
      if (++idx[k] < plan.dims[k]) {
        a_off += plan.stride[k];
        break;
      }
      idx[k] = 0;
      a_off -= plan.stride[k] * (plan.dims[k] - 1);
    }
  }
}

template <typename Op>
void run_f32(const BroadcastPlan& plan, const float* a, const float* b, float* out) {
  const std::uint64_t len = plan.row_len;
  const bool single = plan.stride[plan.rank - 1] == 0;
  walk_rows(plan, [&](std::uint64_t r, std::uint64_t a_off) {
    const float* ar = a + a_off;
    const float* br = b + r * len;
    float* orow = out + r * len;
    if (single) {
      const float v = ar[0];
      for (std::uint64_t j = 0; j < len; ++j) orow[j] = Op::apply(v, br[j]);
    } else {
      for (std::uint64_t j = 0; j < len; ++j) orow[j] = Op::apply(ar[j], br[j]);
    }
  });
}

template <typename Op>
void run_elements(const BroadcastPlan& plan, DTypeId dtype, const std::uint8_t* a, const std::uint8_t* b,
                  std::uint8_t* out) {
  const std::uint64_t len = plan.row_len;
  const std::uint64_t step = plan.stride[plan.rank - 1];
  walk_rows(plan, [&](std::uint64_t r, std::uint64_t a_off) {
    for (std::uint64_t j = 0; j < len; ++j) {
      const std::uint64_t i = r * len + j;
      write_float(out, i, dtype, Op::apply(read_float(a, a_off + j * step, dtype), read_float(b, i, dtype)));
    }
  });
}

template <typename Op>
void run(const BroadcastPlan& plan, DTypeId dtype, const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out) {
  const auto aligned = [](const void* p) { return reinterpret_cast<std::uintptr_t>(p) % alignof(float) == 0; };
  if (dtype == DTypeId::F32 && aligned(a) && aligned(b) && aligned(out)) {
    run_f32<Op>(plan, reinterpret_cast<const float*>(a), reinterpret_cast<const float*>(b),
                reinterpret_cast<float*>(out));
  } else {
    run_elements<Op>(plan, dtype, a, b, out);
  }
}

void run_op(const BroadcastPlan& plan, DTypeId dtype, const std::uint8_t* a, const std::uint8_t* b,
            std::uint8_t* out) {
  switch (plan.op) {
    case BroadcastOp::Add: return run<AddOp>(plan, dtype, a, b, out);
    case BroadcastOp::Mul: return run<MulOp>(plan, dtype, a, b, out);
    case BroadcastOp::Sub:
      if (plan.order) return run<SubBroadcastFirst>(plan, dtype, a, b, out);
      return run<SubFullFirst>(plan, dtype, a, b, out);
  }
}

bool checked_mul(std::uint64_t a, std::uint64_t b, std::uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }

}  // namespace

void broadcast_binary_f32_run(const BroadcastPlan& plan, const float* a, const float* b, float* out) {
  switch (plan.op) {
    case BroadcastOp::Add: return run_f32<AddOp>(plan, a, b, out);
    case BroadcastOp::Mul: return run_f32<MulOp>(plan, a, b, out);
    case BroadcastOp::Sub:
      if (plan.order) return run_f32<SubBroadcastFirst>(plan, a, b, out);
      return run_f32<SubFullFirst>(plan, a, b, out);
  }
}

BackendResult<void> broadcast_binary_kernel(const BroadcastBinaryParams& params, DTypeId dtype, KernelInput a,
                                            KernelInput b, KernelOutput out) {
  if (dtype == DTypeId::F64) return std::unexpected(BackendError::unsupported(kMsgF64NotCompute));
  if (!is_compute_type(dtype)) return std::unexpected(BackendError::unsupported(kMsgBroadcastFloatOnly));
  if (params.op > 2) return std::unexpected(BackendError::unsupported(kMsgBroadcastBadOp));
  if (params.rank < 1 || params.rank > kMaxBroadcastRank) {
    return std::unexpected(BackendError::unsupported(kMsgBroadcastRank));
  }
  const unsigned rank = params.rank;
  for (unsigned k = 0; k < rank; ++k) {
    if (params.in_dims[k] != 1 && params.in_dims[k] != params.out_dims[k]) {
      return std::unexpected(BackendError::unsupported(kMsgBroadcastDims));
    }
  }

  // A zero dimension leaves nothing to write and nothing to read. Past this,
  // every dimension is at least 1, so the broadcast operand (each dimension 1
  // or the output's) is no larger than the output.
  for (unsigned k = 0; k < rank; ++k) {
    if (params.out_dims[k] == 0) return {};
  }
  std::uint64_t a_count = 1;
  std::uint64_t out_count = 1;
  bool a_fits = true;
  bool out_fits = true;
  for (unsigned k = 0; k < rank; ++k) {
    a_fits = a_fits && checked_mul(a_count, params.in_dims[k], a_count);
    out_fits = out_fits && checked_mul(out_count, params.out_dims[k], out_count);
  }
  const std::size_t width = *element_width(dtype);
  if (!a_fits || !holds_elements(a.bytes.size(), a_count, width)) {
    return std::unexpected(BackendError::buffer_error(a.id));
  }
  if (!out_fits || !holds_elements(b.bytes.size(), out_count, width)) {
    return std::unexpected(BackendError::buffer_error(b.id));
  }
  if (!holds_elements(out.bytes.size(), out_count, width)) return std::unexpected(BackendError::buffer_error(out.id));

  BroadcastPlan plan;
  plan.op = static_cast<BroadcastOp>(params.op);
  plan.order = params.order;
  plan.rank = rank;
  std::uint64_t inner = 1;
  for (int k = static_cast<int>(rank) - 1; k >= 0; --k) {
    plan.dims[k] = params.out_dims[k];
    plan.stride[k] = params.in_dims[k] == 1 ? 0 : inner;
    inner *= params.in_dims[k];
  }
  plan.row_len = plan.dims[rank - 1];
  plan.rows = out_count / plan.row_len;

  const std::size_t out_bytes = out_count * width;
  if (overlaps(a.bytes.data(), a_count * width, out.bytes.data(), out_bytes)) {
    return std::unexpected(BackendError::buffer_error(a.id));
  }
  if (overlaps_shifted(b.bytes.data(), out.bytes.data(), out_bytes)) {
    return std::unexpected(BackendError::buffer_error(b.id));
  }
  run_op(plan, dtype, a.bytes.data(), b.bytes.data(), out.bytes.data());
  return {};
}

}  // namespace tessary::cpu
