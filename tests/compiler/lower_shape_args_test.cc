#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "compile_fixture.h"
#include "compiler/lower_shape_args.h"

namespace tessary {
namespace {

using testing::GraphBuilder;
using testing::N;

CompileResult<ShapeArgs> derive(const Graph& g, NodeId id) { return ShapeArgs::from_graph(g, id, g.nodes[id]); }

void expect_error(const CompileResult<ShapeArgs>& r, CompileErrorKind kind, std::string_view message) {
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, kind);
  EXPECT_EQ(r.error().message, message);
}

TEST(ShapeArgsMatmul, RulesAndMessages) {
  struct Case {
    const char* what;
    std::vector<std::uint64_t> a, b;
    std::string_view message;  // empty: derives
  };
  const Case cases[] = {
      {"[2,3] x [3,4]", {2, 3}, {3, 4}, ""},
      {"[2,3] x [4,3]", {2, 3}, {4, 3}, "matmul-k-mismatch"},
      {"[2,3,4] x [4,5]", {2, 3, 4}, {4, 5}, "matmul-rank-must-be-2"},
      {"[2,3] x [3]", {2, 3}, {3}, "matmul-rank-must-be-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (OpKind kind : {OpKind::Matmul, OpKind::Gemm}) {
      GraphBuilder b;
      const NodeId x = b.input("x", b.shape(c.a));
      const NodeId y = b.input("y", b.shape(c.b));
      const NodeId m = b.op(kind, {N(x), N(y)}, b.shape({2, 4}));
      const auto r = derive(b.g, m);
      if (c.message.empty()) {
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->m, 2u);
        EXPECT_EQ(r->k, 3u);
        EXPECT_EQ(r->n, 4u);
        EXPECT_EQ(r->elements, 8u);
      } else {
        expect_error(r, CompileErrorKind::ShapeViolation, c.message);
      }
    }
  }
}

TEST(ShapeArgsMatmul, MissingShapes) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 3}));
  const NodeId lost = b.input("lost", 77);  // identifier outside the registry
  expect_error(derive(b.g, b.op(OpKind::Matmul, {N(lost), N(x)}, 0)), CompileErrorKind::ShapeViolation,
               "matmul-shape-missing-a");
  expect_error(derive(b.g, b.op(OpKind::Matmul, {N(x), N(lost)}, 0)), CompileErrorKind::ShapeViolation,
               "matmul-shape-missing-b");
  expect_error(derive(b.g, b.op(OpKind::Matmul, {N(x)}, 0)), CompileErrorKind::ShapeViolation,
               "matmul-shape-missing-b");
  // A constant operand and a graph-input reference resolve to shapes too.
  const InputSource c = b.f32s(b.shape({3, 5}), std::vector<float>(15, 0.0f));
  const auto r = derive(b.g, b.op(OpKind::Matmul, {InputSource::graph_input(0), c}, 0));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->n, 5u);
}

TEST(ShapeArgs, DimensionsClampTo32Bits) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({4, 1ull << 32}));
  const NodeId s = b.op(OpKind::Softmax, {N(x)}, 0);
  const auto r = derive(b.g, s);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->features, 4294967295u);
  EXPECT_EQ(r->rows, 4u);
}

TEST(ShapeArgs, NonOpNodesYieldAllZero) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({1, 3, 8, 8}));
  b.g.set_gemm_attrs(x, GemmAttrs{2.0f, 3.0f});
  const auto r = derive(b.g, x);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, ShapeArgs{});
}

TEST(ShapeArgsPooling, WindowFromTheDeclaredResult) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({1, 3, 8, 8}));
  const NodeId p = b.op(OpKind::MaxPool2d, {N(x)}, b.shape({1, 3, 4, 4}));
  const auto r = derive(b.g, p);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->batch, 1u);
  EXPECT_EQ(r->channels, 3u);
  EXPECT_EQ(r->height, 8u);
  EXPECT_EQ(r->width, 8u);
  EXPECT_EQ(r->out_height, 4u);
  EXPECT_EQ(r->out_width, 4u);
  EXPECT_EQ(r->kernel_h, 2u);
  EXPECT_EQ(r->kernel_w, 2u);
  EXPECT_EQ(r->stride_h, 1u);
  EXPECT_EQ(r->stride_w, 1u);
}

TEST(ShapeArgsPooling, AWrittenWindowIsKept) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({1, 3, 8, 8}));
  const NodeId p = b.op(OpKind::AvgPool2d, {N(x)}, b.shape({1, 3, 6, 6}));
  b.g.set_conv_attrs(p, ConvAttrs{0, 0, 0, 0, 3, 0});  // stored strides of 0 read as 1
  const auto r = derive(b.g, p);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->kernel_h, 3u);  // 8 / 6 would give a 1-row window
  EXPECT_EQ(r->kernel_w, 1u);  // not written: derived, 8 / 6
  EXPECT_EQ(r->stride_h, 1u);
  EXPECT_EQ(r->stride_w, 1u);
}

TEST(ShapeArgsConv, WeightAndRecord) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 3, 9, 9}));
  const NodeId w = b.input("w", b.shape({16, 3, 3, 3}));
  const NodeId c = b.op(OpKind::Conv2d, {N(x), N(w)}, b.shape({2, 16, 4, 4}));
  b.g.set_conv_attrs(c, ConvAttrs{2, 2, 1, 1, 5, 5});
  const auto r = derive(b.g, c);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->out_channels, 16u);
  EXPECT_EQ(r->kernel_h, 3u);  // from the weight, not the record
  EXPECT_EQ(r->stride_h, 2u);
  EXPECT_EQ(r->pad_w, 1u);
}

TEST(ShapeArgsPatches, Im2colAndCol2imGeometry) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({3, 10, 7}));
  const NodeId i = b.op(OpKind::Im2col, {N(x)}, b.shape({27, 12}));
  b.g.set_conv_attrs(i, ConvAttrs{2, 1, 0, 0, 3, 3});
  auto r = derive(b.g, i);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->channels, 3u);
  EXPECT_EQ(r->height, 10u);
  EXPECT_EQ(r->width, 7u);
  EXPECT_EQ(r->out_height, 4u);  // (10 - 3) / 2 + 1
  EXPECT_EQ(r->out_width, 5u);   // (7 - 3) / 1 + 1
  EXPECT_EQ(r->kernel_h, 3u);

  // col2im reads the image from its own result shape.
  const NodeId cols = b.input("cols", b.shape({12, 16}));
  const NodeId c = b.op(OpKind::Col2im, {N(cols)}, b.shape({3, 5, 5}));
  b.g.set_conv_attrs(c, ConvAttrs{1, 1, 0, 0, 2, 2});
  r = derive(b.g, c);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->channels, 3u);
  EXPECT_EQ(r->out_height, 4u);
  EXPECT_EQ(r->out_width, 4u);

  // A window larger than the image counts in signed 32-bit arithmetic.
  const NodeId small = b.input("small", b.shape({1, 2, 2}));
  const NodeId big = b.op(OpKind::Im2col, {N(small)}, 0);
  b.g.set_conv_attrs(big, ConvAttrs{1, 1, 0, 0, 5, 5});
  r = derive(b.g, big);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->out_height, static_cast<std::uint32_t>(-2));  // (2 - 5) / 1 + 1

  // Without a record the kernel sizes are 0 and the window counts are not formed.
  const NodeId bare = b.op(OpKind::Im2col, {N(x)}, 0);
  r = derive(b.g, bare);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->kernel_h, 0u);
  EXPECT_EQ(r->out_height, 0u);
}

TEST(ShapeArgsNorms, RowsFeaturesAndPerSample) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 3, 5}));
  auto r = derive(b.g, b.op(OpKind::LayerNorm, {N(x)}, 0));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->rows, 6u);
  EXPECT_EQ(r->features, 5u);
  const NodeId v = b.input("v", b.shape({7}));
  r = derive(b.g, b.op(OpKind::RmsNorm, {N(v)}, 0));
  EXPECT_EQ(r->rows, 1u);
  EXPECT_EQ(r->features, 7u);
  r = derive(b.g, b.op(OpKind::GroupNorm, {N(x)}, 0));
  EXPECT_EQ(r->batch, 2u);
  EXPECT_EQ(r->channels, 3u);
  EXPECT_EQ(r->per_sample, 15u);
  r = derive(b.g, b.op(OpKind::InstanceNorm, {N(v)}, 0));
  EXPECT_EQ(r->channels, 0u);
  EXPECT_EQ(r->per_sample, 0u);
}

TEST(ShapeArgsAttention, HeadsAndScale) {
  GraphBuilder b;
  const NodeId q = b.input("q", b.shape({1, 8, 4, 64}));
  const NodeId k = b.input("k", b.shape({1, 2, 4, 64}));
  const NodeId a = b.op(OpKind::Attention, {N(q), N(k), N(k)}, 0);
  b.g.set_attention_attrs(a, AttentionAttrs{0x3E000000, 1});
  const auto r = derive(b.g, a);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->batch, 1u);
  EXPECT_EQ(r->heads, 8u);
  EXPECT_EQ(r->query_rows, 4u);
  EXPECT_EQ(r->head_dim, 64u);
  EXPECT_EQ(r->kv_heads, 2u);
  EXPECT_EQ(r->scale_bits, 0x3E000000u);
  EXPECT_TRUE(r->causal);
}

// Decode attention: q, past k, past v, new k, new v, visibility.
struct DecodeGraph {
  GraphBuilder b;
  NodeId node;
  DecodeGraph(const std::vector<std::uint64_t>& q_dims, const std::vector<std::uint64_t>& new_dims,
              const std::vector<std::uint64_t>& vis_dims, DTypeId vis_type) {
    const NodeId q = b.input("q", b.shape(q_dims));
    const NodeId past = b.input("past", b.shape({1, 8, 16, 64}));
    const NodeId fresh = b.input("new", b.shape(new_dims));
    const NodeId vis = b.input("vis", b.shape(vis_dims), vis_type);
    node = b.op(OpKind::Attention, {N(q), N(past), N(past), N(fresh), N(fresh), N(vis)}, 0);
  }
};

constexpr std::string_view kValidLen =
    "decode attention (valid_len form): q_rows must equal new_len and be at least 1 — the causal law pairs "
    "query row i with chunk key row i";
constexpr std::string_view kSixth =
    "decode attention: the 6th operand must be a [q_rows, past+new] f32 mask (arbitrary visibility) or a [1] "
    "i32 valid_len scalar (realized-prefix + causal law)";

TEST(ShapeArgsDecodeAttention, Forms) {
  {
    DecodeGraph d({1, 8, 3, 64}, {1, 8, 3, 64}, {1}, DTypeId::I32);
    const auto r = derive(d.b.g, d.node);
    ASSERT_TRUE(r.has_value());
    EXPECT_TRUE(r->valid_len_form);
    EXPECT_EQ(r->decode_q_rows, 3u);
    EXPECT_EQ(r->key_rows, 16u);
    EXPECT_EQ(r->new_rows, 3u);
  }
  {
    DecodeGraph d({1, 8, 4, 64}, {1, 8, 3, 64}, {1}, DTypeId::I32);  // 4 query rows, 3 new rows
    expect_error(derive(d.b.g, d.node), CompileErrorKind::GraphValidation, kValidLen);
  }
  {
    DecodeGraph d({1, 8, 4, 64}, {1, 8, 3, 64}, {4, 19}, DTypeId::F32);  // the mask form has no row rule
    const auto r = derive(d.b.g, d.node);
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(r->valid_len_form);
  }
  {
    DecodeGraph d({1, 8, 0, 64}, {1, 8, 0, 64}, {1}, DTypeId::I32);  // no query rows
    expect_error(derive(d.b.g, d.node), CompileErrorKind::GraphValidation, kValidLen);
  }
  const struct {
    std::vector<std::uint64_t> dims;
    DTypeId type;
  } bad[] = {{{2}, DTypeId::I32}, {{1}, DTypeId::I64}, {{4, 19}, DTypeId::F16}, {{1, 1, 1}, DTypeId::F32}};
  for (const auto& v : bad) {
    DecodeGraph d({1, 8, 3, 64}, {1, 8, 3, 64}, v.dims, v.type);
    expect_error(derive(d.b.g, d.node), CompileErrorKind::GraphValidation, kSixth);
  }
}

TEST(ShapeArgsKvCacheWrite, ChecksInOrder) {
  struct Case {
    const char* what;
    std::vector<std::uint64_t> cache, fresh;
    std::optional<std::vector<std::uint64_t>> out;  // nullopt: undeclared
    DTypeId dtype;
    std::string_view message;
  };
  const Case cases[] = {
      {"cache rank 3", {1, 2, 16}, {1, 2, 1, 64}, {{1, 2, 16}}, DTypeId::F32,
       "kv_cache_write: cache operand must be rank-4 [batch, kv_heads, bucket, head_dim]"},
      {"new rank 3", {1, 2, 16, 64}, {2, 1, 64}, {{1, 2, 16, 64}}, DTypeId::F32,
       "kv_cache_write: new operand must be rank-4 [batch, kv_heads, new_rows, head_dim]"},
      {"heads differ", {1, 2, 16, 64}, {1, 4, 1, 64}, {{1, 2, 16, 64}}, DTypeId::F32,
       "kv_cache_write: cache and new must agree on (batch, kv_heads, head_dim)"},
      {"17 new rows", {1, 2, 16, 64}, {1, 2, 17, 64}, {{1, 2, 16, 64}}, DTypeId::F32,
       "kv_cache_write: new_rows must be 1..=bucket_rows (bucket_rows >= 1)"},
      {"0 new rows", {1, 2, 16, 64}, {1, 2, 0, 64}, {{1, 2, 16, 64}}, DTypeId::F32,
       "kv_cache_write: new_rows must be 1..=bucket_rows (bucket_rows >= 1)"},
      {"undeclared", {1, 2, 16, 64}, {1, 2, 1, 64}, std::nullopt, DTypeId::F32,
       "kv_cache_write: output shape must be declared"},
      {"result head_dim 32", {1, 2, 16, 64}, {1, 2, 1, 64}, {{1, 2, 16, 32}}, DTypeId::F32,
       "kv_cache_write: output shape must equal the cache shape"},
      {"i4 rows", {1, 2, 16, 64}, {1, 2, 1, 64}, {{1, 2, 16, 64}}, DTypeId::I4,
       "kv_cache_write: head_dim rows must be a whole number of bytes (no sub-byte dtypes)"},
      {"valid", {1, 2, 16, 64}, {1, 2, 3, 64}, {{1, 2, 16, 64}}, DTypeId::F16, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    GraphBuilder b;
    const NodeId cache = b.input("cache", b.shape(c.cache));
    const NodeId fresh = b.input("new", b.shape(c.fresh));
    const ShapeId out = c.out ? b.shape(*c.out) : 999;
    const NodeId w = b.op(OpKind::KvCacheWrite, {N(cache), N(fresh), N(fresh)}, out, c.dtype);
    const auto r = derive(b.g, w);
    if (c.message.empty()) {
      ASSERT_TRUE(r.has_value());
      EXPECT_EQ(r->planes, 2u);
      EXPECT_EQ(r->bucket_rows, 16u);
      EXPECT_EQ(r->new_rows, 3u);
      EXPECT_EQ(r->row_bytes, 128u);
    } else {
      expect_error(r, CompileErrorKind::GraphValidation, c.message);
    }
  }
}

TEST(ShapeArgs, GemmScalars) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 2}));
  const NodeId plain = b.op(OpKind::Gemm, {N(x), N(x), N(x)}, 0);
  const NodeId scaled = b.op(OpKind::Gemm, {N(x), N(x), N(x)}, 0);
  b.g.set_gemm_attrs(scaled, GemmAttrs{0.5f, 2.0f});
  EXPECT_EQ(derive(b.g, plain)->alpha_bits, 0x3F800000u);
  EXPECT_EQ(derive(b.g, plain)->beta_bits, 0x3F800000u);
  EXPECT_EQ(derive(b.g, scaled)->alpha_bits, 0x3F000000u);
  EXPECT_EQ(derive(b.g, scaled)->beta_bits, 0x40000000u);
}

}  // namespace
}  // namespace tessary
