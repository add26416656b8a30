#pragma once
// Per-tier binary32 kernels behind the dispatching entry points. Each tier's
// functions live in their own translation unit (plain, *_avx2.cc,
// *_avx512.cc) and take raw pointers only, so this header pulls nothing into
// the ISA-specific files that could be compiled there with wider
// instructions and then shared with code that runs on any CPU.
//
// Callers guarantee the pointers cover n elements. Unary kernels allow
// out == in (the same array), not a partial overlap.
#include <cstddef>

namespace tessary::cpu::tiers {

// Scalar tier (the 4-lane exponential uses SSE2, part of the x86-64 baseline).
void f32_add_scalar(const float* a, const float* b, float* out, std::size_t n);
void f32_mul_scalar(const float* a, const float* b, float* out, std::size_t n);
float f32_sum_scalar(const float* x, std::size_t n);
float f32_dot_scalar(const float* a, const float* b, std::size_t n);
float f32_max_scalar(const float* x, std::size_t n);
float f32_min_scalar(const float* x, std::size_t n);
void f32_axpy_scalar(float* y, const float* x, std::size_t n, float alpha);
void f32_exp_sse2(float* x, std::size_t n);

// AVX2 with FMA.
void f32_add_avx2(const float* a, const float* b, float* out, std::size_t n);
void f32_mul_avx2(const float* a, const float* b, float* out, std::size_t n);
float f32_sum_avx2(const float* x, std::size_t n);
float f32_dot_avx2(const float* a, const float* b, std::size_t n);
float f32_max_avx2(const float* x, std::size_t n);
float f32_min_avx2(const float* x, std::size_t n);
void f32_axpy_avx2(float* y, const float* x, std::size_t n, float alpha);
void f32_exp_avx2(float* x, std::size_t n);  // needs AVX2 only, not FMA
void f32_relu_avx2(const float* in, float* out, std::size_t n);
void f32_sigmoid_avx2(const float* in, float* out, std::size_t n);
void f32_tanh_avx2(const float* in, float* out, std::size_t n);
void f32_gelu_avx2(const float* in, float* out, std::size_t n);
void f32_silu_avx2(const float* in, float* out, std::size_t n);

// AVX-512F.
void f32_add_avx512(const float* a, const float* b, float* out, std::size_t n);
void f32_mul_avx512(const float* a, const float* b, float* out, std::size_t n);
float f32_sum_avx512(const float* x, std::size_t n);
float f32_dot_avx512(const float* a, const float* b, std::size_t n);
float f32_max_avx512(const float* x, std::size_t n);
float f32_min_avx512(const float* x, std::size_t n);
void f32_axpy_avx512(float* y, const float* x, std::size_t n, float alpha);
void f32_exp_avx512(float* x, std::size_t n);
void f32_relu_avx512(const float* in, float* out, std::size_t n);
void f32_sigmoid_avx512(const float* in, float* out, std::size_t n);
void f32_tanh_avx512(const float* in, float* out, std::size_t n);
void f32_gelu_avx512(const float* in, float* out, std::size_t n);
void f32_silu_avx512(const float* in, float* out, std::size_t n);

}  // namespace tessary::cpu::tiers
