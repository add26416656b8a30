#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/labels.h"
#include "exec/buffer_arena.h"

namespace tessary {
namespace {

KappaLabel label_of(std::string_view s) {
  return address_bytes(ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

// Frees exactly the given buffers by binding them to slots and resetting twice.
BufferArena arena_with_free(std::vector<std::uint64_t> sizes, std::vector<BufferIndex>& ids) {
  BufferArena a;
  for (std::size_t i = 0; i < sizes.size(); ++i) ids.push_back(*a.bind_fresh(static_cast<std::uint32_t>(i), sizes[i]));
  a.rebind_reset(sizes.size());
  return a;
}

TEST(BufferArena, AcquireRoundsToSixtyFourAndZeroes) {
  BufferArena a;
  auto b0 = a.acquire_buf(0);
  auto b1 = a.acquire_buf(1);
  auto b2 = a.acquire_buf(65);
  ASSERT_TRUE(b0 && b1 && b2);
  EXPECT_EQ(a.buffer_cap(*b0), 64u);
  EXPECT_EQ(a.buffer_len(*b0), 0u);
  EXPECT_EQ(a.buffer_cap(*b1), 64u);
  EXPECT_EQ(a.buffer_len(*b1), 1u);
  EXPECT_EQ(a.buffer_cap(*b2), 128u);
  for (BufferIndex b : {*b0, *b1, *b2}) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.buffer_data(b)) % 64, 0u);
    for (std::uint64_t i = 0; i < a.buffer_cap(b); ++i) ASSERT_EQ(a.buffer_data(b)[i], 0);
  }
  EXPECT_FALSE(a.acquire_buf(UINT64_MAX).has_value());
  EXPECT_FALSE(a.acquire_buf(std::uint64_t{1} << 62).has_value());  // cannot be allocated: refused, no abort
}

TEST(BufferArena, BestFitWithinFactorTwo) {
  std::vector<BufferIndex> ids;
  BufferArena a = arena_with_free({128, 64, 256}, ids);
  ASSERT_EQ(a.free_count(), 3u);
  EXPECT_EQ(a.acquire_buf(100), ids[0]);  // need 128: the 128 buffer
  EXPECT_EQ(a.acquire_buf(10), ids[1]);   // need 64: the 64 buffer
  auto fresh = a.acquire_buf(30);         // only 256 left: 256 > 2 * 64
  ASSERT_TRUE(fresh);
  EXPECT_EQ(*fresh, 3u);
  EXPECT_EQ(a.acquire_buf(200), ids[2]);
}

TEST(BufferArena, ReuseZeroesOnlyTheNewLength) {
  BufferArena a;
  auto b = a.bind_fresh(0, 64);
  auto w = a.write_slot(0);
  ASSERT_TRUE(w);
  std::memset(w->data(), 0xAB, 64);
  a.rebind_reset(1);
  a.rebind_reset(1);
  ASSERT_TRUE(a.is_free(*b));
  auto again = a.acquire_buf(40);
  ASSERT_EQ(again, b);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(a.buffer_data(*b)[i], 0);
  for (int i = 40; i < 64; ++i) EXPECT_EQ(a.buffer_data(*b)[i], 0xAB);
  EXPECT_EQ(a.buffer_len(*b), 40u);
}

TEST(BufferArena, ViewsAndWorkspaceRanges) {
  BufferArena a;
  a.bind_fresh(0, 100);
  auto w = a.write_slot(0);
  for (int i = 0; i < 100; ++i) (*w)[i] = static_cast<std::uint8_t>(i);

  EXPECT_FALSE(a.bind_view(2, 1, 0, 4));  // unbound source
  EXPECT_FALSE(a.read_slot(2));

  ASSERT_TRUE(a.bind_view(1, 0, 10, 20));
  auto v = a.read_slot(1);
  ASSERT_TRUE(v);
  ASSERT_EQ(v->size(), 20u);
  EXPECT_EQ((*v)[0], 10);

  ASSERT_TRUE(a.bind_view(2, 1, 5, 0));  // length 0: to the end of the source buffer
  v = a.read_slot(2);
  ASSERT_EQ(v->size(), 85u);
  EXPECT_EQ((*v)[0], 15);

  // Workspace windows inside a view.
  ReadBytes r = a.read(BufferRef{2, 3, 1});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0], 12);
  EXPECT_EQ(a.read(BufferRef{0, 0, 1}).size(), 20u);            // len 0: end of the view
  EXPECT_EQ(a.read(BufferRef{95, 50, 0}).size(), 5u);           // clipped at buffer end
  EXPECT_EQ(a.read(BufferRef{30, 0, 1}).size(), 0u);            // start past the view end: inverted
  EXPECT_EQ(a.read(BufferRef{0, 4, 7}).size(), 0u);             // unbound slot
  EXPECT_EQ(a.read(BufferRef{UINT64_MAX, 4, 0}).size(), 0u);    // no overflow
  EXPECT_EQ(a.write(BufferRef{2, 3, 1}).data(), a.read(BufferRef{2, 3, 1}).data());
}

TEST(BufferArena, SplitBorrowRefusesOverlap) {
  BufferArena a;
  a.bind_fresh(0, 64);
  a.bind_fresh(1, 64);
  const BufferRef in0 = BufferRef::whole(0), in1 = BufferRef::whole(1);
  EXPECT_FALSE(a.split_borrow(in0, std::vector<BufferRef>{in0}));
  auto ok = a.split_borrow(in0, std::vector<BufferRef>{in1, in1, in1, in1, in1});
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->size(), 5u);
  EXPECT_EQ(ok->output.size(), 64u);
  EXPECT_EQ(ok->input(4).size(), 64u);
  // Disjoint windows of one buffer are fine; overlapping ones are not.
  EXPECT_TRUE(a.split_borrow(BufferRef{0, 32, 0}, std::vector<BufferRef>{BufferRef{32, 32, 0}}));
  EXPECT_FALSE(a.split_borrow(BufferRef{0, 33, 0}, std::vector<BufferRef>{BufferRef{32, 32, 0}}));
  EXPECT_FALSE(a.split_borrow(in0, std::vector<BufferRef>{BufferRef::whole(9)}));
}

TEST(BufferArena, LabelsPinnedCurrentPrevious) {
  BufferArena a;
  const KappaLabel c = label_of("const"), x = label_of("x"), y = label_of("y");
  const std::uint8_t bytes[] = {1, 2, 3};
  ASSERT_TRUE(a.pin_bytes(c, bytes));
  const std::uint8_t other[] = {9};
  ASSERT_TRUE(a.pin_bytes(c, other));  // second pin keeps the first buffer
  EXPECT_EQ(a.resolve(c)->size(), 3u);
  EXPECT_EQ(a.pool_size(), 1u);

  a.rebind_reset(2);
  ASSERT_TRUE(a.store_unbound(x, bytes));
  ASSERT_TRUE(a.bind_resident(0, x));
  a.bind_fresh(1, 8);
  a.retain(1, y);
  EXPECT_TRUE(a.resident(x) && a.resident(y) && a.resident(c));
  a.retain(0, c);  // pinned labels are never registered again
  a.rebind_reset(2);  // run N + 1: x and y are previous
  EXPECT_TRUE(a.resident(x) && a.resident(y));
  ASSERT_TRUE(a.store_unbound(x, bytes));  // seen in previous: moved into current, no copy
  const std::size_t pool = a.pool_size();
  a.rebind_reset(2);  // run N + 2: y was not registered again and is recycled, x survives
  EXPECT_TRUE(a.resident(x));
  EXPECT_FALSE(a.resident(y));
  EXPECT_EQ(a.pool_size(), pool);
  a.rebind_reset(2);
  a.rebind_reset(2);
  EXPECT_FALSE(a.resident(x));
  EXPECT_TRUE(a.resident(c));
  // Every non-pinned buffer is free now.
  EXPECT_EQ(a.free_count(), a.pool_size() - 1);
}

TEST(BufferArena, StealTransientOnlyWhenUnobserved) {
  BufferArena a;
  const KappaLabel cache = label_of("cache"), alias = label_of("alias");
  a.rebind_reset(4);
  auto b = a.bind_fresh(0, 64);
  a.retain(0, cache);
  const std::uint32_t allowed[] = {0, 1};
  // Also bound to slot 3, outside the allowed list.
  a.bind_view(3, 0, 0, 0);
  EXPECT_FALSE(a.steal_transient(cache, allowed));
  a.rebind_reset(4);
  // Previous holds it now, and nothing is bound: but a second label shares it.
  ASSERT_TRUE(a.bind_resident(0, cache));
  a.retain(0, alias);
  EXPECT_FALSE(a.steal_transient(cache, allowed));
  a.rebind_reset(4);
  a.rebind_reset(4);
  // A fresh, unshared registration can be stolen, and is then no longer resident.
  auto c = a.bind_fresh(0, 64);
  a.retain(0, cache);
  auto stolen = a.steal_transient(cache, allowed);
  ASSERT_TRUE(stolen);
  EXPECT_EQ(*stolen, *c);
  EXPECT_FALSE(a.resident(cache));
  a.bind_stolen(1, *stolen);
  EXPECT_EQ(a.read_slot(1)->size(), 64u);
  // Pinned values are never stolen.
  const std::uint8_t bytes[] = {1};
  a.pin_bytes(label_of("p"), bytes);
  EXPECT_FALSE(a.steal_transient(label_of("p"), allowed));
  (void)b;
}

}  // namespace
}  // namespace tessary
