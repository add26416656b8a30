#pragma once
// The native text frontend. A text that shows a v2 marker is read line by
// line with the v2 syntax; any other text, the empty one included, with the
// legacy line syntax. Either way the result is a one-graph document or the
// first diagnostic; no partial program survives a diagnostic.
#include <expected>
#include <string_view>

#include "compiler/source/compile_error.h"
#include "compiler/source/source_document.h"

namespace tessary {

// True when some line, trimmed, starts with "let " or starts with "input " or
// "const " and contains " f32[".
bool looks_like_v2(std::string_view text) noexcept;

struct TessaryFrontend {
  static std::expected<SourceDocument, SourceDiagnostic> parse_document_diagnostic(std::string_view text);
  // The same, with the diagnostic reduced to its message.
  static std::expected<SourceDocument, CompileError> parse_document(std::string_view text);
};

}  // namespace tessary
