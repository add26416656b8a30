#include "compute/cpu/float_staging.h"

#include <vector>

#include "compute/cpu/elementwise_kernels.h"

namespace tessary::cpu {
namespace {

template <DTypeId T>
void load_as(const std::uint8_t* bytes, std::size_t first, std::size_t n, float* dst) {
  for (std::size_t i = 0; i < n; ++i) dst[i] = read_float(bytes, first + i, T);
}

template <DTypeId T>
void store_as(std::uint8_t* bytes, std::size_t first, std::size_t n, const float* src) {
  for (std::size_t i = 0; i < n; ++i) write_float(bytes, first + i, T, src[i]);
}

thread_local std::vector<float> t_staging;

}  // namespace

BackendResult<std::size_t> compute_width(DTypeId dtype) {
  const auto w = element_width(dtype);
  if (!w) return std::unexpected(BackendError::unsupported(kMsgNoFixedWidth));
  if (dtype == DTypeId::F64) return std::unexpected(BackendError::unsupported(kMsgF64NotCompute));
  if (!is_compute_type(dtype)) return std::unexpected(BackendError::unsupported(kMsgFloatKernelComputeOnly));
  return *w;
}

void load_floats(const std::uint8_t* bytes, DTypeId dtype, std::size_t first, std::size_t n, float* dst) {
  switch (dtype) {
    case DTypeId::F16: return load_as<DTypeId::F16>(bytes, first, n, dst);
    case DTypeId::BF16: return load_as<DTypeId::BF16>(bytes, first, n, dst);
    default: return load_as<DTypeId::F32>(bytes, first, n, dst);
  }
}

void store_floats(std::uint8_t* bytes, DTypeId dtype, std::size_t first, std::size_t n, const float* src) {
  switch (dtype) {
    case DTypeId::F16: return store_as<DTypeId::F16>(bytes, first, n, src);
    case DTypeId::BF16: return store_as<DTypeId::BF16>(bytes, first, n, src);
    default: return store_as<DTypeId::F32>(bytes, first, n, src);
  }
}

float* staging_floats(std::size_t n) {
  std::vector<float>& v = t_staging;
  if (v.size() < n) v.resize(n);
  return v.data();
}

}  // namespace tessary::cpu
