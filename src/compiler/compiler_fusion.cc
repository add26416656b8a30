// Stages 6 to 8: the output-major dequantize-matmul fusion and the rebuild of
// the call list after it.
//
// A dequantize D of a constant quantized weight whose only reader is a small
// f32 matmul C (one to four activation rows) becomes part of C: C turns into
// one matmul_dequant over the weight repacked to the output-major layout,
// which the integer GEMV reads column by column, and D is dropped. The checks
// below run in order; the first that fails leaves D and C as they are.
#include <algorithm>

#include "compiler/compiler_stages.h"
#include "compute/quant_tier.h"

namespace tessary::compiler_detail {

namespace {

struct FusionContext {
  const Graph& graph;
  std::size_t node_count;
  std::size_t slot_count;
  const SlotUses& uses;
  const std::vector<bool>& keep;
};

// The constant behind a slot, if the slot is a graph constant's.
const ConstantEntry* constant_of(const FusionContext& cx, std::uint32_t slot, std::size_t* index) {
  if (slot == kSlotNone || slot < cx.node_count || slot >= cx.slot_count) return nullptr;
  *index = slot - cx.node_count;
  return cx.graph.constants.get(static_cast<ConstantId>(*index));
}

bool all_zero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// The fused call for D at index `d`, or nothing. On success the repacked
// weight is stored in `replacements` and the reader's index returned in `c`.
std::optional<MatmulDequantCall> try_fuse(const FusionContext& cx, const DequantizeCall& dq,
                                          std::span<const KernelCall> calls, std::size_t d,
                                          const std::vector<bool>& removed,
                                          const std::vector<std::optional<KernelCall>>& replaced,
                                          ConstantReplacements& replacements, std::size_t* c_index) {
  // 1, 2: a registered tier with an output-major GEMV, activations quantized
  // per token.
  if (!is_quantized_weight_type(dq.quant_dtype) || dq.act_quant != 1) return std::nullopt;
  const QuantTier* tier = quant_tier(dq.quant_dtype);
  if (tier == nullptr || !tier->omajor_gemv) return std::nullopt;

  // 3: per-output-column scales over a constant weight.
  if (dq.scale_count == 0 || !dq.scales.present() || dq.scale_divisor != 1) return std::nullopt;
  std::size_t w_index = 0;
  const ConstantEntry* weight = constant_of(cx, dq.q.slot, &w_index);
  if (weight == nullptr) return std::nullopt;

  // 4: the weight is not an output, not repacked already, and D is its only
  // user.
  if (cx.keep[dq.q.slot] || replacements[w_index] || cx.uses.total[dq.q.slot] != 1) return std::nullopt;

  // 5: D's result is private to one reader C.
  const std::uint32_t mid = dq.output.slot;
  if (mid == kSlotNone || mid >= cx.slot_count || cx.keep[mid]) return std::nullopt;
  if (cx.uses.writes[mid] != 1 || cx.uses.reads[mid] != 1) return std::nullopt;
  const std::optional<std::size_t> reader = cx.uses.last_reader[mid];
  if (!reader || *reader == d || removed[*reader] || replaced[*reader]) return std::nullopt;

  // 6, 7: C is a plain f32 matmul with D's result as B and one to four rows.
  const MatmulCall* mm = calls[*reader].get_if<MatmulCall>();
  if (mm == nullptr || mm->kind != CallKind::Matmul || mm->dtype != DTypeId::F32 || mm->packed) return std::nullopt;
  if (mm->b.slot != mid) return std::nullopt;
  if (mm->m < 1 || mm->m > 4 || mm->k > kExactI32MaxK || mm->n != dq.scale_count) return std::nullopt;

  // 8: symmetric weights: a constant zero-point array of n zeros.
  std::size_t zp_index = 0;
  const ConstantEntry* zp = constant_of(cx, dq.zero_points.slot, &zp_index);
  if (zp == nullptr || zp->bytes.size() != static_cast<std::uint64_t>(mm->n) * 4 || !all_zero(zp->bytes)) {
    return std::nullopt;
  }

  // 9, 10: the tier can lay k out output-major and the bytes are [k, n].
  if (!tier->omajor_k_ok(mm->k)) return std::nullopt;
  const std::optional<std::uint64_t> expected = tier->weight_bytes(mm->k, mm->n);
  if (!expected || weight->bytes.size() != *expected) return std::nullopt;
  std::optional<std::vector<std::uint8_t>> repacked = tier->omajor_repack(weight->bytes, mm->k, mm->n);
  if (!repacked) return std::nullopt;

  // 11: a vector-quantized tier decodes through its codebook.
  BufferRef codebook = BufferRef::absent();
  if (tier->vector_quantized) {
    const std::uint64_t codebook_bytes = static_cast<std::uint64_t>(tier->elems_per_code) * 256;
    if (!dq.codebook.present() || dq.codebook.len != codebook_bytes) return std::nullopt;
    codebook = dq.codebook;
  }

  replacements[w_index] = std::move(*repacked);
  MatmulDequantCall f;
  f.a = mm->a;
  f.w = dq.q;
  f.scales = dq.scales;
  f.zero_points = dq.zero_points;
  f.output = mm->output;
  f.m = mm->m;
  f.k = mm->k;
  f.n = mm->n;
  f.scale_count = dq.scale_count;
  f.scale_divisor = 1;
  f.quant_dtype = dq.quant_dtype;
  f.dtype = DTypeId::F32;
  f.scale = dq.scale;
  f.zero_point = dq.zero_point;
  f.weight_layout = static_cast<std::uint8_t>(WeightLayout::OUTPUT_MAJOR);
  f.act_quant = 1;
  f.act = 0;
  f.addend = BufferRef::absent();
  f.codebook = codebook;
  *c_index = *reader;
  return f;
}

}  // namespace

void fuse_output_major_dequant(std::vector<KernelCall>& calls, PlanSteps& plan, const Graph& graph,
                               std::span<const std::uint64_t> sizes, ConstantReplacements& replacements) {
  const std::size_t node_count = graph.nodes.size();
  const std::size_t slot_count = node_count + graph.constants.size();
  const SlotUses uses = SlotUses::count(calls, slot_count);

  const std::vector<bool> keep = output_slots(graph, sizes);

  const FusionContext cx{graph, node_count, slot_count, uses, keep};
  std::vector<bool> removed(calls.size(), false);
  std::vector<std::optional<KernelCall>> replaced(calls.size());
  bool any = false;
  for (std::size_t d = 0; d < calls.size(); ++d) {
    const DequantizeCall* dq = calls[d].get_if<DequantizeCall>();
    if (dq == nullptr || removed[d]) continue;
    std::size_t c = 0;
    if (std::optional<MatmulDequantCall> f = try_fuse(cx, *dq, calls, d, removed, replaced, replacements, &c)) {
      replaced[c] = KernelCall(*f);
      removed[d] = true;
      any = true;
    }
  }
  if (!any) return;

  // Stage 8: keep the surviving calls in order and renumber the plan.
  std::vector<KernelCall> kept;
  std::vector<std::optional<std::uint32_t>> new_index(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (removed[i]) continue;
    new_index[i] = static_cast<std::uint32_t>(kept.size());
    kept.push_back(replaced[i] ? std::move(*replaced[i]) : std::move(calls[i]));
  }
  PlanSteps groups;
  for (const PlanStep& step : plan) {
    PlanStep g;
    for (std::uint32_t i : step) {
      if (i < new_index.size() && new_index[i]) g.push_back(*new_index[i]);
    }
    if (!g.empty()) groups.push_back(std::move(g));
  }
  calls = std::move(kept);
  plan = std::move(groups);
}

}  // namespace tessary::compiler_detail
