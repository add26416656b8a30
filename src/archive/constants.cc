#include "archive/constants.h"

#include <algorithm>
#include <utility>

#include "archive/payload_rules.h"

namespace tessary {

namespace {
constexpr std::uint8_t kTagInline = 0;
constexpr std::uint8_t kTagWeight = 1;
constexpr std::size_t kMinConstantBytes = 10;  // inline entry of length 0
}  // namespace

ArchiveResult<Bytes> encode_constants(std::span<const archive::ConstantEntry> entries) {
  ByteWriter w;
  if (auto r = put_count(w, entries.size()); !r) return std::unexpected(r.error());
  for (const archive::ConstantEntry& e : entries) {
    if (!e.in_weights && e.bytes.size() > UINT32_MAX) {
      return std::unexpected(ArchiveError::malformed("inline constant longer than 4294967295 bytes"));
    }
    w.u8(e.in_weights ? kTagWeight : kTagInline);
    w.u32(e.slot);
    w.u8(static_cast<std::uint8_t>(e.dtype));
    if (e.in_weights) {
      w.bytes(e.fingerprint);
    } else {
      w.u32(static_cast<std::uint32_t>(e.bytes.size()));
      w.bytes(e.bytes);
    }
  }
  return w.take();
}

ArchiveResult<std::vector<archive::ConstantEntry>> decode_constants(ByteView payload) {
  Cursor c(payload);
  auto count = read_count(c);
  if (!count) return std::unexpected(count.error());
  std::vector<archive::ConstantEntry> entries;
  entries.reserve(reserve_bound(*count, c.remaining(), kMinConstantBytes));
  for (std::uint32_t i = 0; i < *count; ++i) {
    auto tag = c.u8();
    if (!tag) return std::unexpected(tag.error());
    auto slot = c.u32();
    if (!slot) return std::unexpected(slot.error());
    auto dtype = c.u8();
    if (!dtype) return std::unexpected(dtype.error());

    archive::ConstantEntry e;
    e.slot = *slot;
    e.dtype = static_cast<DTypeId>(*dtype);
    if (*tag == kTagInline) {
      auto len = c.u32();
      if (!len) return std::unexpected(len.error());
      auto bytes = c.bytes(*len);
      if (!bytes) return std::unexpected(bytes.error());
      e.bytes.assign(bytes->begin(), bytes->end());
    } else if (*tag == kTagWeight) {
      auto fp = c.bytes(e.fingerprint.size());
      if (!fp) return std::unexpected(fp.error());
      std::copy(fp->begin(), fp->end(), e.fingerprint.begin());
      e.in_weights = true;
    } else {
      return std::unexpected(ArchiveError::malformed("unknown ConstantEntry tag"));
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace tessary
