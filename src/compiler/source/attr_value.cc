#include "compiler/source/attr_value.h"

#include <utility>

#include "compiler/source/number_text.h"

namespace tessary {

AttrValue AttrValue::boolean(bool value) {
  AttrValue v;
  v.kind_ = Kind::Bool;
  v.flag_ = value;
  return v;
}

AttrValue AttrValue::number(std::string text) {
  AttrValue v;
  v.kind_ = Kind::Number;
  v.number_ = std::move(text);
  return v;
}

AttrValue AttrValue::list(std::vector<std::string> texts) {
  AttrValue v;
  v.kind_ = Kind::List;
  v.list_ = std::move(texts);
  return v;
}

AttrResult<std::uint32_t> AttrValue::u32() const {
  if (kind_ != Kind::Number) return std::unexpected(kAttrExpectedNumber);
  if (auto v = parse_u32(number_)) return *v;
  return std::unexpected(kAttrBadNumber);
}

AttrResult<std::int32_t> AttrValue::i32() const {
  if (kind_ != Kind::Number) return std::unexpected(kAttrExpectedNumber);
  if (auto v = parse_i32(number_)) return *v;
  return std::unexpected(kAttrBadNumber);
}

AttrResult<std::vector<std::uint32_t>> AttrValue::u32_list() const {
  if (kind_ != Kind::List) return std::unexpected(kAttrExpectedList);
  std::vector<std::uint32_t> out;
  out.reserve(list_.size());
  for (const std::string& text : list_) {
    auto v = parse_u32(text);
    if (!v) return std::unexpected(kAttrBadNumber);
    out.push_back(*v);
  }
  return out;
}

AttrResult<float> AttrValue::f32() const {
  if (kind_ != Kind::Number) return std::unexpected(kAttrExpectedNumber);
  if (auto v = decimal_to_f32(number_)) return *v;
  return std::unexpected(kAttrBadNumber);
}

AttrResult<std::uint32_t> AttrValue::u32_bits() const { return u32(); }

AttrResult<std::uint8_t> AttrValue::u8() const {
  if (kind_ != Kind::Number) return std::unexpected(kAttrExpectedNumber);
  if (auto v = parse_u8(number_)) return *v;
  return std::unexpected(kAttrBadNumber);
}

AttrResult<bool> AttrValue::as_bool() const {
  if (kind_ != Kind::Bool) return std::unexpected(kAttrExpectedBool);
  return flag_;
}

}  // namespace tessary
