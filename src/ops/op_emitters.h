#pragma once
// Op emitters: each writes the term structure of one op kind into a
// TermArena after the node's input terms. They take the compile width as
// their size parameter (series degrees, iteration counts and reduction
// depths grow with it) and fail only when the arena would overflow.
//
// Which emitter serves which kind:
//   primitive (one term, code = discriminant): neg, bnot, succ, pred, add,
//     sub, mul, xor, and, or; min and max use the code of sub; ceil, floor,
//     is_nan and sign the code of and; where and cast the code of mul
//   emit_erf: exp, log, sqrt, erf, resize
//   emit_cordic: sin, cos, asin, acos, atan and the reductions other than
//     reduce_mean
//   emit_avg_pool_2d: reduce_mean, avg_pool_2d, global_avg_pool
//   emit_fused_swiglu: fused_swiglu, lrn
//   emit_norm_body: layer_norm, group_norm, instance_norm
//   emit_conv_body: conv2d, conv_transpose_2d
//   none (input terms only): im2col, col2im, reshape, transpose, concat,
//     slice, pad, expand, gather, kv_cache_write
//   every other kind has the emitter of its own name.
#include <cstdint>
#include <expected>
#include <span>

#include "graph/op_kind.h"
#include "ops/term_arena.h"

namespace tessary {

// Input terms seeded before a kind's emitter runs: 3 for gemm, the four
// single-output norms, attention, rotary_embedding, where and
// kv_cache_write; 2 for the binary element-wise kinds, matmul, the two
// convolutions, add_rms_norm, concat, fused_swiglu and gather; 1 otherwise.
std::uint8_t input_term_count(OpKind kind);

// Clears the arena, seeds the kind's input terms and runs its emitter.
std::expected<void, EmitOverflow> emit_node_terms(OpKind kind, std::uint32_t width, TermArena& arena);

// Every emitter reads its operands from `in` (the seeded input terms) and
// returns the index of its result term.
using Emitter = EmitResult (*)(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);

EmitResult emit_primitive(TermArena& arena, std::span<const TermIndex> in, std::uint16_t code);

EmitResult emit_relu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_sigmoid(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_tanh(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_gelu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_silu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_elu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_selu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_erf(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_log1p(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_reciprocal(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_tan(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_round(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_abs(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_cordic(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_div(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_pow(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_mod(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_equal(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_compare(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);

EmitResult emit_matmul(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_gemm(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_conv_body(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_norm_body(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_rms_norm(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_add_rms_norm(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_avg_pool_2d(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_max_pool_2d(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_softmax(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_log_softmax(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_attention(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_fused_swiglu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_cumsum(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_rotary_embedding(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_clip(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);
EmitResult emit_dequantize(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width);

}  // namespace tessary
