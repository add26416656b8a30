#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <span>

#include "archive/hasher.h"
#include "compiler/certificate_cache.h"
#include "compiler/completeness.h"

namespace tessary {
namespace {

Digest digest_of(const std::string& s) {
  return blake3_digest(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

TEST(Completeness, DigestOfTheFixedByteSequence) {
  // width 32 big-endian, 8 zeros, the IRI, 0, 8 zeros, 2.
  const std::string zeros(8, '\0');
  std::string msg = std::string("\x00\x20", 2) + zeros + "https://tessary.dev/type/tensor" + std::string(1, '\0') +
                    zeros + "\x02";
  EXPECT_EQ(completeness_digest(32), digest_of(msg));

  msg[0] = 0x01;  // 288 = 0x0120: the high byte comes first
  EXPECT_EQ(completeness_digest(288), digest_of(msg));
  EXPECT_NE(completeness_digest(32), completeness_digest(33));
}

TEST(Completeness, DefinedForSixteenBitWidthsOnly) {
  EXPECT_TRUE(completeness_digest(0xFFFF).has_value());
  EXPECT_FALSE(completeness_digest(0x10000).has_value());
}

TEST(CertificateKey, HashesNameWidthAndTarget) {
  const std::string msg = "relu" + std::string("\x20\x00\x00\x00", 4) + "cpu";
  EXPECT_EQ(certificate_key(OpKind::Relu, 32, "cpu"), digest_of(msg));
  EXPECT_NE(certificate_key(OpKind::Relu, 32, "avx2"), certificate_key(OpKind::Relu, 32, "cpu"));
  EXPECT_NE(certificate_key(OpKind::Relu, 64, "cpu"), certificate_key(OpKind::Relu, 32, "cpu"));
  EXPECT_NE(certificate_key(OpKind::Gelu, 32, "cpu"), certificate_key(OpKind::Relu, 32, "cpu"));
}

TEST(CertificateKey, TargetNames) {
  const char* names[] = {"cpu", "avx2", "avx512", "neon", "metal", "wgpu"};
  for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(compile_target_name(i), names[i]);
  EXPECT_EQ(compile_target_name(6), "");
}

TEST(CertificateCache, LookupInsertAndReplace) {
  CertificateCache cache(12345);
  const CertificateKey k1 = certificate_key(OpKind::Relu, 32, "cpu");
  const CertificateKey k2 = certificate_key(OpKind::Add, 32, "cpu");
  EXPECT_EQ(cache.get_raw(k1), nullptr);

  const CachedCertificate a{*completeness_digest(32), 32, 32};
  const CachedCertificate b{*completeness_digest(16), 16, 32};
  EXPECT_EQ(cache.lookup_or_insert(k1, a), a);
  EXPECT_EQ(cache.lookup_or_insert(k1, b), a);  // a hit keeps the stored entry
  EXPECT_EQ(cache.lookup_or_insert(k2, b), b);
  EXPECT_EQ(cache.misses(), 2u);
  EXPECT_EQ(cache.hits(), 1u);

  cache.insert(k1, b);  // inserting a present key replaces it
  ASSERT_NE(cache.get_raw(k1), nullptr);
  EXPECT_EQ(*cache.get_raw(k1), b);
  EXPECT_EQ(cache.size(), 2u);
}

}  // namespace
}  // namespace tessary
