#pragma once
// BufferRef: a byte window into the storage of one slot. Kept free of other
// includes because the archive byte reader decodes it directly.
#include <cstdint>

namespace tessary {

// The slot value that marks a reference as absent (an optional operand the
// call does not have).
inline constexpr std::uint32_t kSlotNone = 0xFFFFFFFFu;

struct BufferRef {
  std::uint64_t offset = 0;  // byte offset inside the slot's view
  std::uint64_t len = 0;     // byte length; 0 means up to the end of the view
  std::uint32_t slot = kSlotNone;

  static constexpr BufferRef absent() { return BufferRef{}; }
  static constexpr BufferRef whole(std::uint32_t slot) { return BufferRef{0, 0, slot}; }

  constexpr bool present() const { return slot != kSlotNone; }

  friend constexpr bool operator==(const BufferRef&, const BufferRef&) = default;
};

}  // namespace tessary
