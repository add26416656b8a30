#pragma once
// Certificates section: one record per emitted kernel call, kept for
// inspection.
//
// Payload: count u32, then per record (35 bytes)
//   width u16, digest length u8, digest (32 bytes).
#include <cstdint>
#include <span>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "archive/hasher.h"

namespace tessary {

struct CertificateRecord {
  Digest digest{};
  std::uint16_t width = 0;          // compile width
  std::uint8_t digest_length = 32;  // always 32 for records this library makes

  friend bool operator==(const CertificateRecord&, const CertificateRecord&) = default;
};

// Refuses more than 2^32 - 1 records.
ArchiveResult<Bytes> encode_certificates(std::span<const CertificateRecord> records);
// The digest-length byte is kept as found; the record size is fixed either way.
ArchiveResult<std::vector<CertificateRecord>> decode_certificates(ByteView payload);

}  // namespace tessary
