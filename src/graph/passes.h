#pragma once
// The graph passes run before kernel lowering, always in this order:
// desugar_composites rewrites the composite ops into primitive ones,
// elide_invariants drops nodes that provably return an operand unchanged, and
// compute_schedule groups the nodes into dependency waves.
//
// The two rewriting passes build a new node array in one forward sweep and
// renumber every NodeId held elsewhere in the graph (input and output lists,
// the eight attribute side tables) with it.
#include <cstddef>
#include <cstdint>

#include "graph/graph.h"

namespace tessary {

// fused_swiglu(x, w_gate, w_up, ...) becomes mul(silu(matmul(x, w_gate)),
// matmul(x, w_up)) and clip(x, lo, hi, ...) becomes min(max(x, lo), hi); the
// same kinds with two operands or fewer stay. Returns the number of nodes
// rewritten. When nothing qualifies the graph is left untouched, schedule
// included; otherwise the schedule is cleared.
std::size_t desugar_composites(Graph& graph);

// What identity_fill reports about an operand.
enum class IdentityFill : std::uint8_t { Zeros = 0, Ones = 1, Other = 2 };

// Whether the operand is a float constant (f16, bf16 or f32) whose every
// element is +0.0 or whose every element is 1.0, compared as bit patterns.
// A constant operand counts, and so does a node operand naming a constant
// node; anything else is Other.
IdentityFill identity_fill(const Graph& graph, InputSource operand);

// Replaces double negations, additions of zeros, multiplications and
// divisions by ones and redundant reshapes by the operand they return (see
// passes_elide.cc for the table). Returns the number of nodes replaced.
std::size_t elide_invariants(Graph& graph);

// Replaces the schedule: wave L holds, in ascending order, the nodes whose
// longest chain of earlier operand nodes has length L. An empty graph gets a
// present, empty schedule.
void compute_schedule(Graph& graph);

}  // namespace tessary
