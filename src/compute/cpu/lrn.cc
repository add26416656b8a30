#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/lrn.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "compute/cpu/float_staging.h"
#include "types/dtype.h"

namespace tessary::cpu {
namespace {

struct LrnShape {
  std::size_t batch = 0, channels = 0, spatial = 0, size = 0;
  float a = 0.0f, beta = 0.0f, bias = 0.0f;
};

// One (n, c) plane at a time: the window sums of all spatial positions are
// accumulated channel by channel in `sq`, which keeps each position's sum in
// channel order.
template <DTypeId T>
void lrn_run(const LrnShape& s, const std::uint8_t* in, std::uint8_t* out, float* sq) {
  const std::size_t below = (s.size - 1) / 2;
  const std::size_t above = s.size / 2;
  for (std::size_t n = 0; n < s.batch; ++n) {
    const std::size_t sample = n * s.channels * s.spatial;
    for (std::size_t c = 0; c < s.channels; ++c) {
      const std::size_t lo = c >= below ? c - below : 0;
      const std::size_t hi = std::min(s.channels, c + above + 1);
      std::fill(sq, sq + s.spatial, 0.0f);
      for (std::size_t w = lo; w < hi; ++w) {
        const std::size_t plane = sample + w * s.spatial;
        for (std::size_t p = 0; p < s.spatial; ++p) {
          const float v = read_float(in, plane + p, T);
          const float v2 = v * v;
          sq[p] += v2;
        }
      }
      const std::size_t plane = sample + c * s.spatial;
      for (std::size_t p = 0; p < s.spatial; ++p) {
        const float as = s.a * sq[p];
        const float v = read_float(in, plane + p, T);
        write_float(out, plane + p, T, v / powf(s.bias + as, s.beta));
      }
    }
  }
}

}  // namespace

BackendResult<void> lrn_kernel(const LrnCall& call, KernelInput in, KernelOutput out) {
  if (call.dtype == DTypeId::F64) return std::unexpected(BackendError::unsupported(kMsgF64NotCompute));
  if (!is_compute_type(call.dtype)) return std::unexpected(BackendError::unsupported(kMsgLrnFloatOnly));
  if (call.channels == 0 || call.size == 0) return std::unexpected(BackendError::unsupported(kMsgLrnShape));
  const std::size_t w = *element_width(call.dtype);

  std::uint64_t count = 0;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(call.batch) * call.channels,
                             static_cast<std::uint64_t>(call.spatial), &count)) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }
  if (!holds_elements(in.bytes.size(), count, w)) return std::unexpected(BackendError::buffer_error(in.id));
  if (!holds_elements(out.bytes.size(), count, w)) return std::unexpected(BackendError::buffer_error(out.id));
  if (count == 0) return {};
  if (overlaps(in.bytes.data(), count * w, out.bytes.data(), count * w)) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }

  LrnShape s;
  s.batch = call.batch;
  s.channels = call.channels;
  s.spatial = call.spatial;
  s.size = call.size;
  s.a = std::bit_cast<float>(call.alpha) / static_cast<float>(call.size);
  s.beta = std::bit_cast<float>(call.beta);
  s.bias = std::bit_cast<float>(call.bias);
  float* sq = staging_floats(s.spatial);
  switch (call.dtype) {
    case DTypeId::F16: lrn_run<DTypeId::F16>(s, in.bytes.data(), out.bytes.data(), sq); break;
    case DTypeId::BF16: lrn_run<DTypeId::BF16>(s, in.bytes.data(), out.bytes.data(), sq); break;
    default: lrn_run<DTypeId::F32>(s, in.bytes.data(), out.bytes.data(), sq); break;
  }
  return {};
}

}  // namespace tessary::cpu
