#pragma once
// Per-thread scratch arrays of the matmul family. Each thread owns one set,
// grown on demand and never shrunk, so steady-state products allocate
// nothing. A lease borrows the thread's arrays for its lifetime; a second
// lease of the same kind taken on the same thread while the first is held
// (a kernel re-entered from inside another) gets temporary arrays of its
// own instead.
#include <cstdint>
#include <optional>
#include <vector>

namespace tessary::cpu {

// Bᵀ for the scalar engine.
struct MatmulArrays {
  std::vector<float> values;
};

// Binary32 copies of A, C and B for the 16-bit paths (and for staging f32
// operands that are not 4-byte aligned).
struct WidenArrays {
  std::vector<float> a;
  std::vector<float> c;
  std::vector<float> b;
};

// The vector engines' packed operand blocks and per-column lane masks.
struct PackArrays {
  std::vector<float> blocks;
  std::vector<std::uint16_t> lanes;
};

template <class Arrays>
struct ScratchSlot {
  Arrays arrays;
  bool in_use = false;
};

template <class Arrays>
class ScratchLease {
 public:
  explicit ScratchLease(ScratchSlot<Arrays>& slot) {
    if (slot.in_use) {
      temp_.emplace();
    } else {
      slot.in_use = true;
      slot_ = &slot;
    }
  }
  ~ScratchLease() {
    if (slot_ != nullptr) slot_->in_use = false;
  }
  ScratchLease(const ScratchLease&) = delete;
  ScratchLease& operator=(const ScratchLease&) = delete;

  Arrays& get() { return slot_ != nullptr ? slot_->arrays : *temp_; }
  // Whether this lease holds the thread's own arrays.
  bool owns_thread_arrays() const { return slot_ != nullptr; }

 private:
  ScratchSlot<Arrays>* slot_ = nullptr;
  std::optional<Arrays> temp_;
};

// This thread's slots.
ScratchSlot<MatmulArrays>& matmul_scratch_slot();
ScratchSlot<WidenArrays>& widen_scratch_slot();
ScratchSlot<PackArrays>& pack_scratch_slot();

// Grows v to at least n elements (never shrinks).
template <class T>
void grow_to(std::vector<T>& v, std::size_t n) {
  if (v.size() < n) v.resize(n);
}

}  // namespace tessary::cpu
