#include "exec/buffer_arena.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace tessary {

namespace {

constexpr std::uint64_t kAlign = 64;

std::uint64_t sat_add(std::uint64_t a, std::uint64_t b) { return a + b < a ? UINT64_MAX : a + b; }

// Blocks come from calloc with room to align by hand: calloc hands out pages
// the kernel already zeroed without touching them, so a large slot costs
// address space, not a memset. The byte before the aligned start records how
// far it was moved.
std::uint8_t* alloc_zeroed_aligned(std::uint64_t bytes) {
  if (bytes > SIZE_MAX - kAlign) return nullptr;
  auto* raw = static_cast<std::uint8_t*>(std::calloc(1, static_cast<std::size_t>(bytes + kAlign)));
  if (raw == nullptr) return nullptr;
  const std::uintptr_t addr = reinterpret_cast<std::uintptr_t>(raw);
  const std::size_t shift = kAlign - (addr % kAlign);  // 1..64, leaves room for the marker
  std::uint8_t* aligned = raw + shift;
  aligned[-1] = static_cast<std::uint8_t>(shift);
  return aligned;
}

}  // namespace

void BufferArena::AlignedFree::operator()(std::uint8_t* p) const noexcept {
  if (p != nullptr) std::free(p - p[-1]);
}

void BufferArena::ensure_slot(std::uint32_t slot) {
  if (slot >= slot_buffer_.size()) {
    slot_buffer_.resize(static_cast<std::size_t>(slot) + 1);
    if (slot_len_.size() < slot_buffer_.size()) slot_len_.resize(slot_buffer_.size(), 0);
    slot_offset_.resize(slot_buffer_.size(), 0);
  }
}

std::optional<BufferIndex> BufferArena::allocate(std::uint64_t need, std::uint64_t n) {
  if (pool_.size() >= UINT32_MAX) return std::nullopt;
  std::uint8_t* p = alloc_zeroed_aligned(need);
  if (p == nullptr) return std::nullopt;
  AlignedBytes b;
  b.data.reset(p);
  b.len = n;
  b.cap = need;
  pool_.push_back(std::move(b));
  in_free_.push_back(false);
  return static_cast<BufferIndex>(pool_.size() - 1);
}

std::optional<BufferIndex> BufferArena::acquire_buf(std::uint64_t n) {
  if (n > UINT64_MAX - (kAlign - 1)) return std::nullopt;
  const std::uint64_t need = std::max<std::uint64_t>((n + kAlign - 1) / kAlign * kAlign, kAlign);
  std::size_t best = free_.size();
  for (std::size_t i = 0; i < free_.size(); ++i) {
    const std::uint64_t cap = pool_[free_[i]].cap;
    if (cap < need || cap - need > need) continue;
    if (best == free_.size() || cap < pool_[free_[best]].cap) best = i;
  }
  if (best == free_.size()) return allocate(need, n);
  const BufferIndex b = free_[best];
  free_[best] = free_.back();
  free_.pop_back();
  in_free_[b] = false;
  AlignedBytes& buf = pool_[b];
  buf.len = n;
  std::memset(buf.data.get(), 0, static_cast<std::size_t>(n));
  return b;
}

std::optional<BufferIndex> BufferArena::bind_fresh(std::uint32_t slot, std::uint64_t n) {
  auto b = acquire_buf(n);
  if (!b) return std::nullopt;
  ensure_slot(slot);
  slot_buffer_[slot] = *b;
  slot_len_[slot] = n;
  return b;
}

bool BufferArena::bind_view(std::uint32_t slot, std::uint32_t source, std::uint64_t offset, std::uint64_t len) {
  if (source >= slot_buffer_.size() || !slot_buffer_[source]) return false;
  const BufferIndex b = *slot_buffer_[source];
  const std::uint64_t start = sat_add(slot_offset_[source], offset);
  ensure_slot(slot);
  slot_buffer_[slot] = b;
  slot_offset_[slot] = start;
  slot_len_[slot] = len;
  return true;
}

void BufferArena::bind_stolen(std::uint32_t slot, BufferIndex buf) {
  ensure_slot(slot);
  slot_buffer_[slot] = buf;
  slot_offset_[slot] = 0;
  slot_len_[slot] = pool_[buf].len;
}

std::optional<BufferIndex> BufferArena::find_label(const KappaLabel& label) const {
  if (const BufferIndex* b = pinned_.find(label)) return *b;
  if (const BufferIndex* b = current_.find(label)) return *b;
  if (const BufferIndex* b = previous_.find(label)) return *b;
  return std::nullopt;
}

bool BufferArena::bind_resident(std::uint32_t slot, const KappaLabel& label) {
  auto b = find_label(label);
  if (!b) return false;
  ensure_slot(slot);
  slot_buffer_[slot] = *b;
  return true;
}

std::optional<BufferArena::Range> BufferArena::view_of(std::uint32_t slot) const {
  if (slot >= slot_buffer_.size() || !slot_buffer_[slot]) return std::nullopt;
  const BufferIndex b = *slot_buffer_[slot];
  const std::uint64_t len = pool_[b].len;
  const std::uint64_t start = slot_offset_[slot];
  const std::uint64_t want = slot_len_[slot];
  std::uint64_t end = len;
  if (want != 0 && sat_add(start, want) <= len) end = start + want;
  if (start > end) return std::nullopt;
  return Range{b, start, end};
}

std::optional<ReadBytes> BufferArena::read_slot(std::uint32_t slot) const {
  auto v = view_of(slot);
  if (!v) return std::nullopt;
  return ReadBytes(pool_[v->buf].data.get() + v->start, static_cast<std::size_t>(v->end - v->start));
}

std::optional<WriteBytes> BufferArena::write_slot(std::uint32_t slot) {
  if (slot >= slot_buffer_.size() || !slot_buffer_[slot]) return std::nullopt;
  AlignedBytes& buf = pool_[*slot_buffer_[slot]];
  const std::uint64_t start = slot_offset_[slot];
  if (start > buf.len) return std::nullopt;
  return WriteBytes(buf.data.get() + start, static_cast<std::size_t>(buf.len - start));
}

void BufferArena::retain(std::uint32_t slot, const KappaLabel& label) {
  if (slot >= slot_buffer_.size() || !slot_buffer_[slot]) return;
  if (pinned_.contains(label) || current_.contains(label)) return;
  current_.put(label, *slot_buffer_[slot]);
}

bool BufferArena::resident(const KappaLabel& label) const { return find_label(label).has_value(); }

std::optional<ReadBytes> BufferArena::resolve(const KappaLabel& label) const {
  auto b = find_label(label);
  if (!b) return std::nullopt;
  return ReadBytes(pool_[*b].data.get(), static_cast<std::size_t>(pool_[*b].len));
}

bool BufferArena::store_unbound(const KappaLabel& label, ReadBytes bytes) {
  if (current_.contains(label) || pinned_.contains(label)) return true;
  if (const BufferIndex* b = previous_.find(label)) {
    current_.put(label, *b);
    return true;
  }
  auto b = acquire_buf(bytes.size());
  if (!b) return false;
  if (!bytes.empty()) std::memcpy(pool_[*b].data.get(), bytes.data(), bytes.size());
  current_.put(label, *b);
  return true;
}

bool BufferArena::pin_bytes(const KappaLabel& label, ReadBytes bytes) {
  if (pinned_.contains(label)) return true;
  const std::uint64_t n = bytes.size();
  const std::uint64_t need = std::max<std::uint64_t>((n + kAlign - 1) / kAlign * kAlign, kAlign);
  auto b = allocate(need, n);
  if (!b) return false;
  if (n != 0) std::memcpy(pool_[*b].data.get(), bytes.data(), bytes.size());
  pinned_.put(label, *b);
  return true;
}

std::optional<BufferIndex> BufferArena::steal_transient(const KappaLabel& label,
                                                        std::span<const std::uint32_t> allowed) {
  if (pinned_.contains(label)) return std::nullopt;
  std::optional<BufferIndex> found;
  if (const BufferIndex* b = current_.find(label)) {
    found = *b;
  } else if (const BufferIndex* p = previous_.find(label)) {
    found = *p;
  }
  if (!found) return std::nullopt;
  const BufferIndex b = *found;
  for (std::size_t s = 0; s < slot_buffer_.size(); ++s) {
    if (slot_buffer_[s] == b && std::find(allowed.begin(), allowed.end(), s) == allowed.end()) return std::nullopt;
  }
  bool shared = false;
  pinned_.for_each([&](const KappaLabel&, BufferIndex v) { shared |= v == b; });
  auto other = [&](const KappaLabel& k, BufferIndex v) { shared |= v == b && !(k == label); };
  current_.for_each(other);
  previous_.for_each(other);
  if (shared) return std::nullopt;
  current_.erase(label);
  previous_.erase(label);
  return b;
}

void BufferArena::add_free(BufferIndex b) {
  if (in_free_[b]) return;
  in_free_[b] = true;
  free_.push_back(b);
}

bool BufferArena::is_free(BufferIndex b) const { return b < in_free_.size() && in_free_[b]; }

void BufferArena::rebind_reset(std::size_t slot_count) {
  // Generations rotate: the old previous is set aside in current's storage
  // after the swap, so its table is reused for the new run.
  previous_.swap(current_);  // previous = last run's current; current = old generation
  protected_.assign(pool_.size(), false);
  pinned_.for_each([&](const KappaLabel&, BufferIndex b) { protected_[b] = true; });
  previous_.for_each([&](const KappaLabel&, BufferIndex b) { protected_[b] = true; });
  scratch_.clear();
  current_.for_each([&](const KappaLabel&, BufferIndex b) {
    if (!protected_[b]) scratch_.push_back(b);
  });
  for (const auto& b : slot_buffer_) {
    if (b && !protected_[*b]) scratch_.push_back(*b);
  }
  std::sort(scratch_.begin(), scratch_.end());
  scratch_.erase(std::unique(scratch_.begin(), scratch_.end()), scratch_.end());
  for (BufferIndex b : scratch_) add_free(b);
  current_.clear();
  slot_buffer_.assign(slot_count, std::nullopt);
  slot_offset_.assign(slot_count, 0);
  if (slot_len_.size() < slot_count) slot_len_.resize(slot_count, 0);
}

std::optional<BufferArena::Range> BufferArena::ref_range(const BufferRef& ref) const {
  auto v = view_of(ref.slot);
  if (!v) return std::nullopt;
  const std::uint64_t len = pool_[v->buf].len;
  const std::uint64_t start = std::min(sat_add(v->start, ref.offset), len);
  const std::uint64_t end = ref.len != 0 ? std::min(sat_add(start, ref.len), len) : v->end;
  if (end < start) return std::nullopt;
  return Range{v->buf, start, end};
}

ReadBytes BufferArena::read(const BufferRef& ref) const {
  auto r = ref_range(ref);
  if (!r) return {};
  return ReadBytes(pool_[r->buf].data.get() + r->start, static_cast<std::size_t>(r->end - r->start));
}

WriteBytes BufferArena::write(const BufferRef& ref) {
  auto r = ref_range(ref);
  if (!r) return {};
  return WriteBytes(pool_[r->buf].data.get() + r->start, static_cast<std::size_t>(r->end - r->start));
}

std::optional<SplitBorrow> BufferArena::split_borrow(const BufferRef& output, std::span<const BufferRef> inputs) {
  auto out = ref_range(output);
  if (!out) return std::nullopt;
  SplitBorrow sb;
  for (const BufferRef& in : inputs) {
    auto r = ref_range(in);
    if (!r) return std::nullopt;
    if (r->buf == out->buf && r->start < out->end && out->start < r->end) return std::nullopt;
    sb.push(ReadBytes(pool_[r->buf].data.get() + r->start, static_cast<std::size_t>(r->end - r->start)));
  }
  sb.output = WriteBytes(pool_[out->buf].data.get() + out->start, static_cast<std::size_t>(out->end - out->start));
  return sb;
}

}  // namespace tessary
