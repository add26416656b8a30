#include <gtest/gtest.h>

#include "exec/buffer_arena.h"
#include "exec/dispatch.h"
#include "types/dtype.h"

namespace tessary {
namespace {

std::string_view refusal(const KernelCall& call) {
  BufferArena arena;
  auto r = dispatch(call, arena);
  EXPECT_FALSE(r.has_value());
  return r ? std::string_view() : r.error().message;
}

UnaryCall unary(CallKind kind, DTypeId dtype) {
  UnaryCall c;
  c.kind = kind;
  c.dtype = dtype;
  return c;
}

TEST(Dispatch, RefusalsByRoad) {
  MatmulCall swiglu;
  swiglu.kind = CallKind::FusedSwiglu;
  swiglu.dtype = DTypeId::F32;
  EXPECT_EQ(refusal(swiglu),
            "FusedSwiGlu: expected desugaring to Silu(x·Wg)⊙(x·Wu); degenerate node reached lowering");
  EXPECT_EQ(refusal(unary(CallKind::Clip, DTypeId::BF16)),
            "Clip: expected desugaring to Min(Max(x,lo),hi); degenerate node reached lowering");
  EXPECT_EQ(refusal(unary(CallKind::Clip, DTypeId::U8)), "Clip: (min, max) bounds not represented in UnaryCall");
  Im2colCall im;
  im.kind = CallKind::Col2im;
  im.dtype = DTypeId::I8;
  EXPECT_EQ(refusal(im), "im2col/col2im: float-only (byte-ring patch gather is not defined)");
  RopeCall rope;
  rope.dtype = DTypeId::U8;
  EXPECT_EQ(refusal(rope), "RotaryEmbedding: float-only (byte-ring rotation is not defined)");
  LrnCall lrn;
  lrn.dtype = DTypeId::U8;
  EXPECT_EQ(refusal(lrn), "Lrn: float-only (byte-ring LRN is not defined)");
  BroadcastBinaryCall bb;
  bb.dtype = DTypeId::I32;
  EXPECT_EQ(refusal(bb), "broadcast_binary: float-only (byte-domain broadcast not fused)");
  // f64 is refused before routing, whatever the variant.
  EXPECT_EQ(refusal(unary(CallKind::Relu, DTypeId::F64)), kMsgF64NotCompute);
  LayoutCall reshape;
  reshape.dtype = DTypeId::F64;
  EXPECT_EQ(refusal(reshape), kMsgF64NotCompute);
}

TEST(Dispatch, RoutingTable) {
  EXPECT_EQ(route_of(CallKind::Xor).routing, Routing::ByteOnly);
  EXPECT_EQ(route_of(CallKind::KvCacheWrite).routing, Routing::TypeGeneric);
  EXPECT_EQ(route_of(CallKind::Gather).routing, Routing::TypeGeneric);
  EXPECT_EQ(route_of(CallKind::Softmax).routing, Routing::FloatCapable);
  // The copy kernels serve both roads.
  EXPECT_EQ(route_of(CallKind::Slice).float_path, route_of(CallKind::Slice).byte_path);
  EXPECT_NE(route_of(CallKind::Slice).float_path, nullptr);
}

}  // namespace
}  // namespace tessary
