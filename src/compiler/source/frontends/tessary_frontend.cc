#include "compiler/source/frontends/tessary_frontend.h"

#include <utility>

#include "compiler/source/frontends/legacy_line_parser.h"
#include "compiler/source/frontends/v2_line_parser.h"
#include "compiler/source/source_text.h"

namespace tessary {

bool looks_like_v2(std::string_view text) noexcept {
  LineSplitter lines(text);
  std::string_view line;
  std::uint64_t number = 0;
  while (lines.next(line, number)) {
    std::string_view t = trim_line(line).text;
    if (t.starts_with("let ")) return true;
    if ((t.starts_with("input ") || t.starts_with("const ")) && t.find(" f32[") != std::string_view::npos) {
      return true;
    }
  }
  return false;
}

std::expected<SourceDocument, SourceDiagnostic> TessaryFrontend::parse_document_diagnostic(std::string_view text) {
  const bool v2 = looks_like_v2(text);
  SourceProgram program;
  LineSplitter lines(text);
  std::string_view line;
  std::uint64_t number = 0;
  while (lines.next(line, number)) {
    auto item = v2 ? parse_source_line_diagnostic(number, line, program)
                   : legacy::parse_legacy_line_diagnostic(number, line, program);
    if (!item) return std::unexpected(std::move(item.error()));
    if (*item) program.push(std::move(**item));
  }
  return SourceDocument::single(std::move(program));
}

std::expected<SourceDocument, CompileError> TessaryFrontend::parse_document(std::string_view text) {
  auto doc = parse_document_diagnostic(text);
  if (!doc) return std::unexpected(CompileError::with_message(doc.error().message));
  return std::move(*doc);
}

}  // namespace tessary
