#include "graph/graph.h"

namespace tessary {

namespace {

template <class R>
void set_in(AttrTable<R>& table, NodeId node, const R& attrs) {
  for (auto& [id, record] : table) {
    if (id == node) {
      record = attrs;
      return;
    }
  }
  table.emplace_back(node, attrs);
}

template <class R>
std::optional<R> get_in(const AttrTable<R>& table, NodeId node) {
  for (const auto& [id, record] : table) {
    if (id == node) return record;
  }
  return std::nullopt;
}

}  // namespace

NodeId Graph::add_node(Node node) {
  nodes.push_back(std::move(node));
  return static_cast<NodeId>(nodes.size() - 1);
}

void Graph::set_quant_attrs(NodeId node, const QuantAttrs& attrs) { set_in(quant_table, node, attrs); }
void Graph::set_conv_attrs(NodeId node, const ConvAttrs& attrs) { set_in(conv_table, node, attrs); }
void Graph::set_lrn_attrs(NodeId node, const LrnAttrs& attrs) { set_in(lrn_table, node, attrs); }
void Graph::set_gemm_attrs(NodeId node, const GemmAttrs& attrs) { set_in(gemm_table, node, attrs); }
void Graph::set_norm_attrs(NodeId node, const NormAttrs& attrs) { set_in(norm_table, node, attrs); }
void Graph::set_reduce_attrs(NodeId node, const ReduceAttrs& attrs) { set_in(reduce_table, node, attrs); }
void Graph::set_gather_attrs(NodeId node, const GatherAttrs& attrs) { set_in(gather_table, node, attrs); }
void Graph::set_attention_attrs(NodeId node, const AttentionAttrs& attrs) {
  set_in(attention_table, node, attrs);
}

std::optional<QuantAttrs> Graph::quant_attrs(NodeId node) const { return get_in(quant_table, node); }
std::optional<ConvAttrs> Graph::conv_attrs(NodeId node) const { return get_in(conv_table, node); }
std::optional<LrnAttrs> Graph::lrn_attrs(NodeId node) const { return get_in(lrn_table, node); }
std::optional<GemmAttrs> Graph::gemm_attrs(NodeId node) const { return get_in(gemm_table, node); }
std::optional<NormAttrs> Graph::norm_attrs(NodeId node) const { return get_in(norm_table, node); }
std::optional<GatherAttrs> Graph::gather_attrs(NodeId node) const { return get_in(gather_table, node); }

ReduceAttrs Graph::reduce_attrs(NodeId node) const {
  if (auto r = get_in(reduce_table, node)) return *r;
  return ReduceAttrs{0, kAttrAbsent};
}

AttentionAttrs Graph::attention_attrs(NodeId node) const {
  if (auto r = get_in(attention_table, node)) return *r;
  return AttentionAttrs{0, kAttrAbsent};
}

}  // namespace tessary
