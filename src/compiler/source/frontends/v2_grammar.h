#pragma once
// Recognisers for the statement forms of the v2 text syntax, over one trimmed
// line. They only recognise and locate: names, dimensions and number texts
// are handed out as views into the line, and callers convert them. Inside a
// statement only blanks (space, tab) separate tokens.
//
// Every recogniser either matches and advances the position, or reports a
// mismatch and leaves it alone, or reports a hard failure: an exponent marker
// not followed by digits, after which no other reading of the line is tried.
// None reports "input ended early"; running out of text is a mismatch.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessary::v2 {

enum class Res : std::uint8_t { Ok, Mismatch, Hard };

// Dimensions of a type; only the first eight are kept, all are counted.
struct DimList {
  std::array<std::uint64_t, 8> dims{};
  std::size_t count = 0;
  void push(std::uint64_t d) {
    if (count < dims.size()) dims[count] = d;
    ++count;
  }
};

// An attribute value as recognised: the keyword, the number text, or the
// span of a bracketed list (from "[" to just after "]").
struct ValueSyntax {
  enum class Kind : std::uint8_t { True, False, Number, List } kind = Kind::Number;
  std::string_view text;
};

struct InputSyntax {
  std::string_view name;
  DimList dims;
};

struct ConstSyntax {
  std::string_view name;
  DimList dims;
  std::size_t values_at = 0;  // position of the value list's "["
  std::size_t value_count = 0;
};

struct LetSyntax {
  std::string_view name;
  bool has_type = false;
  DimList dims;
  std::string_view op;
  std::size_t items_at = 0;  // position just after "("
};

struct OutputSyntax {
  std::string_view name;
};

class Grammar {
 public:
  explicit Grammar(std::string_view line) : s_(line) {}

  std::string_view text() const { return s_; }
  // After Res::Hard: the position just after the exponent marker.
  std::size_t hard_pos() const { return hard_pos_; }

  Res input_form(std::size_t& p, InputSyntax& out) const;
  Res const_form(std::size_t& p, ConstSyntax& out);
  Res let_form(std::size_t& p, LetSyntax& out);
  // `stop` receives where the form stopped matching: 0, or just after the
  // keyword and its blanks when those matched.
  Res output_form(std::size_t& p, OutputSyntax& out, std::size_t& stop) const;

  // Re-walks a value list that const_form matched at `at`, calling
  // on_number(text) for each number in order.
  template <class F>
  void each_value(std::size_t at, F&& on_number) {
    std::size_t p = at;
    number_list(p, on_number);
  }

  // Re-walks the call items of a let_form match starting at `at`, calling
  // on_item(name, has_value, value) for each item in order.
  template <class F>
  void each_call_item(std::size_t at, F&& on_item) {
    std::size_t p = at;
    call_items(p, on_item);
  }

  // Re-walks a list value, calling on_number(text) for each element.
  template <class F>
  void each_list_element(const ValueSyntax& list, F&& on_number) const {
    Grammar sub(list.text);
    std::size_t p = 0;
    sub.number_list(p, on_number);
  }

 private:
  bool at(std::size_t p, char c) const { return p < s_.size() && s_[p] == c; }
  std::size_t skip_blanks(std::size_t p) const;
  bool word(std::size_t& p, std::string_view w) const;
  bool keyword(std::size_t& p, std::string_view kw) const;
  bool ident(std::size_t& p, std::string_view& out) const;
  bool separator(std::size_t& p, char c, bool blanks_after) const;
  bool dim(std::size_t& p, std::uint64_t& out) const;
  bool f32_type(std::size_t& p, DimList& out) const;
  Res number(std::size_t& p, std::string_view& out);
  Res value(std::size_t& p, ValueSyntax& out);

  // "[" blanks number (comma blanks number)* close_bracket
  template <class F>
  Res number_list(std::size_t& p, F&& on_number) {
    std::size_t q = p;
    if (!at(q, '[')) return Res::Mismatch;
    q = skip_blanks(q + 1);
    std::string_view n;
    if (Res r = number(q, n); r != Res::Ok) return r;
    on_number(n);
    for (;;) {
      std::size_t save = q;
      if (!separator(q, ',', true)) break;
      Res r = number(q, n);
      if (r == Res::Hard) return r;
      if (r == Res::Mismatch) {
        q = save;
        break;
      }
      on_number(n);
    }
    if (!separator(q, ']', false)) return Res::Mismatch;
    p = q;
    return Res::Ok;
  }

  // blanks ident (equals value)?
  Res call_item(std::size_t& p, std::string_view& name, bool& has_value, ValueSyntax& v) {
    std::size_t q = skip_blanks(p);
    if (!ident(q, name)) return Res::Mismatch;
    has_value = false;
    std::size_t save = q;
    if (separator(q, '=', true)) {
      Res r = value(q, v);
      if (r == Res::Hard) return r;
      if (r == Res::Ok) {
        has_value = true;
      } else {
        q = save;
      }
    } else {
      q = save;
    }
    p = q;
    return Res::Ok;
  }

  // Zero or more call items separated by commas.
  template <class F>
  Res call_items(std::size_t& p, F&& on_item) {
    std::size_t q = p;
    std::string_view name;
    bool has_value = false;
    ValueSyntax v;
    Res r = call_item(q, name, has_value, v);
    if (r == Res::Hard) return r;
    if (r == Res::Ok) {
      on_item(name, has_value, v);
      for (;;) {
        std::size_t save = q;
        if (!separator(q, ',', true)) break;
        r = call_item(q, name, has_value, v);
        if (r == Res::Hard) return r;
        if (r == Res::Mismatch) {
          q = save;
          break;
        }
        on_item(name, has_value, v);
      }
    }
    p = q;
    return Res::Ok;
  }

  std::string_view s_;
  std::size_t hard_pos_ = 0;
};

}  // namespace tessary::v2
