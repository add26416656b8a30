#pragma once
// The older, whitespace-tokenised line syntax: "op", "input", "const" and
// "output" directives with colon-prefixed, x-separated shapes and no
// attributes.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

#include "compiler/source/source_document.h"
#include "compiler/source/source_program.h"

namespace tessary::legacy {

// The tokens of a trimmed line: maximal runs of non-white-space characters
// separated by blanks. `covered` is false when white space other than blanks
// ends the run of tokens early; `stop` is where tokenising stopped.
struct TokenList {
  std::string_view text;
  std::size_t count = 0;
  std::size_t stop = 0;
  bool covered = true;
};

TokenList token_list(std::string_view trimmed_line) noexcept;

// Hands out the tokens of a covered TokenList one at a time.
class TokenCursor {
 public:
  explicit TokenCursor(std::string_view text) : text_(text) {}
  // The next token, or an empty view when none is left.
  std::string_view next() noexcept;

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// ":" then 1 to 8 dimensions separated by "x", each an optional "+" and
// decimal digits below 2^64. Fails with `message`.
std::expected<SourceShape, std::string_view> parse_shape(std::string_view token, std::string_view message);

std::expected<std::optional<SourceItem>, SourceDiagnostic> parse_legacy_line_diagnostic(
    std::uint64_t line_number, std::string_view line, SourceProgram& program);

}  // namespace tessary::legacy
