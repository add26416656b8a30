#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ffi/session_table.h"
#include "support/archive_fixtures.h"
#include "tessary/tessary.h"

namespace tessary {
namespace {

using testing::ArchiveSpec;
using testing::build_archive;
using testing::port;
using testing::ref;

// in "x" u8[4] (slot 0) -> concat with constant "ab" -> "joined" u8[6] (slot 2);
// in "tail" u8[2] (slot 3) -> out "tail_copy" (slot 4) by a pad copy.
Bytes two_port_archive() {
  ArchiveSpec spec;
  spec.calls.push_back(testing::concat(ref(0), ref(1), ref(2), 6, DTypeId::U8));
  spec.calls.push_back(testing::layout(CallKind::Pad, ref(3), ref(4), 2, DTypeId::U8));
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {2, 2}));
  spec.inputs.push_back(port("tail", 3, DTypeId::U8, {2}));
  spec.outputs.push_back(port("joined", 2, DTypeId::U8, {2, 3}));
  spec.outputs.push_back(port("tail_copy", 4, DTypeId::U8, {1, 2, 1}));
  archive::ConstantEntry c;
  c.slot = 1;
  c.bytes = {'a', 'b'};
  c.dtype = DTypeId::U8;
  spec.constants.push_back(c);
  spec.extensions.push_back({"model", Bytes{'t', 'i', 'n', 'y'}});
  spec.extensions.push_back({"", Bytes{1}});
  spec.extensions.push_back({"model", Bytes{'s', 'e', 'c', 'o', 'n', 'd'}});
  return build_archive(std::move(spec));
}

int32_t load(const Bytes& b) { return tessary_session_load(b.data(), b.size()); }

std::uint64_t kernels_run(int32_t handle) {
  auto& t = ffi::sessions();
  std::lock_guard<std::mutex> g(t.lock);
  return t.slots[handle]->kernels_run;
}

TEST(SessionApi, HandlesAreNeverReused) {
  const Bytes a = two_port_archive();
  const int32_t h0 = load(a);
  ASSERT_GE(h0, 0);
  const int32_t h1 = load(a);
  EXPECT_EQ(h1, h0 + 1);
  EXPECT_EQ(tessary_session_close(h0), 0);
  const int32_t h2 = load(a);
  EXPECT_EQ(h2, h0 + 2);
  EXPECT_EQ(tessary_session_input_count(h0), -1);
  EXPECT_EQ(tessary_session_kernel_count(h0), -1);
  EXPECT_EQ(tessary_session_close(h0), 0);  // closing again is fine
  EXPECT_EQ(tessary_session_close(h2 + 5), -1);
  EXPECT_EQ(tessary_session_close(-1), -1);
  EXPECT_EQ(tessary_session_input_count(-1), -1);
  EXPECT_EQ(tessary_session_input_count(h1), 2);
  EXPECT_EQ(tessary_session_close(h1), 0);
  EXPECT_EQ(tessary_session_close(h2), 0);
}

TEST(SessionApi, LoadRejectsBadBytes) {
  EXPECT_EQ(tessary_session_load(nullptr, 0), -1);
  const Bytes a = two_port_archive();
  Bytes flipped = a;
  flipped[20] ^= 1;
  EXPECT_EQ(load(flipped), -1);
  EXPECT_EQ(tessary_session_load(a.data(), 41), -1);
  // Any prefix of a valid archive is refused cleanly.
  for (size_t n = 0; n < a.size(); n += 7) EXPECT_EQ(tessary_session_load(a.data(), n), -1) << n;
}

TEST(SessionApi, PortQueries) {
  const Bytes a = two_port_archive();
  const int32_t h = load(a);
  ASSERT_GE(h, 0);
  EXPECT_EQ(tessary_session_input_count(h), 2);
  EXPECT_EQ(tessary_session_output_count(h), 2);
  EXPECT_EQ(tessary_session_kernel_count(h), 2);
  EXPECT_EQ(tessary_session_input_dtype(h, 1), 1);
  EXPECT_EQ(tessary_session_output_dtype(h, 0), 1);
  EXPECT_EQ(tessary_session_input_dtype(h, 2), -1);
  EXPECT_EQ(tessary_session_output_dtype(h, 2), -1);

  uint8_t name[8] = {0};
  EXPECT_EQ(tessary_session_output_name(h, 0, nullptr, 99), 6);
  EXPECT_EQ(tessary_session_output_name(h, 0, name, 3), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 4), std::string("joi\0", 4));  // no terminator written
  EXPECT_EQ(tessary_session_input_name(h, 1, name, sizeof name), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 4), "tail");
  EXPECT_EQ(tessary_session_input_name(h, 5, name, sizeof name), -1);

  uint64_t dims[4] = {0, 0, 0, 0};
  EXPECT_EQ(tessary_session_output_shape(h, 1, dims, 2), 3);
  EXPECT_EQ(dims[0], 1u);
  EXPECT_EQ(dims[1], 2u);
  EXPECT_EQ(dims[2], 0u);
  EXPECT_EQ(tessary_session_input_shape(h, 0, nullptr, 0), 2);
  EXPECT_EQ(tessary_session_output_byte_len(h, 0), 6);
  EXPECT_EQ(tessary_session_output_byte_len(h, 2), -1);

  uint8_t value[8] = {0};
  const uint8_t key[] = {'m', 'o', 'd', 'e', 'l'};
  EXPECT_EQ(tessary_session_extension(h, key, 5, nullptr, 0), 4);  // the first of two equal keys
  EXPECT_EQ(tessary_session_extension(h, key, 5, value, 2), 4);
  EXPECT_EQ(value[0], 't');
  EXPECT_EQ(value[2], 0);
  EXPECT_EQ(tessary_session_extension(h, key, 0, value, 8), 1);  // the empty key is a key
  EXPECT_EQ(tessary_session_extension(h, nullptr, 0, value, 8), -1);
  EXPECT_EQ(tessary_session_extension(h, key, 4, value, 8), -1);
  const uint8_t bad[] = {0xFF};
  EXPECT_EQ(tessary_session_extension(h, bad, 1, value, 8), -1);

  uint8_t fp[32];
  EXPECT_EQ(tessary_session_archive_fingerprint(h, fp), 0);
  EXPECT_EQ(0, std::memcmp(fp, a.data() + a.size() - 32, 32));
  EXPECT_EQ(tessary_session_archive_fingerprint(h, nullptr), -1);
  tessary_session_close(h);
  EXPECT_EQ(tessary_session_archive_fingerprint(h, fp), -1);
}

struct Io {
  std::array<uint8_t, 4> x{1, 2, 3, 4};
  std::array<uint8_t, 2> tail{9, 8};
  std::array<const uint8_t*, 2> in_ptrs{x.data(), tail.data()};
  std::array<size_t, 2> in_lens{4, 2};
  std::array<uint8_t, 6> joined{};
  std::array<uint8_t, 2> tail_copy{};
  std::array<uint8_t*, 2> out_ptrs{joined.data(), tail_copy.data()};
  std::array<size_t, 2> out_caps{6, 2};

  int32_t run(int32_t h) {
    return tessary_session_execute(h, in_ptrs.data(), in_lens.data(), 2, out_ptrs.data(), out_caps.data(), 2);
  }
};

TEST(SessionApi, ExecuteComputesAndRepeatsFromTheMemo) {
  const int32_t h = load(two_port_archive());
  ASSERT_GE(h, 0);
  Io io;
  ASSERT_EQ(io.run(h), 0);
  EXPECT_EQ(io.joined, (std::array<uint8_t, 6>{1, 2, 3, 4, 'a', 'b'}));
  EXPECT_EQ(io.tail_copy, (std::array<uint8_t, 2>{9, 8}));
  const auto ran = kernels_run(h);
  Io again;
  ASSERT_EQ(again.run(h), 0);
  EXPECT_EQ(again.joined, io.joined);
  EXPECT_EQ(again.tail_copy, io.tail_copy);
  EXPECT_EQ(kernels_run(h), ran);
  // A longer input is cut to the port's length: same run, same result.
  std::array<uint8_t, 6> longer{1, 2, 3, 4, 5, 6};
  Io cut;
  cut.in_ptrs[0] = longer.data();
  cut.in_lens[0] = 6;
  ASSERT_EQ(cut.run(h), 0);
  EXPECT_EQ(cut.joined, io.joined);
  EXPECT_EQ(kernels_run(h), ran);
  tessary_session_close(h);
}

TEST(SessionApi, ExecuteArgumentChecks) {
  const int32_t h = load(two_port_archive());
  ASSERT_GE(h, 0);
  Io io;
  EXPECT_EQ(tessary_session_execute(h, io.in_ptrs.data(), io.in_lens.data(), 1, io.out_ptrs.data(),
                                    io.out_caps.data(), 2),
            -1);
  EXPECT_EQ(tessary_session_execute(h, io.in_ptrs.data(), io.in_lens.data(), 2, io.out_ptrs.data(),
                                    io.out_caps.data(), 1),
            -1);
  EXPECT_EQ(tessary_session_execute(h, nullptr, io.in_lens.data(), 2, io.out_ptrs.data(), io.out_caps.data(), 2), -1);
  EXPECT_EQ(tessary_session_execute(h, io.in_ptrs.data(), nullptr, 2, io.out_ptrs.data(), io.out_caps.data(), 2), -1);
  EXPECT_EQ(kernels_run(h), 0u);  // nothing ran so far

  // NULL with length 2: refused; NULL with length 0: an empty input.
  Io null_input;
  null_input.in_ptrs[0] = nullptr;
  null_input.in_lens[0] = 2;
  EXPECT_EQ(null_input.run(h), -1);
  null_input.in_lens[0] = 0;
  EXPECT_EQ(null_input.run(h), 0);
  EXPECT_EQ(null_input.joined, (std::array<uint8_t, 6>{'a', 'b', 0, 0, 0, 0}));

  // One output a byte short: -1, and no output is written at all.
  Io short_cap;
  short_cap.out_caps[1] = 1;
  EXPECT_EQ(short_cap.run(h), -1);
  EXPECT_EQ(short_cap.joined, (std::array<uint8_t, 6>{}));
  EXPECT_EQ(short_cap.tail_copy, (std::array<uint8_t, 2>{}));

  // NULL entries skip their outputs and their capacities are not read.
  Io skip;
  skip.out_ptrs = {nullptr, nullptr};
  skip.out_caps = {0, 0};
  EXPECT_EQ(skip.run(h), 0);
  skip.out_ptrs[1] = skip.tail_copy.data();
  skip.out_caps[1] = 2;
  EXPECT_EQ(skip.run(h), 0);
  EXPECT_EQ(skip.tail_copy, (std::array<uint8_t, 2>{9, 8}));
  EXPECT_EQ(skip.joined, (std::array<uint8_t, 6>{}));

  // NULL output arrays: refused, but only after the run.
  const auto before = kernels_run(h);
  std::array<uint8_t, 2> fresh{42, 43};
  Io late;
  late.in_ptrs[1] = fresh.data();
  EXPECT_EQ(tessary_session_execute(h, late.in_ptrs.data(), late.in_lens.data(), 2, nullptr, late.out_caps.data(), 2),
            -1);
  EXPECT_GT(kernels_run(h), before);
  tessary_session_close(h);
}

TEST(SessionApi, EmptyArchiveHasNoPortsAndNoKernels) {
  const int32_t h = load(build_archive({}));
  ASSERT_GE(h, 0);
  EXPECT_EQ(tessary_session_input_count(h), 0);
  EXPECT_EQ(tessary_session_output_count(h), 0);
  EXPECT_EQ(tessary_session_kernel_count(h), 0);
  EXPECT_EQ(tessary_session_execute(h, nullptr, nullptr, 0, nullptr, nullptr, 0), 0);
  tessary_session_close(h);
}

TEST(SessionApi, ManyThreadsLoadExecuteAndClose) {
  const Bytes a = two_port_archive();
  constexpr int kThreads = 6;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 40; ++round) {
        const int32_t h = load(a);
        if (h < 0) {
          ++failures;
          continue;
        }
        for (int rep = 0; rep < 3; ++rep) {
          Io io;
          io.x = {static_cast<uint8_t>(t), static_cast<uint8_t>(round), static_cast<uint8_t>(rep % 2), 7};
          if (io.run(h) != 0 ||
              io.joined != std::array<uint8_t, 6>{io.x[0], io.x[1], io.x[2], io.x[3], 'a', 'b'} ||
              io.tail_copy != io.tail)
            ++failures;
        }
        if (tessary_session_close(h) != 0) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace tessary
