#pragma once
// Shared by the rewriting passes: moving the graph's NodeId lists and side
// tables over to a rebuilt node array. Internal to the graph passes.
#include <optional>
#include <type_traits>
#include <utility>

#include "graph/graph.h"

namespace tessary::passes_detail {

// `map(old)` gives the new NodeId of an old node, or nothing when the node
// has no node of its own any more. The input and output lists keep a node
// that maps to nothing unchanged (those nodes are never replaced); a side
// table drops its pair, since the record belonged to a node that is gone.
template <class Map>
void renumber_graph(Graph& graph, Map&& map) {
  auto renumber_list = [&](SmallVector<NodeId, 8>& list) {
    SmallVector<NodeId, 8> out;
    for (NodeId id : list) out.push_back(map(id).value_or(id));
    list = std::move(out);
  };
  renumber_list(graph.input_nodes);
  renumber_list(graph.output_nodes);
  graph.for_each_attr_table([&](auto& table) {
    std::remove_reference_t<decltype(table)> kept;
    kept.reserve(table.size());
    for (auto& [id, record] : table) {
      if (std::optional<NodeId> to = map(id)) kept.emplace_back(*to, record);
    }
    table = std::move(kept);
  });
}

}  // namespace tessary::passes_detail
