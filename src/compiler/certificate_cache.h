#pragma once
// Certificates of op nodes: the key under which a compilation caches them
// (op kind, compile width, compile target), the cache itself, and the
// compile-target names that enter the key.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "archive/certificates.h"
#include "archive/hasher.h"
#include "graph/op_kind.h"

namespace tessary {

// Compile targets by index. Only the name enters the compile output (through
// certificate keys); nothing else branches on the target.
std::string_view compile_target_name(std::uint32_t target);
inline constexpr std::uint32_t kCompileTargetCount = 6;

using CertificateKey = Digest;

// BLAKE3 over the op kind's name, the width as 4 bytes little-endian and the
// target's name.
CertificateKey certificate_key(OpKind kind, std::uint32_t width, std::string_view target_name);

struct CachedCertificate {
  Digest digest{};
  std::uint16_t width = 0;
  std::uint8_t digest_length = 32;
  friend bool operator==(const CachedCertificate&, const CachedCertificate&) = default;
};

class CertificateCache {
 public:
  // The seed only spreads keys over buckets; it never shows in any output,
  // since the cache is looked up and never walked.
  explicit CertificateCache(std::uint64_t seed = 0) : map_(16, KeyHash{seed}) {}

  const CachedCertificate* get_raw(const CertificateKey& key) const;
  // Replaces the entry when the key is present.
  void insert(const CertificateKey& key, const CachedCertificate& cert);

  // Looks the key up and inserts `fresh` on a miss, counting hits and misses.
  const CachedCertificate& lookup_or_insert(const CertificateKey& key, const CachedCertificate& fresh);

  std::size_t size() const { return map_.size(); }
  std::uint64_t hits() const { return hits_; }
  std::uint64_t misses() const { return misses_; }

 private:
  struct KeyHash {
    std::uint64_t seed = 0;
    std::size_t operator()(const CertificateKey& key) const;
  };
  std::unordered_map<CertificateKey, CachedCertificate, KeyHash> map_;
  std::uint64_t hits_ = 0;
  std::uint64_t misses_ = 0;
};

// The record of one op node in the certificate section.
inline CertificateRecord certificate_record(const CachedCertificate& cert) {
  return CertificateRecord{cert.digest, cert.width, cert.digest_length};
}

}  // namespace tessary
