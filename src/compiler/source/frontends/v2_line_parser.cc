#include "compiler/source/frontends/v2_line_parser.h"

#include <bit>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "compiler/source/attr_value.h"
#include "compiler/source/frontends/v2_attributes.h"
#include "compiler/source/frontends/v2_grammar.h"
#include "compiler/source/number_text.h"
#include "compiler/source/source_text.h"

namespace tessary {

namespace {

using v2::Res;
using LineResult = std::expected<std::optional<SourceItem>, SourceDiagnostic>;

constexpr std::string_view kBadSyntax = "source: bad v2 syntax";
constexpr std::string_view kBadShape = "source: bad shape";
constexpr std::string_view kBadValue = "const: bad value";
constexpr std::string_view kUnknownOpKind = "op: unknown op kind";

class LineParser {
 public:
  LineParser(std::uint64_t line_number, TrimmedLine line, SourceProgram& program)
      : number_(line_number), line_(line), grammar_(line.text), program_(program) {}

  LineResult run() {
    // The forms are tried in order; a form that does not match gives way.
    std::size_t p = 0;
    v2::InputSyntax in;
    if (grammar_.input_form(p, in) == Res::Ok) {
      if (auto trailing = check_trailing(p)) return std::unexpected(*trailing);
      return input(in);
    }
    v2::ConstSyntax cs;
    p = 0;
    Res r = grammar_.const_form(p, cs);
    if (r == Res::Hard) return std::unexpected(at_offset(kBadSyntax, grammar_.hard_pos()));
    if (r == Res::Ok) {
      if (auto trailing = check_trailing(p)) return std::unexpected(*trailing);
      return constant(cs);
    }
    v2::LetSyntax let;
    p = 0;
    r = grammar_.let_form(p, let);
    if (r == Res::Hard) return std::unexpected(at_offset(kBadSyntax, grammar_.hard_pos()));
    if (r == Res::Ok) {
      if (auto trailing = check_trailing(p)) return std::unexpected(*trailing);
      return binding(let);
    }
    v2::OutputSyntax out;
    std::size_t stop = 0;
    p = 0;
    if (grammar_.output_form(p, out, stop) == Res::Ok) {
      if (auto trailing = check_trailing(p)) return std::unexpected(*trailing);
      return output(out);
    }
    // No form matched: report where the last form tried stopped.
    return std::unexpected(at_offset(kBadSyntax, stop));
  }

 private:
  // A diagnostic for the text from `offset`: the column of its first
  // non-blank character and its first word.
  SourceDiagnostic at_offset(std::string_view message, std::size_t offset) const {
    std::string_view rest = line_.text.substr(offset);
    std::size_t skip = 0;
    while (skip < rest.size() && is_blank(rest[skip])) ++skip;
    return {rejected_fragment(rest), message, number_, line_.base_column() + offset + skip};
  }

  // A diagnostic of the statement as a whole: base column, keyword quoted.
  SourceDiagnostic of_line(std::string_view message) const {
    return {rejected_fragment(line_.text), message, number_, line_.base_column()};
  }

  std::optional<SourceDiagnostic> check_trailing(std::size_t end) const {
    if (end >= line_.text.size()) return std::nullopt;
    return at_offset(kBadSyntax, end);
  }

  std::optional<SourceShape> shape_of(const v2::DimList& dims) const {
    if (dims.count > kMaxSourceRank) return std::nullopt;
    return SourceShape::from_dims(std::span<const std::uint64_t>(dims.dims.data(), dims.count));
  }

  LineResult input(const v2::InputSyntax& in) {
    auto shape = shape_of(in.dims);
    if (!shape) return std::unexpected(of_line(kBadShape));
    SourceInput item;
    item.shape = shape;
    item.name = program_.intern(in.name);
    return SourceItem(std::move(item));
  }

  LineResult constant(const v2::ConstSyntax& cs) {
    auto shape = shape_of(cs.dims);
    if (!shape) return std::unexpected(of_line(kBadShape));
    SourceConst item;
    item.shape = shape;
    item.bytes.reserve(cs.value_count * 4);
    bool ok = true;
    grammar_.each_value(cs.values_at, [&](std::string_view text) {
      if (!ok) return;
      auto v = decimal_to_f32(text);
      if (!v) {
        ok = false;
        return;
      }
      auto bits = std::bit_cast<std::uint32_t>(*v);
      for (int i = 0; i < 4; ++i) item.bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    });
    if (!ok) return std::unexpected(of_line(kBadValue));
    item.value_count = cs.value_count;
    item.name = program_.intern(cs.name);
    return SourceItem(std::move(item));
  }

  LineResult binding(const v2::LetSyntax& let) {
    auto kind = op_kind_from_name(let.op);
    if (!kind) return std::unexpected(of_line(kUnknownOpKind));
    OpCall call;
    call.kind = *kind;
    if (let.has_type) {
      auto shape = shape_of(let.dims);
      if (!shape) return std::unexpected(of_line(kBadShape));
      call.result_shape = shape;
    }
    // Positional inputs are interned in order; attributes apply in source
    // order and the first failing one decides.
    std::optional<std::string_view> failure;
    grammar_.each_call_item(let.items_at, [&](std::string_view name, bool has_value, const v2::ValueSyntax& v) {
      if (failure) return;
      if (!has_value) {
        call.inputs.push_back(program_.intern(name));
        return;
      }
      ParsedAttr attr{std::string(name), attr_value(v)};
      if (auto applied = v2::apply_attribute(call, attr); !applied) failure = applied.error();
    });
    if (failure) return std::unexpected(of_line(*failure));
    SourceSymbol result = program_.intern(let.name);
    return SourceItem(SourceBinding::op(true, result, std::move(call)));
  }

  LineResult output(const v2::OutputSyntax& out) {
    SourceOutput item;
    item.source = program_.intern(out.name);
    return SourceItem(std::move(item));
  }

  AttrValue attr_value(const v2::ValueSyntax& v) const {
    switch (v.kind) {
      case v2::ValueSyntax::Kind::True:
        return AttrValue::boolean(true);
      case v2::ValueSyntax::Kind::False:
        return AttrValue::boolean(false);
      case v2::ValueSyntax::Kind::Number:
        return AttrValue::number(std::string(v.text));
      case v2::ValueSyntax::Kind::List:
        break;
    }
    std::vector<std::string> texts;
    grammar_.each_list_element(v, [&texts](std::string_view t) { texts.emplace_back(t); });
    return AttrValue::list(std::move(texts));
  }

  std::uint64_t number_;
  TrimmedLine line_;
  v2::Grammar grammar_;
  SourceProgram& program_;
};

}  // namespace

std::expected<std::optional<SourceItem>, SourceDiagnostic> parse_source_line_diagnostic(
    std::uint64_t line_number, std::string_view line, SourceProgram& program) {
  TrimmedLine trimmed = trim_line(line);
  if (trimmed.text.empty() || trimmed.text.front() == '#') return std::optional<SourceItem>{};
  return LineParser(line_number, trimmed, program).run();
}

}  // namespace tessary
