#include "archive/container.h"

#include <cstring>

#include "types/utf8.h"

namespace tessary {

ArchiveResult<Bytes> assemble_archive(const std::vector<Section>& sections) {
  if (sections.size() > kMaxSections) return std::unexpected(ArchiveError::malformed("archive: too many sections"));
  const std::size_t n = sections.size();
  std::size_t total = kHeaderBytes + kTableEntryBytes * n + kTrailerBytes;
  for (const Section& s : sections) total += s.payload.size();

  ByteWriter w;
  w.buffer().reserve(total);
  w.u32(kTessMagic);
  w.u16(kTessVersion);
  w.u16(0);
  w.u16(static_cast<std::uint16_t>(n));
  std::uint64_t offset = kHeaderBytes + kTableEntryBytes * n;
  for (const Section& s : sections) {
    w.u8(s.kind);
    w.zeros(7);
    w.u64(offset);
    w.u64(s.payload.size());
    offset += s.payload.size();
  }
  for (const Section& s : sections) w.bytes(s.payload);
  Digest d = blake3_digest(w.buffer());
  w.bytes(d);
  return w.take();
}

ArchiveResult<TessLoader> TessLoader::from_bytes(ByteView bytes) {
  if (bytes.size() < kMinArchiveBytes) return std::unexpected(ArchiveError::truncated(kMinArchiveBytes, bytes.size()));
  if (load_le32(bytes.data()) != kTessMagic) {
    std::array<std::uint8_t, 4> found;
    std::memcpy(found.data(), bytes.data(), 4);
    return std::unexpected(ArchiveError::bad_magic(found));
  }
  const std::uint16_t version = load_le16(bytes.data() + 4);
  if (version < 2 || version > 4) return std::unexpected(ArchiveError::unsupported_version(version));
  const std::size_t body = bytes.size() - kTrailerBytes;
  Digest computed = blake3_digest(bytes.first(body));
  Digest trailer;
  std::memcpy(trailer.data(), bytes.data() + body, kTrailerBytes);
  if (computed != trailer) return std::unexpected(ArchiveError::digest_mismatch());
  return TessLoader(bytes, trailer, version);
}

ArchiveResult<LoadedPlan> TessLoader::into_plan() const {
  const std::size_t n = load_le16(bytes_.data() + 8);
  std::vector<SectionRef> table;
  table.reserve(n);  // bounded by the 16-bit count
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t start = kHeaderBytes + kTableEntryBytes * j;
    const std::size_t end = start + kTableEntryBytes;
    if (end > bytes_.size()) return std::unexpected(ArchiveError::truncated(end, bytes_.size()));
    const std::uint8_t* e = bytes_.data() + start;
    if (e[0] == 0 || e[0] > 16) return std::unexpected(ArchiveError::malformed("unknown section kind"));
    table.push_back(SectionRef{e[0], load_le64(e + 8), load_le64(e + 16)});
  }
  return LoadedPlan(bytes_, std::move(table));
}

std::optional<ByteView> LoadedPlan::range(const SectionRef& ref) const {
  // Ranges are checked against the whole archive, trailer included.
  if (ref.offset > bytes_.size() || ref.length > bytes_.size() - ref.offset) return std::nullopt;
  return bytes_.subspan(static_cast<std::size_t>(ref.offset), static_cast<std::size_t>(ref.length));
}

std::optional<ByteView> LoadedPlan::section(SectionKind kind) const {
  for (const SectionRef& ref : table_) {
    if (ref.kind == static_cast<std::uint8_t>(kind)) return range(ref);
  }
  return std::nullopt;
}

ArchiveResult<std::vector<ExtensionView>> LoadedPlan::extensions() const {
  std::vector<ExtensionView> out;
  for (const SectionRef& ref : table_) {
    if (ref.kind != static_cast<std::uint8_t>(SectionKind::Extension)) continue;
    auto payload = range(ref);
    if (!payload) {
      const std::uint64_t end = ref.offset + ref.length < ref.offset ? UINT64_MAX : ref.offset + ref.length;
      return std::unexpected(ArchiveError::truncated(end, bytes_.size()));
    }
    if (payload->size() < 2) return std::unexpected(ArchiveError::truncated(2, payload->size()));
    const std::size_t k = load_le16(payload->data());
    if (payload->size() < 2 + k) return std::unexpected(ArchiveError::truncated(2 + k, payload->size()));
    ByteView key = payload->subspan(2, k);
    if (!is_valid_utf8(key)) return std::unexpected(ArchiveError::malformed("extension key is not valid UTF-8"));
    out.push_back(ExtensionView{
        std::string_view(reinterpret_cast<const char*>(key.data()), key.size()), payload->subspan(2 + k)});
  }
  return out;
}

}  // namespace tessary
