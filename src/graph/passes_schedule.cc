#include <algorithm>
#include <vector>

#include "graph/passes.h"

namespace tessary {

void compute_schedule(Graph& graph) {
  const std::size_t count = graph.nodes.size();
  std::vector<std::uint32_t> level(count, 0);
  std::uint32_t deepest = 0;
  for (std::size_t i = 0; i < count; ++i) {
    bool has_earlier = false;
    std::uint32_t above = 0;
    for (const InputSource& in : graph.nodes[i].inputs) {
      // Constants, graph-input references and operands that do not name an
      // earlier node do not order this node.
      if (in.tag != InputSourceTag::Node || in.payload >= i) continue;
      has_earlier = true;
      above = std::max(above, level[in.payload]);
    }
    level[i] = has_earlier ? above + 1 : 0;
    deepest = std::max(deepest, level[i]);
  }

  std::vector<Wave> waves;
  if (count != 0) {
    // A node at level L > 0 has an operand at level L - 1, so every level up
    // to the deepest holds at least one node.
    waves.resize(static_cast<std::size_t>(deepest) + 1);
    for (std::size_t i = 0; i < count; ++i) waves[level[i]].push_back(static_cast<NodeId>(i));
  }
  graph.schedule = std::move(waves);
}

}  // namespace tessary
