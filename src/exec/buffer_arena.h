#pragma once
// BufferArena: every byte of tensor data a session works on. Slots view
// 64-byte aligned buffers; buffers can be registered under the content label
// of their value so that later work finds them resident. Buffers are recycled
// best-fit through a free list and released only with the arena.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "archive/labels.h"
#include "compute/workspace.h"
#include "exec/flat_map.h"

namespace tessary {

struct LabelHash {
  std::size_t operator()(const KappaLabel& l) const noexcept {
    // Mixes all 71 bytes eight at a time: warm-start labels come from
    // archives and need not be hex digests, so no part of the text is
    // trusted to be random.
    const std::uint8_t* p = l.bytes().data();
    std::uint64_t h = 0x243F6A8885A308D3ull;
    for (std::size_t i = 0; i + 8 <= KappaLabel::kSize; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      h = (h ^ w) * 0x9E3779B97F4A7C15ull;
      h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, p + 64, KappaLabel::kSize - 64);
    h = (h ^ tail) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};

using BufferIndex = std::uint32_t;

class BufferArena final : public Workspace {
 public:
  BufferArena() = default;
  BufferArena(const BufferArena&) = delete;
  BufferArena& operator=(const BufferArena&) = delete;
  BufferArena(BufferArena&&) = default;
  BufferArena& operator=(BufferArena&&) = default;

  void ensure_slot(std::uint32_t slot);

  // A zero-filled buffer of logical length n, best fit from the free list
  // within a factor of two of the need, else newly allocated. Nothing when
  // the block cannot be allocated (or n is too large to round up).
  std::optional<BufferIndex> acquire_buf(std::uint64_t n);
  std::optional<BufferIndex> bind_fresh(std::uint32_t slot, std::uint64_t n);
  bool bind_view(std::uint32_t slot, std::uint32_t source, std::uint64_t offset, std::uint64_t len);
  void bind_stolen(std::uint32_t slot, BufferIndex buf);
  bool bind_resident(std::uint32_t slot, const KappaLabel& label);

  std::optional<ReadBytes> read_slot(std::uint32_t slot) const;
  std::optional<WriteBytes> write_slot(std::uint32_t slot);

  void retain(std::uint32_t slot, const KappaLabel& label);
  bool resident(const KappaLabel& label) const;
  std::optional<ReadBytes> resolve(const KappaLabel& label) const;
  // Registers input bytes under their label in current. False only when a
  // needed buffer cannot be allocated.
  bool store_unbound(const KappaLabel& label, ReadBytes bytes);
  bool pin_bytes(const KappaLabel& label, ReadBytes bytes);
  std::optional<BufferIndex> steal_transient(const KappaLabel& label, std::span<const std::uint32_t> allowed);
  void rebind_reset(std::size_t slot_count);

  // Workspace
  ReadBytes read(const BufferRef& ref) const override;
  WriteBytes write(const BufferRef& ref) override;
  std::optional<SplitBorrow> split_borrow(const BufferRef& output, std::span<const BufferRef> inputs) override;

  // Introspection for tests and tools.
  std::size_t pool_size() const { return pool_.size(); }
  std::size_t free_count() const { return free_.size(); }
  std::uint64_t buffer_cap(BufferIndex b) const { return pool_[b].cap; }
  std::uint64_t buffer_len(BufferIndex b) const { return pool_[b].len; }
  const std::uint8_t* buffer_data(BufferIndex b) const { return pool_[b].data.get(); }
  std::optional<BufferIndex> slot_buffer(std::uint32_t slot) const {
    return slot < slot_buffer_.size() ? slot_buffer_[slot] : std::nullopt;
  }
  bool is_free(BufferIndex b) const;

 private:
  struct AlignedFree {
    void operator()(std::uint8_t* p) const noexcept;
  };
  struct AlignedBytes {
    std::unique_ptr<std::uint8_t[], AlignedFree> data;
    std::uint64_t len = 0;
    std::uint64_t cap = 0;
  };
  struct Range {
    BufferIndex buf;
    std::uint64_t start;
    std::uint64_t end;
  };

  using LabelMap = FlatMap<KappaLabel, BufferIndex, LabelHash>;

  std::optional<BufferIndex> find_label(const KappaLabel& label) const;
  // The slot's view [start, end) inside its buffer, or nothing when unbound
  // or inverted.
  std::optional<Range> view_of(std::uint32_t slot) const;
  std::optional<Range> ref_range(const BufferRef& ref) const;
  std::optional<BufferIndex> allocate(std::uint64_t need, std::uint64_t n);
  void add_free(BufferIndex b);

  std::vector<AlignedBytes> pool_;
  std::vector<BufferIndex> free_;
  std::vector<bool> in_free_;  // membership of free_, indexed by buffer
  std::vector<std::optional<BufferIndex>> slot_buffer_;
  std::vector<std::uint64_t> slot_len_;
  std::vector<std::uint64_t> slot_offset_;
  std::vector<BufferIndex> scratch_;
  std::vector<bool> protected_;  // working set of the reset, indexed by buffer
  LabelMap pinned_;
  LabelMap current_;
  LabelMap previous_;
};

}  // namespace tessary
