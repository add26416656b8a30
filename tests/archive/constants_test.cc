#include <gtest/gtest.h>

#include <vector>

#include "archive/le_bytes.h"
#include "archive/constants.h"

namespace tessary {
namespace {

using archive::ConstantEntry;

ConstantEntry inline_constant(Bytes bytes, std::uint32_t slot, DTypeId dtype) {
  ConstantEntry e;
  e.bytes = std::move(bytes);
  e.slot = slot;
  e.dtype = dtype;
  return e;
}

ConstantEntry weight_constant(const WeightFingerprint& fp, std::uint32_t slot, DTypeId dtype) {
  ConstantEntry e;
  e.fingerprint = fp;
  e.in_weights = true;
  e.slot = slot;
  e.dtype = dtype;
  return e;
}

WeightFingerprint some_fingerprint() {
  WeightFingerprint fp;
  for (std::size_t i = 0; i < fp.size(); ++i) fp[i] = static_cast<std::uint8_t>(0xA0 + i);
  return fp;
}

TEST(Constants, EncodesInlineAndWeightEntries) {
  std::vector<ConstantEntry> entries = {inline_constant({1, 2, 3}, 5, DTypeId::U8),
                                        weight_constant(some_fingerprint(), 6, DTypeId::F32)};
  auto bytes = encode_constants(entries);
  ASSERT_TRUE(bytes.has_value());
  testing::LeBytes w;
  w.u32(2);
  w.u8(0);
  w.u32(5);
  w.u8(1);
  w.u32(3);
  w.bytes(Bytes{1, 2, 3});
  w.u8(1);
  w.u32(6);
  w.u8(8);
  w.bytes(some_fingerprint());
  EXPECT_EQ(*bytes, w.take());
  EXPECT_EQ(bytes->size(), 4u + (10 + 3) + 38);
}

TEST(Constants, RoundTrip) {
  std::vector<ConstantEntry> entries = {
      inline_constant({}, 0, DTypeId::F32),  // an empty inline constant
      inline_constant(Bytes(4096, 0x5A), 1, DTypeId::BF16),
      weight_constant(some_fingerprint(), 0xFFFFFFFF, DTypeId::I4),
      inline_constant({7}, 3, static_cast<DTypeId>(99)),
  };
  auto bytes = encode_constants(entries);
  ASSERT_TRUE(bytes.has_value());
  auto back = decode_constants(*bytes);
  ASSERT_TRUE(back.has_value()) << back.error().describe();
  EXPECT_EQ(*back, entries);
}

TEST(Constants, WritesOnlyTheHalfItsTagSays) {
  // A weight entry's stray bytes and an inline entry's stray fingerprint are
  // not written, and read back empty and zero.
  ConstantEntry w = weight_constant(some_fingerprint(), 1, DTypeId::F32);
  w.bytes = {1, 2};
  ConstantEntry i = inline_constant({3}, 2, DTypeId::U8);
  i.fingerprint = some_fingerprint();
  std::vector<ConstantEntry> entries = {w, i};
  auto bytes = encode_constants(entries);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->size(), 4u + 38 + 11);
  auto back = decode_constants(*bytes);
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE((*back)[0].bytes.empty());
  EXPECT_EQ((*back)[1].fingerprint, WeightFingerprint{});
}

TEST(Constants, DecodeRejectsBadRecords) {
  testing::LeBytes tag2;
  tag2.u32(1);
  tag2.u8(2);
  tag2.u32(0);
  tag2.u8(8);
  tag2.u32(0);
  EXPECT_EQ(decode_constants(tag2.take()).error(), ArchiveError::malformed("unknown ConstantEntry tag"));

  // Inline length promising more bytes than are there.
  testing::LeBytes short_inline;
  short_inline.u32(1);
  short_inline.u8(0);
  short_inline.u32(0);
  short_inline.u8(8);
  short_inline.u32(5);
  short_inline.bytes(Bytes{1, 2});
  EXPECT_EQ(decode_constants(short_inline.take()).error(), ArchiveError::truncated(19, 16));

  // A weight entry missing the end of its fingerprint.
  testing::LeBytes short_fp;
  short_fp.u32(1);
  short_fp.u8(1);
  short_fp.u32(0);
  short_fp.u8(8);
  short_fp.zeros(31);
  EXPECT_EQ(decode_constants(short_fp.take()).error(), ArchiveError::truncated(42, 41));

  EXPECT_EQ(decode_constants(Bytes{}).error(), ArchiveError::truncated(4, 0));
}

}  // namespace
}  // namespace tessary
