// Text programs compiled and run through the C interface, checked against
// references computed plainly in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tessary/tessary.h"

namespace {

struct Result {
  std::vector<float> values;
  std::vector<uint64_t> shape;
};

Result compile_and_run(const std::string& text, const std::vector<std::vector<float>>& inputs) {
  const auto* t = reinterpret_cast<const uint8_t*>(text.data());
  uint8_t probe;
  const int32_t len = tessary_compile_source(t, text.size(), &probe, 0);
  EXPECT_GT(len, 0) << (tessary_last_error_message() ? tessary_last_error_message() : "");
  if (len <= 0) return {};
  std::vector<uint8_t> archive(static_cast<size_t>(len));
  tessary_compile_source(t, text.size(), archive.data(), archive.size());
  const int32_t h = tessary_session_load(archive.data(), archive.size());
  EXPECT_GE(h, 0);
  Result r;
  const int32_t bytes = tessary_session_output_byte_len(h, 0);
  r.values.resize(static_cast<size_t>(bytes) / 4);
  r.shape.resize(static_cast<size_t>(tessary_session_output_shape(h, 0, nullptr, 0)));
  tessary_session_output_shape(h, 0, r.shape.data(), r.shape.size());
  std::vector<const uint8_t*> ptrs;
  std::vector<size_t> lens;
  for (const auto& in : inputs) {
    ptrs.push_back(reinterpret_cast<const uint8_t*>(in.data()));
    lens.push_back(in.size() * 4);
  }
  uint8_t* out[] = {reinterpret_cast<uint8_t*>(r.values.data())};
  const size_t cap[] = {r.values.size() * 4};
  EXPECT_EQ(tessary_session_execute(h, ptrs.data(), lens.data(), inputs.size(), out, cap, 1), 0);
  tessary_session_close(h);
  return r;
}

void expect_near_all(const std::vector<float>& got, const std::vector<double>& want, double tol) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], tol * std::max(1.0, std::fabs(want[i]))) << i;
}

TEST(CompiledPrograms, SoftmaxSpecialRows) {
  const auto r = compile_and_run("input x: f32[3, 2]\nlet y = softmax(x)\noutput y\n",
                                 {{0.0f, 0.0f, 1000.0f, 0.0f, -INFINITY, -INFINITY}});
  ASSERT_EQ(r.shape, (std::vector<uint64_t>{3, 2}));
  EXPECT_EQ(r.values[0], 0.5f);
  EXPECT_EQ(r.values[1], 0.5f);
  EXPECT_EQ(r.values[2], 1.0f);
  EXPECT_EQ(r.values[3], 0.0f);
}

TEST(CompiledPrograms, ReduceSumKeepdims) {
  const auto r = compile_and_run("input x: f32[2, 3]\nlet s = reduce_sum(x, axes=[1], keepdims=true)\noutput s\n",
                                 {{1, 2, 3, 4, 5, 6}});
  EXPECT_EQ(r.shape, (std::vector<uint64_t>{2, 1}));
  EXPECT_EQ(r.values, (std::vector<float>{6, 15}));
  const auto all = compile_and_run("input x: f32[2, 3]\nlet s = reduce_max(x)\noutput s\n", {{1, 9, 3, 4, 5, 6}});
  EXPECT_TRUE(all.shape.empty());
  EXPECT_EQ(all.values, (std::vector<float>{9}));
}

TEST(CompiledPrograms, LayerNormAndRmsNorm) {
  const std::vector<float> x = {1, 2, 3, 4, -2, 0, 2, 8};
  const double eps = 1e-9;  // the default epsilon
  std::vector<double> ln, rms;
  for (int row = 0; row < 2; ++row) {
    double mean = 0, var = 0, ms = 0;
    for (int j = 0; j < 4; ++j) mean += x[row * 4 + j] / 4.0;
    for (int j = 0; j < 4; ++j) var += (x[row * 4 + j] - mean) * (x[row * 4 + j] - mean) / 4.0;
    for (int j = 0; j < 4; ++j) ms += double(x[row * 4 + j]) * x[row * 4 + j] / 4.0;
    const double gamma[] = {1, 2, 0.5, -1}, beta[] = {0, 1, 0, 0.25};
    for (int j = 0; j < 4; ++j) {
      ln.push_back((x[row * 4 + j] - mean) / std::sqrt(var + eps) * gamma[j] + beta[j]);
      rms.push_back(x[row * 4 + j] / std::sqrt(ms + eps) * gamma[j]);
    }
  }
  const std::string consts =
      "input x: f32[2, 4]\n"
      "const g: f32[4] = [1, 2, 0.5, -1]\n"
      "const b: f32[4] = [0, 1, 0, 0.25]\n";
  auto r = compile_and_run(consts + "let y = layer_norm(x, g, b)\noutput y\n", {x});
  EXPECT_EQ(r.shape, (std::vector<uint64_t>{2, 4}));
  expect_near_all(r.values, ln, 1e-5);
  r = compile_and_run(consts + "let y = rms_norm(x, g)\noutput y\n", {x});
  expect_near_all(r.values, rms, 1e-5);
  // Without gamma and beta the normalised values come out unscaled.
  r = compile_and_run("input x: f32[2, 4]\nlet y = layer_norm(x)\noutput y\n", {x});
  ASSERT_EQ(r.values.size(), 8u);
  EXPECT_NEAR(r.values[0], -1.3416, 1e-3);
  EXPECT_NEAR(r.values[3], 1.3416, 1e-3);
}

TEST(CompiledPrograms, NormalisedBlock) {
  // matmul, add, layer_norm, softmax: the result rows are distributions.
  const std::string text =
      "input x: f32[2, 3]\n"
      "const w: f32[3, 4] = [1, 0, -1, 2, 0.5, 1, 0, -1, 2, -0.5, 1, 0]\n"
      "const b: f32[2, 4] = [0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8]\n"
      "let h = matmul(x, w)\n"
      "let a = add(h, b)\n"
      "let n = layer_norm(a)\n"
      "let p = softmax(n)\n"
      "output p\n";
  const std::vector<float> x = {1, 2, 3, -1, 0.5, 2};
  const auto r = compile_and_run(text, {x});
  EXPECT_EQ(r.shape, (std::vector<uint64_t>{2, 4}));
  const double w[3][4] = {{1, 0, -1, 2}, {0.5, 1, 0, -1}, {2, -0.5, 1, 0}};
  const double b[2][4] = {{0.1, 0.2, 0.3, 0.4}, {0.5, 0.6, 0.7, 0.8}};
  std::vector<double> want;
  for (int i = 0; i < 2; ++i) {
    double a[4], mean = 0, var = 0;
    for (int j = 0; j < 4; ++j) {
      a[j] = b[i][j];
      for (int k = 0; k < 3; ++k) a[j] += x[i * 3 + k] * w[k][j];
      mean += a[j] / 4;
    }
    for (int j = 0; j < 4; ++j) var += (a[j] - mean) * (a[j] - mean) / 4;
    double e[4], sum = 0;
    for (int j = 0; j < 4; ++j) sum += e[j] = std::exp((a[j] - mean) / std::sqrt(var + 1e-9));
    for (int j = 0; j < 4; ++j) want.push_back(e[j] / sum);
  }
  expect_near_all(r.values, want, 1e-4);
}

}  // namespace
