// tessary_compile_empty and tessary_compile_source.
#include <cstring>
#include <limits>
#include <string>

#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/lowering.h"
#include "ffi/boundary.h"
#include "ffi/compile_bridge.h"
#include "tessary/tessary.h"
#include "types/utf8.h"

using namespace tessary;
using namespace tessary::ffi;

namespace tessary::ffi {

FfiError lowering_failure(const CompileError& e) {
  switch (e.kind) {
    case CompileErrorKind::Message:
      return source_parse_error(e.message);
    case CompileErrorKind::GraphValidation:
      return ffi_error(2, "source builder graph validation");
    case CompileErrorKind::ShapeViolation:
      return ffi_error(5, "source builder shape violation");
    case CompileErrorKind::UnknownOp:
      return ffi_error(3, "source op unknown");
    default:
      return ffi_error(12, "source builder compile");
  }
}

std::int32_t copy_archive(const Bytes& archive, std::uint8_t* dst, std::size_t cap) {
  if (archive.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    return fail(ffi_error(12, "source builder compile"));
  std::memcpy(dst, archive.data(), std::min(cap, archive.size()));
  return static_cast<std::int32_t>(archive.size());
}

}  // namespace tessary::ffi

extern "C" {

TESSARY_API int32_t tessary_compile_empty(uint8_t* dst, size_t cap) {
  // No record is read, cleared or set here.
  return guarded([&]() -> std::int32_t {
    if (dst == nullptr) return -1;
    auto archive = compile_graph(Graph{});
    if (!archive) return -1;
    if (archive->size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
    std::memcpy(dst, archive->data(), std::min(cap, archive->size()));
    return static_cast<std::int32_t>(archive->size());
  });
}

TESSARY_API int32_t tessary_compile_source(const uint8_t* text, size_t text_len, uint8_t* dst, size_t cap) {
  return guarded_recording([&]() -> std::int32_t {
    if (text == nullptr || dst == nullptr) return fail(ffi_error(10, "compile source null"));
    if (!is_valid_utf8(text, text_len)) return fail(ffi_error(1, "source: utf8"));
    auto program = parse_ir_diagnostic(std::string_view(reinterpret_cast<const char*>(text), text_len), 0);
    if (!program) {
      const SourceDiagnostic& d = program.error();
      FfiError e;
      e.code = source_parse_error(d.message).code;
      e.message = d.message;  // the parser's own text, also when it names an unknown op
      e.line = d.line;
      e.column = d.column;
      e.rejected = d.rejected;
      return fail(e);
    }
    auto graph = lower_program(std::move(*program));
    if (!graph) return fail(lowering_failure(graph.error()));
    auto archive = compile_graph(std::move(*graph));
    if (!archive) return fail(ffi_error(12, "source builder compile"));
    return copy_archive(*archive, dst, cap);
  });
}

}  // extern "C"
