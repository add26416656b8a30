#include "compute/cpu/reduce_plan.h"

namespace tessary::cpu {

BackendResult<ReducePlan> ReducePlan::make(const ReduceCall& call, std::uint64_t n) {
  if (call.rank > kMaxReduceRank) return std::unexpected(BackendError::unsupported(kMsgReduceRank));
  // A dims product of 0 is compared as is: a tensor with an empty dimension
  // holds no elements, and accepting n = 1 for it would walk an element
  // that no output index covers.
  std::uint64_t product = 1;
  for (unsigned i = 0; i < call.rank; ++i) {
    if (__builtin_mul_overflow(product, static_cast<std::uint64_t>(call.dims[i]), &product)) {
      return std::unexpected(BackendError::unsupported(kMsgReduceDims));
    }
  }
  if (product != n) return std::unexpected(BackendError::unsupported(kMsgReduceDims));

  ReducePlan p;
  const auto mask = static_cast<std::uint8_t>(call.axes & 0xFFu);
  if (call.rank == 0) {
    p.rank = 1;
    p.dims[0] = 1;
    p.reduced[0] = true;
  } else {
    p.rank = call.rank;
    for (unsigned i = 0; i < p.rank; ++i) {
      p.dims[i] = call.dims[i];
      p.reduced[i] = mask == 0 || (mask >> i & 1u) != 0;
    }
  }
  std::uint64_t stride = 1;
  std::uint64_t kept_stride = 1;
  for (unsigned i = p.rank; i-- > 0;) {
    p.strides[i] = stride;
    stride *= p.dims[i];
    p.kept_dims[i] = p.reduced[i] ? 1 : p.dims[i];
    p.kept_strides[i] = kept_stride;
    kept_stride *= p.kept_dims[i];
    if (p.reduced[i]) p.reduced_count *= p.dims[i];
  }
  p.output_count = kept_stride;
  return p;
}

}  // namespace tessary::cpu
