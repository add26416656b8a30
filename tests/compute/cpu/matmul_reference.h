#pragma once
// Plain scalar references for the matmul engines, written from their
// definitions: the recursive divide-and-conquer with its 4 x 16 leaf walk,
// the packed-B recursion over 16-column panels, and the scalar engine's
// dot products. Each output element is computed one step at a time with
// std::fma or a rounded product and an addition, exactly as the definition
// says for that column of that leaf.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace tessary::cpu::ref {

enum class Step { Fused, Rounded };

inline float step(Step s, float acc, float a, float b) { return s == Step::Fused ? std::fma(a, b, acc) : acc + a * b; }

// One column of a leaf, over all rows and all inner steps.
inline void leaf_column(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t lda,
                        std::size_t ldb, std::size_t ldc, bool accumulate, std::size_t j, Step s) {
  for (std::size_t i = 0; i < m; ++i) {
    float acc = accumulate ? c[i * ldc + j] : 0.0f;
    for (std::size_t kk = 0; kk < k; ++kk) acc = step(s, acc, a[i * lda + kk], b[kk * ldb + j]);
    c[i * ldc + j] = acc;
  }
}

// The leaf: column blocks of 16 (up to 64 columns), then blocks of 8 with
// fused steps, then single columns with rounded products.
inline void leaf(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                 std::size_t lda, std::size_t ldb, std::size_t ldc, bool accumulate) {
  std::size_t j = 0;
  for (; j + 16 <= n && j + 16 <= 64; j += 16) {
    for (std::size_t t = 0; t < 16; ++t) leaf_column(a, b, c, m, k, lda, ldb, ldc, accumulate, j + t, Step::Fused);
  }
  for (; j + 8 <= n; j += 8) {
    for (std::size_t t = 0; t < 8; ++t) leaf_column(a, b, c, m, k, lda, ldb, ldc, accumulate, j + t, Step::Fused);
  }
  for (; j < n; ++j) leaf_column(a, b, c, m, k, lda, ldb, ldc, accumulate, j, Step::Rounded);
}

// The recursion: the base case is checked before every split.
inline void recursive(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                      std::size_t lda, std::size_t ldb, std::size_t ldc, bool accumulate) {
  if (m == 0 || k == 0 || n == 0) return;
  for (;;) {
    if (m <= 64 && k <= 64 && n <= 64) {
      leaf(a, b, c, m, k, n, lda, ldb, ldc, accumulate);
      return;
    }
    if (n >= std::max(m, k)) {
      const std::size_t h = n / 2;
      recursive(a, b, c, m, k, h, lda, ldb, ldc, accumulate);
      b += h;
      c += h;
      n -= h;
    } else if (m < k) {
      const std::size_t h = k / 2;
      recursive(a, b, c, m, h, n, lda, ldb, ldc, accumulate);
      a += h;
      b += h * ldb;
      k -= h;
      accumulate = true;
    } else {
      const std::size_t h = m / 2;
      recursive(a, b, c, h, k, n, lda, ldb, ldc, accumulate);
      a += h * lda;
      c += h * ldc;
      m -= h;
    }
  }
}

// Packed B: element (r, j) of the whole matrix at ((j / 16) * kt + r) * 16 + j % 16.
struct Panels {
  const float* p;
  std::size_t kt;  // rows of the whole matrix
  float at(std::size_t r, std::size_t j) const { return p[((j / 16) * kt + r) * 16 + j % 16]; }
};

// Leaf over columns [j0, j0 + n) and inner steps [k0, k0 + k): whole panels
// fused, a partial last panel with rounded products.
inline void packed_leaf(const float* a, std::size_t lda, Panels bp, std::size_t k0, std::size_t j0, float* c,
                        std::size_t ldc, std::size_t m, std::size_t k, std::size_t n, bool accumulate) {
  for (std::size_t j = 0; j < n; ++j) {
    const Step s = (j / 16 + 1) * 16 <= n ? Step::Fused : Step::Rounded;
    for (std::size_t i = 0; i < m; ++i) {
      float acc = accumulate ? c[i * ldc + j] : 0.0f;
      for (std::size_t kk = 0; kk < k; ++kk) acc = step(s, acc, a[i * lda + kk], bp.at(k0 + kk, j0 + j));
      c[i * ldc + j] = acc;
    }
  }
}

inline void packed_recursive(const float* a, std::size_t lda, Panels bp, std::size_t k0, std::size_t j0, float* c,
                             std::size_t ldc, std::size_t m, std::size_t k, std::size_t n, bool accumulate) {
  if (m == 0 || k == 0 || n == 0) return;
  for (;;) {
    if (m <= 64 && k <= 64 && n <= 64) {
      packed_leaf(a, lda, bp, k0, j0, c, ldc, m, k, n, accumulate);
      return;
    }
    if (n > 64 && n >= std::max(m, k)) {
      const std::size_t h = n / 32 * 16;
      packed_recursive(a, lda, bp, k0, j0, c, ldc, m, k, h, accumulate);
      j0 += h;
      c += h;
      n -= h;
    } else if (m > 64 && m >= k) {
      const std::size_t h = m / 2;
      packed_recursive(a, lda, bp, k0, j0, c, ldc, h, k, n, accumulate);
      a += h * lda;
      c += h * ldc;
      m -= h;
    } else {
      const std::size_t h = k / 2;
      packed_recursive(a, lda, bp, k0, j0, c, ldc, m, h, n, accumulate);
      a += h;
      k0 += h;
      k -= h;
      accumulate = true;
    }
  }
}

// Rounded products added in kk order, from +0 (the scalar engines).
inline std::vector<float> rounded(const std::vector<float>& a, const std::vector<float>& b, std::size_t m,
                                  std::size_t k, std::size_t n) {
  std::vector<float> c(m * n);
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      float acc = 0.0f;
      for (std::size_t kk = 0; kk < k; ++kk) acc = acc + a[i * k + kk] * b[kk * n + j];
      c[i * n + j] = acc;
    }
  }
  return c;
}

inline std::vector<float> recursive(const std::vector<float>& a, const std::vector<float>& b, std::size_t m,
                                    std::size_t k, std::size_t n) {
  std::vector<float> c(m * n);
  recursive(a.data(), b.data(), c.data(), m, k, n, k, n, n, false);
  return c;
}

// The small-m engine: fused steps on whole 8-column groups when `vector`,
// rounded products elsewhere.
inline std::vector<float> small_m(const std::vector<float>& a, const std::vector<float>& b, std::size_t m,
                                  std::size_t k, std::size_t n, bool vector) {
  std::vector<float> c(m * n);
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      const Step s = vector && j < n / 8 * 8 ? Step::Fused : Step::Rounded;
      float acc = 0.0f;
      for (std::size_t kk = 0; kk < k; ++kk) acc = step(s, acc, a[i * k + kk], b[kk * n + j]);
      c[i * n + j] = acc;
    }
  }
  return c;
}

// Values in [-1, 1) with full 24-bit significands, so fused and rounded
// steps give different bits in most elements.
inline std::vector<float> random_values(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = d(rng);
  return v;
}

// Row-major [k, n] into 16-column panels.
inline std::vector<float> pack_panels(const std::vector<float>& b, std::size_t k, std::size_t n) {
  const std::size_t panels = (n + 15) / 16;
  std::vector<float> p(panels * 16 * k, 0.0f);
  for (std::size_t r = 0; r < k; ++r) {
    for (std::size_t j = 0; j < n; ++j) p[((j / 16) * k + r) * 16 + j % 16] = b[r * n + j];
  }
  return p;
}

}  // namespace tessary::cpu::ref
