#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/container.h"
#include "exec/execute.h"
#include "exec/session.h"
#include "support/archive_fixtures.h"

namespace tessary {
namespace {

using testing::ArchiveSpec;
using testing::build_archive;
using testing::port;
using testing::ref;

Bytes bytes_of(std::initializer_list<int> v) {
  Bytes b;
  for (int x : v) b.push_back(static_cast<std::uint8_t>(x));
  return b;
}

std::vector<Bytes> run(InferenceSession& s, const std::vector<Bytes>& inputs) {
  std::vector<ReadBytes> views(inputs.begin(), inputs.end());
  auto outs = execute(s, views);
  EXPECT_TRUE(outs.has_value());
  std::vector<Bytes> result;
  if (outs) {
    for (ReadBytes o : *outs) result.emplace_back(o.begin(), o.end());
  }
  return result;
}

archive::ConstantEntry inline_constant(std::uint32_t slot, Bytes bytes) {
  archive::ConstantEntry c;
  c.slot = slot;
  c.bytes = std::move(bytes);
  c.dtype = DTypeId::U8;
  return c;
}

TEST(SessionLoad, RequiresKernelCallsAndDefaultsTheRest) {
  // Zero sections: a valid container, but no calls section.
  auto empty = assemble_archive({});
  ASSERT_TRUE(empty);
  EXPECT_FALSE(load_inner(*empty));

  auto s = load_inner(build_archive({}));
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->calls.empty());
  EXPECT_TRUE(s->inputs.empty());
  EXPECT_TRUE(s->outputs.empty());
  EXPECT_EQ(s->slot_count(), 0u);
  ASSERT_EQ(s->plan.size(), 1u);  // one (empty) group of every call in order
  EXPECT_TRUE(s->plan[0].empty());
}

TEST(SessionLoad, SlotCountAndSizes) {
  ArchiveSpec spec;
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(0, 0, 16), ref(3, 0, 16), 4, DTypeId::F32));
  spec.inputs.push_back(port("x", 0, DTypeId::F32, {4}));
  spec.outputs.push_back(port("far", 9, DTypeId::U8, {65}));
  spec.constants.push_back(inline_constant(5, bytes_of({1, 2, 3})));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  ASSERT_EQ(s->slot_count(), 10u);
  EXPECT_EQ(s->slot_sizes[0], 64u);
  EXPECT_EQ(s->slot_sizes[5], 64u);   // a 3-byte constant
  EXPECT_EQ(s->slot_sizes[9], 128u);  // 65 bytes
  EXPECT_EQ(s->slot_sizes[1], 64u);   // unused slots get the minimum
  EXPECT_TRUE(s->is_output[9]);
  EXPECT_FALSE(s->is_output[3]);
  ASSERT_TRUE(s->slot_labels[5]);
  EXPECT_EQ(*s->slot_labels[5], address_bytes(bytes_of({1, 2, 3})));
  EXPECT_FALSE(s->slot_labels[0]);
}

TEST(SessionLoad, RefusesForgedSizesAndSlots) {
  {
    // A port claiming 2^62 f32 elements: its byte length saturates and can
    // never be allocated, so the load is refused.
    ArchiveSpec spec;
    PortDescriptor p = port("huge", 0, DTypeId::F32, {1});
    p.elements = std::uint64_t{1} << 62;
    spec.inputs.push_back(p);
    EXPECT_FALSE(load_inner(build_archive(std::move(spec))));
  }
  {
    // One reference naming slot 4e9: far sparser than any compiled program.
    ArchiveSpec spec;
    spec.calls.push_back(testing::layout(CallKind::Reshape, ref(0), ref(4000000000u), 1, DTypeId::U8));
    EXPECT_FALSE(load_inner(build_archive(std::move(spec))));
  }
  {
    // A constant in the weight store whose fingerprint the store lacks.
    ArchiveSpec spec;
    archive::ConstantEntry c;
    c.slot = 0;
    c.in_weights = true;
    c.fingerprint[0] = 7;
    spec.constants.push_back(c);
    EXPECT_FALSE(load_inner(build_archive(std::move(spec))));
  }
}

TEST(SessionLoad, StealableNeedsTheCacheWriteToComeLast) {
  KvCacheWriteCall kv;
  kv.cache = ref(0);
  kv.rows = ref(1);
  kv.position = ref(2);
  kv.output = ref(3);
  kv.groups = 1;
  kv.bucket_rows = 4;
  kv.new_rows = 1;
  kv.row_bytes = 4;
  const KernelCall reader = testing::layout(CallKind::Reshape, ref(0), ref(4), 16, DTypeId::U8);
  std::vector<KernelCall> calls = {reader, kv};
  std::vector<NodeMeta> meta;
  for (const auto& c : calls) meta.push_back(build_node_meta(c));
  EXPECT_EQ(compute_stealable(calls, {{0, 1}}, meta), (std::vector<bool>{false, true}));
  EXPECT_EQ(compute_stealable(calls, {{1}, {0}}, meta), (std::vector<bool>{false, false}));
  // Listed twice: numbered by its last occurrence.
  EXPECT_EQ(compute_stealable(calls, {{1}, {0}, {1}}, meta), (std::vector<bool>{false, true}));
  EXPECT_EQ(compute_stealable(calls, {{0}}, meta), (std::vector<bool>{false, false}));  // not in the plan
  std::vector<KernelCall> no_kv = {reader};
  EXPECT_EQ(compute_stealable(no_kv, {{0}}, std::span(meta).first(1)), (std::vector<bool>{false}));
}

TEST(Execute, NoCallsReturnsInputsCutToThePort) {
  ArchiveSpec spec;
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {3}));
  spec.outputs.push_back(port("y", 0, DTypeId::U8, {3}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  EXPECT_EQ(run(*s, {bytes_of({1, 2, 3, 4, 5})}), (std::vector<Bytes>{bytes_of({1, 2, 3})}));
  EXPECT_EQ(s->memo.size(), 1u);
  // Shorter input: used as given; the output is as short.
  EXPECT_EQ(run(*s, {bytes_of({9})}), (std::vector<Bytes>{bytes_of({9})}));
  // Differing only beyond the port length: the same memo entry.
  EXPECT_EQ(run(*s, {bytes_of({1, 2, 3, 7})}), (std::vector<Bytes>{bytes_of({1, 2, 3})}));
  EXPECT_EQ(s->memo.size(), 2u);
  std::vector<ReadBytes> none;
  EXPECT_EQ(execute(*s, none).error(), ExecError::InputCountMismatch);
}

TEST(Execute, RepeatedRunIsAMemoHit) {
  ArchiveSpec spec;
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(0), ref(1), 2, DTypeId::I32));
  spec.inputs.push_back(port("x", 0, DTypeId::I32, {2}));
  spec.outputs.push_back(port("y", 1, DTypeId::I32, {2}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  const Bytes x = bytes_of({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  // An i32 reshape copies all 8 bytes, not 2.
  EXPECT_EQ(run(*s, {x}), (std::vector<Bytes>{x}));
  EXPECT_EQ(s->kernels_run, 1u);
  EXPECT_EQ(run(*s, {x}), (std::vector<Bytes>{x}));
  EXPECT_EQ(s->kernels_run, 1u);
  const Bytes x2 = bytes_of({2, 0, 0, 0, 3, 0, 0, 0});
  EXPECT_EQ(run(*s, {x2}), (std::vector<Bytes>{x2}));
  EXPECT_EQ(s->kernels_run, 2u);
  // x's outputs are still in the previous generation: a hit again.
  EXPECT_EQ(run(*s, {x}), (std::vector<Bytes>{x}));
  EXPECT_EQ(s->kernels_run, 2u);
}

TEST(Execute, ResidentIntermediateSkipsItsKernel) {
  // mid = concat(x, c) is not an output: once computed, a later run with the
  // same x finds it resident and only the output copy runs.
  ArchiveSpec spec;
  spec.calls.push_back(testing::concat(ref(0), ref(1), ref(2), 4, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(2), ref(3), 4, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Pad, ref(2), ref(4), 4, DTypeId::U8));
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {2}));
  spec.outputs.push_back(port("y", 4, DTypeId::U8, {4}));
  spec.constants.push_back(inline_constant(1, bytes_of({8, 9})));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  EXPECT_EQ(run(*s, {bytes_of({1, 2})}), (std::vector<Bytes>{bytes_of({1, 2, 8, 9})}));
  EXPECT_EQ(s->kernels_run, 2u);  // concat and pad; the reshape takes its input's label and is resident
  EXPECT_EQ(run(*s, {bytes_of({5, 6})}), (std::vector<Bytes>{bytes_of({5, 6, 8, 9})}));
  EXPECT_EQ(s->kernels_run, 4u);
  // Back to the first input: a memo hit (outputs of the run before last are
  // still in the previous generation).
  EXPECT_EQ(run(*s, {bytes_of({1, 2})}), (std::vector<Bytes>{bytes_of({1, 2, 8, 9})}));
  EXPECT_EQ(s->kernels_run, 4u);
}

TEST(Execute, SlicesAtDifferentStartsGetDifferentLabels) {
  // s1 = x[0..4), s2 = x[4..8) as views; c_i = concat(s_i, s_i) are
  // intermediates; each is copied to an output port.
  ArchiveSpec spec;
  spec.calls.push_back(testing::layout(CallKind::Slice, ref(0, 0, 4), ref(1), 4, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Slice, ref(0, 4, 4), ref(2), 4, DTypeId::U8));
  spec.calls.push_back(testing::concat(ref(1), ref(1), ref(3), 8, DTypeId::U8));
  spec.calls.push_back(testing::concat(ref(2), ref(2), ref(4), 8, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(3), ref(5), 8, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(4), ref(6), 8, DTypeId::U8));
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {8}));
  spec.outputs.push_back(port("a", 5, DTypeId::U8, {8}));
  spec.outputs.push_back(port("b", 6, DTypeId::U8, {8}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  auto out = run(*s, {bytes_of({1, 2, 3, 4, 5, 6, 7, 8})});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], bytes_of({1, 2, 3, 4, 1, 2, 3, 4}));
  EXPECT_EQ(out[1], bytes_of({5, 6, 7, 8, 5, 6, 7, 8}));
}

TEST(Execute, PadsIntoDifferentWindowsGetDifferentLabels) {
  ArchiveSpec spec;
  spec.calls.push_back(testing::layout(CallKind::Pad, ref(0), ref(1, 0, 2), 2, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Pad, ref(0), ref(2, 2, 2), 2, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(1, 0, 4), ref(3), 4, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(2, 0, 4), ref(4), 4, DTypeId::U8));
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {2}));
  spec.outputs.push_back(port("left", 3, DTypeId::U8, {4}));
  spec.outputs.push_back(port("right", 4, DTypeId::U8, {4}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  auto out = run(*s, {bytes_of({7, 9})});
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0], bytes_of({7, 9, 0, 0}));
  EXPECT_EQ(out[1], bytes_of({0, 0, 7, 9}));
}

TEST(Execute, OutOfRangePlanEntryAndF64Fail) {
  {
    ArchiveSpec spec;
    spec.calls.push_back(testing::layout(CallKind::Reshape, ref(0), ref(1), 1, DTypeId::U8));
    spec.inputs.push_back(port("x", 0, DTypeId::U8, {1}));
    spec.outputs.push_back(port("y", 1, DTypeId::U8, {1}));
    spec.plan = {{1, 0}};
    auto s = load_inner(build_archive(std::move(spec)));
    ASSERT_TRUE(s);
    const Bytes x = bytes_of({1});
    std::vector<ReadBytes> in = {x};
    EXPECT_EQ(execute(*s, in).error(), ExecError::ExecutionFailed);
    EXPECT_EQ(s->kernels_run, 0u);  // nothing after the bad entry ran
    EXPECT_EQ(s->memo.size(), 0u);
  }
  {
    ArchiveSpec spec;
    spec.calls.push_back(testing::layout(CallKind::Reshape, ref(0), ref(1), 1, DTypeId::F64));
    spec.inputs.push_back(port("x", 0, DTypeId::F64, {1}));
    spec.outputs.push_back(port("y", 1, DTypeId::F64, {1}));
    auto s = load_inner(build_archive(std::move(spec)));
    ASSERT_TRUE(s);
    const Bytes x(8, 0);
    std::vector<ReadBytes> in = {x};
    EXPECT_EQ(execute(*s, in).error(), ExecError::ExecutionFailed);
  }
}

TEST(Execute, UnallocatableSlotFailsTheRun) {
  // A 4 TiB intermediate: a well-formed size that cannot be allocated here.
  // The run fails; nothing aborts.
  ArchiveSpec spec;
  spec.calls.push_back(testing::concat(ref(0), ref(0), ref(1, 0, std::uint64_t{1} << 42), 2, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(1), ref(2), 1, DTypeId::U8));
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {1}));
  spec.outputs.push_back(port("y", 2, DTypeId::U8, {1}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  const Bytes x = bytes_of({1});
  std::vector<ReadBytes> in = {x};
  EXPECT_EQ(execute(*s, in).error(), ExecError::ExecutionFailed);
}

// kv_cache_write of one new row per group into a 4-row ring at position 7:
// rows land at 3 (then 0 for the second new row).
struct KvFixture {
  static constexpr std::uint32_t kRowBytes = 2;

  static KvCacheWriteCall call() {
    KvCacheWriteCall kv;
    kv.cache = ref(0);
    kv.rows = ref(1);
    kv.position = ref(2);
    kv.output = ref(3);
    kv.groups = 2;
    kv.bucket_rows = 4;
    kv.new_rows = 2;
    kv.row_bytes = kRowBytes;
    return kv;
  }
  static Bytes cache() { return bytes_of({0, 0, 1, 1, 2, 2, 3, 3, 10, 10, 11, 11, 12, 12, 13, 13}); }
  static Bytes rows() { return bytes_of({70, 71, 72, 73, 80, 81, 82, 83}); }
  static Bytes position() { return bytes_of({7, 0, 0, 0}); }
  static Bytes expected() { return bytes_of({72, 73, 1, 1, 2, 2, 70, 71, 82, 83, 11, 11, 12, 12, 80, 81}); }
};

TEST(Execute, KvCacheWriteIntoFreshBufferWhenCacheIsShared) {
  ArchiveSpec spec;
  spec.calls.push_back(testing::layout(CallKind::Reshape, ref(5), ref(0), 16, DTypeId::U8));
  spec.calls.push_back(KvFixture::call());
  spec.calls.push_back(testing::layout(CallKind::Pad, ref(3), ref(6), 16, DTypeId::U8));
  spec.inputs.push_back(port("cache", 5, DTypeId::U8, {16}));
  spec.inputs.push_back(port("rows", 1, DTypeId::U8, {8}));
  spec.inputs.push_back(port("pos", 2, DTypeId::U8, {4}));
  spec.outputs.push_back(port("out", 6, DTypeId::U8, {16}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  ASSERT_TRUE(s->stealable[1]);
  // The reshape takes its input's label and binds the input buffer itself;
  // that buffer is also bound to input slot 5, outside the call's slots, so
  // stealing is refused and the kernel writes a fresh buffer.
  auto out = run(*s, {KvFixture::cache(), KvFixture::rows(), KvFixture::position()});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], KvFixture::expected());
  EXPECT_EQ(s->kernels_run, 2u);  // kv kernel and the pad; the reshape was resident
}

TEST(Execute, KvCacheWriteStealsAnUnsharedCache) {
  // The cache value is computed by a concat (a fresh buffer no one else
  // sees): the write updates that buffer in place and runs no kernel.
  ArchiveSpec spec;
  spec.calls.push_back(testing::concat(ref(5), ref(7), ref(0), 16, DTypeId::U8));
  spec.calls.push_back(KvFixture::call());
  spec.calls.push_back(testing::layout(CallKind::Pad, ref(3), ref(6), 16, DTypeId::U8));
  spec.inputs.push_back(port("lo", 5, DTypeId::U8, {8}));
  spec.inputs.push_back(port("rows", 1, DTypeId::U8, {8}));
  spec.inputs.push_back(port("pos", 2, DTypeId::U8, {4}));
  spec.inputs.push_back(port("hi", 7, DTypeId::U8, {8}));
  spec.outputs.push_back(port("out", 6, DTypeId::U8, {16}));
  auto s = load_inner(build_archive(std::move(spec)));
  ASSERT_TRUE(s);
  const Bytes cache = KvFixture::cache();
  const Bytes lo(cache.begin(), cache.begin() + 8), hi(cache.begin() + 8, cache.end());
  auto out = run(*s, {lo, KvFixture::rows(), KvFixture::position(), hi});
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], KvFixture::expected());
  EXPECT_EQ(s->kernels_run, 2u);  // concat and pad; the cache write happened in place
}

}  // namespace
}  // namespace tessary
