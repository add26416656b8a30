#include <gtest/gtest.h>

#include <vector>

#include "archive/le_bytes.h"
#include "archive/shape_registry.h"

namespace tessary {
namespace {

ShapeDescriptor shape(std::initializer_list<std::uint64_t> dims) {
  ShapeDescriptor s;
  for (std::uint64_t d : dims) s.dims[s.rank++] = d;
  return s;
}

TEST(ShapeRegistry, DescriptorWithoutFurtherDimsIs69Bytes) {
  std::vector<ShapeDescriptor> one = {shape({2, 3})};
  auto bytes = encode_shape_registry(one);
  ASSERT_TRUE(bytes.has_value());
  testing::LeBytes w;
  w.u32(1);
  w.u8(2);
  w.u64(2);
  w.u64(3);
  w.zeros(6 * 8);
  w.u32(0);
  EXPECT_EQ(*bytes, w.take());
  EXPECT_EQ(bytes->size(), 4u + 69u);
}

TEST(ShapeRegistry, WritesAllInlineSlotsAndFurtherDims) {
  ShapeDescriptor s = shape({4});
  s.dims[6] = 0xDEAD;  // unused slots are written as stored
  s.further = std::vector<std::uint64_t>{5, 6};
  std::vector<ShapeDescriptor> list = {s};
  auto bytes = encode_shape_registry(list);
  ASSERT_TRUE(bytes.has_value());
  testing::LeBytes w;
  w.u32(1);
  w.u8(1);
  for (std::uint64_t d : s.dims) w.u64(d);
  w.u32(2);
  w.u64(5);
  w.u64(6);
  EXPECT_EQ(*bytes, w.take());
  EXPECT_EQ(bytes->size(), 4u + 69u + 16u);
}

TEST(ShapeRegistry, RoundTrip) {
  ShapeDescriptor scalar;
  ShapeDescriptor full = shape({1, 2, 3, 4, 5, 6, 7, 8});
  full.further = std::vector<std::uint64_t>{9, UINT64_MAX};
  ShapeDescriptor stray = shape({3});
  stray.dims[7] = 11;
  std::vector<ShapeDescriptor> list = {scalar, full, stray, shape({0, 1})};
  auto back = decode_shape_registry(*encode_shape_registry(list));
  ASSERT_TRUE(back.has_value()) << back.error().describe();
  EXPECT_EQ(*back, list);

  // An empty further list has the same encoding as none and reads back as none.
  ShapeDescriptor empty_further = shape({2});
  empty_further.further = std::vector<std::uint64_t>{};
  std::vector<ShapeDescriptor> one = {empty_further};
  auto read = decode_shape_registry(*encode_shape_registry(one));
  ASSERT_TRUE(read.has_value());
  EXPECT_FALSE((*read)[0].further.has_value());
  EXPECT_EQ((*read)[0].total_elements(), 2u);
}

TEST(ShapeRegistry, RejectsRankAboveEight) {
  ShapeDescriptor s;
  s.rank = 9;
  std::vector<ShapeDescriptor> list = {s};
  EXPECT_EQ(encode_shape_registry(list).error(), ArchiveError::malformed("shape descriptor rank above 8"));

  testing::LeBytes w;
  w.u32(1);
  w.u8(9);
  w.zeros(64);
  w.u32(0);
  EXPECT_EQ(decode_shape_registry(w.take()).error(), ArchiveError::malformed("shape descriptor rank above 8"));
}

TEST(ShapeRegistry, DecodeRejectsShortDescriptors) {
  Bytes one = *encode_shape_registry(std::vector<ShapeDescriptor>{shape({2})});
  Bytes no_extra_count(one.begin(), one.end() - 2);
  EXPECT_EQ(decode_shape_registry(no_extra_count).error(), ArchiveError::truncated(73, 71));

  testing::LeBytes w;
  w.u32(1);
  w.u8(0);
  w.zeros(64);
  w.u32(3);  // three further dims, one present
  w.u64(1);
  EXPECT_EQ(decode_shape_registry(w.take()).error(), ArchiveError::truncated(4 + 69 + 16, 4 + 69 + 8));
}

}  // namespace
}  // namespace tessary
