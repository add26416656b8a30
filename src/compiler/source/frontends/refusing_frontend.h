#pragma once
// The frontend behind every registry entry for a language this library does
// not read: it refuses any text without looking at it.
#include <expected>
#include <string_view>

#include "compiler/source/compile_error.h"
#include "compiler/source/source_document.h"

namespace tessary {

inline constexpr std::string_view kSourceLanguageUnsupported = "source language unsupported";

struct TypeScriptFrontend {
  static std::expected<SourceDocument, SourceDiagnostic> parse_document_diagnostic(std::string_view text);
  static std::expected<SourceDocument, CompileError> parse_document(std::string_view text);
};

}  // namespace tessary
