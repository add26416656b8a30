#pragma once
// The line parser of the v2 text syntax: one line in, no item, one item or
// the diagnostic that explains why the line was refused.
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "compiler/source/source_document.h"
#include "compiler/source/source_program.h"

namespace tessary {

// Interns the names of the line in `program` as it reads them. The item is
// returned, not pushed.
std::expected<std::optional<SourceItem>, SourceDiagnostic> parse_source_line_diagnostic(
    std::uint64_t line_number, std::string_view line, SourceProgram& program);

}  // namespace tessary
