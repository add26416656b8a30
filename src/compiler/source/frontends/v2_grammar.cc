#include "compiler/source/frontends/v2_grammar.h"

#include "compiler/source/number_text.h"

namespace tessary::v2 {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

}  // namespace

std::size_t Grammar::skip_blanks(std::size_t p) const {
  while (p < s_.size() && (s_[p] == ' ' || s_[p] == '\t')) ++p;
  return p;
}

bool Grammar::word(std::size_t& p, std::string_view w) const {
  if (s_.substr(p).starts_with(w)) {
    p += w.size();
    return true;
  }
  return false;
}

// The keyword followed by at least one blank, and those blanks.
bool Grammar::keyword(std::size_t& p, std::string_view kw) const {
  std::size_t q = p;
  if (!word(q, kw)) return false;
  std::size_t after = skip_blanks(q);
  if (after == q) return false;
  p = after;
  return true;
}

bool Grammar::ident(std::size_t& p, std::string_view& out) const {
  std::size_t q = p;
  if (q >= s_.size() || !is_letter(s_[q])) return false;
  while (q < s_.size() && (is_letter(s_[q]) || is_digit(s_[q]))) ++q;
  out = s_.substr(p, q - p);
  p = q;
  return true;
}

// blanks, c, and blanks after it when `blanks_after`.
bool Grammar::separator(std::size_t& p, char c, bool blanks_after) const {
  std::size_t q = skip_blanks(p);
  if (!at(q, c)) return false;
  ++q;
  p = blanks_after ? skip_blanks(q) : q;
  return true;
}

bool Grammar::dim(std::size_t& p, std::uint64_t& out) const {
  std::size_t begin = skip_blanks(p);
  std::size_t q = begin;
  while (q < s_.size() && is_digit(s_[q])) ++q;
  auto v = parse_u64(s_.substr(begin, q - begin), false);
  if (!v) return false;  // no digits, or beyond 64 bits
  out = *v;
  p = q;
  return true;
}

// "f32" blanks "[" dim (comma dim)* close_bracket
bool Grammar::f32_type(std::size_t& p, DimList& out) const {
  std::size_t q = p;
  if (!word(q, "f32")) return false;
  q = skip_blanks(q);
  if (!at(q, '[')) return false;
  ++q;
  DimList dims;
  std::uint64_t d = 0;
  if (!dim(q, d)) return false;
  dims.push(d);
  for (;;) {
    std::size_t save = q;
    if (!separator(q, ',', true) || !dim(q, d)) {
      q = save;
      break;
    }
    dims.push(d);
  }
  if (!separator(q, ']', false)) return false;
  out = dims;
  p = q;
  return true;
}

// [+-] (digits ["." [digits]] | "." digits) [("e"|"E") [+-] digits]
Res Grammar::number(std::size_t& p, std::string_view& out) {
  std::size_t q = p;
  if (at(q, '+') || at(q, '-')) ++q;
  if (q < s_.size() && is_digit(s_[q])) {
    while (q < s_.size() && is_digit(s_[q])) ++q;
    if (at(q, '.')) {
      ++q;
      while (q < s_.size() && is_digit(s_[q])) ++q;
    }
  } else if (at(q, '.') && q + 1 < s_.size() && is_digit(s_[q + 1])) {
    q += 1;
    while (q < s_.size() && is_digit(s_[q])) ++q;
  } else {
    return Res::Mismatch;
  }
  if (at(q, 'e') || at(q, 'E')) {
    ++q;
    std::size_t after_marker = q;
    if (at(q, '+') || at(q, '-')) ++q;
    if (q >= s_.size() || !is_digit(s_[q])) {
      hard_pos_ = after_marker;
      return Res::Hard;
    }
    while (q < s_.size() && is_digit(s_[q])) ++q;
  }
  out = s_.substr(p, q - p);
  p = q;
  return Res::Ok;
}

// "true" | "false" | number list | number; keywords first.
Res Grammar::value(std::size_t& p, ValueSyntax& out) {
  std::size_t q = p;
  if (word(q, "true")) {
    out = {ValueSyntax::Kind::True, s_.substr(p, q - p)};
    p = q;
    return Res::Ok;
  }
  if (word(q, "false")) {
    out = {ValueSyntax::Kind::False, s_.substr(p, q - p)};
    p = q;
    return Res::Ok;
  }
  Res r = number_list(q, [](std::string_view) {});
  if (r == Res::Hard) return r;
  if (r == Res::Ok) {
    out = {ValueSyntax::Kind::List, s_.substr(p, q - p)};
    p = q;
    return Res::Ok;
  }
  q = p;
  std::string_view n;
  r = number(q, n);
  if (r != Res::Ok) return r;
  out = {ValueSyntax::Kind::Number, n};
  p = q;
  return Res::Ok;
}

// "input" blanks ident colon type
Res Grammar::input_form(std::size_t& p, InputSyntax& out) const {
  std::size_t q = p;
  InputSyntax r;
  if (!keyword(q, "input") || !ident(q, r.name) || !separator(q, ':', true) || !f32_type(q, r.dims)) {
    return Res::Mismatch;
  }
  out = r;
  p = q;
  return Res::Ok;
}

// "const" blanks ident colon type equals value-list
Res Grammar::const_form(std::size_t& p, ConstSyntax& out) {
  std::size_t q = p;
  ConstSyntax r;
  if (!keyword(q, "const") || !ident(q, r.name) || !separator(q, ':', true) || !f32_type(q, r.dims) ||
      !separator(q, '=', true)) {
    return Res::Mismatch;
  }
  r.values_at = q;
  std::size_t count = 0;
  Res res = number_list(q, [&count](std::string_view) { ++count; });
  if (res != Res::Ok) return res;
  r.value_count = count;
  out = r;
  p = q;
  return Res::Ok;
}

// "let" blanks ident [colon type] equals ident blanks "(" call-items blanks ")"
Res Grammar::let_form(std::size_t& p, LetSyntax& out) {
  std::size_t q = p;
  LetSyntax r;
  if (!keyword(q, "let") || !ident(q, r.name)) return Res::Mismatch;
  std::size_t save = q;
  if (separator(q, ':', true) && f32_type(q, r.dims)) {
    r.has_type = true;
  } else {
    q = save;
    r.dims = DimList{};
  }
  if (!separator(q, '=', true) || !ident(q, r.op)) return Res::Mismatch;
  if (!separator(q, '(', false)) return Res::Mismatch;
  r.items_at = q;
  Res res = call_items(q, [](std::string_view, bool, const ValueSyntax&) {});
  if (res != Res::Ok) return res;
  if (!separator(q, ')', false)) return Res::Mismatch;
  out = r;
  p = q;
  return Res::Ok;
}

// "output" blanks ident
Res Grammar::output_form(std::size_t& p, OutputSyntax& out, std::size_t& stop) const {
  std::size_t q = p;
  stop = p;
  if (!keyword(q, "output")) return Res::Mismatch;
  stop = q;
  OutputSyntax r;
  if (!ident(q, r.name)) return Res::Mismatch;
  out = r;
  p = q;
  return Res::Ok;
}

}  // namespace tessary::v2
