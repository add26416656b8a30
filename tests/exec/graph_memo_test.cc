#include <gtest/gtest.h>

#include <string>

#include "archive/labels.h"
#include "exec/graph_memo.h"

namespace tessary {
namespace {

KappaLabel lbl(int i) {
  const std::string s = "value " + std::to_string(i);
  return address_bytes(ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

TEST(GraphMemo, GetAdvancesTickEvenWhenEmpty) {
  GraphMemo m;
  EXPECT_FALSE(m.get(LabelList{lbl(1)}).has_value());
  EXPECT_EQ(m.tick(), 1u);
  m.insert(LabelList{lbl(1)}, LabelList{lbl(2)});
  EXPECT_EQ(m.tick(), 2u);
  auto hit = m.get(LabelList{lbl(1)});
  ASSERT_TRUE(hit);
  EXPECT_EQ(*hit, LabelList{lbl(2)});
  // Keys compare by length and position.
  EXPECT_FALSE(m.get(LabelList{lbl(1), lbl(1)}));
  EXPECT_FALSE(m.get(LabelList{}));
}

TEST(GraphMemo, EvictsLeastRecentlyUsed) {
  GraphMemo m(1024);
  for (int i = 0; i < 1024; ++i) m.insert(LabelList{lbl(i)}, LabelList{lbl(i + 5000)});
  ASSERT_EQ(m.size(), 1024u);
  ASSERT_TRUE(m.get(LabelList{lbl(0)}));  // hit: entry 0 becomes the newest
  m.insert(LabelList{lbl(2000)}, LabelList{lbl(1)});
  EXPECT_EQ(m.size(), 1024u);
  EXPECT_TRUE(m.contains(LabelList{lbl(0)}));
  EXPECT_FALSE(m.contains(LabelList{lbl(1)}));  // oldest stamp
  // Replacing an existing key in a full memo evicts nothing.
  m.insert(LabelList{lbl(5)}, LabelList{lbl(7), lbl(8)});
  EXPECT_EQ(m.size(), 1024u);
  EXPECT_TRUE(m.contains(LabelList{lbl(2)}));
  EXPECT_EQ(*m.get(LabelList{lbl(5)}), (LabelList{lbl(7), lbl(8)}));
}

TEST(GraphMemo, LongKeysSpillAndStillMatch) {
  GraphMemo m;
  LabelList key;
  for (int i = 0; i < 6; ++i) key.push_back(lbl(i));
  m.insert(key, LabelList{lbl(9)});
  LabelList same;
  for (int i = 0; i < 6; ++i) same.push_back(lbl(i));
  LabelList out;
  EXPECT_TRUE(m.get(same, out));
  EXPECT_EQ(out, LabelList{lbl(9)});
}

}  // namespace
}  // namespace tessary
