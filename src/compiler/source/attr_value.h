#pragma once
// The value written after "=" in an op-call argument, kept as text until its
// use is known, and its conversions. Each conversion fails with a fixed
// message naming what was wrong.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tessary {

// Messages of the conversions.
inline constexpr std::string_view kAttrBadNumber = "attr: bad number";
inline constexpr std::string_view kAttrExpectedNumber = "attr: expected number";
inline constexpr std::string_view kAttrExpectedList = "attr: expected list";
inline constexpr std::string_view kAttrExpectedBool = "attr: expected bool";

template <class T>
using AttrResult = std::expected<T, std::string_view>;

class AttrValue {
 public:
  enum class Kind : std::uint8_t { Bool, Number, List };

  static AttrValue boolean(bool value);
  static AttrValue number(std::string text);
  static AttrValue list(std::vector<std::string> texts);  // at least one number text

  Kind kind() const { return kind_; }
  bool bool_value() const { return flag_; }
  const std::string& number_text() const { return number_; }
  const std::vector<std::string>& list_texts() const { return list_; }

  AttrResult<std::uint32_t> u32() const;
  AttrResult<std::int32_t> i32() const;
  AttrResult<std::vector<std::uint32_t>> u32_list() const;
  AttrResult<float> f32() const;
  AttrResult<std::uint32_t> u32_bits() const;  // as u32(), naming an f32 bit pattern
  AttrResult<std::uint8_t> u8() const;
  AttrResult<bool> as_bool() const;

  friend bool operator==(const AttrValue&, const AttrValue&) = default;

 private:
  Kind kind_ = Kind::Bool;
  bool flag_ = false;
  std::string number_;
  std::vector<std::string> list_;
};

struct ParsedAttr {
  std::string key;
  AttrValue value;
  friend bool operator==(const ParsedAttr&, const ParsedAttr&) = default;
};

// One argument of an op call: a positional input name or a named attribute.
using CallItem = std::variant<std::string, ParsedAttr>;

}  // namespace tessary
