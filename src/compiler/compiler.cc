#include "compiler/compiler.h"

#include <atomic>
#include <utility>
#include <vector>

#include "compiler/completeness.h"
#include "compiler/compiler_stages.h"
#include "compiler/lower.h"
#include "compiler/lower_completion.h"
#include "compiler/lower_shape_args.h"
#include "compiler/operand_info.h"
#include "graph/passes.h"
#include "ops/op_emitters.h"

namespace tessary {

using namespace compiler_detail;

namespace {

// Distinct per compiler, so the cache's bucket spread differs between
// compilers; never visible in any output.
std::uint64_t next_hash_seed() {
  static std::atomic<std::uint64_t> counter{0};
  return (counter.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull;
}

// scale_count, scale_divisor and codebook of a dequantize node.
DequantInputs dequant_inputs(const Graph& graph, const Node& node, std::optional<QuantAttrs> quant) {
  DequantInputs d;
  const std::int32_t axis = quant ? quant->axis : -1;
  if (const ShapeDescriptor* q = operand_shape(graph, node, 0); q != nullptr && axis >= 0) {
    const auto ax = static_cast<std::size_t>(axis);
    if (ax < q->rank && ax < 8) {
      d.scale_count = q->dims[ax] > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(q->dims[ax]);
    }
    std::uint64_t divisor = 1;
    for (std::size_t i = ax + 1; i < q->rank && i < 8; ++i) {
      divisor = (q->dims[i] != 0 && divisor > UINT64_MAX / q->dims[i]) ? UINT64_MAX : divisor * q->dims[i];
    }
    d.scale_divisor = divisor > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(divisor);
  }
  if (node.inputs.size() >= 4 && node.inputs[3].tag == InputSourceTag::Constant) {
    if (const ConstantEntry* c = graph.constants.get(node.inputs[3].payload)) {
      const auto slot = static_cast<std::uint32_t>(graph.nodes.size()) + node.inputs[3].payload;
      d.codebook = BufferRef{0, c->bytes.size(), slot};
    }
  }
  return d;
}

}  // namespace

Compiler::Compiler(Graph graph, std::uint32_t target, std::uint32_t width)
    : Compiler(std::move(graph), target, width, next_hash_seed()) {}

Compiler::Compiler(Graph graph, std::uint32_t target, std::uint32_t width, std::uint64_t hash_seed)
    : graph_(std::move(graph)), cache_(hash_seed), hash_seed_(hash_seed), width_(width), target_(target) {}

CompileResult<Bytes> Compiler::compile() {
  if (consumed_) return std::unexpected(CompileError::with_message("compiler: graph already compiled"));
  consumed_ = true;
  Graph graph = std::move(graph_);

  // Stage 1: quantized-weight declarations, before anything is rewritten.
  if (auto r = preflight_output_major(graph); !r) return std::unexpected(r.error());

  // Stage 2: the graph passes, always in this order.
  desugar_composites(graph);
  elide_invariants(graph);
  compute_schedule(graph);

  // Stages 3 and 4: buffer sizes and plan levels.
  const std::vector<std::uint64_t> sizes = node_byte_sizes(graph);
  const std::vector<std::vector<NodeId>> levels = plan_levels(graph);

  // Stage 5: certificates and kernel calls, level by level, so calls, groups
  // and certificate records all come out in plan order.
  const std::optional<Digest> digest = completeness_digest(width_);
  const std::string_view target_name = compile_target_name(target_);
  ArchiveParts parts;
  parts.replacements.resize(graph.constants.size());
  TermArena arena;
  std::vector<BufferRef> refs;
  for (const std::vector<NodeId>& level : levels) {
    PlanStep group;
    for (NodeId id : level) {
      if (id >= graph.nodes.size() || !graph.nodes[id].kind.is_op()) continue;
      const Node& node = graph.nodes[id];
      const OpKind kind = node.kind.op;

      // The completeness digest is defined for 16-bit widths only; a wider
      // width fails certification like an emitter that runs out of room.
      if (!emit_node_terms(kind, width_, arena) || !digest) return std::unexpected(CompileError::op_emitter());
      const CachedCertificate& cert = cache_.lookup_or_insert(
          certificate_key(kind, width_, target_name),
          CachedCertificate{*digest, static_cast<std::uint16_t>(width_), 32});

      refs.clear();
      for (const InputSource& in : node.inputs) refs.push_back(operand_buffer(graph, sizes, in));
      refs.push_back(BufferRef{0, sizes[id], id});

      CompileResult<ShapeArgs> args = ShapeArgs::from_graph(graph, id, node);
      if (!args) return std::unexpected(args.error());
      NodeAttrs attrs = NodeAttrs::from_graph(graph, id, width_);
      if (kind == OpKind::Dequantize) attrs.dequant = dequant_inputs(graph, node, attrs.quant);
      CompileResult<KernelCall> call = lower::lower(refs, *args, node, attrs);
      if (!call) return std::unexpected(call.error());
      if (auto r = complete_call(*call, graph, id, node); !r) return std::unexpected(r.error());

      group.push_back(static_cast<std::uint32_t>(parts.calls.size()));
      parts.calls.push_back(std::move(*call));
      parts.certificates.push_back(certificate_record(cert));
    }
    if (!group.empty()) parts.plan.push_back(std::move(group));
  }

  // Stages 6 to 9: rewrites of the call list.
  fuse_output_major_dequant(parts.calls, parts.plan, graph, sizes, parts.replacements);
  pack_constant_matmul_operands(parts.calls, graph, sizes, parts.replacements);

  // Stage 10: the archive.
  return write_archive(graph, std::move(parts));
}

}  // namespace tessary
