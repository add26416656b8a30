// Programs compiled by the compiler and run by a session: the two halves
// agree on slots, ports, windows and plan order.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "compiler/compiler.h"
#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/lowering.h"
#include "exec/execute.h"
#include "exec/session.h"

namespace tessary {
namespace {

Bytes compile(Graph g) {
  Compiler c(std::move(g));
  auto bytes = c.compile();
  EXPECT_TRUE(bytes.has_value());
  return bytes ? std::move(*bytes) : Bytes{};
}

Graph parse(std::string_view text) {
  auto program = parse_ir_diagnostic(text, 0);
  EXPECT_TRUE(program.has_value());
  auto graph = lower_program(std::move(*program));
  EXPECT_TRUE(graph.has_value());
  return std::move(*graph);
}

template <class T>
Bytes bytes_of(const std::vector<T>& v) {
  Bytes b(v.size() * sizeof(T));
  std::memcpy(b.data(), v.data(), b.size());
  return b;
}

std::vector<float> floats_of(ReadBytes b) {
  std::vector<float> v(b.size() / 4);
  std::memcpy(v.data(), b.data(), v.size() * 4);
  return v;
}

std::vector<std::vector<float>> run(InferenceSession& s, const std::vector<Bytes>& inputs) {
  std::vector<ReadBytes> views(inputs.begin(), inputs.end());
  auto outs = execute(s, views);
  EXPECT_TRUE(outs.has_value());
  std::vector<std::vector<float>> result;
  if (outs) {
    for (ReadBytes o : *outs) result.push_back(floats_of(o));
  }
  return result;
}

TEST(CompileRun, ReshapeOutputPortHasTheReshapedShape) {
  auto s = load_inner(compile(parse("input x: f32[2, 3]\nlet y: f32[6] = reshape(x)\noutput y\n")));
  ASSERT_TRUE(s.has_value());
  ASSERT_EQ(s->outputs.size(), 1u);
  EXPECT_EQ(s->outputs[0].shape, (std::vector<std::uint64_t>{6}));
  EXPECT_EQ(port_byte_length(s->outputs[0]), 24u);
  const std::vector<float> x = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(run(*s, {bytes_of(x)}), std::vector<std::vector<float>>{x});
}

Node op(OpKind kind, std::initializer_list<InputSource> in, ShapeId shape, DTypeId dtype = DTypeId::F32) {
  Node n;
  n.kind = NodeKind::of_op(kind);
  n.inputs = SmallVector<InputSource, 4>(in);
  n.shape = shape;
  n.dtype = dtype;
  return n;
}

ShapeId intern(Graph& g, std::vector<std::uint64_t> dims) {
  ShapeDescriptor d;
  for (std::size_t i = 0; i < dims.size(); ++i) d.dims[i] = dims[i];
  d.rank = static_cast<std::uint8_t>(dims.size());
  return g.shapes.intern(d);
}

NodeId add_input(Graph& g, std::string name, ShapeId shape, DTypeId dtype = DTypeId::F32) {
  Node n;
  n.kind = NodeKind::graph_input();
  n.shape = shape;
  n.dtype = dtype;
  const NodeId id = g.add_node(n);
  g.input_nodes.push_back(id);
  g.input_names.push_back(std::move(name));
  return id;
}

void add_output(Graph& g, std::string name, NodeId from) {
  Node n;
  n.kind = NodeKind::graph_output();
  n.inputs.push_back(InputSource::node(from));
  g.output_nodes.push_back(g.add_node(n));
  g.output_names.push_back(std::move(name));
}

TEST(CompileRun, SliceReadsTheCompletedWindow) {
  Graph g;
  const NodeId x = add_input(g, "x", intern(g, {4, 3}));
  const ShapeId one = intern(g, {1});
  const auto start = g.constants.insert(ConstantEntry{bytes_of(std::vector<std::int64_t>{1}), one, DTypeId::I64});
  const auto end = g.constants.insert(ConstantEntry{bytes_of(std::vector<std::int64_t>{3}), one, DTypeId::I64});
  const NodeId y = g.add_node(op(OpKind::Slice,
                                 {InputSource::node(x), InputSource::constant(start), InputSource::constant(end)},
                                 intern(g, {2, 3})));
  add_output(g, "y", y);
  auto s = load_inner(compile(std::move(g)));
  ASSERT_TRUE(s.has_value());
  const std::vector<float> in = {0, 1, 2, 10, 11, 12, 20, 21, 22, 30, 31, 32};
  EXPECT_EQ(run(*s, {bytes_of(in)}), (std::vector<std::vector<float>>{{10, 11, 12, 20, 21, 22}}));
}

TEST(CompileRun, DeferredCacheWriteRunsAfterTheOtherWaves) {
  Graph g;
  const NodeId cache = add_input(g, "cache", intern(g, {1, 2, 4, 2}));
  const NodeId fresh = add_input(g, "new", intern(g, {1, 2, 1, 2}));
  const NodeId pos = add_input(g, "pos", intern(g, {1}), DTypeId::I32);
  const NodeId w = g.add_node(op(OpKind::KvCacheWrite,
                                 {InputSource::node(cache), InputSource::node(fresh), InputSource::node(pos)},
                                 intern(g, {1, 2, 4, 2})));
  const NodeId flat = g.add_node(op(OpKind::Reshape, {InputSource::node(fresh)}, intern(g, {4})));
  add_output(g, "cache_out", w);
  add_output(g, "flat", flat);
  auto s = load_inner(compile(std::move(g)));
  ASSERT_TRUE(s.has_value());
  ASSERT_EQ(s->calls.size(), 2u);
  EXPECT_EQ(s->calls[1].kind(), CallKind::KvCacheWrite);
  std::vector<float> c(16);
  for (int i = 0; i < 16; ++i) c[i] = static_cast<float>(i);
  const std::vector<float> n = {100, 101, 200, 201};
  const auto out = run(*s, {bytes_of(c), bytes_of(n), bytes_of(std::vector<std::int32_t>{2})});
  std::vector<float> expect = c;
  expect[4] = 100;  // group 0, row 2
  expect[5] = 101;
  expect[12] = 200;  // group 1, row 2
  expect[13] = 201;
  EXPECT_EQ(out, (std::vector<std::vector<float>>{expect, n}));
}

}  // namespace
}  // namespace tessary
