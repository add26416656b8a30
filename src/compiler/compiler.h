#pragma once
// Compiler: one Graph to the bytes of one archive. compile() checks the
// quantized-weight declarations, runs the graph passes, walks the schedule
// wave by wave giving every op node a certificate and one kernel call,
// rewrites the call list (output-major dequantize-matmul fusion, B-panel
// packing of constant matmul operands) and hands everything to TessWriter.
//
// Every entry point compiles with target 0 ("cpu") and width 32. The result
// depends only on the graph, target and width: the same graph compiles to the
// same bytes every time.
#include <cstdint>

#include "archive/bytes.h"
#include "compiler/certificate_cache.h"
#include "compiler/source/compile_error.h"
#include "graph/graph.h"

namespace tessary {

inline constexpr std::uint32_t kDefaultCompileWidth = 32;
inline constexpr std::uint32_t kDefaultCompileTarget = 0;

class Compiler {
 public:
  // Takes the graph; `target` indexes the compile-target names
  // (compile_target_name), `width` is the compile width.
  Compiler(Graph graph, std::uint32_t target = kDefaultCompileTarget, std::uint32_t width = kDefaultCompileWidth);

  // Consumes the graph: a Compiler compiles once, and a second call fails
  // with "compiler: graph already compiled". Errors: the OUTPUT_MAJOR
  // preflight and the decode-attention and cache-write rules (graph
  // validation), the matmul shape rules (shape violation), "op emitter", a
  // lowering refusal, and "archive: write failed" for a program the archive
  // cannot encode (a name over 65535 bytes, say).
  CompileResult<Bytes> compile();

  // The certificates of this compilation, keyed by op kind, width and target.
  const CertificateCache& certificate_cache() const { return cache_; }
  std::uint32_t width() const { return width_; }
  std::uint32_t target() const { return target_; }

 private:
  Compiler(Graph graph, std::uint32_t target, std::uint32_t width, std::uint64_t hash_seed);

  Graph graph_;
  CertificateCache cache_;
  std::uint64_t hash_seed_;  // spreads the certificate cache's buckets
  std::uint32_t width_;
  std::uint32_t target_;
  bool consumed_ = false;
};

}  // namespace tessary
