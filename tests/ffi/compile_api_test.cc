// Compiling through the C interface: program text and the source builder to
// archives, loaded and executed as a host would.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/hasher.h"
#include "tessary/tessary.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Compiles text; on failure returns an empty vector (the record tells why).
Bytes compile(const std::string& text) {
  const auto* t = reinterpret_cast<const uint8_t*>(text.data());
  uint8_t probe = 0;
  const int32_t len = tessary_compile_source(t, text.size(), &probe, 0);
  if (len < 0) return {};
  Bytes out(static_cast<size_t>(len));
  EXPECT_EQ(tessary_compile_source(t, text.size(), out.data(), out.size()), len);
  return out;
}

std::vector<float> run_f32(const Bytes& archive, const std::vector<std::vector<float>>& inputs, size_t out_elems) {
  const int32_t h = tessary_session_load(archive.data(), archive.size());
  EXPECT_GE(h, 0);
  std::vector<const uint8_t*> ptrs;
  std::vector<size_t> lens;
  for (const auto& in : inputs) {
    ptrs.push_back(reinterpret_cast<const uint8_t*>(in.data()));
    lens.push_back(in.size() * 4);
  }
  std::vector<float> out(out_elems);
  uint8_t* out_ptr[] = {reinterpret_cast<uint8_t*>(out.data())};
  const size_t cap[] = {out_elems * 4};
  EXPECT_EQ(tessary_session_execute(h, ptrs.data(), lens.data(), inputs.size(), out_ptr, cap, 1), 0);
  tessary_session_close(h);
  return out;
}

struct Failure {
  int32_t code;
  std::string message;
  uint64_t line, column;
  const char* rejected;  // nullptr: no fragment
};

void expect_failure(const std::string& text, const Failure& f) {
  uint8_t buf[8];
  EXPECT_EQ(tessary_compile_source(reinterpret_cast<const uint8_t*>(text.data()), text.size(), buf, sizeof buf), -1)
      << text;
  EXPECT_EQ(tessary_last_error(), f.code) << text;
  ASSERT_NE(tessary_last_error_message(), nullptr) << text;
  EXPECT_EQ(std::string(tessary_last_error_message()), f.message) << text;
  EXPECT_EQ(tessary_last_error_line(), f.line) << text;
  EXPECT_EQ(tessary_last_error_column(), f.column) << text;
  if (f.rejected == nullptr) {
    EXPECT_EQ(tessary_last_error_rejected(), nullptr) << text;
  } else {
    ASSERT_NE(tessary_last_error_rejected(), nullptr) << text;
    EXPECT_STREQ(tessary_last_error_rejected(), f.rejected) << text;
  }
}

TEST(CompileEmpty, LengthQueryThenArchiveThatLoads) {
  uint8_t probe = 0xAB;
  const int32_t len = tessary_compile_empty(&probe, 0);
  ASSERT_GT(len, 0);
  EXPECT_EQ(probe, 0xAB);
  Bytes a(static_cast<size_t>(len));
  EXPECT_EQ(tessary_compile_empty(a.data(), a.size()), len);
  const int32_t h = tessary_session_load(a.data(), a.size());
  ASSERT_GE(h, 0);
  EXPECT_EQ(tessary_session_input_count(h), 0);
  EXPECT_EQ(tessary_session_output_count(h), 0);
  EXPECT_EQ(tessary_session_kernel_count(h), 0);
  tessary_session_close(h);
  EXPECT_EQ(tessary_compile_empty(nullptr, 10), -1);
}

TEST(CompileSource, ArgumentAndUtf8Failures) {
  uint8_t buf[4];
  const uint8_t text[] = "input x: f32[1]\noutput x\n";
  EXPECT_EQ(tessary_compile_source(text, sizeof text - 1, nullptr, 0), -1);
  EXPECT_EQ(tessary_last_error(), 10);
  EXPECT_STREQ(tessary_last_error_message(), "compile source null");
  EXPECT_EQ(tessary_compile_source(nullptr, 0, buf, 4), -1);
  EXPECT_STREQ(tessary_last_error_message(), "compile source null");
  const uint8_t bad[] = {'x', 0xFF};
  EXPECT_EQ(tessary_compile_source(bad, 2, buf, 4), -1);
  EXPECT_EQ(tessary_last_error(), 1);
  EXPECT_STREQ(tessary_last_error_message(), "source: utf8");
  EXPECT_EQ(tessary_last_error_line(), 0u);
  EXPECT_EQ(tessary_last_error_column(), 0u);
  // Session calls leave the record alone; the next record-keeping call clears it.
  EXPECT_EQ(tessary_session_input_count(-5), -1);
  EXPECT_EQ(tessary_last_error(), 1);
  const uint8_t name[] = {'a', 'b', 'i', '.', 'v', '1'};
  EXPECT_EQ(tessary_feature_supported(name, 6), 1);
  EXPECT_EQ(tessary_last_error(), 0);
}

TEST(CompileSource, DiagnosticsAndLoweringErrorsReachTheRecord) {
  // The parser's message is kept verbatim, with its location and fragment;
  // the code comes from classifying it.
  expect_failure("input x: f32[1, 4]\nlet y = relu(x)\nlet z = frobnicate(y)\noutput z\n",
                 {3, "op: unknown op kind", 3, 1, "let"});
  // Lowering errors carry no location.
  expect_failure("input x: f32[1, 4]\nlet y = relu(q)\noutput y\n", {2, "op: unresolved input", 0, 0, nullptr});
  expect_failure("input x: f32[2]\ninput x: f32[2]\noutput x\n", {2, "source: duplicate name", 0, 0, nullptr});
}

TEST(CompileSource, ElementwiseProgramRunsAndCompilesReproducibly) {
  const std::string text =
      "input x: f32[2, 3]\n"
      "const b: f32[2, 3] = [1, 2, 3, 4, 5, 6]\n"
      "let r = relu(x)\n"
      "let y = add(r, b)\n"
      "output y\n";
  const Bytes a = compile(text);
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(compile(text), a);  // the same program always gives the same bytes
  const auto y = run_f32(a, {{-1.0f, 0.5f, -0.0f, 2.0f, -3.0f, 0.25f}}, 6);
  EXPECT_EQ(y, (std::vector<float>{1.0f, 2.5f, 3.0f, 6.0f, 5.0f, 6.25f}));
}

TEST(CompileSource, OutputPortShapeFollowsTheValue) {
  const Bytes a = compile("input x: f32[2, 3]\nlet y: f32[6] = reshape(x)\noutput y\n");
  ASSERT_FALSE(a.empty());
  const int32_t h = tessary_session_load(a.data(), a.size());
  ASSERT_GE(h, 0);
  uint64_t dims[4] = {};
  EXPECT_EQ(tessary_session_output_shape(h, 0, dims, 4), 1);
  EXPECT_EQ(dims[0], 6u);
  EXPECT_EQ(tessary_session_output_byte_len(h, 0), 24);
  tessary_session_close(h);
}

TEST(CompileSource, WorkedTwoLayerExample) {
  const std::string text =
      "# two-layer block\n"
      "input x: f32[1, 4]\n"
      "const w: f32[4, 2] = [0.5, -1, 2, 0, 1.5, 1, -0.25, 3]\n"
      "let h = matmul(x, w)\n"
      "let r: f32[1, 2] = relu(h)\n"
      "let s = reduce_sum(r, axes=[1], keepdims=true)\n"
      "output s\n";
  const Bytes a = compile(text);
  ASSERT_FALSE(a.empty()) << tessary_last_error_message();
  // h = [0.5 + 4 + 1.5*3 - 0.25*4, -1 + 0 + 3 + 12] for x = [1, 2, 3, 4]
  //   = [8, 14]; r = relu(h); s = 22.
  const auto s = run_f32(a, {{1.0f, 2.0f, 3.0f, 4.0f}}, 1);
  EXPECT_EQ(s, (std::vector<float>{22.0f}));
  const std::string bad = text + "let t = softmax(s, axis=1)\n";
  expect_failure(bad, {1, "op: attr not valid", 8, 1, "let"});
}

// ---- source builder ------------------------------------------------------

TessaryString str(const char* s) { return TessaryString{reinterpret_cast<const uint8_t*>(s), std::strlen(s)}; }

struct Builder {
  Builder() : b(tessary_source_builder_new()) {}
  ~Builder() { tessary_source_builder_free(b); }
  int32_t input(const char* name, std::vector<uint64_t> dims, uint8_t dtype = 8) {
    TessaryTensorDescriptor d{str(name), dtype, dims.data(), dims.size()};
    return tessary_source_builder_input(b, &d);
  }
  int32_t op(const char* result, const char* op, std::vector<const char*> inputs, std::vector<uint64_t> dims = {}) {
    std::vector<TessaryString> ins;
    for (const char* i : inputs) ins.push_back(str(i));
    TessaryOpDescriptor d{str(result), str(op), ins.data(), ins.size(), dims.data(), dims.size()};
    return tessary_source_builder_op(b, &d);
  }
  int32_t output(const char* name) { return tessary_source_builder_output(b, str(name).ptr, std::strlen(name)); }
  Bytes compile() {
    uint8_t probe;
    const int32_t len = tessary_source_builder_compile(b, &probe, 0);
    if (len < 0) return {};
    Bytes out(static_cast<size_t>(len));
    EXPECT_EQ(tessary_source_builder_compile(b, out.data(), out.size()), len);
    return out;
  }
  TessarySourceBuilder* b;
};

void expect_record(int32_t code, const char* message) {
  EXPECT_EQ(tessary_last_error(), code);
  ASSERT_NE(tessary_last_error_message(), nullptr);
  EXPECT_STREQ(tessary_last_error_message(), message);
  EXPECT_EQ(tessary_last_error_line(), 0u);
  EXPECT_EQ(tessary_last_error_column(), 0u);
  EXPECT_EQ(tessary_last_error_rejected(), nullptr);
}

TEST(SourceBuilder, ArgumentChecksInOrder) {
  TessaryTensorDescriptor d{str("x"), 8, nullptr, 0};
  EXPECT_EQ(tessary_source_builder_input(nullptr, &d), -1);
  expect_record(10, "source builder null");
  Builder b;
  EXPECT_EQ(tessary_source_builder_input(b.b, nullptr), -1);
  expect_record(10, "tensor descriptor null");
  EXPECT_EQ(b.input("a", {2}, 6), -1);
  expect_record(11, "dtype unsupported");
  EXPECT_EQ(b.input("b", {}), -1);
  expect_record(5, "shape missing");
  EXPECT_EQ(b.input("c", {1, 1, 1, 1, 1, 1, 1, 1, 1}), -1);
  expect_record(5, "shape bad");
  // Failed calls still interned their names: the next new name is symbol 3.
  EXPECT_EQ(b.input("x", {2}, 0), 3);
  EXPECT_EQ(tessary_last_error(), 0);
  EXPECT_EQ(b.input("x", {2}), 3);  // same name, same symbol
  TessaryString bad_name{nullptr, 2};
  TessaryTensorDescriptor nd{bad_name, 8, nullptr, 0};
  EXPECT_EQ(tessary_source_builder_input(b.b, &nd), -1);
  expect_record(10, "string null");

  uint64_t dims[] = {2};
  TessaryConstDescriptor c{str("k"), 8, dims, 1, nullptr, 6};
  EXPECT_EQ(tessary_source_builder_const(b.b, &c), -1);
  expect_record(5, "const byte len");
  c.byte_len = 8;
  EXPECT_EQ(tessary_source_builder_const(b.b, &c), -1);
  expect_record(10, "bytes null");
  c.byte_len = 0;
  c.rank = 0;
  EXPECT_EQ(tessary_source_builder_const(b.b, &c), -1);
  expect_record(5, "shape missing");

  EXPECT_EQ(b.op("y", "Add", {"x", "x"}), -1);
  expect_record(3, "source op unknown");
  TessaryOpDescriptor od{str("y"), str("add"), nullptr, 2, nullptr, 0};
  EXPECT_EQ(tessary_source_builder_op(b.b, &od), -1);
  expect_record(10, "source op inputs null");
  EXPECT_GE(b.op("y", "add", {"x", "x"}), 0);
  EXPECT_EQ(b.output("y"), b.op("y2", "relu", {"y"}) - 1);
  tessary_source_builder_free(nullptr);
}

TEST(SourceBuilder, CompileFailuresAndReuse) {
  {
    Builder b;
    b.input("x", {2});
    b.op("y", "relu", {"nowhere"});
    b.output("y");
    EXPECT_TRUE(b.compile().empty());
    expect_record(2, "op: unresolved input");
  }
  {
    Builder b;
    b.input("x", {2});
    b.input("x", {2});
    b.output("x");
    EXPECT_TRUE(b.compile().empty());
    expect_record(2, "source: duplicate name");
  }
  Builder b;
  b.input("x", {3});
  b.op("y", "neg", {"x"});
  b.output("y");
  EXPECT_EQ(tessary_source_builder_compile(b.b, nullptr, 0), -1);
  expect_record(10, "archive output null");
  const Bytes first = b.compile();
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(b.compile(), first);
  EXPECT_EQ(run_f32(first, {{1.0f, -2.0f, 0.0f}}, 3), (std::vector<float>{-1.0f, 2.0f, -0.0f}));
  // Extended after compiling: an alias names the new output port.
  b.op("z", "abs", {"y"});
  EXPECT_GE(tessary_source_builder_output_alias(b.b, str("z").ptr, 1, str("magnitude").ptr, 9), 0);
  const Bytes second = b.compile();
  const int32_t h = tessary_session_load(second.data(), second.size());
  ASSERT_GE(h, 0);
  ASSERT_EQ(tessary_session_output_count(h), 2);
  uint8_t name[16] = {};
  EXPECT_EQ(tessary_session_output_name(h, 1, name, sizeof name), 9);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 9), "magnitude");
  tessary_session_close(h);
}

TEST(SourceBuilder, ConstRefReadsThroughTheTensorRoot) {
  const auto dir = std::filesystem::temp_directory_path() / ("tessary_ref_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::vector<float> values = {1.5f, -2.0f, 4.0f};
  std::vector<uint8_t> file(16, 0xEE);  // 4 bytes of padding before the values
  std::memcpy(file.data() + 4, values.data(), 12);
  std::ofstream(dir / "w.bin", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
  const tessary::Digest digest = tessary::blake3_digest(std::span<const uint8_t>(file.data() + 4, 12));

  const char* old = std::getenv("TESSARY_EXTERNAL_TENSOR_ROOT");
  const std::string saved = old ? old : "";
  setenv("TESSARY_EXTERNAL_TENSOR_ROOT", dir.c_str(), 1);

  Builder b;
  b.input("x", {3});
  uint64_t dims[] = {3};
  TessaryConstRefDescriptor c{};
  c.name = str("w");
  c.dtype = 8;
  c.dims = dims;
  c.rank = 1;
  c.path = str("w.bin");
  c.byte_offset = 4;
  c.byte_len = 12;
  std::memcpy(c.digest, digest.data(), 32);
  EXPECT_GE(tessary_source_builder_const_ref(b.b, &c), 0);
  b.op("y", "mul", {"x", "w"});
  b.output("y");
  const Bytes a = b.compile();
  ASSERT_FALSE(a.empty()) << tessary_last_error_message();
  EXPECT_EQ(run_f32(a, {{2.0f, 3.0f, 0.5f}}, 3), (std::vector<float>{3.0f, -6.0f, 2.0f}));

  // One altered digest byte: an external-constant error.
  c.digest[0] ^= 1;
  Builder b2;
  tessary_source_builder_const_ref(b2.b, &c);
  b2.output("w");
  EXPECT_TRUE(b2.compile().empty());
  EXPECT_EQ(tessary_last_error(), 6);

  if (old) {
    setenv("TESSARY_EXTERNAL_TENSOR_ROOT", saved.c_str(), 1);
  } else {
    unsetenv("TESSARY_EXTERNAL_TENSOR_ROOT");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
