#include "archive/shape_registry.h"

#include "archive/payload_rules.h"

namespace tessary {

namespace {
constexpr std::size_t kInlineDims = 8;
constexpr std::size_t kMinDescriptorBytes = 1 + 8 * kInlineDims + 4;  // 69
constexpr const char* kRankTooLarge = "shape descriptor rank above 8";
}  // namespace

ArchiveResult<Bytes> encode_shape_registry(std::span<const ShapeDescriptor> shapes) {
  ByteWriter w;
  if (auto r = put_count(w, shapes.size()); !r) return std::unexpected(r.error());
  for (const ShapeDescriptor& s : shapes) {
    if (s.rank > kInlineDims) return std::unexpected(ArchiveError::malformed(kRankTooLarge));
    w.u8(s.rank);
    for (std::uint64_t d : s.dims) w.u64(d);
    if (s.further) {
      if (auto r = put_count(w, s.further->size()); !r) return std::unexpected(r.error());
      for (std::uint64_t d : *s.further) w.u64(d);
    } else {
      w.u32(0);
    }
  }
  return w.take();
}

ArchiveResult<std::vector<ShapeDescriptor>> decode_shape_registry(ByteView payload) {
  Cursor c(payload);
  auto count = read_count(c);
  if (!count) return std::unexpected(count.error());
  std::vector<ShapeDescriptor> shapes;
  shapes.reserve(reserve_bound(*count, c.remaining(), kMinDescriptorBytes));
  for (std::uint32_t i = 0; i < *count; ++i) {
    ShapeDescriptor s;
    auto rank = c.u8();
    if (!rank) return std::unexpected(rank.error());
    if (*rank > kInlineDims) return std::unexpected(ArchiveError::malformed(kRankTooLarge));
    s.rank = *rank;
    for (std::uint64_t& d : s.dims) {
      auto v = c.u64();
      if (!v) return std::unexpected(v.error());
      d = *v;
    }
    auto extra = c.u32();
    if (!extra) return std::unexpected(extra.error());
    if (*extra > 0) {
      std::vector<std::uint64_t> further;
      further.reserve(reserve_bound(*extra, c.remaining(), 8));
      for (std::uint32_t k = 0; k < *extra; ++k) {
        auto v = c.u64();
        if (!v) return std::unexpected(v.error());
        further.push_back(*v);
      }
      s.further = std::move(further);
    }
    shapes.push_back(std::move(s));
  }
  return shapes;
}

}  // namespace tessary
