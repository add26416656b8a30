#include "compiler/source/lowering.h"

#include <array>

#include <string_view>
#include <unordered_map>
#include <utility>

#include "compiler/source/external_constant.h"
#include "compiler/source/shape_inference.h"

namespace tessary {

namespace {

CompileError fail(std::string_view message) { return CompileError::with_message(message); }

// Element counts of 2^62 or more would not fit 64 bits once multiplied by 4.
constexpr std::uint64_t kMaxConstElements = std::uint64_t{1} << 62;

enum class BindingKind : std::uint8_t { Node = 0, Constant = 1 };

struct Bound {
  BindingKind kind;
  std::uint32_t index;
};

class Lowering {
 public:
  explicit Lowering(const std::vector<std::string>& names) : names_(names) {}

  CompileResult<Graph> run(std::vector<SourceItem>& items) {
    for (SourceItem& item : items) {
      auto step = std::visit([this](auto& it) { return lower(it); }, item);
      if (!step) return std::unexpected(step.error());
    }
    return std::move(graph_);
  }

 private:
  using Step = CompileResult<void>;

  bool names_symbol(SourceSymbol s) const { return s < names_.size(); }

  // Names are single-assignment across inputs, constants and op results.
  Step bind(SourceSymbol symbol, BindingKind kind, std::uint32_t index) {
    if (!bindings_.emplace(symbol, Bound{kind, index}).second) {
      return std::unexpected(fail("source: duplicate name"));
    }
    return {};
  }

  ShapeId intern_shape(const std::optional<SourceShape>& shape) {
    return shape ? graph_.shapes.intern(shape->descriptor()) : 0;
  }

  Step lower(SourceInput& item) {
    if (!names_symbol(item.name)) return std::unexpected(fail("source: bad symbol"));
    Node node;
    node.kind = NodeKind::graph_input();
    node.dtype = item.shape ? item.shape->dtype : DTypeId::F32;
    node.shape = intern_shape(item.shape);
    NodeId id = graph_.add_node(std::move(node));
    graph_.input_nodes.push_back(id);
    graph_.input_names.push_back(names_[item.name]);
    return bind(item.name, BindingKind::Node, id);
  }

  Step lower(SourceConst& item) {
    if (!item.shape) return std::unexpected(fail("const: missing shape"));
    if (item.shape->total_elements() != item.value_count) {
      return std::unexpected(fail("const: value count mismatch"));
    }
    auto expected = expected_byte_len(item.shape);
    if (!expected) return std::unexpected(expected.error());
    if (item.bytes.size() != *expected) return std::unexpected(fail("const: byte count mismatch"));
    return add_constant(item.name, *item.shape, std::move(item.bytes));
  }

  Step lower(SourceExternalConst& item) {
    auto expected = expected_byte_len(item.shape);
    if (!expected) return std::unexpected(expected.error());
    if (*expected != item.byte_len) return std::unexpected(fail("external const: byte len mismatch"));
    auto bytes = read_external_constant(item, *expected);
    if (!bytes) return std::unexpected(bytes.error());
    return add_constant(item.name, *item.shape, std::move(*bytes));
  }

  Step add_constant(SourceSymbol name, const SourceShape& shape, std::vector<std::uint8_t> bytes) {
    ShapeId shape_id = graph_.shapes.intern(shape.descriptor());
    ConstantId index = graph_.constants.insert(ConstantEntry{std::move(bytes), shape_id, shape.dtype});
    return bind(name, BindingKind::Constant, index);
  }

  Step lower(SourceBinding& binding) {
    const OpCall* call = binding.op_call();
    if (call == nullptr) return std::unexpected(fail("binding: unsupported expr"));
    Node node;
    for (SourceSymbol input : call->inputs) {
      auto it = bindings_.find(input);
      if (it == bindings_.end()) return std::unexpected(fail("op: unresolved input"));
      node.inputs.push_back(it->second.kind == BindingKind::Node ? InputSource::node(it->second.index)
                                                                : InputSource::constant(it->second.index));
    }
    node.kind = NodeKind::of_op(call->kind);
    node.dtype = DTypeId::F32;
    if (call->result_shape) {
      node.shape = intern_shape(call->result_shape);
    } else {
      node.shape = infer_shape(*call, node);
    }
    NodeId id = graph_.add_node(std::move(node));
    if (call->quant) graph_.set_quant_attrs(id, *call->quant);
    if (call->conv) graph_.set_conv_attrs(id, *call->conv);
    if (call->lrn) graph_.set_lrn_attrs(id, *call->lrn);
    if (call->gemm) graph_.set_gemm_attrs(id, *call->gemm);
    if (call->norm) graph_.set_norm_attrs(id, *call->norm);
    if (call->reduce.keepdims != kAttrAbsent) graph_.set_reduce_attrs(id, call->reduce);
    if (call->gather) graph_.set_gather_attrs(id, *call->gather);
    if (call->attention.causal != kAttrAbsent) graph_.set_attention_attrs(id, call->attention);
    if (binding.result_name()) return bind(*binding.result_name(), BindingKind::Node, id);
    return {};
  }

  // The shape registered for an op result that declares none: inferred from
  // the operands where they determine it, else identifier 0 as before. An
  // inferred shape equal to an operand's reuses that operand's identifier.
  ShapeId infer_shape(const OpCall& call, const Node& node) {
    std::array<const ShapeDescriptor*, 8> shapes{};
    std::array<ShapeId, 8> ids{};
    const std::size_t count = std::min<std::size_t>(node.inputs.size(), shapes.size());
    for (std::size_t i = 0; i < count; ++i) {
      const InputSource& src = node.inputs[i];
      if (src.tag == InputSourceTag::Node && src.payload < graph_.nodes.size()) {
        ids[i] = graph_.nodes[src.payload].shape;
      } else if (const ConstantEntry* c =
                     src.tag == InputSourceTag::Constant ? graph_.constants.get(src.payload) : nullptr) {
        ids[i] = c->shape;
      } else {
        continue;
      }
      shapes[i] = graph_.shapes.get(ids[i]);
    }
    auto inferred = infer_result_shape(call.kind, std::span(shapes.data(), count), call.reduce);
    if (!inferred) return 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (shapes[i] != nullptr && *shapes[i] == *inferred) return ids[i];
    }
    return graph_.shapes.intern(*inferred);
  }

  Step lower(SourceOutput& item) {
    SourceSymbol port_name = item.alias ? *item.alias : item.source;
    if (!names_symbol(port_name)) return std::unexpected(fail("source: bad symbol"));
    auto it = bindings_.find(item.source);
    if (it == bindings_.end() || it->second.kind != BindingKind::Node) {
      return std::unexpected(fail("output: unknown/!node source"));
    }
    Node node;
    node.inputs.push_back(InputSource::node(it->second.index));
    node.kind = NodeKind::graph_output();
    node.dtype = DTypeId::F32;
    node.shape = 0;
    NodeId id = graph_.add_node(std::move(node));
    graph_.output_nodes.push_back(id);
    graph_.output_names.push_back(names_[port_name]);
    return {};
  }

  const std::vector<std::string>& names_;
  Graph graph_;
  std::unordered_map<SourceSymbol, Bound> bindings_;
};

}  // namespace

CompileResult<std::uint64_t> expected_byte_len(const std::optional<SourceShape>& shape) {
  if (!shape) return std::unexpected(fail("const: missing shape"));
  if (shape->dtype != DTypeId::F32) return std::unexpected(fail("const: unsupported dtype"));
  std::uint64_t count = shape->total_elements();
  if (count >= kMaxConstElements) return std::unexpected(fail("const: byte count overflow"));
  return count * 4;
}

CompileResult<Graph> lower_ir(const SourceProgram& program) { return lower_program(program); }

CompileResult<Graph> lower_program(SourceProgram program) {
  Lowering lowering(program.names());
  return lowering.run(program.items());
}

}  // namespace tessary
