#include "compiler/certificate_cache.h"

#include <array>
#include <cstring>
#include <span>

namespace tessary {

namespace {

constexpr std::array<std::string_view, kCompileTargetCount> kTargetNames = {"cpu",   "avx2",  "avx512",
                                                                           "neon",  "metal", "wgpu"};

std::span<const std::uint8_t> text_bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

// A target index outside the table has no name and contributes no bytes to
// certificate keys; the entry points only ever pass 0.
std::string_view compile_target_name(std::uint32_t target) {
  return target < kTargetNames.size() ? kTargetNames[target] : std::string_view{};
}

CertificateKey certificate_key(OpKind kind, std::uint32_t width, std::string_view target_name) {
  const std::array<std::uint8_t, 4> width_le = {
      static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
      static_cast<std::uint8_t>(width >> 16), static_cast<std::uint8_t>(width >> 24)};
  return Blake3Hasher{}
      .fold_bytes(text_bytes(op_kind_name(kind)))
      .fold_bytes(width_le)
      .fold_bytes(text_bytes(target_name))
      .finalize();
}

std::size_t CertificateCache::KeyHash::operator()(const CertificateKey& key) const {
  // Keys are BLAKE3 digests, already uniform: eight of their bytes suffice.
  std::uint64_t v = 0;
  std::memcpy(&v, key.data(), sizeof v);
  return static_cast<std::size_t>(v ^ seed);
}

const CachedCertificate* CertificateCache::get_raw(const CertificateKey& key) const {
  auto it = map_.find(key);
  return it == map_.end() ? nullptr : &it->second;
}

void CertificateCache::insert(const CertificateKey& key, const CachedCertificate& cert) { map_[key] = cert; }

const CachedCertificate& CertificateCache::lookup_or_insert(const CertificateKey& key,
                                                            const CachedCertificate& fresh) {
  auto [it, inserted] = map_.try_emplace(key, fresh);
  if (inserted) {
    ++misses_;
  } else {
    ++hits_;
  }
  return it->second;
}

}  // namespace tessary
