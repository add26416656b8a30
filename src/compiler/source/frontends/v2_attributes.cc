#include "compiler/source/frontends/v2_attributes.h"

#include <bit>
#include <cstdint>
#include <vector>

namespace tessary::v2 {

namespace {

using Result = std::expected<void, std::string_view>;

constexpr std::string_view kUnknownAttr = "op: unknown attr";
constexpr std::string_view kAttrNotValid = "op: attr not valid";
constexpr std::string_view kBadListLength = "attr: bad list length";
constexpr std::string_view kAxisOutOfRange = "attr: axis out of range";

std::unexpected<std::string_view> fail(std::string_view message) { return std::unexpected(message); }

// Record accessors that create the record with its defaults on first touch.
ConvAttrs& conv(OpCall& c) { return c.conv ? *c.conv : c.conv.emplace(); }
LrnAttrs& lrn(OpCall& c) { return c.lrn ? *c.lrn : c.lrn.emplace(); }
GemmAttrs& gemm(OpCall& c) { return c.gemm ? *c.gemm : c.gemm.emplace(); }
QuantAttrs& quant(OpCall& c) { return c.quant ? *c.quant : c.quant.emplace(); }
NormAttrs& norm(OpCall& c) { return c.norm ? *c.norm : c.norm.emplace(); }
GatherAttrs& gather(OpCall& c) { return c.gather ? *c.gather : c.gather.emplace(); }
ReduceAttrs& reduce(OpCall& c) {
  if (c.reduce.keepdims == kAttrAbsent) c.reduce = ReduceAttrs{};
  return c.reduce;
}
AttentionAttrs& attention(OpCall& c) {
  if (c.attention.causal == kAttrAbsent) c.attention = AttentionAttrs{};
  return c.attention;
}

bool any_of(std::string_view key, std::initializer_list<std::string_view> names) {
  for (std::string_view n : names) {
    if (key == n) return true;
  }
  return false;
}

// Keys for one u32 field of the conv record.
std::uint32_t* conv_field(OpCall& c, std::string_view key) {
  if (key == "k_h") return &conv(c).kernel_h;
  if (key == "k_w") return &conv(c).kernel_w;
  if (key == "stride_h") return &conv(c).stride_h;
  if (key == "stride_w") return &conv(c).stride_w;
  if (key == "pad_h") return &conv(c).pad_h;
  if (key == "pad_w") return &conv(c).pad_w;
  return nullptr;
}

// A u32 list of exactly two elements.
std::expected<std::vector<std::uint32_t>, std::string_view> pair_list(const AttrValue& v) {
  auto list = v.u32_list();
  if (!list) return std::unexpected(list.error());
  if (list->size() != 2) return std::unexpected(kBadListLength);
  return list;
}

Result apply_conv(OpCall& call, const ParsedAttr& attr) {
  if (!is_conv_group(call.kind)) return fail(kAttrNotValid);
  const std::string_view key = attr.key;
  if (key == "k" || key == "kernel" || key == "stride" || key == "strides") {
    auto list = pair_list(attr.value);
    if (!list) return fail(list.error());
    ConvAttrs& r = conv(call);
    if (key == "k" || key == "kernel") {
      r.kernel_h = (*list)[0];
      r.kernel_w = (*list)[1];
    } else {
      r.stride_h = (*list)[0];
      r.stride_w = (*list)[1];
    }
    return {};
  }
  if (key == "pad" || key == "pads" || key == "padding") {
    auto list = attr.value.u32_list();
    if (!list) return fail(list.error());
    const auto& l = *list;
    // [h, w], or the four-sided form when both sides agree.
    bool pair = l.size() == 2;
    bool symmetric_four = l.size() == 4 && l[0] == l[2] && l[1] == l[3];
    if (!pair && !symmetric_four) return fail(kBadListLength);
    ConvAttrs& r = conv(call);
    r.pad_h = l[0];
    r.pad_w = l[1];
    return {};
  }
  auto v = attr.value.u32();
  if (!v) return fail(v.error());
  *conv_field(call, key) = *v;
  return {};
}

// "alpha", "beta" and their _bits forms: the value is checked before the kind.
Result apply_lrn_gemm_scalar(OpCall& call, std::string_view key, float value) {
  bool alpha = key == "alpha" || key == "alpha_bits";
  if (call.kind == OpKind::Lrn) {
    (alpha ? lrn(call).alpha : lrn(call).beta) = value;
  } else if (call.kind == OpKind::Gemm) {
    (alpha ? gemm(call).alpha : gemm(call).beta) = value;
  } else {
    return fail(kAttrNotValid);
  }
  return {};
}

// "scale" and "scale_bits": the value is checked before the kind.
Result apply_scale(OpCall& call, float value) {
  if (call.kind == OpKind::Dequantize) {
    quant(call).scale = value;
  } else if (call.kind == OpKind::Attention) {
    attention(call).scale_bits = std::bit_cast<std::uint32_t>(value);
  } else {
    return fail(kAttrNotValid);
  }
  return {};
}

}  // namespace

Result apply_attribute(OpCall& call, const ParsedAttr& attr) {
  const std::string_view key = attr.key;
  const AttrValue& value = attr.value;

  if (any_of(key, {"k", "kernel", "k_h", "k_w", "stride", "strides", "stride_h", "stride_w", "pad", "pads",
                   "padding", "pad_h", "pad_w"})) {
    return apply_conv(call, attr);
  }
  if (key == "alpha" || key == "beta") {
    auto v = value.f32();
    if (!v) return fail(v.error());
    return apply_lrn_gemm_scalar(call, key, *v);
  }
  if (key == "alpha_bits" || key == "beta_bits") {
    auto v = value.u32_bits();
    if (!v) return fail(v.error());
    return apply_lrn_gemm_scalar(call, key, std::bit_cast<float>(*v));
  }
  if (key == "size" || key == "bias" || key == "bias_bits") {
    if (call.kind != OpKind::Lrn) return fail(kAttrNotValid);
    if (key == "size") {
      auto v = value.u32();
      if (!v) return fail(v.error());
      lrn(call).size = *v;
    } else if (key == "bias") {
      auto v = value.f32();
      if (!v) return fail(v.error());
      lrn(call).bias = *v;
    } else {
      auto v = value.u32_bits();
      if (!v) return fail(v.error());
      lrn(call).bias = std::bit_cast<float>(*v);
    }
    return {};
  }
  if (key == "num_groups") {
    if (call.kind != OpKind::GroupNorm) return fail(kAttrNotValid);
    auto v = value.u32();
    if (!v) return fail(v.error());
    norm(call).num_groups = *v;
    return {};
  }
  if (key == "axes" || key == "axes_mask" || key == "keepdims") {
    if (!is_reduce_group(call.kind)) return fail(kAttrNotValid);
    if (key == "axes") {
      auto list = value.u32_list();
      if (!list) return fail(list.error());
      std::uint32_t mask = 0;
      for (std::uint32_t axis : *list) {
        if (axis >= 32) return fail(kAxisOutOfRange);
        mask |= std::uint32_t{1} << axis;
      }
      reduce(call).axes_mask = mask;
    } else if (key == "axes_mask") {
      auto v = value.u32();
      if (!v) return fail(v.error());
      reduce(call).axes_mask = *v;
    } else {
      auto v = value.as_bool();
      if (!v) return fail(v.error());
      reduce(call).keepdims = *v ? 1 : 0;
    }
    return {};
  }
  if (key == "axis") {
    if (call.kind != OpKind::Gather && call.kind != OpKind::Dequantize) return fail(kAttrNotValid);
    auto v = value.i32();
    if (!v) return fail(v.error());
    if (call.kind == OpKind::Gather) {
      gather(call).axis = *v;
    } else {
      quant(call).axis = *v;
    }
    return {};
  }
  if (key == "scale") {
    auto v = value.f32();
    if (!v) return fail(v.error());
    return apply_scale(call, *v);
  }
  if (key == "scale_bits") {
    auto v = value.u32_bits();
    if (!v) return fail(v.error());
    return apply_scale(call, std::bit_cast<float>(*v));
  }
  if (key == "zero_point" || key == "quant_dtype") {
    if (call.kind != OpKind::Dequantize) return fail(kAttrNotValid);
    if (key == "zero_point") {
      auto v = value.i32();
      if (!v) return fail(v.error());
      quant(call).zero_point = *v;
    } else {
      auto v = value.u8();
      if (!v) return fail(v.error());
      quant(call).quant_dtype = *v;
    }
    return {};
  }
  if (key == "causal") {
    if (call.kind != OpKind::Attention) return fail(kAttrNotValid);
    auto v = value.as_bool();
    if (!v) return fail(v.error());
    attention(call).causal = *v ? 1 : 0;
    return {};
  }
  return fail(kUnknownAttr);
}

}  // namespace tessary::v2
