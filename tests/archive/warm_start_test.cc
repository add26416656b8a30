#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/le_bytes.h"
#include "archive/labels.h"
#include "archive/warm_start.h"

namespace tessary {
namespace {

void entry(testing::LeBytes& w, std::uint32_t aux, std::string_view label, const Bytes& value) {
  w.u32(aux);
  w.text(label);
  w.u32(static_cast<std::uint32_t>(value.size()));
  w.bytes(value);
}

const std::string kLabel(address_bytes(Bytes{1, 2, 3}).text());

TEST(WarmStart, DecodesEntriesInOrder) {
  std::string odd(71, '?');  // ASCII of any shape is accepted
  testing::LeBytes w;
  w.u32(3);
  entry(w, 0xAABBCCDD, kLabel, Bytes{4, 5, 6});
  entry(w, 0, odd, Bytes{});
  entry(w, 1, kLabel, Bytes(1000, 7));
  w.bytes(Bytes{0xFF, 0xFF});  // trailing bytes are ignored
  auto r = decode_warm_start(w.take());
  ASSERT_TRUE(r.has_value()) << r.error().describe();
  ASSERT_EQ(r->size(), 3u);
  EXPECT_EQ((*r)[0].aux, 0xAABBCCDDu);
  EXPECT_EQ((*r)[0].label, address_bytes(Bytes{1, 2, 3}));
  EXPECT_EQ((*r)[0].bytes, (Bytes{4, 5, 6}));
  EXPECT_EQ((*r)[1].label.text(), odd);
  EXPECT_TRUE((*r)[1].bytes.empty());
  EXPECT_EQ((*r)[2].bytes, Bytes(1000, 7));

  EXPECT_TRUE(decode_warm_start(Bytes{0, 0, 0, 0})->empty());
}

TEST(WarmStart, ValueRunningPastThePayloadIsTruncated) {
  testing::LeBytes w;
  w.u32(1);
  w.u32(0);
  w.text(kLabel);
  w.u32(3);
  w.bytes(Bytes{1, 2});
  EXPECT_EQ(decode_warm_start(w.take()).error(), ArchiveError::truncated(4 + 79 + 3, 4 + 79 + 2));
}

TEST(WarmStart, ShortHeadIsTruncatedAtTheHeadEnd) {
  testing::LeBytes w;
  w.u32(2);
  entry(w, 0, kLabel, Bytes{1});
  std::size_t second = w.size();
  w.u32(0);
  w.text(kLabel.substr(0, 10));
  std::size_t len = w.size();
  EXPECT_EQ(decode_warm_start(w.take()).error(), ArchiveError::truncated(second + 79, len));

  EXPECT_EQ(decode_warm_start(Bytes{1, 0, 0}).error(), ArchiveError::truncated(4, 3));
  // A count of a million in a 4-byte payload fails on the first entry.
  testing::LeBytes million;
  million.u32(1000000);
  EXPECT_EQ(decode_warm_start(million.take()).error(), ArchiveError::truncated(83, 4));
}

TEST(WarmStart, NonAsciiLabelIsMalformed) {
  for (std::size_t at : {0u, 6u, 7u, 70u}) {
    std::string label = kLabel;
    label[at] = '\xC3';
    testing::LeBytes w;
    w.u32(1);
    entry(w, 0, label, Bytes{1, 2, 3});
    auto r = decode_warm_start(w.take());
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), ArchiveError::malformed("malformed warm-start κ-label")) << at;
  }
  std::string label = kLabel;
  label[70] = '\x7F';  // still ASCII
  testing::LeBytes w;
  w.u32(1);
  entry(w, 0, label, Bytes{});
  EXPECT_TRUE(decode_warm_start(w.take()).has_value());
}

}  // namespace
}  // namespace tessary
