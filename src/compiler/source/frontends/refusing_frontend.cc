#include "compiler/source/frontends/refusing_frontend.h"

namespace tessary {

std::expected<SourceDocument, SourceDiagnostic> TypeScriptFrontend::parse_document_diagnostic(std::string_view) {
  return std::unexpected(SourceDiagnostic::unplaced(kSourceLanguageUnsupported));
}

std::expected<SourceDocument, CompileError> TypeScriptFrontend::parse_document(std::string_view) {
  return std::unexpected(CompileError::with_message(kSourceLanguageUnsupported));
}

}  // namespace tessary
