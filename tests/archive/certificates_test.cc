#include <gtest/gtest.h>

#include <vector>

#include "archive/le_bytes.h"
#include "archive/certificates.h"

namespace tessary {
namespace {

CertificateRecord record(std::uint16_t width, std::uint8_t seed) {
  CertificateRecord r;
  for (std::size_t i = 0; i < r.digest.size(); ++i) r.digest[i] = static_cast<std::uint8_t>(seed + i);
  r.width = width;
  return r;
}

TEST(Certificates, RecordIs35BytesWidthFirst) {
  std::vector<CertificateRecord> list = {record(0x1234, 1)};
  auto bytes = encode_certificates(list);
  ASSERT_TRUE(bytes.has_value());
  testing::LeBytes w;
  w.u32(1);
  w.u16(0x1234);
  w.u8(32);
  w.bytes(list[0].digest);
  EXPECT_EQ(*bytes, w.take());
  EXPECT_EQ(bytes->size(), 4u + 35u);
}

TEST(Certificates, RoundTrip) {
  CertificateRecord odd = record(7, 9);
  odd.digest_length = 16;  // kept as found
  std::vector<CertificateRecord> list = {record(32, 0), record(32, 0), record(UINT16_MAX, 200), odd};
  auto back = decode_certificates(*encode_certificates(list));
  ASSERT_TRUE(back.has_value()) << back.error().describe();
  EXPECT_EQ(*back, list);
  EXPECT_TRUE(decode_certificates(*encode_certificates({}))->empty());
}

TEST(Certificates, DecodeRejectsShortRecords) {
  Bytes two = *encode_certificates(std::vector<CertificateRecord>{record(1, 1), record(2, 2)});
  Bytes cut(two.begin(), two.end() - 1);
  EXPECT_EQ(decode_certificates(cut).error(), ArchiveError::truncated(74, 73));
  EXPECT_EQ(decode_certificates(Bytes{2, 0}).error(), ArchiveError::truncated(4, 2));
}

}  // namespace
}  // namespace tessary
