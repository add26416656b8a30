// Every refusal of the text frontend, with its exact message, line, column and
// rejected fragment, read through the whole-document entry point.
#include <gtest/gtest.h>

#include <string>

#include "compiler/source/frontends/frontend_registry.h"

namespace tessary {
namespace {

struct DiagCase {
  std::string text;
  std::string message;
  std::uint64_t line;
  std::uint64_t column;
  std::string fragment;
};

void expect_diagnostics(const std::vector<DiagCase>& cases) {
  for (const auto& c : cases) {
    auto r = parse_ir_diagnostic(c.text, 0);
    ASSERT_FALSE(r.has_value()) << c.text;
    const SourceDiagnostic& d = r.error();
    EXPECT_EQ(d.message, c.message) << c.text;
    EXPECT_EQ(d.line, c.line) << c.text;
    EXPECT_EQ(d.column, c.column) << c.text;
    EXPECT_EQ(d.rejected, c.fragment) << c.text;
  }
}

// A first line that makes any text use the v2 syntax.
const std::string kV2 = "let m = relu()\n";

TEST(V2Diagnostics, Syntax) {
  expect_diagnostics({
      {"input x: f32[]", "source: bad v2 syntax", 1, 1, "input"},
      {"const c: f32[1] = []", "source: bad v2 syntax", 1, 1, "const"},
      {kV2 + "output 5", "source: bad v2 syntax", 2, 8, "5"},
      {kV2 + "   output 5", "source: bad v2 syntax", 2, 11, "5"},
      {kV2 + "\t output\t \t5", "source: bad v2 syntax", 2, 12, "5"},
      // A two-byte no-break space before the statement moves the column by 2.
      {kV2 + "\xC2\xA0output 5", "source: bad v2 syntax", 2, 10, "5"},
      {kV2 + "\xE3\x80\x80\xC2\xA0let y = relu(x) extra", "source: bad v2 syntax", 2, 22, "extra"},
      {kV2 + "outputx", "source: bad v2 syntax", 2, 1, "outputx"},
      {kV2 + "output x y", "source: bad v2 syntax", 2, 10, "y"},
      {kV2 + "Output x", "source: bad v2 syntax", 2, 1, "Output"},
      {kV2 + "inputx: f32[1]", "source: bad v2 syntax", 2, 1, "inputx:"},
      {kV2 + "input\x0bx: f32[1]", "source: bad v2 syntax", 2, 1, "input"},
      {kV2 + "input x\xC2\xA0: f32[1]", "source: bad v2 syntax", 2, 1, "input"},
      {"input x: f32[4] # note", "source: bad v2 syntax", 1, 17, "#"},
      {"input x: f32[18446744073709551616]", "source: bad v2 syntax", 1, 1, "input"},
      {"input 1x: f32[1]", "source: bad v2 syntax", 1, 1, "input"},
      {"let y = relu(x,)", "source: bad v2 syntax", 1, 1, "let"},
      {"let y = relu(x) z", "source: bad v2 syntax", 1, 17, "z"},
      {"let y = relu(x, k=)", "source: bad v2 syntax", 1, 1, "let"},
      {"let y = relu(x, k=[])", "source: bad v2 syntax", 1, 1, "let"},
      {"let y: f32[] = relu(x)", "source: bad v2 syntax", 1, 1, "let"},
      {"const c: f32[2] = [1 2]", "source: bad v2 syntax", 1, 1, "const"},
      {kV2 + std::string("output x\0y", 10), "source: bad v2 syntax", 2, 9, std::string("\0y", 2)},
      {"# c\n\n   # d\r\nlet y = relu(x) )", "source: bad v2 syntax", 4, 17, ")"},
  });
}

TEST(V2Diagnostics, ExponentWithoutDigitsFailsHard) {
  expect_diagnostics({
      {"const c: f32[2] = [1e, 2]", "source: bad v2 syntax", 1, 22, ","},
      {"const c: f32[1] = [1e", "source: bad v2 syntax", 1, 22, "<eol>"},
      {"const c: f32[1] = [2.5E+]", "source: bad v2 syntax", 1, 24, "+]"},
      {"let y = conv2d(x, k_h=2e)", "source: bad v2 syntax", 1, 25, ")"},
      {"let y = conv2d(x, k=[1, 2e ])", "source: bad v2 syntax", 1, 28, "])"},
  });
}

TEST(V2Diagnostics, FormChecks) {
  expect_diagnostics({
      {"input x: f32[1,1,1,1,1,1,1,1,1]", "source: bad shape", 1, 1, "input"},
      {"  const c: f32[1,1,1,1,1,1,1,1,1] = [1]", "source: bad shape", 1, 3, "const"},
      {"let y: f32[1,1,1,1,1,1,1,1,1] = relu(x)", "source: bad shape", 1, 1, "let"},
      {"let y = Relu(x)", "op: unknown op kind", 1, 1, "let"},
      // The op kind is checked before the declared shape, the shape before attributes.
      {"let y: f32[1,1,1,1,1,1,1,1,1] = Relu(x)", "op: unknown op kind", 1, 1, "let"},
      {"let y: f32[1,1,1,1,1,1,1,1,1] = relu(x, foo=1)", "source: bad shape", 1, 1, "let"},
      {"# c\n\nlet y = relu(x)\nlet z = Relu(y)", "op: unknown op kind", 4, 1, "let"},
  });
}

TEST(V2Diagnostics, Attributes) {
  const std::string l = "let y = ";
  expect_diagnostics({
      {l + "max_pool_2d(x, kernel=[2,2,2])", "attr: bad list length", 1, 1, "let"},
      {l + "max_pool_2d(x, k=[2])", "attr: bad list length", 1, 1, "let"},
      {l + "conv2d(x, w, strides=[1,1,1])", "attr: bad list length", 1, 1, "let"},
      {l + "conv2d(x, w, pads=[1,2,3,4])", "attr: bad list length", 1, 1, "let"},
      {l + "conv2d(x, w, pad=[1,2,3])", "attr: bad list length", 1, 1, "let"},
      {l + "relu(x, axis=1)", "op: attr not valid", 1, 1, "let"},
      {l + "relu(x, foo=1)", "op: unknown attr", 1, 1, "let"},
      {l + "relu(x, foo=1, axis=1)", "op: unknown attr", 1, 1, "let"},
      {l + "relu(x, axis=1, foo=1)", "op: attr not valid", 1, 1, "let"},
      {l + "relu(x, K=1)", "op: unknown attr", 1, 1, "let"},
      {l + "reduce_sum(x, axes=[32])", "attr: axis out of range", 1, 1, "let"},
      {l + "reduce_sum(x, axes=[40, 1.5])", "attr: bad number", 1, 1, "let"},
      {l + "reduce_sum(x, axes=3)", "attr: expected list", 1, 1, "let"},
      {l + "reduce_sum(x, keepdims=1)", "attr: expected bool", 1, 1, "let"},
      {l + "reduce_max(x, axes_mask=true)", "attr: expected number", 1, 1, "let"},
      {l + "conv2d(x, w, stride=1)", "attr: expected list", 1, 1, "let"},
      {l + "conv2d(x, w, k_h=1.5)", "attr: bad number", 1, 1, "let"},
      {l + "conv2d(x, w, k_h=-1)", "attr: bad number", 1, 1, "let"},
      {l + "conv2d(x, w, k_w=[1])", "attr: expected number", 1, 1, "let"},
      {l + "conv2d(x, w, pad_h=4294967296)", "attr: bad number", 1, 1, "let"},
      // alpha, beta, scale and their bit forms check the value before the kind.
      {l + "relu(x, alpha=[1])", "attr: expected number", 1, 1, "let"},
      {l + "relu(x, alpha=1)", "op: attr not valid", 1, 1, "let"},
      {l + "relu(x, beta_bits=1.5)", "attr: bad number", 1, 1, "let"},
      {l + "relu(x, scale=true)", "attr: expected number", 1, 1, "let"},
      {l + "relu(x, scale_bits=1)", "op: attr not valid", 1, 1, "let"},
      {l + "lrn(x, alpha_bits=-1)", "attr: bad number", 1, 1, "let"},
      // The other keys check the kind first.
      {l + "relu(x, size=[1])", "op: attr not valid", 1, 1, "let"},
      {l + "gemm(a, b, bias=1)", "op: attr not valid", 1, 1, "let"},
      {l + "lrn(x, bias=false)", "attr: expected number", 1, 1, "let"},
      {l + "lrn(x, bias_bits=-2)", "attr: bad number", 1, 1, "let"},
      {l + "layer_norm(x, num_groups=2)", "op: attr not valid", 1, 1, "let"},
      {l + "group_norm(x, num_groups=-2)", "attr: bad number", 1, 1, "let"},
      {l + "gather(x, i, axis=2147483648)", "attr: bad number", 1, 1, "let"},
      {l + "dequantize(q, zero_point=[0])", "attr: expected number", 1, 1, "let"},
      {l + "dequantize(q, quant_dtype=256)", "attr: bad number", 1, 1, "let"},
      {l + "dequantize(q, quant_dtype=true)", "attr: expected number", 1, 1, "let"},
      {l + "gather(x, i, quant_dtype=1)", "op: attr not valid", 1, 1, "let"},
      {l + "attention(q, k, v, causal=[1])", "attr: expected bool", 1, 1, "let"},
      {l + "softmax(x, causal=true)", "op: attr not valid", 1, 1, "let"},
  });
}

TEST(V2Diagnostics, WorkedExampleWithABadEighthLine) {
  std::string text =
      "# two-layer block\n"
      "input x: f32[1, 4]\n"
      "const w: f32[4, 2] = [0.5, -1, 2, 0, 1.5, 1, -0.25, 3]\n"
      "let h = matmul(x, w)\n"
      "let r: f32[1, 2] = relu(h)\n"
      "let s = reduce_sum(r, axes=[1], keepdims=true)\n"
      "output s\n"
      "let t = softmax(s, axis=1)\n";
  expect_diagnostics({{text, "op: attr not valid", 8, 1, "let"}});
}

TEST(LegacyDiagnostics, EveryDirective) {
  expect_diagnostics({
      {"input x :", "input: bad shape", 1, 1, "input"},
      {"input x :1x1x1x1x1x1x1x1x1", "input: bad shape", 1, 1, "input"},
      {"input x 4", "input: bad shape", 1, 1, "input"},
      {"input x :2x", "input: bad shape", 1, 1, "input"},
      {"input x :18446744073709551616", "input: bad shape", 1, 1, "input"},
      {"input x :-1", "input: bad shape", 1, 1, "input"},
      {"input", "input: missing name", 1, 1, "input"},
      {"const", "const: missing name", 1, 1, "const"},
      {"const c", "const: missing shape", 1, 1, "const"},
      {"const c 2 = 1", "const: bad shape", 1, 1, "const"},
      {"const c :2", "const: missing '='", 1, 1, "const"},
      {"const c :2 1 2", "const: expected '='", 1, 1, "const"},
      {"const c :2 ==", "const: expected '='", 1, 1, "const"},
      {"const c :2 =", "const: missing values", 1, 1, "const"},
      {"const c :2 = 1 x", "const: bad value", 1, 1, "const"},
      {"const c :2 = 1 1e", "const: bad value", 1, 1, "const"},
      {"op", "op: missing op name", 1, 1, "op"},
      {"op Relu x", "op: unknown op kind", 1, 1, "op"},
      {"op relu x :4y", "op: bad shape", 1, 1, "op"},
      {"op relu x as=y :", "op: bad shape", 1, 1, "op"},
      {"output", "output: missing name", 1, 1, "output"},
      {"let", "unknown directive", 1, 1, "let"},
      {"LET x", "unknown directive", 1, 1, "LET"},
      {"input x :2\n  \tops relu", "unknown directive", 2, 4, "ops"},
      {"# c\n\n  op", "op: missing op name", 3, 3, "op"},
  });
}

TEST(LegacyDiagnostics, WhiteSpaceOtherThanBlanksBetweenTokens) {
  expect_diagnostics({
      {"input x\xC2\xA0:4", "source: bad tokens", 1, 1, ":4"},
      {"  input x \x0c :4", "source: bad tokens", 1, 3, ":4"},
      {"output\x0by", "source: bad tokens", 1, 1, "y"},
      {"op relu\xE3\x80\x80 x", "source: bad tokens", 1, 1, "x"},
  });
}

}  // namespace
}  // namespace tessary
