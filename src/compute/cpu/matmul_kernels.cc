#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/matmul_kernels.h"

#include <bit>
#include <cstring>
#include <span>

#include "compute/cpu/activation_scalar.h"
#include "compute/cpu/fused_activation.h"
#include "compute/cpu/matmul_engines.h"
#include "compute/cpu/matmul_lowp_gemv.h"
#include "compute/cpu/matmul_scratch.h"
#include "compute/cpu/matmul_tier_kernels.h"
#include "compute/cpu/vector_primitives.h"
#include "compute/cpu/widen_lowp.h"
#include "compute/packed_b.h"
#include "types/dtype.h"

namespace tessary::cpu {
namespace {

constexpr std::string_view kMsgFusedSwigluRefused =
    "FusedSwiGlu: expected desugaring to Silu(x·Wg)⊙(x·Wu); degenerate node reached lowering";

bool aligned_f32(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % alignof(float) == 0; }

const float* as_f32(const KernelInput& in) { return reinterpret_cast<const float*>(in.bytes.data()); }
float* as_f32(const KernelOutput& out) { return reinterpret_cast<float*>(out.bytes.data()); }

HalfFormat half_format(DTypeId dtype) { return dtype == DTypeId::BF16 ? HalfFormat::BF16 : HalfFormat::F16; }

float scalar_act(std::uint8_t act, float x) {
  switch (static_cast<FusedAct>(act)) {
    case FusedAct::Relu: return relu_f(x);
    case FusedAct::Gelu: return gelu_f(x);
    case FusedAct::Silu: return silu_f(x);
    case FusedAct::Sigmoid: return sigmoid_f(x);
    case FusedAct::Tanh: return tanh_f(x);
    case FusedAct::Elu: return elu_f(x);
    case FusedAct::Selu: return selu_f(x);
    case FusedAct::Exp: return exp_f(x);
    case FusedAct::None: break;
  }
  return x;
}

bool has_act(std::uint8_t act) { return act >= 1 && act <= 8; }

// What follows the product in a fused form.
struct Epilogue {
  const KernelInput* addend = nullptr;
  std::uint8_t act = 0;
};

BackendResult<std::size_t> width_of(DTypeId dtype) {
  const auto w = element_width(dtype);
  if (!w) return std::unexpected(BackendError::unsupported(kMsgNoFixedWidth));
  return *w;
}

BackendResult<void> check_holds(std::span<const std::uint8_t> bytes, std::uint32_t id, std::uint64_t elems,
                                std::size_t width) {
  if (!holds_elements(bytes.size(), elems, width)) return std::unexpected(BackendError::buffer_error(id));
  return {};
}

// An input that shares bytes with the output would be overwritten by the
// product before it is read in full.
BackendResult<void> check_apart(const KernelInput& in, std::uint64_t in_elems, const KernelOutput& out,
                                std::uint64_t out_elems, std::size_t width) {
  if (overlaps(in.bytes.data(), in_elems * width, out.bytes.data(), out_elems * width)) {
    return std::unexpected(BackendError::buffer_error(in.id));
  }
  return {};
}

std::uint64_t b_elems(const MatmulCall& call) {
  if (!call.packed) return std::uint64_t{call.k} * call.n;
  return packed_b_elems(call.k, call.n).value_or(UINT64_MAX);
}

// f32 product into c (m n binary32 values) from binary32 A and B.
void f32_product(const MatmulCall& call, const float* a, const float* b, float* c) {
  const std::size_t m = call.m, k = call.k, n = call.n;
  if (call.packed) {
    matmul_f32_packed(a, b, c, m, k, n);
    return;
  }
  ScratchLease<MatmulArrays> scratch(matmul_scratch_slot());
  matmul_f32_blocked(a, b, c, m, k, n, scratch.get().values);
}

// Epilogue on a binary32 array: the addition as a vector loop, then the
// fused activation in place.
void f32_epilogue(std::span<float> values, const float* addend, std::uint8_t act) {
  if (addend != nullptr) simd_f32_add(values, std::span<const float>(addend, values.size()), values);
  if (has_act(act)) apply_fused_act_f32(act, values);
}

void copy_bytes_to(std::vector<float>& dst, std::span<const std::uint8_t> src, std::size_t elems) {
  grow_to(dst, elems);
  std::memcpy(dst.data(), src.data(), elems * sizeof(float));
}

void run_f32(const MatmulCall& call, const KernelInput& a, const KernelInput& b, const Epilogue& ep,
             const KernelOutput& out) {
  const std::size_t mn = std::size_t{call.m} * call.n;
  const bool aligned = aligned_f32(a.bytes.data()) && aligned_f32(b.bytes.data()) &&
                       aligned_f32(out.bytes.data()) && (ep.addend == nullptr || aligned_f32(ep.addend->bytes.data()));
  if (aligned) {
    float* c = as_f32(out);
    f32_product(call, as_f32(a), as_f32(b), c);
    f32_epilogue(std::span<float>(c, mn), ep.addend != nullptr ? as_f32(*ep.addend) : nullptr, ep.act);
    return;
  }
  // Unaligned operands are copied byte for byte into aligned arrays, so the
  // engines and the epilogue see exactly the values of the aligned path.
  ScratchLease<WidenArrays> lease(widen_scratch_slot());
  WidenArrays& w = lease.get();
  copy_bytes_to(w.a, a.bytes, std::size_t{call.m} * call.k);
  copy_bytes_to(w.b, b.bytes, static_cast<std::size_t>(b_elems(call)));
  grow_to(w.c, mn);
  f32_product(call, w.a.data(), w.b.data(), w.c.data());
  const float* addend = nullptr;
  if (ep.addend != nullptr) {
    copy_bytes_to(w.a, ep.addend->bytes, mn);
    addend = w.a.data();
  }
  f32_epilogue(std::span<float>(w.c.data(), mn), addend, ep.act);
  std::memcpy(out.bytes.data(), w.c.data(), mn * sizeof(float));
}

void widen_elements(std::vector<float>& dst, std::span<const std::uint8_t> src, std::size_t elems, DTypeId dtype) {
  grow_to(dst, elems);
  for (std::size_t i = 0; i < elems; ++i) dst[i] = read_float(src.data(), i, dtype);
}

void run_half(const MatmulCall& call, const KernelInput& a, const KernelInput& b, const KernelOutput& out) {
  const std::size_t m = call.m, k = call.k, n = call.n;
  ScratchLease<WidenArrays> lease(widen_scratch_slot());
  WidenArrays& w = lease.get();
  widen_elements(w.a, a.bytes, m * k, call.dtype);
  grow_to(w.c, m * n);
  if (m > mm::kStreamRows) {
    grow_to(w.b, k * n);
    widen_lowp_to_f32(b.bytes.data(), w.b.data(), k * n, half_format(call.dtype));
    ScratchLease<MatmulArrays> scratch(matmul_scratch_slot());
    matmul_f32_blocked(w.a.data(), w.b.data(), w.c.data(), m, k, n, scratch.get().values);
  } else {
    matmul_lowp_gemv(w.a.data(), b.bytes.data(), w.c.data(), m, k, n, half_format(call.dtype));
  }
  for (std::size_t i = 0; i < m * n; ++i) write_float(out.bytes.data(), i, call.dtype, w.c[i]);
}

// The 16-bit epilogue reads each rounded output element back, so the value
// is rounded a second time when it is written.
void half_epilogue(DTypeId dtype, std::size_t mn, const Epilogue& ep, const KernelOutput& out) {
  if (ep.addend == nullptr && !has_act(ep.act)) return;
  std::uint8_t* y = out.bytes.data();
  for (std::size_t i = 0; i < mn; ++i) {
    float v = read_float(y, i, dtype);
    if (ep.addend != nullptr) v = v + read_float(ep.addend->bytes.data(), i, dtype);
    write_float(y, i, dtype, scalar_act(ep.act, v));
  }
}

BackendResult<void> run_matmul(const MatmulCall& call, const KernelInput& a, const KernelInput& b,
                               const Epilogue& ep, const KernelOutput& out) {
  const std::uint64_t mk = std::uint64_t{call.m} * call.k;
  const std::uint64_t kn = b_elems(call);
  const std::uint64_t mn = std::uint64_t{call.m} * call.n;
  const bool fused = ep.addend != nullptr || ep.act != 0;
  if (mn == 0) return {};
  // Without an inner dimension the product is empty and writes nothing; a
  // fused form still applies its epilogue to the output as it stands.
  const bool product = call.k != 0;
  if (!product && !fused) return {};
  const auto width = width_of(call.dtype);
  if (!width) return std::unexpected(width.error());
  const std::size_t w = *width;
  if (product) {
    if (auto ok = check_holds(a.bytes, a.id, mk, w); !ok) return ok;
    if (auto ok = check_holds(b.bytes, b.id, kn, w); !ok) return ok;
  }
  if (auto ok = check_holds(out.bytes, out.id, mn, w); !ok) return ok;
  if (ep.addend != nullptr) {
    if (auto ok = check_holds(ep.addend->bytes, ep.addend->id, mn, w); !ok) return ok;
  }
  if (product) {
    if (auto ok = check_apart(a, mk, out, mn, w); !ok) return ok;
    if (auto ok = check_apart(b, kn, out, mn, w); !ok) return ok;
  }
  if (ep.addend != nullptr) {
    if (auto ok = check_apart(*ep.addend, mn, out, mn, w); !ok) return ok;
  }
  switch (call.dtype) {
    case DTypeId::F32:
      if (product) {
        run_f32(call, a, b, ep, out);
      } else {
        half_epilogue(DTypeId::F32, mn, ep, out);
      }
      return {};
    case DTypeId::F16:
    case DTypeId::BF16:
      if (product) run_half(call, a, b, out);
      half_epilogue(call.dtype, mn, ep, out);
      return {};
    default: break;
  }
  return std::unexpected(BackendError::unsupported(kMsgMatmulComputeOnly));
}

}  // namespace

BackendResult<void> matmul_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelOutput out) {
  return run_matmul(call, a, b, Epilogue{}, out);
}

BackendResult<void> matmul_add_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelInput d,
                                     KernelOutput out) {
  return run_matmul(call, a, b, Epilogue{&d, 0}, out);
}

BackendResult<void> matmul_activation_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelOutput out) {
  return run_matmul(call, a, b, Epilogue{nullptr, call.act}, out);
}

BackendResult<void> matmul_add_activation_float(const MatmulCall& call, KernelInput a, KernelInput b, KernelInput d,
                                                KernelOutput out) {
  return run_matmul(call, a, b, Epilogue{&d, call.act}, out);
}

BackendResult<void> gemm_float(const GemmCall& call, KernelInput a, KernelInput b, KernelInput c, KernelOutput out) {
  const std::size_t m = call.m, k = call.k, n = call.n;
  if (m == 0 || k == 0 || n == 0) return {};
  const auto width = width_of(call.dtype);
  if (!width) return std::unexpected(width.error());
  const std::size_t w = *width;
  const std::uint64_t mk = std::uint64_t{call.m} * call.k;
  const std::uint64_t kn = std::uint64_t{call.k} * call.n;
  const std::uint64_t mn = std::uint64_t{call.m} * call.n;
  if (auto ok = check_holds(a.bytes, a.id, mk, w); !ok) return ok;
  if (auto ok = check_holds(b.bytes, b.id, kn, w); !ok) return ok;
  if (auto ok = check_holds(c.bytes, c.id, mn, w); !ok) return ok;
  if (auto ok = check_holds(out.bytes, out.id, mn, w); !ok) return ok;
  if (auto ok = check_apart(a, mk, out, mn, w); !ok) return ok;
  if (auto ok = check_apart(b, kn, out, mn, w); !ok) return ok;
  if (auto ok = check_apart(c, mn, out, mn, w); !ok) return ok;
  const float alpha = std::bit_cast<float>(static_cast<std::uint32_t>(call.alpha));
  const float beta = std::bit_cast<float>(static_cast<std::uint32_t>(call.beta));
  const DTypeId dtype = call.dtype;
  if (dtype == DTypeId::F32) {
    const bool aligned = aligned_f32(a.bytes.data()) && aligned_f32(b.bytes.data()) &&
                         aligned_f32(c.bytes.data()) && aligned_f32(out.bytes.data());
    ScratchLease<MatmulArrays> scratch(matmul_scratch_slot());
    if (aligned) {
      float* y = as_f32(out);
      const float* cin = as_f32(c);
      matmul_f32_blocked(as_f32(a), as_f32(b), y, m, k, n, scratch.get().values);
      for (std::size_t i = 0; i < mn; ++i) {
        const float scaled = alpha * y[i];
        const float carried = beta * cin[i];
        y[i] = scaled + carried;
      }
      return {};
    }
    ScratchLease<WidenArrays> lease(widen_scratch_slot());
    WidenArrays& st = lease.get();
    copy_bytes_to(st.a, a.bytes, mk);
    copy_bytes_to(st.b, b.bytes, kn);
    grow_to(st.c, mn);
    matmul_f32_blocked(st.a.data(), st.b.data(), st.c.data(), m, k, n, scratch.get().values);
    for (std::size_t i = 0; i < mn; ++i) {
      const float scaled = alpha * st.c[i];
      const float carried = beta * read_float(c.bytes.data(), i, DTypeId::F32);
      write_float(out.bytes.data(), i, DTypeId::F32, scaled + carried);
    }
    return {};
  }
  if (dtype == DTypeId::F16 || dtype == DTypeId::BF16) {
    ScratchLease<WidenArrays> lease(widen_scratch_slot());
    WidenArrays& st = lease.get();
    widen_elements(st.a, a.bytes, mk, dtype);
    grow_to(st.b, kn);
    widen_lowp_to_f32(b.bytes.data(), st.b.data(), kn, half_format(dtype));
    grow_to(st.c, mn);
    ScratchLease<MatmulArrays> scratch(matmul_scratch_slot());
    matmul_f32_blocked(st.a.data(), st.b.data(), st.c.data(), m, k, n, scratch.get().values);
    for (std::size_t i = 0; i < mn; ++i) {
      const float carried = read_float(c.bytes.data(), i, dtype) * beta;
      const float scaled = st.c[i] * alpha;
      write_float(out.bytes.data(), i, dtype, carried + scaled);
    }
    return {};
  }
  return std::unexpected(BackendError::unsupported(kMsgGemmComputeOnly));
}

BackendResult<void> matmul_kernel(const MatmulCall& call, KernelInput a, KernelInput b, KernelInput addend_or_empty,
                                  KernelOutput out) {
  switch (call.kind) {
    case CallKind::Matmul: return matmul_float(call, a, b, out);
    case CallKind::MatmulActivation: return matmul_activation_float(call, a, b, out);
    case CallKind::MatmulAdd: return matmul_add_float(call, a, b, addend_or_empty, out);
    case CallKind::MatmulAddActivation: return matmul_add_activation_float(call, a, b, addend_or_empty, out);
    case CallKind::FusedSwiglu: return std::unexpected(BackendError::unsupported(kMsgFusedSwigluRefused));
    default: break;
  }
  return std::unexpected(BackendError::unsupported(kMsgMatmulUnknownKind));
}

BackendResult<void> gemm_kernel(const GemmCall& call, KernelInput a, KernelInput b, KernelInput c, KernelOutput out) {
  return gemm_float(call, a, b, c, out);
}

}  // namespace tessary::cpu
