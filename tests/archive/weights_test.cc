#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "archive/le_bytes.h"
#include "archive/weights.h"

namespace tessary {
namespace {

Bytes filled(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
  return b;
}

TEST(WeightStore, DeduplicatesByContent) {
  WeightStore store;
  Bytes a = filled(5000, 1), b = filled(5000, 2);
  WeightFingerprint fa = store.insert(a);
  EXPECT_EQ(fa, blake3_digest(a));
  EXPECT_EQ(store.insert(ByteView(a)), fa);  // same bytes again: stored once
  WeightFingerprint fb = store.insert(b);
  EXPECT_NE(fa, fb);
  EXPECT_EQ(store.size(), 2u);
  ASSERT_TRUE(store.get(fa).has_value());
  EXPECT_TRUE(std::ranges::equal(*store.get(fa), a));
  EXPECT_TRUE(std::ranges::equal(*store.get(fb), b));
  EXPECT_FALSE(store.get(WeightFingerprint{}).has_value());

  // The empty byte string is a weight like any other.
  WeightFingerprint fe = store.insert(Bytes{});
  EXPECT_EQ(fe, blake3_digest({}));
  ASSERT_TRUE(store.get(fe).has_value());
  EXPECT_TRUE(store.get(fe)->empty());
}

TEST(Weights, EncodesRecordsInFingerprintOrder) {
  WeightStore store;
  std::vector<Bytes> weights = {filled(10, 1), filled(3, 2), filled(0, 3), filled(4097, 4)};
  for (const Bytes& w : weights) store.insert(w);
  auto bytes = encode_weights(store);
  ASSERT_TRUE(bytes.has_value());

  std::vector<Bytes> by_fp = weights;
  std::sort(by_fp.begin(), by_fp.end(),
            [](const Bytes& x, const Bytes& y) { return blake3_digest(x) < blake3_digest(y); });
  testing::LeBytes w;
  w.u32(4);
  for (const Bytes& b : by_fp) {
    w.bytes(blake3_digest(b));
    w.u64(b.size());
    w.bytes(b);
  }
  EXPECT_EQ(*bytes, w.take());
}

TEST(Weights, SameContentEncodesIdenticallyWhateverTheInsertOrder) {
  std::vector<Bytes> weights = {filled(6000, 9), filled(1, 0), filled(4097, 200), filled(64, 5), filled(6000, 9)};
  WeightStore forward, backward, shuffled;
  for (const Bytes& w : weights) forward.insert(w);
  for (auto it = weights.rbegin(); it != weights.rend(); ++it) backward.insert(ByteView(*it));
  for (std::size_t i : {2u, 4u, 0u, 3u, 1u}) shuffled.insert(weights[i]);
  EXPECT_EQ(forward.size(), 4u);
  EXPECT_EQ(*encode_weights(forward), *encode_weights(backward));
  EXPECT_EQ(*encode_weights(forward), *encode_weights(shuffled));
}

TEST(Weights, RoundTrip) {
  WeightStore store;
  store.insert(filled(8192, 3));
  store.insert(filled(1, 4));
  store.insert(Bytes{});
  auto bytes = encode_weights(store);
  ASSERT_TRUE(bytes.has_value());
  auto back = decode_weights(*bytes);
  ASSERT_TRUE(back.has_value()) << back.error().describe();
  EXPECT_EQ(*back, store);

  auto none = decode_weights(*encode_weights(WeightStore{}));
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
}

TEST(Weights, DecodeChecksEveryFingerprint) {
  WeightStore store;
  store.insert(filled(100, 1));
  store.insert(filled(200, 2));
  Bytes good = *encode_weights(store);

  // Altering any byte of a weight's content or of its fingerprint is caught.
  for (std::size_t at : {std::size_t{4}, std::size_t{35}, std::size_t{4 + 40}, good.size() - 1}) {
    Bytes bad = good;
    bad[at] ^= 0x01;
    auto r = decode_weights(bad);
    ASSERT_FALSE(r.has_value()) << at;
    EXPECT_EQ(r.error(), ArchiveError::digest_mismatch()) << at;
  }
}

TEST(Weights, RepeatedRecordIsStoredOnce) {
  Bytes w = filled(300, 8);
  testing::LeBytes out;
  out.u32(2);
  for (int i = 0; i < 2; ++i) {
    out.bytes(blake3_digest(w));
    out.u64(w.size());
    out.bytes(w);
  }
  auto back = decode_weights(out.take());
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->size(), 1u);
  EXPECT_TRUE(std::ranges::equal(*back->get(blake3_digest(w)), w));
}

TEST(Weights, DecodeRejectsShortRecords) {
  testing::LeBytes out;
  out.u32(1);
  out.bytes(blake3_digest(Bytes{1, 2, 3}));
  out.u64(UINT64_MAX);  // a length no payload can hold
  out.bytes(Bytes{1, 2, 3});
  auto r = decode_weights(out.take());
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), ArchiveError::truncated(UINT64_MAX, 47));
}

}  // namespace
}  // namespace tessary
