// Stage 9: B-panel packing of constant matmul operands. A constant right-hand
// matrix read by exactly one f32 matmul is stored in the 16-column panel
// layout the matmul engine streams, so no run ever packs it again. A
// constant that other calls also read stays row-major for them, and so does
// one a graph output reads (after elision an output can name a constant
// directly): the caller must get the matrix, not its panels.
#include "compiler/compiler_stages.h"
#include "compute/packed_b.h"

namespace tessary::compiler_detail {

void pack_constant_matmul_operands(std::vector<KernelCall>& calls, const Graph& graph,
                                   std::span<const std::uint64_t> sizes, ConstantReplacements& replacements) {
  const std::size_t node_count = graph.nodes.size();
  const std::size_t slot_count = node_count + graph.constants.size();
  const SlotUses uses = SlotUses::count(calls, slot_count);
  const std::vector<bool> keep = output_slots(graph, sizes);
  for (KernelCall& call : calls) {
    MatmulCall* mm = call.get_if<MatmulCall>();
    if (mm == nullptr || mm->kind != CallKind::Matmul || mm->dtype != DTypeId::F32 || mm->packed) continue;
    const std::uint32_t slot = mm->b.slot;
    if (slot == kSlotNone || slot < node_count || slot >= slot_count || uses.total[slot] != 1 || keep[slot]) continue;
    const std::size_t j = slot - node_count;
    const ConstantEntry* b = graph.constants.get(static_cast<ConstantId>(j));
    const std::uint64_t expected = static_cast<std::uint64_t>(mm->k) * mm->n * 4;
    if (b == nullptr || b->bytes.size() != expected) continue;
    std::optional<std::vector<std::uint8_t>> packed = pack_b_panels_bytes(b->bytes, mm->k, mm->n, 4);
    if (!packed) continue;
    mm->b.len = packed->size();
    mm->packed = true;
    replacements[j] = std::move(*packed);
  }
}

}  // namespace tessary::compiler_detail
