#include "compiler/source/source_document.h"

#include <utility>

namespace tessary {

SourceDocument SourceDocument::single(SourceProgram program) {
  SourceDocument doc;
  doc.graphs.push_back(SourceGraph{std::move(program), std::nullopt});
  return doc;
}

std::expected<SourceProgram, SourceDiagnostic> select_diagnostic(SourceDocument document,
                                                                 std::optional<std::string_view> selector) {
  auto& graphs = document.graphs;
  if (!selector) {
    if (graphs.empty()) return std::unexpected(SourceDiagnostic::unplaced(kSourceGraphMissing));
    if (graphs.size() > 1) return std::unexpected(SourceDiagnostic::unplaced(kSourceGraphAmbiguous));
    return std::move(graphs.front().program);
  }
  auto named = [&](const SourceGraph& g) { return g.name && *g.name == *selector; };
  for (std::size_t k = 0; k < graphs.size(); ++k) {
    if (!named(graphs[k])) continue;
    for (std::size_t j = k + 1; j < graphs.size(); ++j) {
      if (named(graphs[j])) return std::unexpected(SourceDiagnostic::unplaced(kSourceGraphAmbiguous));
    }
    return std::move(graphs[k].program);
  }
  return std::unexpected(SourceDiagnostic::unplaced(kSourceGraphNotFound));
}

}  // namespace tessary
