// elide_invariants and identity_fill.
//
// Replacement table (operands after rewriting):
//   neg, bnot  one operand naming a new op node of the same kind -> that
//              node's first operand
//   add        two operands; first all +0.0 -> second; else second all +0.0
//              -> first
//   sub        two operands; second all +0.0 -> first
//   mul        two operands; first all 1.0 -> second; else second all 1.0
//              -> first
//   div, pow   two operands; second all 1.0 -> first
//   reshape    first operand names a node with the same shape identifier ->
//              that operand; else first operand names a reshape -> a new
//              reshape of the inner one's first operand
#include <optional>
#include <utility>
#include <vector>

#include "graph/passes.h"
#include "graph/passes_renumber.h"

namespace tessary {

namespace {

// Every element of `bytes` (elements of `width` bytes, little-endian) has
// the bit pattern `pattern`.
bool all_elements_are(const std::vector<std::uint8_t>& bytes, std::size_t width, std::uint32_t pattern) {
  for (std::size_t at = 0; at < bytes.size(); at += width) {
    std::uint32_t v = 0;
    for (std::size_t b = 0; b < width; ++b) v |= static_cast<std::uint32_t>(bytes[at + b]) << (8 * b);
    if (v != pattern) return false;
  }
  return true;
}

}  // namespace

IdentityFill identity_fill(const Graph& graph, InputSource operand) {
  std::optional<ConstantId> index;
  if (operand.tag == InputSourceTag::Constant) {
    index = operand.payload;
  } else if (operand.tag == InputSourceTag::Node) {
    const Node* n = graph.node(operand.payload);
    if (n != nullptr && n->kind.tag == NodeTag::Constant) index = n->kind.constant;
  }
  if (!index) return IdentityFill::Other;
  const ConstantEntry* c = graph.constants.get(*index);
  if (c == nullptr) return IdentityFill::Other;

  std::size_t width = 0;
  std::uint32_t one = 0;
  switch (c->dtype) {
    case DTypeId::F16: width = 2; one = 0x3C00; break;
    case DTypeId::BF16: width = 2; one = 0x3F80; break;
    case DTypeId::F32: width = 4; one = 0x3F800000; break;
    default: return IdentityFill::Other;
  }
  if (c->bytes.empty() || c->bytes.size() % width != 0) return IdentityFill::Other;
  // Bit patterns, not values: -0.0 is not an additive identity for +0.0
  // operands (-0.0 + -0.0 is -0.0), so only +0.0 counts as zero.
  if (all_elements_are(c->bytes, width, 0)) return IdentityFill::Zeros;
  if (all_elements_are(c->bytes, width, one)) return IdentityFill::Ones;
  return IdentityFill::Other;
}

std::size_t elide_invariants(Graph& graph) {
  const std::size_t old_count = graph.nodes.size();
  std::vector<Node> old = std::move(graph.nodes);
  graph.nodes.clear();
  graph.nodes.reserve(old_count);
  // entry[i]: what now stands for old node i, a node or a constant.
  std::vector<InputSource> entry(old_count);
  // Old nodes replaced by one of their operands have no node of their own.
  std::vector<bool> dropped(old_count, false);
  for (std::size_t i = 0; i < old_count; ++i) entry[i] = InputSource::node(static_cast<NodeId>(i));

  auto fill = [&](InputSource in) { return identity_fill(graph, in); };
  auto new_op = [&](InputSource in, OpKind kind) -> const Node* {
    if (in.tag != InputSourceTag::Node) return nullptr;
    const Node* n = graph.node(in.payload);
    return n != nullptr && n->kind.is_op(kind) ? n : nullptr;
  };

  std::size_t replaced = 0;
  for (std::size_t i = 0; i < old_count; ++i) {
    Node node = std::move(old[i]);
    for (InputSource& in : node.inputs) {
      if (in.tag == InputSourceTag::Node && in.payload < old_count) in = entry[in.payload];
    }

    std::optional<InputSource> replacement;
    std::optional<Node> fresh;  // a node built in place of this one
    if (node.kind.is_op()) {
      const auto& ins = node.inputs;
      const bool two = ins.size() == 2;
      switch (node.kind.op) {
        case OpKind::Neg:
        case OpKind::Bnot:
          if (ins.size() == 1) {
            const Node* inner = new_op(ins[0], node.kind.op);
            if (inner != nullptr && !inner->inputs.empty()) replacement = inner->inputs[0];
          }
          break;
        case OpKind::Add:
          if (two && fill(ins[0]) == IdentityFill::Zeros) {
            replacement = ins[1];
          } else if (two && fill(ins[1]) == IdentityFill::Zeros) {
            replacement = ins[0];
          }
          break;
        case OpKind::Sub:
          if (two && fill(ins[1]) == IdentityFill::Zeros) replacement = ins[0];
          break;
        case OpKind::Mul:
          if (two && fill(ins[0]) == IdentityFill::Ones) {
            replacement = ins[1];
          } else if (two && fill(ins[1]) == IdentityFill::Ones) {
            replacement = ins[0];
          }
          break;
        case OpKind::Div:
        case OpKind::Pow:
          if (two && fill(ins[1]) == IdentityFill::Ones) replacement = ins[0];
          break;
        case OpKind::Reshape:
          if (!ins.empty() && ins[0].tag == InputSourceTag::Node) {
            const Node* src = graph.node(ins[0].payload);
            if (src != nullptr && src->shape == node.shape) {
              replacement = ins[0];
            } else if (src != nullptr && src->kind.is_op(OpKind::Reshape) && !src->inputs.empty()) {
              Node n;
              n.inputs.push_back(src->inputs[0]);
              n.kind = NodeKind::of_op(OpKind::Reshape);
              n.shape = node.shape;
              n.dtype = node.dtype;
              fresh = std::move(n);
            }
          }
          break;
        default:
          break;
      }
    }

    if (replacement) {
      entry[i] = *replacement;
      dropped[i] = true;
      ++replaced;
    } else if (fresh) {
      entry[i] = InputSource::node(graph.add_node(std::move(*fresh)));
      ++replaced;
    } else {
      entry[i] = InputSource::node(graph.add_node(std::move(node)));
    }
  }

  passes_detail::renumber_graph(graph, [&](NodeId id) -> std::optional<NodeId> {
    if (id >= old_count || dropped[id] || entry[id].tag != InputSourceTag::Node) return std::nullopt;
    return entry[id].payload;
  });
  // Node ids moved, so a schedule computed before would name the wrong nodes.
  if (replaced != 0) graph.schedule.reset();
  return replaced;
}

}  // namespace tessary
