#include "compiler/source/frontends/frontend_registry.h"

#include <array>
#include <utility>

#include "compiler/source/frontends/refusing_frontend.h"
#include "compiler/source/frontends/tessary_frontend.h"

namespace tessary {

namespace {

constexpr std::array<std::string_view, 3> kNativeNames = {"tessary", "tess", "native"};
constexpr std::array<std::string_view, 1> kNativeExtensions = {"txt"};
constexpr std::array<std::string_view, 2> kPythonNames = {"python", "py"};
constexpr std::array<std::string_view, 2> kPythonExtensions = {"py", "py3"};
constexpr std::array<std::string_view, 2> kTypeScriptNames = {"typescript", "ts"};
constexpr std::array<std::string_view, 2> kTypeScriptExtensions = {"ts", "tsx"};
constexpr std::array<std::string_view, 2> kRustNames = {"rust", "rs"};
constexpr std::array<std::string_view, 1> kRustExtensions = {"rs"};

const std::array<FrontendEntry, 4> kRegistry = {{
    {kNativeNames, kNativeExtensions, &TessaryFrontend::parse_document,
     &TessaryFrontend::parse_document_diagnostic},
    {kPythonNames, kPythonExtensions, &TypeScriptFrontend::parse_document,
     &TypeScriptFrontend::parse_document_diagnostic},
    {kTypeScriptNames, kTypeScriptExtensions, &TypeScriptFrontend::parse_document,
     &TypeScriptFrontend::parse_document_diagnostic},
    {kRustNames, kRustExtensions, &TypeScriptFrontend::parse_document,
     &TypeScriptFrontend::parse_document_diagnostic},
}};

}  // namespace

std::span<const FrontendEntry> frontend_registry() noexcept { return kRegistry; }

std::expected<SourceProgram, SourceDiagnostic> parse_ir_diagnostic(std::string_view text,
                                                                   std::size_t frontend_index) {
  if (frontend_index >= kRegistry.size()) {
    return std::unexpected(SourceDiagnostic::unplaced(kSourceLanguageUnsupported));
  }
  auto doc = kRegistry[frontend_index].parse_document_diagnostic_with(text);
  if (!doc) return std::unexpected(std::move(doc.error()));
  return select_diagnostic(std::move(*doc), std::nullopt);
}

}  // namespace tessary
