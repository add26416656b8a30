#pragma once
// Broadcasting add, sub and mul over float tensors of rank 1 to 8. Input a
// is the broadcast operand (each dimension equal to the output's or 1),
// input b the full operand with the output's shape.
#include <array>
#include <cstdint>
#include <string_view>

#include "compute/backend_error.h"
#include "compute/cpu/kernel_buffers.h"
#include "types/dtype.h"

namespace tessary::cpu {

inline constexpr std::string_view kMsgBroadcastBadOp = "broadcast_binary: bad op";
inline constexpr std::string_view kMsgBroadcastRank = "broadcast_binary: rank must be 1..=8";
inline constexpr std::string_view kMsgBroadcastFloatOnly =
    "broadcast_binary: float-only (byte-domain broadcast not fused)";
inline constexpr std::string_view kMsgBroadcastDims =
    "broadcast_binary: broadcast dims must equal the output's or be 1";

inline constexpr unsigned kMaxBroadcastRank = 8;

// The parameters of a broadcast_binary call.
struct BroadcastBinaryParams {
  std::uint8_t op = 0;     // 0 add, 1 sub, 2 mul
  std::uint8_t rank = 0;   // 1..8
  bool order = false;      // sub only: set gives broadcast - full, clear full - broadcast
  std::array<std::uint32_t, kMaxBroadcastRank> in_dims{};   // the broadcast operand's
  std::array<std::uint32_t, kMaxBroadcastRank> out_dims{};  // the output's (and b's)
};

enum class BroadcastOp : std::uint8_t { Add = 0, Sub = 1, Mul = 2 };

// A validated call: the walk over the output row by row.
struct BroadcastPlan {
  BroadcastOp op = BroadcastOp::Add;
  bool order = false;
  unsigned rank = 1;
  std::array<std::uint64_t, kMaxBroadcastRank> dims{};
  // Element step of the broadcast operand per output index step: 0 along a
  // dimension of size 1, else the product of its dimensions inside.
  std::array<std::uint64_t, kMaxBroadcastRank> stride{};
  std::uint64_t rows = 0;     // product of all output dimensions but the last
  std::uint64_t row_len = 0;  // the last output dimension
};

// Walks the output row by row: out = a (op) b, with a's element for each
// output index found through the plan's strides. The pointers must cover the
// element counts the plan implies; out may be b itself but must not overlap a.
void broadcast_binary_f32_run(const BroadcastPlan& plan, const float* a, const float* b, float* out);

// Checks, in order: the dtype (f64: the f64 message; any other type that is
// not f32/f16/bf16: "broadcast_binary: float-only (byte-domain broadcast not
// fused)"), the op ("broadcast_binary: bad op"), the rank ("broadcast_binary:
// rank must be 1..=8"), the dimensions (each broadcast dimension equal to the
// output's or 1), then that a, b and the output hold their element counts
// (buffer error naming the short one) and that neither input overlaps the
// output except b being exactly the output. An output with no elements
// succeeds without touching any buffer.
BackendResult<void> broadcast_binary_kernel(const BroadcastBinaryParams& params, DTypeId dtype, KernelInput a,
                                            KernelInput b, KernelOutput out);

}  // namespace tessary::cpu
