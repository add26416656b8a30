#pragma once
// The stages of Compiler::compile, one function per stage (or stage pair),
// and the records passed between them. Internal to src/compiler.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "archive/bytes.h"
#include "archive/certificates.h"
#include "archive/plan_steps.h"
#include "compiler/source/compile_error.h"
#include "compute/kernel_call.h"
#include "graph/graph.h"

namespace tessary::compiler_detail {

// Rewritten bytes per graph constant (repacked weights, packed B panels);
// written in place of the graph's bytes.
using ConstantReplacements = std::vector<std::optional<Bytes>>;

// Stage 1. Checks every dequantize node that declares OUTPUT_MAJOR weights.
CompileResult<void> preflight_output_major(const Graph& graph);

// Stage 3. Bytes of every node's output: elements by the storage rule of its
// element type (saturating), 0 for a shape identifier out of range.
std::vector<std::uint64_t> node_byte_sizes(const Graph& graph);

// Stage 4. The schedule's waves as plan levels, with every kv_cache_write
// whose result no op reads moved to one final level.
std::vector<std::vector<NodeId>> plan_levels(const Graph& graph);

// Buffer identities: node i is slot i, constant j slot (node count + j), a
// graph-input operand the slot of its input node. A reference to nothing is
// (0, 0, slot 0).
BufferRef operand_buffer(const Graph& graph, std::span<const std::uint64_t> sizes, InputSource operand);

// The keep-set: per slot, whether a graph output reads it (the output node's
// own slot and its first operand's buffer).
std::vector<bool> output_slots(const Graph& graph, std::span<const std::uint64_t> sizes);

// Stage 6. Per slot: uses, reads (every reference but the output), writes
// (the output) and the last call that reads it.
struct SlotUses {
  std::vector<std::uint32_t> total, reads, writes;
  std::vector<std::optional<std::size_t>> last_reader;

  static SlotUses count(std::span<const KernelCall> calls, std::size_t slot_count);
};

// Stages 6 to 8: folds each dequantize that feeds a small f32 matmul over a
// constant weight into one output-major matmul_dequant, repacking the weight
// into `replacements`, then drops the folded calls and renumbers the plan.
void fuse_output_major_dequant(std::vector<KernelCall>& calls, PlanSteps& plan, const Graph& graph,
                               std::span<const std::uint64_t> sizes, ConstantReplacements& replacements);

// Stage 9. Packs the constant B operand of every f32 matmul that is its
// only user into 16-column panels, unless a graph output reads the constant.
void pack_constant_matmul_operands(std::vector<KernelCall>& calls, const Graph& graph,
                                   std::span<const std::uint64_t> sizes, ConstantReplacements& replacements);

// Stage 10. Fills the archive writer and seals the archive.
struct ArchiveParts {
  std::vector<KernelCall> calls;
  PlanSteps plan;
  std::vector<CertificateRecord> certificates;
  ConstantReplacements replacements;
};
CompileResult<Bytes> write_archive(const Graph& graph, ArchiveParts parts);

}  // namespace tessary::compiler_detail
