#pragma once
// The fixed table of frontends. Entry 0 is the native text frontend; the
// other entries name languages this library does not read and refuse every
// text with "source language unsupported".
#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "compiler/source/compile_error.h"
#include "compiler/source/frontends/refusing_frontend.h"
#include "compiler/source/source_document.h"

namespace tessary {

struct FrontendEntry {
  std::span<const std::string_view> languages;
  std::span<const std::string_view> extensions;
  std::expected<SourceDocument, CompileError> (*parse_document_with)(std::string_view text);
  std::expected<SourceDocument, SourceDiagnostic> (*parse_document_diagnostic_with)(std::string_view text);
};

std::span<const FrontendEntry> frontend_registry() noexcept;

// Parses `text` with frontend `frontend_index` and selects its only graph.
// An index outside the table is refused like an unsupported language.
std::expected<SourceProgram, SourceDiagnostic> parse_ir_diagnostic(std::string_view text,
                                                                   std::size_t frontend_index);

}  // namespace tessary
