#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "compile_fixture.h"
#include "compiler/compiler.h"
#include "compiler/completeness.h"

namespace tessary {
namespace {

using testing::decode_archive;
using testing::Decoded;
using testing::GraphBuilder;
using testing::N;
using testing::parse_graph;

Bytes compile_ok(Graph g) {
  Compiler c(std::move(g));
  auto bytes = c.compile();
  EXPECT_TRUE(bytes.has_value()) << (bytes ? "" : std::string(bytes.error().message));
  return bytes ? std::move(*bytes) : Bytes{};
}

CompileError compile_error(Graph g, std::uint32_t width = 32) {
  Compiler c(std::move(g), 0, width);
  auto bytes = c.compile();
  EXPECT_FALSE(bytes.has_value());
  return bytes ? CompileError{} : bytes.error();
}

std::uint8_t kind(SectionKind k) { return static_cast<std::uint8_t>(k); }

PortDescriptor port(std::string name, std::vector<std::uint64_t> shape, std::uint64_t elements, std::uint32_t slot,
                    DTypeId dtype = DTypeId::F32) {
  return PortDescriptor{std::move(name), std::move(shape), elements, slot, dtype};
}

const CertificateRecord kRecord32{*completeness_digest(32), 32, 32};

TEST(CompilerPipeline, EmptyGraph) {
  const Decoded d = decode_archive(compile_ok(Graph{}));
  EXPECT_EQ(d.kinds, (std::vector<std::uint8_t>{kind(SectionKind::KernelCalls), kind(SectionKind::Schedule),
                                                kind(SectionKind::Weights), kind(SectionKind::ShapeRegistry)}));
  EXPECT_TRUE(d.calls.empty());
  ASSERT_TRUE(d.schedule.has_value());
  EXPECT_TRUE(d.schedule->empty());
  ASSERT_TRUE(d.weights.has_value());
  EXPECT_TRUE(d.weights->empty());
  ASSERT_TRUE(d.shapes.has_value());
  EXPECT_TRUE(d.shapes->empty());
}

TEST(CompilerPipeline, OneReluIsOneCallInOneGroup) {
  const Decoded d = decode_archive(compile_ok(parse_graph("input x: f32[1, 4]\nlet y = relu(x)\noutput y\n")));
  EXPECT_EQ(d.kinds, (std::vector<std::uint8_t>{1, 2, 3, 4, 6, 9, 10, 12}));
  UnaryCall relu;
  relu.kind = CallKind::Relu;
  relu.input = BufferRef{0, 16, 0};
  relu.output = BufferRef{0, 16, 1};
  relu.n = 4;
  relu.aux = 32;
  relu.dtype = DTypeId::F32;
  EXPECT_EQ(d.calls, std::vector<KernelCall>{KernelCall(relu)});
  EXPECT_EQ(d.plan, (PlanSteps{{0}}));
  EXPECT_EQ(d.schedule, (PlanSteps{{0}, {1}, {2}}));
  EXPECT_EQ(d.certificates, std::vector<CertificateRecord>{kRecord32});
  EXPECT_EQ(d.inputs, std::vector<PortDescriptor>{port("x", {1, 4}, 4, 0)});
  EXPECT_EQ(d.outputs, std::vector<PortDescriptor>{port("y", {1, 4}, 4, 1)});
  EXPECT_TRUE(d.constants.empty());
  ASSERT_TRUE(d.shapes.has_value());
  ASSERT_EQ(d.shapes->size(), 1u);
  EXPECT_EQ((*d.shapes)[0].rank, 2u);
}

TEST(CompilerPipeline, TwoRelusShareOneCertificate) {
  Compiler c(parse_graph("input x: f32[4]\nlet a = relu(x)\nlet b = relu(x)\noutput a\noutput b\n"));
  auto bytes = c.compile();
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(c.certificate_cache().misses(), 1u);
  EXPECT_EQ(c.certificate_cache().hits(), 1u);
  EXPECT_EQ(c.certificate_cache().size(), 1u);
  const Decoded d = decode_archive(*bytes);
  EXPECT_EQ(d.certificates, (std::vector<CertificateRecord>{kRecord32, kRecord32}));
  EXPECT_EQ(d.plan, (PlanSteps{{0, 1}}));
}

TEST(CompilerPipeline, UnconsumedCacheWriteRunsLastAndAlone) {
  const std::string prefix =
      "input cache: f32[1, 2, 4, 8]\n"
      "input new: f32[1, 2, 1, 8]\n"
      "input pos: f32[1]\n"
      "let c: f32[1, 2, 4, 8] = kv_cache_write(cache, new, pos)\n"
      "let y: f32[1, 2, 1, 8] = relu(new)\n"
      "let z: f32[1, 2, 1, 8] = relu(y)\n";
  {
    const Decoded d = decode_archive(compile_ok(parse_graph(prefix + "output c\noutput z\n")));
    ASSERT_EQ(d.calls.size(), 3u);
    EXPECT_EQ(d.plan, (PlanSteps{{0}, {1}, {2}}));
    const KvCacheWriteCall* kv = d.calls[2].get_if<KvCacheWriteCall>();
    ASSERT_NE(kv, nullptr);
    EXPECT_EQ(kv->cache, (BufferRef{0, 256, 0}));
    EXPECT_EQ(kv->rows, (BufferRef{0, 64, 1}));
    EXPECT_EQ(kv->position, (BufferRef{0, 4, 2}));
    EXPECT_EQ(kv->output, (BufferRef{0, 256, 3}));
    EXPECT_EQ((std::vector<std::uint32_t>{kv->groups, kv->bucket_rows, kv->new_rows, kv->row_bytes}),
              (std::vector<std::uint32_t>{2, 4, 1, 32}));
    // The schedule itself is written as computed.
    EXPECT_EQ(d.schedule, (PlanSteps{{0, 1, 2}, {3, 4}, {5, 6}, {7}}));
  }
  {
    // A cache write that another op reads stays in its wave.
    const Decoded d =
        decode_archive(compile_ok(parse_graph(prefix + "let d: f32[1, 2, 4, 8] = relu(c)\noutput d\noutput z\n")));
    ASSERT_EQ(d.calls.size(), 4u);
    EXPECT_EQ(d.calls[0].kind(), CallKind::KvCacheWrite);
    EXPECT_EQ(d.plan, (PlanSteps{{0, 1}, {2, 3}}));
  }
}

// x [rows, k] times the dequantized i8 weight [k, n]: per-column scales and
// a zero-point constant of n zeros. Node ids: 0 x, 1 dequantize, 2 matmul,
// 3 output; constants 0 weight, 1 scales, 2 zero points (slots 4, 5, 6).
struct DequantMatmul {
  static constexpr std::uint32_t k = 8, n = 3;
  GraphBuilder b;
  std::vector<std::uint8_t> weight;
  NodeId deq = 0;

  explicit DequantMatmul(std::uint64_t rows,
                         std::vector<std::uint8_t> zero_points = std::vector<std::uint8_t>(n * 4, 0),
                         std::int32_t axis = 1) {
    for (std::uint32_t i = 0; i < k * n; ++i) weight.push_back(static_cast<std::uint8_t>(i * 7 + 1));
    const NodeId x = b.input("x", b.shape({rows, k}));
    const ShapeId kn = b.shape({k, n});
    const InputSource w = b.constant(DTypeId::I8, kn, weight);
    const InputSource scales = b.f32s(b.shape({n}), {0.5f, 0.25f, 2.0f});
    const InputSource zp = b.constant(DTypeId::I32, b.shape({n}), std::move(zero_points));
    deq = b.op(OpKind::Dequantize, {w, scales, zp}, kn);
    b.g.set_quant_attrs(deq, QuantAttrs{0.5f, 0, axis, 2, WeightLayout::RowMajor, ActQuant::W8A8TokenSym});
    const NodeId mm = b.op(OpKind::Matmul, {N(x), N(deq)}, b.shape({rows, n}));
    b.output("y", N(mm));
  }
};

TEST(CompilerPipeline, SmallI8DequantMatmulFusesOverRepackedWeights) {
  DequantMatmul g(1);
  const std::vector<std::uint8_t> row_major = g.weight;
  const Decoded d = decode_archive(compile_ok(std::move(g.b.g)));
  MatmulDequantCall f;
  f.a = BufferRef{0, 32, 0};
  f.w = BufferRef{0, 24, 4};
  f.scales = BufferRef{0, 12, 5};
  f.zero_points = BufferRef{0, 12, 6};
  f.output = BufferRef{0, 12, 2};
  f.m = 1;
  f.k = 8;
  f.n = 3;
  f.scale_count = 3;
  f.scale_divisor = 1;
  f.quant_dtype = DTypeId::I8;
  f.dtype = DTypeId::F32;
  f.scale = std::bit_cast<std::uint32_t>(0.5f);
  f.zero_point = 0;
  f.weight_layout = 1;
  f.act_quant = 1;
  EXPECT_EQ(d.calls, std::vector<KernelCall>{KernelCall(f)});
  EXPECT_EQ(d.plan, (PlanSteps{{0}}));  // the dequantize's group emptied and was dropped
  EXPECT_EQ(d.certificates->size(), 2u);  // the folded call keeps its record

  // The weight constant now holds [n, k]: byte (c, r) = row-major byte (r, c).
  std::vector<std::uint8_t> output_major(24);
  for (std::uint32_t r = 0; r < 8; ++r) {
    for (std::uint32_t c = 0; c < 3; ++c) output_major[c * 8 + r] = row_major[r * 3 + c];
  }
  ASSERT_EQ(d.constants.size(), 3u);
  EXPECT_EQ(d.constants[0].slot, 4u);
  EXPECT_EQ(d.constants[0].dtype, DTypeId::I8);
  EXPECT_EQ(d.constants[0].bytes, output_major);
}

TEST(CompilerPipeline, DequantMatmulFusionDeclines) {
  {
    DequantMatmul g(5);  // five activation rows
    const std::vector<std::uint8_t> row_major = g.weight;
    const Decoded d = decode_archive(compile_ok(std::move(g.b.g)));
    ASSERT_EQ(d.calls.size(), 2u);
    EXPECT_EQ(d.calls[0].kind(), CallKind::Dequantize);
    EXPECT_EQ(d.calls[1].kind(), CallKind::Matmul);
    EXPECT_FALSE(d.calls[1].get_if<MatmulCall>()->packed);  // B is no constant
    EXPECT_EQ(d.plan, (PlanSteps{{0}, {1}}));
    EXPECT_EQ(d.constants[0].bytes, row_major);
  }
  {
    std::vector<std::uint8_t> zp(12, 0);
    zp[4] = 1;
    DequantMatmul g(1, zp);  // asymmetric
    EXPECT_EQ(decode_archive(compile_ok(std::move(g.b.g))).calls.size(), 2u);
  }
  {
    DequantMatmul g(1, std::vector<std::uint8_t>(8, 0));  // zero points of the wrong length
    EXPECT_EQ(decode_archive(compile_ok(std::move(g.b.g))).calls.size(), 2u);
  }
  {
    DequantMatmul g(1, std::vector<std::uint8_t>(12, 0), 0);  // per-row scales: scale_divisor 3
    EXPECT_EQ(decode_archive(compile_ok(std::move(g.b.g))).calls.size(), 2u);
  }
  {
    DequantMatmul g(1);
    g.b.output("deq", N(g.deq));  // the dequantized weight is itself an output
    EXPECT_EQ(decode_archive(compile_ok(std::move(g.b.g))).calls.size(), 2u);
  }
  {
    DequantMatmul g(1);
    auto q = *g.b.g.quant_attrs(g.deq);
    q.quant_dtype = 1;  // u8 has no output-major GEMV
    g.b.g.set_quant_attrs(g.deq, q);
    EXPECT_EQ(decode_archive(compile_ok(std::move(g.b.g))).calls.size(), 2u);
  }
}

std::string values(int count) {
  std::string s;
  for (int i = 1; i <= count; ++i) {
    if (i > 1) s.append(", ");
    s.append(std::to_string(i));
  }
  return s;
}

TEST(CompilerPipeline, ConstantMatmulOperandUsedOnceIsPanelPacked) {
  const std::string base = "input x: f32[2, 3]\nconst w: f32[3, 4] = [" + values(12) +
                           "]\nlet y: f32[2, 4] = matmul(x, w)\noutput y\n";
  {
    const Decoded d = decode_archive(compile_ok(parse_graph(base)));
    ASSERT_EQ(d.calls.size(), 1u);
    const MatmulCall* mm = d.calls[0].get_if<MatmulCall>();
    ASSERT_NE(mm, nullptr);
    EXPECT_TRUE(mm->packed);
    EXPECT_EQ(mm->b, (BufferRef{0, 192, 3}));  // one 16-column panel of 3 rows
    std::vector<float> panels(48, 0.0f);
    for (int r = 0; r < 3; ++r) {
      for (int j = 0; j < 4; ++j) panels[r * 16 + j] = static_cast<float>(r * 4 + j + 1);
    }
    std::vector<std::uint8_t> expect(192);
    std::memcpy(expect.data(), panels.data(), 192);
    ASSERT_EQ(d.constants.size(), 1u);
    EXPECT_EQ(d.constants[0].bytes, expect);
    EXPECT_EQ(d.constants[0].slot, 3u);
  }
  {
    const Decoded d =
        decode_archive(compile_ok(parse_graph(base + "let z: f32[2, 4] = matmul(x, w)\noutput z\n")));
    ASSERT_EQ(d.calls.size(), 2u);
    for (const KernelCall& c : d.calls) {
      EXPECT_FALSE(c.get_if<MatmulCall>()->packed);
      EXPECT_EQ(c.get_if<MatmulCall>()->b, (BufferRef{0, 48, 5}));
    }
    std::vector<std::uint8_t> row_major(48);
    for (int i = 0; i < 12; ++i) {
      const float v = static_cast<float>(i + 1);
      std::memcpy(row_major.data() + i * 4, &v, 4);
    }
    EXPECT_EQ(d.constants[0].bytes, row_major);
  }
}

TEST(CompilerPipeline, AConstantAnOutputReadsIsNotPacked) {
  // The add of zeros is elided to w, so output "a" reads the constant w
  // itself; packing w for the matmul would hand the caller panels.
  const Decoded d = decode_archive(compile_ok(parse_graph(
      "input x: f32[2, 3]\nconst w: f32[3, 4] = [" + values(12) + "]\nconst z: f32[3, 4] = [" +
      std::string("0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0") +
      "]\nlet a = add(z, w)\nlet y: f32[2, 4] = matmul(x, w)\noutput a\noutput y\n")));
  ASSERT_EQ(d.calls.size(), 1u);
  EXPECT_FALSE(d.calls[0].get_if<MatmulCall>()->packed);
  // Nodes x, matmul and two outputs; w is constant 0, slot 4.
  ASSERT_EQ(d.outputs.size(), 2u);
  EXPECT_EQ(d.outputs[0], port("a", {3, 4}, 12, 4));
  EXPECT_EQ(d.constants[0].bytes.size(), 48u);
}

TEST(CompilerPipeline, ConstantsAbove4096BytesBecomeWeights) {
  GraphBuilder b;
  const std::vector<std::uint8_t> small(4096, 0xAB);
  const std::vector<std::uint8_t> large(4097, 0xCD);
  b.constant(DTypeId::U8, b.shape({4096}), small);
  b.constant(DTypeId::U8, b.shape({4097}), large);
  b.constant(DTypeId::U8, b.shape({4097}), large);  // same bytes: stored once
  const Decoded d = decode_archive(compile_ok(std::move(b.g)));
  ASSERT_EQ(d.constants.size(), 3u);
  EXPECT_FALSE(d.constants[0].in_weights);
  EXPECT_EQ(d.constants[0].bytes, small);
  EXPECT_EQ(d.constants[0].slot, 0u);  // no nodes: constant j is slot j
  const Digest fp = blake3_digest(large);
  for (int j : {1, 2}) {
    EXPECT_TRUE(d.constants[j].in_weights);
    EXPECT_TRUE(d.constants[j].bytes.empty());
    EXPECT_EQ(d.constants[j].fingerprint, fp);
    EXPECT_EQ(d.constants[j].slot, static_cast<std::uint32_t>(j));
    EXPECT_EQ(d.constants[j].dtype, DTypeId::U8);
  }
  ASSERT_EQ(d.weights->size(), 1u);
  ASSERT_TRUE(d.weights->get(fp).has_value());
  EXPECT_EQ(d.weights->get(fp)->size(), 4097u);
}

TEST(CompilerPipeline, AConstantKnownByDigestIsAWeightReference) {
  GraphBuilder b;
  b.constant(DTypeId::F32, b.shape({1}), {});
  Digest digest{};
  digest[0] = 7;
  b.g.constants.digests()[0] = digest;
  const Decoded d = decode_archive(compile_ok(std::move(b.g)));
  ASSERT_EQ(d.constants.size(), 1u);
  EXPECT_TRUE(d.constants[0].in_weights);
  EXPECT_EQ(d.constants[0].fingerprint, digest);
  EXPECT_TRUE(d.weights->empty());
}

TEST(CompilerPipeline, SameGraphCompilesToIdenticalBytes) {
  const std::string text = "input x: f32[2, 3]\nconst w: f32[3, 1100] = [" + values(3300) +
                           "]\nconst b: f32[2, 1100] = [" + values(2200) +
                           "]\nlet y: f32[2, 1100] = matmul(x, w)\nlet z = add(y, b)\n"
                           "let s = reduce_sum(z, axes=[1], keepdims=true)\nlet r = relu(s)\noutput r\noutput y\n";
  const Bytes first = compile_ok(parse_graph(text));
  const Bytes second = compile_ok(parse_graph(text));
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first, second);
  const Decoded d = decode_archive(first);
  EXPECT_EQ(d.weights->size(), 2u);
}

TEST(CompilerPipeline, OutputPortsDescribeTheBufferThatFeedsThem) {
  {
    const Decoded d =
        decode_archive(compile_ok(parse_graph("input x: f32[2, 3]\nlet y: f32[6] = reshape(x)\noutput y\n")));
    EXPECT_EQ(d.outputs, std::vector<PortDescriptor>{port("y", {6}, 6, 1)});
  }
  {
    const Decoded d = decode_archive(compile_ok(
        parse_graph("input x: f32[2, 3]\nlet y: f32[1, 1] = reduce_sum(x, axes=[0, 1], keepdims=true)\noutput y\n")));
    EXPECT_EQ(d.outputs, std::vector<PortDescriptor>{port("y", {1, 1}, 1, 1)});
  }
  {
    // An output of a graph input reads the input's buffer.
    const Decoded d = decode_archive(compile_ok(parse_graph("input x: f32[5]\ninput w: f32[2, 2]\noutput w\n")));
    EXPECT_EQ(d.outputs, std::vector<PortDescriptor>{port("w", {2, 2}, 4, 1)});
  }
  {
    // An output fed by a constant (an add of zeros elided to its operand)
    // reads the constant's slot.
    GraphBuilder b;
    const NodeId x = b.input("x", b.shape({2}));
    const InputSource zeros = b.f32s(b.shape({2}), {0, 0});
    const InputSource c = b.constant(DTypeId::I32, b.shape({3}), std::vector<std::uint8_t>(12, 1));
    const NodeId a = b.op(OpKind::Add, {zeros, c}, 0);
    b.output("k", N(a));
    b.output("x", N(x));
    const Decoded d = decode_archive(compile_ok(std::move(b.g)));
    // Nodes after elision: x, two outputs; constant 1 is slot 3 + 1.
    EXPECT_EQ(d.outputs, (std::vector<PortDescriptor>{port("k", {3}, 3, 4, DTypeId::I32), port("x", {2}, 2, 0)}));
    EXPECT_TRUE(d.calls.empty());
  }
}

TEST(CompilerPipeline, PassesRunBeforeLowering) {
  const Decoded d = decode_archive(compile_ok(
      parse_graph("input x: f32[4]\nconst lo: f32[1] = [0]\nconst hi: f32[1] = [1]\nconst z: f32[4] = [0, 0, 0, 0]\n"
                  "let a: f32[4] = add(x, z)\nlet y: f32[4] = clip(a, lo, hi)\noutput y\n")));
  ASSERT_EQ(d.calls.size(), 2u);
  const BinaryCall* mx = d.calls[0].get_if<BinaryCall>();
  const BinaryCall* mn = d.calls[1].get_if<BinaryCall>();
  ASSERT_TRUE(mx && mn);
  EXPECT_EQ(mx->kind, CallKind::Max);
  EXPECT_EQ(mx->a, (BufferRef{0, 16, 0}));  // the add of zeros is gone: max reads x
  EXPECT_EQ(mx->b, (BufferRef{0, 4, 4}));   // nodes x, max, min, output; lo is constant 0
  EXPECT_EQ(mn->kind, CallKind::Min);
  EXPECT_EQ(mn->a, (BufferRef{0, 16, 1}));
  EXPECT_EQ(mn->b, (BufferRef{0, 4, 5}));
  EXPECT_EQ(d.plan, (PlanSteps{{0}, {1}}));
}

// ---- failures ----

// A dequantize declaring OUTPUT_MAJOR weights over a bound (non-constant)
// weight q [k, n]; every field valid unless a case changes it.
struct OutputMajorCase {
  std::uint64_t k = 16;
  std::uint8_t quant_dtype = 2;
  ActQuant act = ActQuant::W8A8TokenSym;
  std::int32_t axis = 1;
  WeightLayout layout = WeightLayout::OutputMajor;
  std::vector<std::uint8_t> zero_points = std::vector<std::uint8_t>(16, 0);
  bool codebook = false;
  bool constant_weight = false;
  std::vector<std::uint64_t> dims;  // the node's declared shape; [k, 4] when empty
  bool undeclared = false;

  Graph build() const {
    GraphBuilder b;
    const ShapeId shape = b.shape(dims.empty() ? std::vector<std::uint64_t>{k, 4} : dims);
    const InputSource q = constant_weight ? b.constant(DTypeId::I8, shape, std::vector<std::uint8_t>(4, 1))
                                          : N(b.input("q", shape, DTypeId::I8));
    const InputSource scales = b.f32s(b.shape({4}), {1, 1, 1, 1});
    const InputSource zp = b.constant(DTypeId::I32, b.shape({4}), zero_points);
    const ShapeId declared = undeclared ? 999 : shape;
    const NodeId d =
        codebook ? b.op(OpKind::Dequantize,
                        {q, scales, zp, b.constant(DTypeId::I8, 0, std::vector<std::uint8_t>(2048, 0))}, declared)
                 : b.op(OpKind::Dequantize, {q, scales, zp}, declared);
    b.g.set_quant_attrs(d, QuantAttrs{0.5f, 0, axis, quant_dtype, layout, act});
    b.output("y", N(d));
    return std::move(b.g);
  }
};

TEST(CompilerPreflight, OutputMajorMessages) {
  const std::string_view m1 =
      "Dequantize over a graph constant with bytes declared weight_layout = OUTPUT_MAJOR; those bytes are [k,n] and "
      "the declaration describes bound bytes. Set act_quant = W8A8_TOKEN_SYM to opt the constant into the fused "
      "output-major decode path — the compiler transposes it for you. (A zero-byte constant is a weightless κ "
      "binding and may declare OUTPUT_MAJOR.)";
  const std::string_view m2 =
      "weight_layout = OUTPUT_MAJOR requires act_quant = W8A8_TOKEN_SYM;                  there is no output-major "
      "W8A32 kernel, and no other kernel can read                  the [n,k] bytes this weight promises to bind.";
  const std::string_view m3 =
      "weight_layout = OUTPUT_MAJOR on an unregistered quant tier;                  no output-major kernel can "
      "decode it.";
  const std::string_view m4 = "weight_layout = OUTPUT_MAJOR on a quant tier with no output-major GEMV.";
  const std::string_view m5 = "weight_layout = OUTPUT_MAJOR on a non-rank-2 weight.";
  const std::string_view m6 =
      "weight_layout = OUTPUT_MAJOR but k is not a whole number of the tier's                  groups with a "
      "byte-aligned column span; the output-major GEMV cannot                  address it.";
  const std::string_view m7 =
      "weight_layout = OUTPUT_MAJOR but k exceeds the exact-i32 accumulation                  bound; the "
      "output-major GEMV would overflow, so it declines and no                  other kernel can read [n,k].";
  const std::string_view m8 =
      "weight_layout = OUTPUT_MAJOR requires per-output-column scales                  (axis = 1); per-tensor and "
      "group-wise scales have no output-major GEMV.";
  const std::string_view m9 =
      "weight_layout = OUTPUT_MAJOR with a non-zero zero-point; the output-major integer GEMV decodes symmetric "
      "weights only. Asymmetric weights are correct on the generic dequant path — leave act_quant = W8A32 and "
      "weight_layout = ROW_MAJOR.";
  const std::string_view m10 =
      "weight_layout = OUTPUT_MAJOR: a vector-quantized tier must supply its                  codebook as the "
      "Dequantize node's 4th input, and a scalar tier must not.";

  struct Case {
    const char* what;
    OutputMajorCase c;
    std::string_view message;  // empty: compiles
  };
  auto with = [](auto edit) {
    OutputMajorCase c;
    edit(c);
    return c;
  };
  const Case cases[] = {
      {"valid i8", OutputMajorCase{}, ""},
      {"constant weight", with([](auto& c) { c.constant_weight = true; }), m1},
      {"W8A32", with([](auto& c) { c.act = ActQuant::W8A32; }), m2},
      {"f32 tier", with([](auto& c) { c.quant_dtype = 8; }), m3},
      {"u8 tier", with([](auto& c) { c.quant_dtype = 1; }), m4},
      {"rank 3", with([](auto& c) { c.dims = {16, 4, 1}; }), m5},
      {"undeclared shape skips the rest", with([](auto& c) { c.undeclared = true; c.axis = 0; }), ""},
      {"i4, k = 3", with([](auto& c) { c.quant_dtype = 10; c.k = 3; }), m6},
      {"e8cb, k = 12", with([](auto& c) { c.quant_dtype = 11; c.k = 12; c.codebook = true; }), m6},
      {"i8, k = 133144", with([](auto& c) { c.k = 133144; }), ""},
      {"i8, k = 133145", with([](auto& c) { c.k = 133145; }), m7},
      {"axis 0", with([](auto& c) { c.axis = 0; }), m8},
      {"zero point", with([](auto& c) { c.zero_points[15] = 1; }), m9},
      {"e8cb without codebook", with([](auto& c) { c.quant_dtype = 11; }), m10},
      {"i8 with codebook", with([](auto& c) { c.codebook = true; }), m10},
      {"e8cb with codebook", with([](auto& c) { c.quant_dtype = 11; c.codebook = true; }), ""},
      {"row-major is never checked",
       with([](auto& c) { c.layout = WeightLayout::RowMajor; c.act = ActQuant::W8A32; c.quant_dtype = 99;
                          c.constant_weight = true; c.axis = 5; }), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Compiler compiler(c.c.build());
    auto r = compiler.compile();
    if (c.message.empty()) {
      EXPECT_TRUE(r.has_value()) << (r ? "" : std::string(r.error().message));
    } else {
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error().kind, CompileErrorKind::GraphValidation);
      EXPECT_EQ(r.error().message, c.message);
    }
  }
}

TEST(CompilerFailures, StageErrorsEndCompilation) {
  CompileError e =
      compile_error(parse_graph("input a: f32[2, 3]\ninput b: f32[4, 3]\nlet c = matmul(a, b)\noutput c\n"));
  EXPECT_EQ(e, CompileError::shape_violation("matmul-k-mismatch"));

  e = compile_error(parse_graph("input a: f32[2, 3]\nlet t: f32[3, 2] = transpose(a)\noutput t\n"));
  EXPECT_EQ(e, CompileError::lowering_refusal());

  e = compile_error(parse_graph("input a: f32[4]\nlet s = sin(a)\noutput s\n"), 64);
  EXPECT_EQ(e, CompileError::op_emitter());
  // A width without a 16-bit completeness digest fails the same way...
  e = compile_error(parse_graph("input a: f32[4]\nlet s = relu(a)\noutput s\n"), 0x10000);
  EXPECT_EQ(e, CompileError::op_emitter());
  // ...but only when there is something to certify.
  Compiler wide(parse_graph("input a: f32[4]\noutput a\n"), 0, 0x10000);
  EXPECT_TRUE(wide.compile().has_value());

  // A port name the archive cannot hold.
  GraphBuilder b;
  b.output("y", N(b.input(std::string(70000, 'n'), b.shape({1}))));
  EXPECT_EQ(compile_error(std::move(b.g)), CompileError::archive_write());
}

TEST(CompilerFailures, CompilesOnce) {
  Compiler c(Graph{});
  EXPECT_TRUE(c.compile().has_value());
  auto again = c.compile();
  ASSERT_FALSE(again.has_value());
  EXPECT_EQ(again.error().message, "compiler: graph already compiled");
}

}  // namespace
}  // namespace tessary
