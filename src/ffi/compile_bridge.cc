#include "ffi/compile_bridge.h"

#include "compiler/compiler.h"

namespace tessary::ffi {

std::optional<Bytes> compile_graph(Graph graph) {
  Compiler compiler(std::move(graph), kDefaultCompileTarget, kDefaultCompileWidth);
  auto bytes = compiler.compile();
  if (!bytes) return std::nullopt;
  return std::move(*bytes);
}

}  // namespace tessary::ffi
