// AVX2 / F16C / FMA form of the small-m engine over 16-bit B.
//
// Only the explicit fmadd intrinsics fuse; the compiler must not contract the
// scalar tail's product and addition.
#pragma GCC optimize("fp-contract=off")

#include <immintrin.h>

#include <cstring>

#include "compute/cpu/matmul_tier_kernels.h"

namespace tessary::cpu::mm {
namespace {

// Eight B values of row kk starting at column j, widened (exact; a
// signalling NaN comes out quiet, which no arithmetic result can tell).
template <bool Bf16>
inline __m256 load8(const std::uint8_t* p) {
  const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (Bf16) {
    return _mm256_castsi256_ps(_mm256_slli_epi32(_mm256_cvtepu16_epi32(h), 16));
  } else {
    return _mm256_cvtph_ps(h);
  }
}

template <bool Bf16>
inline float load1(const std::uint8_t* p) {
  std::uint16_t h;
  std::memcpy(&h, p, 2);
  if constexpr (Bf16) {
    const std::uint32_t bits = static_cast<std::uint32_t>(h) << 16;
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  } else {
    return _cvtsh_ss(h);
  }
}

// Inner-dimension block: C stays in L1/L2 while a few B rows stream.
constexpr std::size_t kBlock = 8;

// Rows R, vector columns [j, j + 8 V), inner steps [kb, kb + kn).
template <bool Bf16, int R, int V>
void chunk(std::size_t kb, std::size_t kn, std::size_t k, std::size_t n, const float* a, const std::uint8_t* b,
           float* c, std::size_t j) {
  __m256 acc[R][V];
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) {
      acc[i][v] = kb == 0 ? _mm256_setzero_ps() : _mm256_loadu_ps(c + i * n + j + 8 * v);
    }
  }
  for (std::size_t kk = kb; kk < kb + kn; ++kk) {
    __m256 x[V];
    for (int v = 0; v < V; ++v) x[v] = load8<Bf16>(b + 2 * (kk * n + j + 8 * v));
    for (int i = 0; i < R; ++i) {
      const __m256 av = _mm256_broadcast_ss(a + i * k + kk);
      for (int v = 0; v < V; ++v) acc[i][v] = _mm256_fmadd_ps(av, x[v], acc[i][v]);
    }
  }
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) _mm256_storeu_ps(c + i * n + j + 8 * v, acc[i][v]);
  }
}

template <bool Bf16, int R>
void rows_block(std::size_t k, std::size_t n, const float* a, const std::uint8_t* b, float* c) {
  constexpr int V = R <= 4 ? 2 : 1;
  const std::size_t nv = n / 8 * 8;
  for (std::size_t kb = 0; kb < k; kb += kBlock) {
    const std::size_t kn = k - kb < kBlock ? k - kb : kBlock;
    std::size_t j = 0;
    for (; j + 8 * V <= nv; j += 8 * V) chunk<Bf16, R, V>(kb, kn, k, n, a, b, c, j);
    for (; j < nv; j += 8) chunk<Bf16, R, 1>(kb, kn, k, n, a, b, c, j);
    // The last n mod 8 columns: a rounded product, then the addition.
    for (int i = 0; i < R; ++i) {
      for (std::size_t jt = nv; jt < n; ++jt) {
        float s = kb == 0 ? 0.0f : c[i * n + jt];
        for (std::size_t kk = kb; kk < kb + kn; ++kk) {
          const float p = load1<Bf16>(b + 2 * (kk * n + jt)) * a[i * k + kk];
          s = s + p;
        }
        c[i * n + jt] = s;
      }
    }
  }
}

template <bool Bf16>
void gemv(std::size_t rows, std::size_t k, std::size_t n, const float* a, const std::uint8_t* b, float* c) {
  std::size_t i = 0;
  for (; i + 8 <= rows; i += 8) rows_block<Bf16, 8>(k, n, a + i * k, b, c + i * n);
  switch (rows - i) {
    case 1: return rows_block<Bf16, 1>(k, n, a + i * k, b, c + i * n);
    case 2: return rows_block<Bf16, 2>(k, n, a + i * k, b, c + i * n);
    case 3: return rows_block<Bf16, 3>(k, n, a + i * k, b, c + i * n);
    case 4: return rows_block<Bf16, 4>(k, n, a + i * k, b, c + i * n);
    case 5: return rows_block<Bf16, 5>(k, n, a + i * k, b, c + i * n);
    case 6: return rows_block<Bf16, 6>(k, n, a + i * k, b, c + i * n);
    case 7: return rows_block<Bf16, 7>(k, n, a + i * k, b, c + i * n);
    default: break;
  }
}

}  // namespace

void lowp_gemv_avx2(std::size_t rows, std::size_t k, std::size_t n, const float* a, const std::uint8_t* b, float* c,
                    bool bf16) {
  if (rows == 0 || k == 0 || n == 0) return;
  if (bf16) {
    gemv<true>(rows, k, n, a, b, c);
  } else {
    gemv<false>(rows, k, n, a, b, c);
  }
}

}  // namespace tessary::cpu::mm
