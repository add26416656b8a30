// The OUTPUT_MAJOR preflight: a dequantize node that declares output-major
// weight bytes promises bytes only the fused output-major GEMV can read, so
// the declaration is checked before anything else is compiled. Row-major
// declarations are not checked here at all.
#include <cstdint>
#include <string_view>

#include "compiler/compiler_stages.h"
#include "compiler/operand_info.h"
#include "compute/quant_tier.h"

namespace tessary::compiler_detail {

namespace {

// The texts keep their runs of 18 spaces.
constexpr std::string_view kConstantWithBytes =
    "Dequantize over a graph constant with bytes declared weight_layout = OUTPUT_MAJOR; those "
    "bytes are [k,n] and the declaration describes bound bytes. Set act_quant = W8A8_TOKEN_SYM "
    "to opt the constant into the fused output-major decode path — the compiler transposes it "
    "for you. (A zero-byte constant is a weightless κ binding and may declare OUTPUT_MAJOR.)";
constexpr std::string_view kNeedsTokenSym =
    "weight_layout = OUTPUT_MAJOR requires act_quant = W8A8_TOKEN_SYM;"
    "                  there is no output-major W8A32 kernel, and no other kernel can read"
    "                  the [n,k] bytes this weight promises to bind.";
constexpr std::string_view kUnregisteredTier =
    "weight_layout = OUTPUT_MAJOR on an unregistered quant tier;"
    "                  no output-major kernel can decode it.";
constexpr std::string_view kNoOutputMajorGemv =
    "weight_layout = OUTPUT_MAJOR on a quant tier with no output-major GEMV.";
constexpr std::string_view kNotRank2 =
    "weight_layout = OUTPUT_MAJOR on a non-rank-2 weight.";
constexpr std::string_view kKNotWholeGroups =
    "weight_layout = OUTPUT_MAJOR but k is not a whole number of the tier's"
    "                  groups with a byte-aligned column span; the output-major GEMV cannot"
    "                  address it.";
constexpr std::string_view kKTooLarge =
    "weight_layout = OUTPUT_MAJOR but k exceeds the exact-i32 accumulation"
    "                  bound; the output-major GEMV would overflow, so it declines and no"
    "                  other kernel can read [n,k].";
constexpr std::string_view kNeedsAxis1 =
    "weight_layout = OUTPUT_MAJOR requires per-output-column scales"
    "                  (axis = 1); per-tensor and group-wise scales have no output-major GEMV.";
constexpr std::string_view kNonZeroZeroPoint =
    "weight_layout = OUTPUT_MAJOR with a non-zero zero-point; the output-major integer GEMV "
    "decodes symmetric weights only. Asymmetric weights are correct on the generic dequant "
    "path — leave act_quant = W8A32 and weight_layout = ROW_MAJOR.";
constexpr std::string_view kCodebookOperand =
    "weight_layout = OUTPUT_MAJOR: a vector-quantized tier must supply its"
    "                  codebook as the Dequantize node's 4th input, and a scalar tier must not.";

CompileResult<void> fail(std::string_view message) {
  return std::unexpected(CompileError::graph_validation(message));
}

CompileResult<void> check_node(const Graph& graph, const Node& node, const QuantAttrs& q) {
  if (const ConstantEntry* w = operand_constant(graph, node, 0); w != nullptr && !w->bytes.empty()) {
    return fail(kConstantWithBytes);
  }
  if (q.act_quant != ActQuant::W8A8TokenSym) return fail(kNeedsTokenSym);
  const std::optional<DTypeId> tag = dtype_from_tag(q.quant_dtype);
  const QuantTier* tier = tag ? quant_tier(*tag) : nullptr;
  if (tier == nullptr) return fail(kUnregisteredTier);
  if (!tier->omajor_gemv) return fail(kNoOutputMajorGemv);
  const ShapeDescriptor* shape = result_shape(graph, node);
  if (shape == nullptr) return {};
  if (shape->rank != 2) return fail(kNotRank2);
  const std::uint64_t k = shape->dims[0];
  if (!tier->omajor_k_ok(k)) return fail(kKNotWholeGroups);
  if (k > kExactI32MaxK) return fail(kKTooLarge);
  if (q.axis != 1) return fail(kNeedsAxis1);
  if (node.inputs.size() >= 3) {
    if (const ConstantEntry* zp = operand_constant(graph, node, 2)) {
      for (std::uint8_t b : zp->bytes) {
        if (b != 0) return fail(kNonZeroZeroPoint);
      }
    }
  }
  const bool has_codebook = node.inputs.size() >= 4;
  if (tier->vector_quantized != has_codebook) return fail(kCodebookOperand);
  return {};
}

}  // namespace

CompileResult<void> preflight_output_major(const Graph& graph) {
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const Node& node = graph.nodes[i];
    if (!node.kind.is_op(OpKind::Dequantize)) continue;
    const std::optional<QuantAttrs> q = graph.quant_attrs(static_cast<NodeId>(i));
    if (!q || q->weight_layout != WeightLayout::OutputMajor) continue;
    if (auto r = check_node(graph, node, *q); !r) return r;
  }
  return {};
}

}  // namespace tessary::compiler_detail
