#include "compiler/source/frontends/legacy_line_parser.h"

#include <array>
#include <bit>
#include <utility>

#include "compiler/source/number_text.h"
#include "compiler/source/source_text.h"

namespace tessary::legacy {

namespace {

using LineResult = std::expected<std::optional<SourceItem>, SourceDiagnostic>;

std::size_t token_end(std::string_view text, std::size_t pos) {
  while (pos < text.size() && white_space_at(text, pos) == 0) ++pos;
  return pos;
}

std::size_t blanks_end(std::string_view text, std::size_t pos) {
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  return pos;
}

}  // namespace

TokenList token_list(std::string_view text) noexcept {
  TokenList list;
  list.text = text;
  std::size_t pos = 0;
  for (;;) {
    std::size_t end = token_end(text, pos);
    if (end == pos) break;  // no token here: white space other than blanks
    ++list.count;
    pos = end;
    std::size_t next = blanks_end(text, pos);
    if (next == pos || next >= text.size() || white_space_at(text, next) != 0) break;
    pos = next;
  }
  list.stop = pos;
  list.covered = pos == text.size();
  return list;
}

std::string_view TokenCursor::next() noexcept {
  pos_ = blanks_end(text_, pos_);
  std::size_t end = token_end(text_, pos_);
  std::string_view token = text_.substr(pos_, end - pos_);
  pos_ = end;
  return token;
}

std::expected<SourceShape, std::string_view> parse_shape(std::string_view token, std::string_view message) {
  if (token.empty() || token.front() != ':') return std::unexpected(message);
  std::string_view rest = token.substr(1);
  std::array<std::uint64_t, kMaxSourceRank> dims{};
  std::size_t rank = 0;
  for (;;) {
    std::size_t x = rest.find('x');
    std::string_view part = rest.substr(0, x);
    auto d = parse_u64(part, true);
    if (!d || rank == kMaxSourceRank) return std::unexpected(message);
    dims[rank++] = *d;
    if (x == std::string_view::npos) break;
    rest.remove_prefix(x + 1);
  }
  auto shape = SourceShape::from_dims(std::span<const std::uint64_t>(dims.data(), rank));
  if (!shape) return std::unexpected(message);
  return *shape;
}

namespace {

class LegacyLine {
 public:
  LegacyLine(std::uint64_t line_number, TrimmedLine line, const TokenList& tokens, SourceProgram& program)
      : number_(line_number), line_(line), tokens_(tokens), cursor_(line.text), program_(program) {}

  LineResult run() {
    std::string_view directive = cursor_.next();
    if (directive == "op") return op();
    if (directive == "input") return input();
    if (directive == "const") return constant();
    if (directive == "output") return output();
    return fail("unknown directive");
  }

 private:
  std::unexpected<SourceDiagnostic> fail(std::string_view message) const {
    return std::unexpected(SourceDiagnostic{rejected_fragment(line_.text), message, number_, line_.base_column()});
  }

  LineResult op() {
    if (tokens_.count < 2) return fail("op: missing op name");
    auto kind = op_kind_from_name(cursor_.next());
    if (!kind) return fail("op: unknown op kind");
    OpCall call;
    call.kind = *kind;
    std::optional<std::string_view> result_name;
    for (std::size_t i = 2; i < tokens_.count; ++i) {
      std::string_view token = cursor_.next();
      if (token.starts_with("as=")) {
        result_name = token.substr(3);
      } else if (token.starts_with(":")) {
        auto shape = parse_shape(token, "op: bad shape");
        if (!shape) return fail(shape.error());
        call.result_shape = *shape;
      } else {
        call.inputs.push_back(program_.intern(token));
      }
    }
    SourceSymbol name = result_name ? program_.intern(*result_name) : 0;
    return SourceItem(SourceBinding::op(result_name.has_value(), name, std::move(call)));
  }

  LineResult input() {
    if (tokens_.count == 1) return fail("input: missing name");
    std::string_view name = cursor_.next();
    SourceInput item;
    if (tokens_.count >= 3) {
      auto shape = parse_shape(cursor_.next(), "input: bad shape");
      if (!shape) return fail(shape.error());
      item.shape = *shape;
    }
    item.name = program_.intern(name);
    return SourceItem(std::move(item));
  }

  LineResult constant() {
    if (tokens_.count == 1) return fail("const: missing name");
    if (tokens_.count < 3) return fail("const: missing shape");
    std::string_view name = cursor_.next();
    auto shape = parse_shape(cursor_.next(), "const: bad shape");
    if (!shape) return fail(shape.error());
    if (tokens_.count == 3) return fail("const: missing '='");
    if (cursor_.next() != "=") return fail("const: expected '='");
    if (tokens_.count < 5) return fail("const: missing values");
    SourceConst item;
    item.shape = *shape;
    item.value_count = tokens_.count - 4;
    item.bytes.reserve(item.value_count * 4);
    for (std::size_t i = 4; i < tokens_.count; ++i) {
      auto v = decimal_to_f32(cursor_.next());
      if (!v) return fail("const: bad value");
      auto bits = std::bit_cast<std::uint32_t>(*v);
      for (int b = 0; b < 4; ++b) item.bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
    }
    item.name = program_.intern(name);
    return SourceItem(std::move(item));
  }

  LineResult output() {
    if (tokens_.count == 1) return fail("output: missing name");
    SourceOutput item;
    item.source = program_.intern(cursor_.next());
    return SourceItem(std::move(item));
  }

  std::uint64_t number_;
  TrimmedLine line_;
  const TokenList& tokens_;
  TokenCursor cursor_;
  SourceProgram& program_;
};

}  // namespace

std::expected<std::optional<SourceItem>, SourceDiagnostic> parse_legacy_line_diagnostic(
    std::uint64_t line_number, std::string_view line, SourceProgram& program) {
  TrimmedLine trimmed = trim_line(line);
  if (trimmed.text.empty() || trimmed.text.front() == '#') return std::optional<SourceItem>{};
  TokenList tokens = token_list(trimmed.text);
  if (!tokens.covered) {
    return std::unexpected(SourceDiagnostic{rejected_fragment(trimmed.text.substr(tokens.stop)),
                                            "source: bad tokens", line_number, trimmed.base_column()});
  }
  return LegacyLine(line_number, trimmed, tokens, program).run();
}

}  // namespace tessary::legacy
