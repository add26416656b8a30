#pragma once
// ReducePlan: the geometry of a reduction over any set of up to eight axes of
// a row-major tensor, and ReduceKind: what a reduction folds. Shared by the
// float reductions and the byte-domain ones.
#include <array>
#include <cmath>
#include <cstdint>
#include <expected>
#include <limits>
#include <string_view>

#include "compute/backend_error.h"
#include "compute/kernel_call.h"

namespace tessary::cpu {

inline constexpr std::string_view kMsgReduceRank = "reduce: rank must be ≤ 8";
inline constexpr std::string_view kMsgReduceDims = "reduce: dims product ≠ element_count";

inline constexpr unsigned kMaxReduceRank = 8;

// The fold of a reduction and its initial value. Mean is Sum followed by a
// scaling by the reduced count.
enum class ReduceKind : std::uint8_t { Sum, Prod, Min, Max };

inline float reduce_initial(ReduceKind kind) {
  switch (kind) {
    case ReduceKind::Sum: return 0.0f;
    case ReduceKind::Prod: return 1.0f;
    case ReduceKind::Min: return std::numeric_limits<float>::infinity();
    case ReduceKind::Max: return -std::numeric_limits<float>::infinity();
  }
  return 0.0f;
}

// min and max ignore a NaN operand (NaN only when both are NaN).
inline float reduce_fold(ReduceKind kind, float acc, float v) {
  switch (kind) {
    case ReduceKind::Sum: return acc + v;
    case ReduceKind::Prod: return acc * v;
    case ReduceKind::Min:
      if (std::isnan(v)) return acc;
      if (std::isnan(acc)) return v;
      return v < acc ? v : acc;
    case ReduceKind::Max:
      if (std::isnan(v)) return acc;
      if (std::isnan(acc)) return v;
      return v > acc ? v : acc;
  }
  return acc;
}

struct ReducePlan {
  // Rank 0 is held as one axis of size 1, reduced, so walks need no special case.
  unsigned rank = 1;
  std::array<std::uint64_t, kMaxReduceRank> dims{};
  std::array<bool, kMaxReduceRank> reduced{};
  std::array<std::uint64_t, kMaxReduceRank> strides{};  // row-major strides of the input
  // d[i] for kept axes, 1 for reduced ones, and the row-major strides of
  // those kept dimensions: the output index step of each axis (used only
  // where the axis is kept).
  std::array<std::uint64_t, kMaxReduceRank> kept_dims{};
  std::array<std::uint64_t, kMaxReduceRank> kept_strides{};
  std::uint64_t output_count = 1;   // product of the kept dimensions
  std::uint64_t reduced_count = 1;  // product of the reduced dimensions

  // From the call's rank, dims and axis mask, for an input of n elements.
  // The mask is the low 8 bits of the call's axes (one bit per axis); mask 0
  // reduces every axis. Fails with kMsgReduceRank for a rank above 8 and with
  // kMsgReduceDims when the product of the dimensions is not n (a product
  // that overflows never matches).
  static BackendResult<ReducePlan> make(const ReduceCall& call, std::uint64_t n);
};

}  // namespace tessary::cpu
