#pragma once
// Workspace: the only way a kernel reaches bytes. Kernels name storage with
// BufferRefs; the session's buffer arena resolves them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "compute/buffer_ref.h"

namespace tessary {

using ReadBytes = std::span<const std::uint8_t>;
using WriteBytes = std::span<std::uint8_t>;

// The output's writable bytes together with each input's bytes. Up to four
// inputs are held inline.
class SplitBorrow {
 public:
  static constexpr std::size_t kInline = 4;

  WriteBytes output;

  std::size_t size() const { return count_; }
  ReadBytes input(std::size_t i) const { return i < kInline ? inline_[i] : spill_[i - kInline]; }
  void push(ReadBytes b) {
    if (count_ < kInline) {
      inline_[count_] = b;
    } else {
      spill_.push_back(b);
    }
    ++count_;
  }

 private:
  std::array<ReadBytes, kInline> inline_{};
  std::vector<ReadBytes> spill_;
  std::size_t count_ = 0;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  // The bytes of a reference; an unbound slot or inverted range gives an
  // empty range. read and write resolve the same range.
  virtual ReadBytes read(const BufferRef& ref) const = 0;
  virtual WriteBytes write(const BufferRef& ref) = 0;
  // Fails when a slot is unbound, a range is inverted, or an input range
  // overlaps the output range inside the same buffer.
  virtual std::optional<SplitBorrow> split_borrow(const BufferRef& output, std::span<const BufferRef> inputs) = 0;
};

}  // namespace tessary
