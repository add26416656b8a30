#pragma once
// Graph: the compiler's program between the source IR and kernel calls.
// Nodes are only appended and a node's NodeId is its position; operands name
// earlier nodes or constants. Attributes live in eight side tables keyed by
// NodeId so that nodes stay small and passes can renumber them in one place.
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "graph/attrs.h"
#include "graph/constant_store.h"
#include "graph/node.h"
#include "graph/shape_registry.h"
#include "graph/small_vector.h"

namespace tessary {

// One side table: at most one (node, record) pair per node.
template <class R>
using AttrTable = std::vector<std::pair<NodeId, R>>;

// Nodes of one schedule wave, ascending.
using Wave = SmallVector<NodeId, 16>;

struct Graph {
  std::vector<Node> nodes;
  std::vector<std::string> input_names;   // one per graph input, declaration order
  std::vector<std::string> output_names;  // one per graph output, declaration order
  ConstantStore constants;
  ShapeRegistry shapes;

  AttrTable<QuantAttrs> quant_table;
  AttrTable<ConvAttrs> conv_table;
  AttrTable<LrnAttrs> lrn_table;
  AttrTable<GemmAttrs> gemm_table;
  AttrTable<NormAttrs> norm_table;
  AttrTable<ReduceAttrs> reduce_table;
  AttrTable<GatherAttrs> gather_table;
  AttrTable<AttentionAttrs> attention_table;

  // Free-form metadata that no producer in this library fills; kept so that
  // a graph can carry it through the passes unchanged.
  std::uint64_t counter = 0;
  std::vector<std::pair<std::string, std::string>> text_pairs;

  std::optional<std::vector<Wave>> schedule;  // absent until scheduled

  SmallVector<NodeId, 8> input_nodes;   // graph input nodes, declaration order
  SmallVector<NodeId, 8> output_nodes;  // graph output nodes, declaration order

  // Appends and returns the new node's position.
  NodeId add_node(Node node);

  std::span<const NodeId> inputs() const { return input_nodes.span(); }
  std::span<const NodeId> outputs() const { return output_nodes.span(); }

  // nullptr when `id` is out of range.
  const Node* node(NodeId id) const { return id < nodes.size() ? &nodes[id] : nullptr; }

  // Setters replace the node's record in place when the table has one, and
  // append otherwise.
  void set_quant_attrs(NodeId node, const QuantAttrs& attrs);
  void set_conv_attrs(NodeId node, const ConvAttrs& attrs);
  void set_lrn_attrs(NodeId node, const LrnAttrs& attrs);
  void set_gemm_attrs(NodeId node, const GemmAttrs& attrs);
  void set_norm_attrs(NodeId node, const NormAttrs& attrs);
  void set_reduce_attrs(NodeId node, const ReduceAttrs& attrs);
  void set_gather_attrs(NodeId node, const GatherAttrs& attrs);
  void set_attention_attrs(NodeId node, const AttentionAttrs& attrs);

  // Getters return the first record for the node in table order.
  std::optional<QuantAttrs> quant_attrs(NodeId node) const;
  std::optional<ConvAttrs> conv_attrs(NodeId node) const;
  std::optional<LrnAttrs> lrn_attrs(NodeId node) const;
  std::optional<GemmAttrs> gemm_attrs(NodeId node) const;
  std::optional<NormAttrs> norm_attrs(NodeId node) const;
  std::optional<GatherAttrs> gather_attrs(NodeId node) const;
  // These two report a missing record in the record itself: keepdims 2 with
  // mask 0, and causal 2 with scale bits 0.
  ReduceAttrs reduce_attrs(NodeId node) const;
  AttentionAttrs attention_attrs(NodeId node) const;

  // Calls f(table) for each of the eight side tables, in table order; for
  // passes that renumber or drop nodes.
  template <class F>
  void for_each_attr_table(F&& f) {
    f(quant_table);
    f(conv_table);
    f(lrn_table);
    f(gemm_table);
    f(norm_table);
    f(reduce_table);
    f(gather_table);
    f(attention_table);
  }
};

}  // namespace tessary
