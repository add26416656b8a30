#pragma once
// The operands a kernel entry point receives: the bytes the workspace lent
// for a buffer reference, together with the id (the slot) that a buffer
// error names when those bytes do not suit the call.
#include <cstddef>
#include <cstdint>
#include <span>

namespace tessary::cpu {

struct KernelInput {
  std::span<const std::uint8_t> bytes;
  std::uint32_t id = 0;
};

struct KernelOutput {
  std::span<std::uint8_t> bytes;
  std::uint32_t id = 0;
};

// Whether `bytes` holds n elements of `width` bytes (no overflow in n * width).
inline bool holds_elements(std::size_t bytes, std::uint64_t n, std::size_t width) {
  return n <= bytes / width;
}

// Whether the first `len` bytes at a and at b overlap without starting at the
// same address. Element-wise kernels read element i before writing element i,
// so an output that is exactly its input is fine; a shifted overlap is not.
inline bool overlaps_shifted(const void* a, const void* b, std::size_t len) {
  const auto pa = reinterpret_cast<std::uintptr_t>(a);
  const auto pb = reinterpret_cast<std::uintptr_t>(b);
  if (len == 0 || pa == pb) return false;
  return pa < pb ? pb - pa < len : pa - pb < len;
}

// Whether [a, a + la) and [b, b + lb) share a byte.
inline bool overlaps(const void* a, std::size_t la, const void* b, std::size_t lb) {
  const auto pa = reinterpret_cast<std::uintptr_t>(a);
  const auto pb = reinterpret_cast<std::uintptr_t>(b);
  if (la == 0 || lb == 0) return false;
  return pa < pb ? pb - pa < la : pa - pb < lb;
}

}  // namespace tessary::cpu
