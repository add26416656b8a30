#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>

#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/frontends/v2_line_parser.h"

namespace tessary {
namespace {

SourceShape shape(std::initializer_list<std::uint64_t> dims) {
  return *SourceShape::from_dims(std::span<const std::uint64_t>(dims.begin(), dims.size()));
}

std::vector<std::uint8_t> f32_bytes(std::initializer_list<float> values) {
  std::vector<std::uint8_t> out;
  for (float v : values) {
    auto bits = std::bit_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
  return out;
}

// Parses one line into a fresh program; fails the test on a diagnostic.
std::optional<SourceItem> line_item(std::string_view line, SourceProgram& program) {
  auto r = parse_source_line_diagnostic(1, line, program);
  EXPECT_TRUE(r.has_value()) << line << ": " << (r ? "" : r.error().message);
  return r ? std::move(*r) : std::nullopt;
}

// The op call of a "let" line.
OpCall let_call(std::string_view line) {
  SourceProgram p;
  auto item = line_item(line, p);
  if (!item || !std::holds_alternative<SourceBinding>(*item)) {
    ADD_FAILURE() << "not a binding: " << line;
    return {};
  }
  return *std::get<SourceBinding>(*item).op_call();
}

TEST(V2Syntax, WorkedExampleGivesExactItems) {
  const char* text =
      "# two-layer block\n"
      "input x: f32[1, 4]\n"
      "const w: f32[4, 2] = [0.5, -1, 2, 0, 1.5, 1, -0.25, 3]\n"
      "let h = matmul(x, w)\n"
      "let r: f32[1, 2] = relu(h)\n"
      "let s = reduce_sum(r, axes=[1], keepdims=true)\n"
      "output s";
  auto got = parse_ir_diagnostic(text, 0);
  ASSERT_TRUE(got.has_value()) << got.error().message;

  SourceProgram want;
  SourceSymbol x = want.intern("x"), w = want.intern("w"), h = want.intern("h"), r = want.intern("r"),
               s = want.intern("s");
  want.push(SourceInput{x, shape({1, 4})});
  want.push(SourceConst{w, shape({4, 2}), 8, f32_bytes({0.5f, -1.0f, 2.0f, 0.0f, 1.5f, 1.0f, -0.25f, 3.0f})});
  OpCall matmul;
  matmul.kind = OpKind::Matmul;
  matmul.inputs = {x, w};
  want.push(SourceBinding::op(true, h, matmul));
  OpCall relu;
  relu.kind = OpKind::Relu;
  relu.inputs = {h};
  relu.result_shape = shape({1, 2});
  want.push(SourceBinding::op(true, r, relu));
  OpCall reduce;
  reduce.kind = OpKind::ReduceSum;
  reduce.inputs = {r};
  reduce.reduce = ReduceAttrs{2, 1};
  want.push(SourceBinding::op(true, s, reduce));
  want.push(SourceOutput{s, std::nullopt});

  EXPECT_EQ(got->names(), want.names());
  ASSERT_EQ(got->items().size(), want.items().size());
  for (std::size_t i = 0; i < want.items().size(); ++i) EXPECT_TRUE(got->items()[i] == want.items()[i]) << i;
  // The const bytes are little-endian binary32 words.
  const auto& c = std::get<SourceConst>(got->items()[1]);
  EXPECT_EQ(c.bytes.size(), 32u);
  EXPECT_EQ((std::vector<std::uint8_t>(c.bytes.begin(), c.bytes.begin() + 8)),
            (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0xBF}));
}

TEST(V2Syntax, BlanksAroundPunctuation) {
  for (const char* line : {"input x: f32 [ 2 , 3 ]", "input x : f32[2,3]", "input\tx\t:\tf32\t[2,\t3\t]",
                           "  input x: f32[2, 3]  \r"}) {
    SourceProgram p;
    auto item = line_item(line, p);
    ASSERT_TRUE(item && std::holds_alternative<SourceInput>(*item)) << line;
    EXPECT_EQ(std::get<SourceInput>(*item).shape, shape({2, 3})) << line;
  }
  SourceProgram p;
  auto big = line_item("input x: f32[18446744073709551615, 0]", p);
  ASSERT_TRUE(big.has_value());
  EXPECT_EQ(std::get<SourceInput>(*big).shape, shape({UINT64_MAX, 0}));
}

TEST(V2Syntax, CommentsAndBlankLinesGiveNothing) {
  SourceProgram p;
  for (const char* line : {"", "   ", "   # comment", "#", "\t#input x: f32[1]"}) {
    auto r = parse_source_line_diagnostic(1, line, p);
    ASSERT_TRUE(r.has_value()) << line;
    EXPECT_FALSE(r->has_value()) << line;
  }
  EXPECT_TRUE(p.names().empty());
}

TEST(V2Syntax, LetForms) {
  OpCall empty = let_call("let y = relu()");
  EXPECT_EQ(empty.kind, OpKind::Relu);
  EXPECT_TRUE(empty.inputs.empty());

  SourceProgram p;
  auto item = line_item("let y: f32 [3] = add ( a ,b,\ta )", p);
  ASSERT_TRUE(item.has_value());
  const auto& b = std::get<SourceBinding>(*item);
  // Positional inputs are interned first, in order; the result name last.
  EXPECT_EQ(p.names(), (std::vector<std::string>{"a", "b", "y"}));
  EXPECT_EQ(b.result_name(), 2u);
  EXPECT_EQ(b.op_call()->inputs, (std::vector<SourceSymbol>{0, 1, 0}));
  EXPECT_EQ(b.op_call()->result_shape, shape({3}));
  EXPECT_EQ(b.op_call()->kind, OpKind::Add);
}

TEST(V2Syntax, ConstValuesAndNumberForms) {
  SourceProgram p;
  auto item = line_item("const c: f32[6] = [ +1, -.5, 2., 1e3 , 2.5E-1,-0 ]", p);
  ASSERT_TRUE(item.has_value());
  const auto& c = std::get<SourceConst>(*item);
  EXPECT_EQ(c.value_count, 6u);
  EXPECT_EQ(c.bytes, f32_bytes({1.0f, -0.5f, 2.0f, 1000.0f, 0.25f, -0.0f}));
  // The value count is kept as written; the shape is checked when lowering.
  auto short_item = line_item("const d: f32[4] = [1]", p);
  ASSERT_TRUE(short_item.has_value());
  EXPECT_EQ(std::get<SourceConst>(*short_item).value_count, 1u);
  EXPECT_EQ(std::get<SourceConst>(*short_item).shape, shape({4}));
}

TEST(V2Syntax, ConvAttributes) {
  OpCall c = let_call("let y = conv2d(x, w, k=[3, 5], strides=[2,1], padding=[1,2,1,2])");
  ASSERT_TRUE(c.conv.has_value());
  EXPECT_EQ(*c.conv, (ConvAttrs{2, 1, 1, 2, 3, 5}));
  EXPECT_EQ(c.inputs.size(), 2u);

  // One attribute creates the record with its defaults; later ones overwrite.
  EXPECT_EQ(let_call("let y = max_pool_2d(x, k_h=3)").conv, (ConvAttrs{1, 1, 0, 0, 3, 0}));
  EXPECT_EQ(let_call("let y = im2col(x, k_h=3, k_h=4, stride_w=2, pad_w=1)").conv, (ConvAttrs{1, 2, 0, 1, 4, 0}));
  EXPECT_EQ(let_call("let y = col2im(x, pads=[1,2], pad_h=7)").conv, (ConvAttrs{1, 1, 7, 2, 0, 0}));
  EXPECT_EQ(let_call("let y = avg_pool_2d(x, kernel=[2,2], stride=[2,2], pad=[0,0,0,0])").conv,
            (ConvAttrs{2, 2, 0, 0, 2, 2}));
  EXPECT_EQ(let_call("let y = conv_transpose_2d(x, w, stride_h=+3, pad_h=4294967295)").conv,
            (ConvAttrs{3, 1, 4294967295u, 0, 0, 0}));
  OpCall none = let_call("let y = conv2d(x, w)");
  EXPECT_FALSE(none.conv.has_value());
}

TEST(V2Syntax, ScalarAttributes) {
  EXPECT_EQ(let_call("let y = lrn(x, size=5, alpha=0.5, beta_bits=1065353216, bias=2)").lrn,
            (LrnAttrs{5, 0.5f, 1.0f, 2.0f}));
  EXPECT_EQ(let_call("let y = lrn(x, bias_bits=1073741824)").lrn, (LrnAttrs{1, 0.0001f, 0.75f, 2.0f}));
  EXPECT_EQ(let_call("let y = gemm(a, b, alpha=2)").gemm, (GemmAttrs{2.0f, 1.0f}));
  EXPECT_EQ(let_call("let y = gemm(a, b, beta=0, alpha_bits=3212836864)").gemm, (GemmAttrs{-1.0f, 0.0f}));
  EXPECT_EQ(let_call("let y = group_norm(x, num_groups=4)").norm, NormAttrs{4});
  EXPECT_EQ(let_call("let y = gather(x, i, axis=-1)").gather, GatherAttrs{-1});
  OpCall plain = let_call("let y = gemm(a, b)");
  EXPECT_FALSE(plain.gemm || plain.lrn || plain.quant || plain.norm || plain.gather);
  EXPECT_EQ(plain.reduce.keepdims, kAttrAbsent);
  EXPECT_EQ(plain.attention.causal, kAttrAbsent);
}

TEST(V2Syntax, ReduceAttributes) {
  OpCall mask = let_call("let y = reduce_sum(x, axes=[0,2])");
  EXPECT_EQ(mask.reduce, (ReduceAttrs{5, 0}));
  EXPECT_EQ(let_call("let y = reduce_mean(x, keepdims=true)").reduce, (ReduceAttrs{0, 1}));
  EXPECT_EQ(let_call("let y = reduce_prod(x, keepdims=true, axes_mask=7, keepdims=false)").reduce,
            (ReduceAttrs{7, 0}));
  EXPECT_EQ(let_call("let y = reduce_min(x, axes=[31, 31, 0])").reduce, (ReduceAttrs{0x80000001u, 0}));
}

TEST(V2Syntax, QuantAndAttentionAttributes) {
  OpCall q = let_call("let y = dequantize(w, s, z, scale=0.5, zero_point=-3, axis=1, quant_dtype=2)");
  EXPECT_EQ(q.quant, (QuantAttrs{0.5f, -3, 1, 2, WeightLayout::RowMajor, ActQuant::W8A32}));
  EXPECT_EQ(let_call("let y = dequantize(w, scale_bits=1056964608)").quant,
            (QuantAttrs{0.5f, 0, -1, 0, WeightLayout::RowMajor, ActQuant::W8A32}));
  EXPECT_EQ(let_call("let y = attention(q, k, v, scale_bits=1056964608, causal=true)").attention,
            (AttentionAttrs{0x3F000000u, 1}));
  EXPECT_EQ(let_call("let y = attention(q, k, v, causal=false)").attention, (AttentionAttrs{0, 0}));
  EXPECT_EQ(let_call("let y = attention(q, k, v, scale=0.125)").attention, (AttentionAttrs{0x3E000000u, 0}));
}

TEST(V2Syntax, ManyRepeatedAttributesKeepTheLast) {
  std::string line = "let y = conv2d(x";
  for (int i = 0; i < 20000; ++i) line += ", k_h=" + std::to_string(i);
  line += ")";
  EXPECT_EQ(let_call(line).conv, (ConvAttrs{1, 1, 0, 0, 19999, 0}));
}

TEST(V2Syntax, LongAndStrangeLinesYieldADiagnostic) {
  SourceProgram p;
  std::string nested(100000, '[');
  std::string junk = std::string("let y = relu(x, k=") + nested;
  auto r = parse_source_line_diagnostic(1, junk, p);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "source: bad v2 syntax");

  std::string dims = "input x: f32[";
  for (int i = 0; i < 100000; ++i) dims += "1,";
  dims += "1]";
  r = parse_source_line_diagnostic(1, dims, p);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "source: bad shape");

  std::string nul("let y = relu(x\0)", 16);
  r = parse_source_line_diagnostic(1, nul, p);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().rejected, "let");
}

}  // namespace
}  // namespace tessary
