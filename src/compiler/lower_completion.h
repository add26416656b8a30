#pragma once
// The completion step after kernel lowering: fills, for the kinds that need
// it, what only the graph gives (operand constants, operand shapes and side
// tables): slice and pad windows, transpose permutations, expand and resize
// dimensions, reduction geometry, gather sizes, cast source types, LRN and
// group-norm parameters and the rotary head dimension.
#include "compiler/source/compile_error.h"
#include "compute/kernel_call.h"
#include "graph/graph.h"

namespace tessary {

// Every refusal is a lowering refusal, which carries no text. Calls of kinds
// without a completion are left as they are.
CompileResult<void> complete_call(KernelCall& call, const Graph& graph, NodeId node_id, const Node& node);

}  // namespace tessary
