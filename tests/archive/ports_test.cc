#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/le_bytes.h"
#include "archive/ports.h"

namespace tessary {
namespace {

PortDescriptor port(std::string name, std::vector<std::uint64_t> shape, std::uint64_t elements, std::uint32_t slot,
                    DTypeId dtype) {
  return PortDescriptor{std::move(name), std::move(shape), elements, slot, dtype};
}

TEST(Ports, EncodesFieldByField) {
  std::vector<PortDescriptor> ports = {port("x", {2, 3}, 6, 7, DTypeId::F16)};
  auto bytes = encode_ports(ports);
  ASSERT_TRUE(bytes.has_value());
  testing::LeBytes w;
  w.u32(1);
  w.u16(1);
  w.text("x");
  w.u32(7);
  w.u64(6);
  w.u8(6);  // f16
  w.u8(2);
  w.u64(2);
  w.u64(3);
  EXPECT_EQ(*bytes, w.take());
}

TEST(Ports, RoundTrip) {
  std::vector<PortDescriptor> ports = {
      port("", {}, 1, 0, DTypeId::F32),
      port("tokens", {1, 128}, 128, 4, DTypeId::I32),
      port("\xc3\xa9t\xc3\xa9", {1, 2, 3, 4, 5, 6, 7, 8}, 40320, 0xFFFFFFFF, DTypeId::E8cb),
      port("big", std::vector<std::uint64_t>(255, UINT64_MAX), UINT64_MAX, 3, static_cast<DTypeId>(200)),
  };
  auto bytes = encode_ports(ports);
  ASSERT_TRUE(bytes.has_value());
  auto back = decode_ports(*bytes);
  ASSERT_TRUE(back.has_value()) << back.error().describe();
  EXPECT_EQ(*back, ports);

  auto empty = encode_ports({});
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(*empty, (Bytes{0, 0, 0, 0}));
  EXPECT_TRUE(decode_ports(*empty)->empty());
}

TEST(Ports, EmptyNamedRankZeroPortIsSixteenBytes) {
  std::vector<PortDescriptor> one = {port("", {}, 1, 2, DTypeId::U8)};
  auto bytes = encode_ports(one);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(bytes->size(), 4u + 16u);
  EXPECT_EQ(*decode_ports(*bytes), one);
}

TEST(Ports, DecodeRejectsShortAndInvalidRecords) {
  std::vector<PortDescriptor> one = {port("", {}, 1, 2, DTypeId::U8)};
  Bytes good = *encode_ports(one);

  EXPECT_EQ(decode_ports(Bytes{1, 0, 0}).error(), ArchiveError::truncated(4, 3));

  // A count of 2 with one complete port: the second name length is missing.
  Bytes two = good;
  two[0] = 2;
  EXPECT_EQ(decode_ports(two).error(), ArchiveError::truncated(22, 20));

  // A record that ends right after its dtype byte lacks its rank.
  Bytes no_rank(good.begin(), good.end() - 1);
  EXPECT_EQ(decode_ports(no_rank).error(), ArchiveError::truncated(20, 19));

  // Rank 2 with one dimension present.
  testing::LeBytes w;
  w.u32(1);
  w.u16(0);
  w.u32(0);
  w.u64(4);
  w.u8(8);
  w.u8(2);
  w.u64(4);
  EXPECT_EQ(decode_ports(w.take()).error(), ArchiveError::truncated(4 + 16 + 16, 4 + 16 + 8));

  testing::LeBytes bad;
  bad.u32(1);
  bad.u16(1);
  bad.u8(0xFF);
  bad.u32(0);
  bad.u64(1);
  bad.u8(8);
  bad.u8(0);
  EXPECT_EQ(decode_ports(bad.take()).error(), ArchiveError::malformed("port name is not valid UTF-8"));
}

TEST(Ports, EncodeRefusesValuesPastTheFieldWidths) {
  const std::pair<PortDescriptor, const char*> cases[] = {
      {port(std::string(65536, 'a'), {}, 1, 0, DTypeId::F32), "port name longer than 65535 bytes"},
      {port("\xff", {}, 1, 0, DTypeId::F32), "port name is not valid UTF-8"},
      {port("x", std::vector<std::uint64_t>(256, 1), 1, 0, DTypeId::F32), "port shape has more than 255 dimensions"},
  };
  for (const auto& [p, message] : cases) {
    std::vector<PortDescriptor> list = {port("ok", {1}, 1, 0, DTypeId::F32), p};
    auto r = encode_ports(list);
    ASSERT_FALSE(r.has_value()) << message;
    EXPECT_EQ(r.error(), ArchiveError::malformed(message));
  }
  // The largest values that fit are written.
  std::vector<PortDescriptor> edge = {port(std::string(65535, 'a'), {}, 1, 0, DTypeId::F32)};
  auto r = encode_ports(edge);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*decode_ports(*r), edge);
}

TEST(Ports, ByteLengthUsesTheTagWidthAndSaturates) {
  const std::pair<std::uint8_t, std::uint64_t> widths[] = {{0, 1}, {1, 1}, {2, 1}, {3, 8}, {4, 4},  {5, 8},
                                                           {6, 2}, {7, 2}, {8, 4}, {9, 8}, {10, 1}, {11, 1},
                                                           {12, 1}, {255, 1}};
  for (const auto& [tag, width] : widths) {
    EXPECT_EQ(port_byte_length(port("", {}, 10, 0, static_cast<DTypeId>(tag))), 10 * width) << int(tag);
  }
  EXPECT_EQ(port_byte_length(port("", {}, UINT64_MAX / 4 + 1, 0, DTypeId::F32)), UINT64_MAX);
  EXPECT_EQ(port_byte_length(port("", {}, UINT64_MAX / 4, 0, DTypeId::F32)), UINT64_MAX / 4 * 4);
}

}  // namespace
}  // namespace tessary
