#include "archive/certificates.h"

#include <algorithm>

#include "archive/payload_rules.h"

namespace tessary {

namespace {
constexpr std::size_t kRecordBytes = 2 + 1 + 32;
}  // namespace

ArchiveResult<Bytes> encode_certificates(std::span<const CertificateRecord> records) {
  ByteWriter w;
  if (auto r = put_count(w, records.size()); !r) return std::unexpected(r.error());
  for (const CertificateRecord& rec : records) {
    w.u16(rec.width);
    w.u8(rec.digest_length);
    w.bytes(rec.digest);
  }
  return w.take();
}

ArchiveResult<std::vector<CertificateRecord>> decode_certificates(ByteView payload) {
  Cursor c(payload);
  auto count = read_count(c);
  if (!count) return std::unexpected(count.error());
  std::vector<CertificateRecord> records;
  records.reserve(reserve_bound(*count, c.remaining(), kRecordBytes));
  for (std::uint32_t i = 0; i < *count; ++i) {
    CertificateRecord rec;
    auto width = c.u16();
    if (!width) return std::unexpected(width.error());
    auto len = c.u8();
    if (!len) return std::unexpected(len.error());
    auto digest = c.bytes(rec.digest.size());
    if (!digest) return std::unexpected(digest.error());
    rec.width = *width;
    rec.digest_length = *len;
    std::copy(digest->begin(), digest->end(), rec.digest.begin());
    records.push_back(rec);
  }
  return records;
}

}  // namespace tessary
