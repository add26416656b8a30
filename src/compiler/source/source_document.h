#pragma once
// What a frontend produces: a document of one or more source graphs, or the
// first diagnostic, which locates a problem in the program text.
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/source/source_program.h"

namespace tessary {

struct SourceGraph {
  SourceProgram program;
  std::optional<std::string> name;  // the native text frontend leaves it out
};

struct SourceDocument {
  std::vector<SourceGraph> graphs;  // in the order the frontend produced them

  // A document of exactly one unnamed graph.
  static SourceDocument single(SourceProgram program);
};

struct SourceDiagnostic {
  std::string rejected;      // the rejected fragment; may be empty
  std::string_view message;  // a fixed text of the library
  std::uint64_t line = 1;    // 1-based
  std::uint64_t column = 1;  // 1-based, in bytes from the start of the line

  // A diagnostic that points at no place in the text.
  static SourceDiagnostic unplaced(std::string_view message) { return {{}, message, 1, 1}; }

  friend bool operator==(const SourceDiagnostic&, const SourceDiagnostic&) = default;
};

inline constexpr std::string_view kSourceGraphMissing = "source graph missing";
inline constexpr std::string_view kSourceGraphAmbiguous = "source graph ambiguous";
inline constexpr std::string_view kSourceGraphNotFound = "source graph not found";

// Picks the one graph that compilation works on: without a selector the
// document must hold exactly one graph; with one, exactly one graph must carry
// that name. The other graphs are dropped.
std::expected<SourceProgram, SourceDiagnostic> select_diagnostic(SourceDocument document,
                                                                 std::optional<std::string_view> selector);

}  // namespace tessary
