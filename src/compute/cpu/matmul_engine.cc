#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/matmul_engines.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "compute/cpu/matmul_column_rules.h"
#include "compute/cpu/matmul_scratch.h"
#include "compute/cpu/matmul_tier_kernels.h"
#include "compute/cpu/simd_path.h"

namespace tessary::cpu {
namespace {

// A vector tier's register tile, its kernels and its cache blocking:
// kc inner steps per block, mc rows of packed A per block (a multiple of mr;
// only one mr-row panel of it, mr x kc, needs to stay in L1 while the tiles
// of a row walk across B), nc columns of packed B per block (a multiple of
// nr; kc x nc floats stay in L2 while every row panel of A passes over
// them).
struct TierKernels {
  std::size_t mr;
  std::size_t nr;
  std::size_t kc;
  std::size_t mc;
  std::size_t nc;
  mm::MicroKernel micro;
  mm::StreamKernel stream;
  mm::StreamPanelKernel stream_panels;
  mm::PackA pack_a;
  mm::PackB pack_b;
};

// Where B comes from: row-major with stride ldb, or 16-column panels
// (panel q at panels + q * panel_stride, 16 values per row).
struct BSource {
  const float* b = nullptr;
  std::size_t ldb = 0;
  const float* panels = nullptr;
  std::size_t panel_stride = 0;
};

constexpr std::size_t kPanel = 16;

float* align64(float* p) {
  const auto addr = reinterpret_cast<std::uintptr_t>(p);
  return reinterpret_cast<float*>((addr + 63) & ~static_cast<std::uintptr_t>(63));
}

// Rows [0, kc) and columns [0, nc) of B into 16-column panels of kc rows,
// zero beyond nc. B is read along its rows, so the reads stay sequential.
void pack_b(const float* b, std::size_t ldb, std::size_t kc, std::size_t nc, float* out) {
  const std::size_t full = nc / kPanel;
  const std::size_t w = nc % kPanel;
  for (std::size_t kk = 0; kk < kc; ++kk) {
    const float* src = b + kk * ldb;
    float* dst = out + kk * kPanel;
    for (std::size_t q = 0; q < full; ++q) {
      std::memcpy(dst + q * kc * kPanel, src + q * kPanel, kPanel * sizeof(float));
    }
    if (w != 0) {
      float* last = dst + full * kc * kPanel;
      for (std::size_t t = 0; t < kPanel; ++t) last[t] = t < w ? src[full * kPanel + t] : 0.0f;
    }
  }
}

// Rows [0, mc) and inner steps [0, kc) of A into panels of mr rows, each
// step's mr values together; rows past mc are zero.
void pack_a(const float* a, std::size_t lda, std::size_t mc, std::size_t kc, std::size_t mr, float* out) {
  for (std::size_t ir = 0; ir < mc; ir += mr) {
    float* dst = out + ir * kc;
    const std::size_t rows = std::min(mr, mc - ir);
    for (std::size_t r = 0; r < rows; ++r) {
      const float* src = a + (ir + r) * lda;
      for (std::size_t kk = 0; kk < kc; ++kk) dst[kk * mr + r] = src[kk];
    }
    for (std::size_t r = rows; r < mr; ++r) {
      for (std::size_t kk = 0; kk < kc; ++kk) dst[kk * mr + r] = 0.0f;
    }
  }
}

// B blocks of 256 x 768 floats (768 KiB) leave room in a 2 MiB L2 for C
// and the A panel. The A block (2304 rows, 2.25 MiB of scratch at most)
// bounds how often B is packed again: once per block of rows.
constexpr TierKernels kAvx512{mm::kAvx512TileRows, mm::kAvx512TileCols, 256, 192 * mm::kAvx512TileRows,
                              24 * mm::kAvx512TileCols, mm::micro_avx512, mm::stream_avx512,
                              mm::stream_panels_avx512, mm::pack_a_avx512, mm::pack_b_avx512};
constexpr TierKernels kAvx2{mm::kAvx2TileRows, mm::kAvx2TileCols, 256, 256 * mm::kAvx2TileRows,
                            48 * mm::kAvx2TileCols, mm::micro_avx2, mm::stream_avx2, mm::stream_panels_avx2,
                            pack_a, pack_b};

const TierKernels* vector_tier() {
  switch (detect_path()) {
    case SimdPath::Avx512: return &kAvx512;
    case SimdPath::Avx2: return &kAvx2;
    case SimdPath::Scalar: break;
  }
  return nullptr;
}

// A tile that does not fill the register tile goes through a local copy.
void edge_tile(const TierKernels& t, std::size_t kc, const float* ap, const float* b0, const float* b1, float* c,
               std::size_t ldc, std::size_t rows, std::size_t cols, bool accumulate, std::uint32_t lanes) {
  alignas(64) float tile[mm::kAvx512TileRows * mm::kAvx512TileCols];
  static_assert(mm::kAvx2TileRows * mm::kAvx2TileCols <= mm::kAvx512TileRows * mm::kAvx512TileCols);
  if (accumulate) {
    for (std::size_t r = 0; r < rows; ++r) std::memcpy(tile + r * t.nr, c + r * ldc, cols * sizeof(float));
  }
  t.micro(kc, ap, b0, b1, tile, t.nr, accumulate, lanes);
  for (std::size_t r = 0; r < rows; ++r) std::memcpy(c + r * ldc, tile + r * t.nr, cols * sizeof(float));
}

void vector_blocked(const TierKernels& t, const float* a, std::size_t lda, const BSource& src, float* c,
                    std::size_t ldc, std::size_t m, std::size_t k, std::size_t n, bool accumulate,
                    const std::uint16_t* lanes, PackArrays& pack) {
  // Sized to this product, not the largest block, so small products keep
  // small scratch.
  const std::size_t kc_max = std::min(t.kc, k);
  const std::size_t a_elems = std::min(t.mc, (m + t.mr - 1) / t.mr * t.mr) * kc_max;
  const std::size_t b_elems =
      src.panels != nullptr ? 0 : std::min(t.nc, (n + kPanel - 1) / kPanel * kPanel) * kc_max;
  grow_to(pack.blocks, a_elems + b_elems + 32);
  float* apack = align64(pack.blocks.data());
  float* bpack = align64(apack + a_elems);
  for (std::size_t ic = 0; ic < m; ic += t.mc) {
    const std::size_t mc = std::min(t.mc, m - ic);
    for (std::size_t pc = 0; pc < k; pc += t.kc) {
      const std::size_t kc = std::min(t.kc, k - pc);
      const bool acc = accumulate || pc > 0;
      t.pack_a(a + ic * lda + pc, lda, mc, kc, t.mr, apack);
      for (std::size_t jc = 0; jc < n; jc += t.nc) {
        const std::size_t nc = std::min(t.nc, n - jc);
        const std::size_t panels = (nc + kPanel - 1) / kPanel;
        const float* bp;
        std::size_t stride;
        if (src.panels != nullptr) {
          bp = src.panels + (jc / kPanel) * src.panel_stride + pc * kPanel;
          stride = src.panel_stride;
        } else {
          t.pack_b(src.b + pc * src.ldb + jc, src.ldb, kc, nc, bpack);
          bp = bpack;
          stride = kc * kPanel;
        }
        for (std::size_t ir = 0; ir < mc; ir += t.mr) {
          const std::size_t rows = std::min(t.mr, mc - ir);
          const float* ap = apack + ir * kc;
          for (std::size_t jr = 0; jr < nc; jr += t.nr) {
            const std::size_t cols = std::min(t.nr, nc - jr);
            const std::size_t q = jr / kPanel;
            const float* b0 = bp + q * stride;
            const bool second = q + 1 < panels;
            const float* b1 = second ? b0 + stride : b0;
            const std::size_t g = (jc + jr) / kPanel;
            const std::uint32_t l =
                lanes[g] | (second ? static_cast<std::uint32_t>(lanes[g + 1]) << 16 : 0xFFFF0000u);
            float* ct = c + (ic + ir) * ldc + jc + jr;
            // The next tile's C is fetched while this one computes; it was
            // last touched in the previous inner block, usually long evicted.
            if (jr + t.nr < nc) {
              for (std::size_t r = 0; r < rows; ++r) {
                __builtin_prefetch(ct + r * ldc + t.nr, 1, 3);
                __builtin_prefetch(ct + r * ldc + t.nr + 16, 1, 3);
              }
            }
            if (rows == t.mr && cols == t.nr) {
              t.micro(kc, ap, b0, b1, ct, ldc, acc, l);
            } else {
              edge_tile(t, kc, ap, b0, b1, ct, ldc, rows, cols, acc, l);
            }
          }
        }
      }
    }
  }
}

void vector_product(const TierKernels& t, const float* a, std::size_t lda, const BSource& src, float* c,
                    std::size_t ldc, std::size_t m, std::size_t k, std::size_t n, bool accumulate, ColumnRule rule) {
  ScratchLease<PackArrays> lease(pack_scratch_slot());
  PackArrays& pack = lease.get();
  grow_to(pack.lanes, (n + kPanel - 1) / kPanel);
  fill_fma_lanes(rule, n, pack.lanes.data());
  const std::uint16_t* lanes = pack.lanes.data();
  if (m <= mm::kStreamRows) {
    if (src.panels != nullptr) {
      t.stream_panels(m, k, n, a, lda, src.panels, src.panel_stride, c, ldc, accumulate, lanes);
    } else {
      t.stream(m, k, n, a, lda, src.b, src.ldb, c, ldc, accumulate, lanes);
    }
    return;
  }
  vector_blocked(t, a, lda, src, c, ldc, m, k, n, accumulate, lanes, pack);
}

// B's element (kk, j).
inline float b_at(const BSource& src, std::size_t kk, std::size_t j) {
  if (src.panels != nullptr) return src.panels[(j / kPanel) * src.panel_stride + kk * kPanel + j % kPanel];
  return src.b[kk * src.ldb + j];
}

// Scalar form of the vector engines' arithmetic, for tier 1.
void scalar_product(const float* a, std::size_t lda, const BSource& src, float* c, std::size_t ldc, std::size_t m,
                    std::size_t k, std::size_t n, bool accumulate, ColumnRule rule) {
  ScratchLease<PackArrays> lease(pack_scratch_slot());
  PackArrays& pack = lease.get();
  grow_to(pack.lanes, (n + kPanel - 1) / kPanel);
  fill_fma_lanes(rule, n, pack.lanes.data());
  for (std::size_t i = 0; i < m; ++i) {
    const float* ar = a + i * lda;
    for (std::size_t j = 0; j < n; ++j) {
      const bool fused = (pack.lanes[j / kPanel] >> (j % kPanel)) & 1u;
      float s = accumulate ? c[i * ldc + j] : 0.0f;
      if (fused) {
        for (std::size_t kk = 0; kk < k; ++kk) s = std::fma(ar[kk], b_at(src, kk, j), s);
      } else {
        for (std::size_t kk = 0; kk < k; ++kk) s = s + ar[kk] * b_at(src, kk, j);
      }
      c[i * ldc + j] = s;
    }
  }
}

void product(const float* a, std::size_t lda, const BSource& src, float* c, std::size_t ldc, std::size_t m,
             std::size_t k, std::size_t n, bool accumulate, ColumnRule rule) {
  if (m == 0 || k == 0 || n == 0) return;
  if (const TierKernels* t = vector_tier()) {
    vector_product(*t, a, lda, src, c, ldc, m, k, n, accumulate, rule);
  } else {
    scalar_product(a, lda, src, c, ldc, m, k, n, accumulate, rule);
  }
}

BSource row_major(const float* b, std::size_t ldb) {
  BSource s;
  s.b = b;
  s.ldb = ldb;
  return s;
}

BSource paneled(const float* packed_b, std::size_t k) {
  BSource s;
  s.panels = packed_b;
  s.panel_stride = k * kPanel;
  return s;
}

constexpr std::size_t kScalarBlock = 64;

// Tier 1: Bᵀ in the scratch, then 64 x 64 blocks of dot products, each a
// chain of rounded products added in kk order. Four columns at a time keep
// four independent chains in flight.
void scalar_blocked(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                    std::vector<float>& scratch) {
  grow_to(scratch, k * n);
  float* bt = scratch.data();
  for (std::size_t kk = 0; kk < k; ++kk) {
    for (std::size_t j = 0; j < n; ++j) bt[j * k + kk] = b[kk * n + j];
  }
  for (std::size_t i0 = 0; i0 < m; i0 += kScalarBlock) {
    const std::size_t i1 = std::min(m, i0 + kScalarBlock);
    for (std::size_t j0 = 0; j0 < n; j0 += kScalarBlock) {
      const std::size_t j1 = std::min(n, j0 + kScalarBlock);
      for (std::size_t i = i0; i < i1; ++i) {
        const float* ar = a + i * k;
        std::size_t j = j0;
        for (; j + 4 <= j1; j += 4) {
          const float* t0 = bt + j * k;
          const float* t1 = t0 + k;
          const float* t2 = t1 + k;
          const float* t3 = t2 + k;
          float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
          for (std::size_t kk = 0; kk < k; ++kk) {
            const float x = ar[kk];
            s0 = s0 + x * t0[kk];
            s1 = s1 + x * t1[kk];
            s2 = s2 + x * t2[kk];
            s3 = s3 + x * t3[kk];
          }
          c[i * n + j] = s0;
          c[i * n + j + 1] = s1;
          c[i * n + j + 2] = s2;
          c[i * n + j + 3] = s3;
        }
        for (; j < j1; ++j) {
          const float* t0 = bt + j * k;
          float s = 0.0f;
          for (std::size_t kk = 0; kk < k; ++kk) s = s + ar[kk] * t0[kk];
          c[i * n + j] = s;
        }
      }
    }
  }
}

// Tier 1 with packed B: per row and panel, sixteen chains of rounded
// products added in kk order, reading each panel row contiguously.
void scalar_packed(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k, std::size_t n) {
  for (std::size_t i = 0; i < m; ++i) {
    const float* ar = a + i * k;
    for (std::size_t j0 = 0; j0 < n; j0 += kPanel) {
      const float* panel = packed_b + (j0 / kPanel) * k * kPanel;
      float s[kPanel] = {};
      for (std::size_t kk = 0; kk < k; ++kk) {
        const float x = ar[kk];
        for (std::size_t t = 0; t < kPanel; ++t) s[t] = s[t] + x * panel[kk * kPanel + t];
      }
      const std::size_t w = std::min(kPanel, n - j0);
      for (std::size_t t = 0; t < w; ++t) c[i * n + j0 + t] = s[t];
    }
  }
}

}  // namespace

void matmul_f32_blocked(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                        std::vector<float>& scratch) {
  if (m == 0 || k == 0 || n == 0) return;
  if (vector_tier() != nullptr) return matmul_f32_recursive(a, b, c, m, k, n, k, n, n, false);
  scalar_blocked(a, b, c, m, k, n, scratch);
}

void matmul_f32_packed(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k,
                       std::size_t n) {
  if (m == 0 || k == 0 || n == 0) return;
  if (vector_tier() != nullptr) return matmul_f32_packed_recursive(a, packed_b, c, m, k, n, false);
  scalar_packed(a, packed_b, c, m, k, n);
}

void matmul_f32_recursive(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                          std::size_t lda, std::size_t ldb, std::size_t ldc, bool accumulate) {
  product(a, lda, row_major(b, ldb), c, ldc, m, k, n, accumulate, ColumnRule::Halving);
}

void matmul_f32_fma_strided(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                            std::size_t lda, std::size_t ldb, std::size_t ldc, bool accumulate) {
  product(a, lda, row_major(b, ldb), c, ldc, m, k, n, accumulate, ColumnRule::Leaf);
}

void matmul_f32_packed_recursive(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k,
                                 std::size_t n, bool accumulate) {
  product(a, k, paneled(packed_b, k), c, n, m, k, n, accumulate, ColumnRule::Panels);
}

void matmul_f32_packed_b(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k,
                         std::size_t n, bool accumulate) {
  product(a, k, paneled(packed_b, k), c, n, m, k, n, accumulate, ColumnRule::Panels);
}

}  // namespace tessary::cpu
