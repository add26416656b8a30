#include "archive/warm_start.h"

#include <algorithm>

namespace tessary {

namespace {
constexpr std::size_t kEntryHeadBytes = 4 + KappaLabel::kSize + 4;  // 79
}  // namespace

ArchiveResult<std::vector<WarmEntry>> decode_warm_start(ByteView payload) {
  Cursor c(payload);
  auto count = c.u32();
  if (!count) return std::unexpected(count.error());
  std::vector<WarmEntry> entries;
  for (std::uint32_t i = 0; i < *count; ++i) {
    // The fixed head is checked whole, so a short entry reports the end of
    // its head rather than of whichever field ran out first.
    std::size_t start = c.pos();
    if (c.remaining() < kEntryHeadBytes) {
      return std::unexpected(ArchiveError::truncated(start + kEntryHeadBytes, payload.size()));
    }
    auto head = c.bytes(kEntryHeadBytes);
    if (!head) return std::unexpected(head.error());
    auto raw_label = head->subspan<4, KappaLabel::kSize>();
    if (std::ranges::any_of(raw_label, [](std::uint8_t b) { return b >= 0x80; })) {
      return std::unexpected(ArchiveError::malformed("malformed warm-start κ-label"));
    }
    std::uint32_t len = load_le32(head->data() + 4 + KappaLabel::kSize);
    auto value = c.bytes(len);
    if (!value) return std::unexpected(value.error());

    WarmEntry e;
    e.aux = load_le32(head->data());
    e.label = KappaLabel::from_raw(raw_label);
    e.bytes.assign(value->begin(), value->end());
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace tessary
