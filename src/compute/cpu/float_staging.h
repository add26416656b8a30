#pragma once
// Staging of float rows in binary32 for the kernels that reduce along rows
// (softmax, the norms, LRN): the dtype check they share, the test for working
// on f32 buffers in place, and a per-thread array that f16, bf16 and
// unaligned f32 rows are converted into and out of.
#include <cstddef>
#include <cstdint>

#include "compute/backend_error.h"
#include "types/dtype.h"

namespace tessary::cpu {

// The element width of a compute dtype (f32, f16, bf16). Refusals: no fixed
// width, f64, and every other fixed-width type, each with its dtype message.
BackendResult<std::size_t> compute_width(DTypeId dtype);

inline bool f32_aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % alignof(float) == 0; }

// Elements [first, first + n) of a compute-dtype buffer as binary32, and back
// (rounded by the dtype's write rule). The caller has checked the bounds.
void load_floats(const std::uint8_t* bytes, DTypeId dtype, std::size_t first, std::size_t n, float* dst);
void store_floats(std::uint8_t* bytes, DTypeId dtype, std::size_t first, std::size_t n, const float* src);

// This thread's staging array of at least n floats. It grows to the largest
// request and is kept, so a steady state allocates nothing. The pointer is
// valid until the next request on the same thread; kernels request once per
// call and partition the result.
float* staging_floats(std::size_t n);

}  // namespace tessary::cpu
