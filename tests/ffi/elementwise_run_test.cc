// Archives of element-wise programs run end to end through the C interface.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "support/archive_fixtures.h"
#include "tessary/tessary.h"
#include "types/float16.h"

namespace tessary {
namespace {

using testing::ArchiveSpec;
using testing::build_archive;
using testing::port;
using testing::ref;

template <class T>
Bytes raw(const std::vector<T>& v) {
  Bytes b(v.size() * sizeof(T));
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

// y = relu(x) + c; z = broadcast (y - row) over [2, 3] with row [1, 3].
TEST(ElementwiseRun, ReluAddAndBroadcastOnF32) {
  ArchiveSpec spec;
  UnaryCall relu;
  relu.kind = CallKind::Relu;
  relu.input = ref(0);
  relu.output = ref(1, 0, 24);
  relu.n = 6;
  relu.dtype = DTypeId::F32;
  BinaryCall add;
  add.kind = CallKind::Add;
  add.a = ref(1);
  add.b = ref(2);
  add.output = ref(3, 0, 24);
  add.n = 6;
  add.dtype = DTypeId::F32;
  BroadcastBinaryCall bsub;
  bsub.a = ref(4);
  bsub.b = ref(3);
  bsub.output = ref(5, 0, 24);
  bsub.rank = 2;
  bsub.op = 1;  // sub, full - broadcast
  bsub.dtype = DTypeId::F32;
  bsub.in_dims = {1, 3};
  bsub.out_dims = {2, 3};
  spec.calls = {relu, add, bsub};
  spec.inputs.push_back(port("x", 0, DTypeId::F32, {2, 3}));
  spec.outputs.push_back(port("y", 3, DTypeId::F32, {2, 3}));
  spec.outputs.push_back(port("z", 5, DTypeId::F32, {2, 3}));
  archive::ConstantEntry c;
  c.slot = 2;
  c.bytes = raw<float>({0.5f, 0.25f, -1.0f, 2.0f, 0.0f, 1.5f});
  spec.constants.push_back(c);
  archive::ConstantEntry row;
  row.slot = 4;
  row.bytes = raw<float>({1.0f, 2.0f, 3.0f});
  spec.constants.push_back(row);
  const Bytes archive = build_archive(std::move(spec));
  const int32_t h = tessary_session_load(archive.data(), archive.size());
  ASSERT_GE(h, 0);

  const std::vector<float> x = {-2.0f, 3.0f, -0.0f, 1.25f, -7.5f, 4.0f};
  std::array<float, 6> y{}, z{};
  const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(x.data())};
  const size_t lens[] = {x.size() * 4};
  uint8_t* out[] = {reinterpret_cast<uint8_t*>(y.data()), reinterpret_cast<uint8_t*>(z.data())};
  const size_t caps[] = {24, 24};
  ASSERT_EQ(tessary_session_execute(h, in, lens, 1, out, caps, 2), 0);
  const std::array<float, 6> want_y = {0.5f, 3.25f, -1.0f, 3.25f, 0.0f, 5.5f};
  EXPECT_EQ(y, want_y);
  const std::array<float, 6> want_z = {-0.5f, 1.25f, -4.0f, 2.25f, -2.0f, 2.5f};
  EXPECT_EQ(z, want_z);
  tessary_session_close(h);
}

// neg on f16: computed in binary32, stored as binary16.
TEST(ElementwiseRun, NegOnF16) {
  ArchiveSpec spec;
  UnaryCall neg;
  neg.kind = CallKind::Neg;
  neg.input = ref(0);
  neg.output = ref(1, 0, 6);
  neg.n = 3;
  neg.dtype = DTypeId::F16;
  spec.calls = {neg};
  spec.inputs.push_back(port("x", 0, DTypeId::F16, {3}));
  spec.outputs.push_back(port("y", 1, DTypeId::F16, {3}));
  const Bytes archive = build_archive(std::move(spec));
  const int32_t h = tessary_session_load(archive.data(), archive.size());
  ASSERT_GE(h, 0);
  const std::vector<std::uint16_t> x = {f32_to_f16_bits(1.5f), f32_to_f16_bits(-0.0f), 0x7C00};
  std::array<std::uint16_t, 3> y{};
  const uint8_t* in[] = {reinterpret_cast<const uint8_t*>(x.data())};
  const size_t lens[] = {6};
  uint8_t* out[] = {reinterpret_cast<uint8_t*>(y.data())};
  const size_t caps[] = {6};
  ASSERT_EQ(tessary_session_execute(h, in, lens, 1, out, caps, 1), 0);
  EXPECT_EQ(y, (std::array<std::uint16_t, 3>{f32_to_f16_bits(-1.5f), 0x0000, 0xFC00}));
  tessary_session_close(h);
}

// A float-capable op on u8 data takes the byte-domain road; lrn on u8 is
// refused at dispatch. Either way the run fails cleanly when the road has no
// kernel, never crashes.
TEST(ElementwiseRun, RefusedRoadsFailTheRun) {
  ArchiveSpec spec;
  LrnCall lrn;
  lrn.input = ref(0);
  lrn.output = ref(1, 0, 4);
  lrn.batch = lrn.channels = lrn.spatial = lrn.size = 1;
  lrn.dtype = DTypeId::U8;
  spec.calls = {lrn};
  spec.inputs.push_back(port("x", 0, DTypeId::U8, {4}));
  spec.outputs.push_back(port("y", 1, DTypeId::U8, {4}));
  const Bytes archive = build_archive(std::move(spec));
  const int32_t h = tessary_session_load(archive.data(), archive.size());
  ASSERT_GE(h, 0);
  const uint8_t x[4] = {1, 2, 3, 4};
  uint8_t y[4];
  const uint8_t* in[] = {x};
  const size_t lens[] = {4};
  uint8_t* out[] = {y};
  const size_t caps[] = {4};
  EXPECT_EQ(tessary_session_execute(h, in, lens, 1, out, caps, 1), -1);
  tessary_session_close(h);
}

}  // namespace
}  // namespace tessary
