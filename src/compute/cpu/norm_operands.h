#pragma once
// Operand checks shared by the norm kernels.
#include <cstdint>

#include "compute/backend_error.h"
#include "compute/buffer_ref.h"
#include "compute/cpu/kernel_buffers.h"

namespace tessary::cpu::norm_detail {

// A gamma or beta of layer/group/instance/rms norm: absent by id or by
// having no bytes.
inline bool affine_present(const KernelInput& in) { return in.id != kSlotNone && !in.bytes.empty(); }

// The input holds n elements of `width` bytes.
inline BackendResult<void> check_holds(const KernelInput& in, std::uint64_t n, std::size_t width) {
  if (!holds_elements(in.bytes.size(), n, width)) return std::unexpected(BackendError::buffer_error(in.id));
  return {};
}

// An input read element by element alongside the output write: the same
// bytes are fine, a shifted overlap is not.
inline BackendResult<void> check_streamed(const KernelInput& in, const KernelOutput& out, std::size_t out_len) {
  if (overlaps_shifted(in.bytes.data(), out.bytes.data(), out_len)) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }
  return {};
}

// An input read again after output elements were written (gamma, beta):
// no shared byte at all.
inline BackendResult<void> check_disjoint(const KernelInput& in, std::size_t in_len, const KernelOutput& out,
                                          std::size_t out_len) {
  if (overlaps(in.bytes.data(), in_len, out.bytes.data(), out_len)) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }
  return {};
}

}  // namespace tessary::cpu::norm_detail
