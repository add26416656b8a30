#include "compiler/source/source_program.h"

#include <utility>

namespace tessary {

std::optional<SourceShape> SourceShape::from_dims(std::span<const std::uint64_t> dims, DTypeId dtype) {
  if (dims.size() > kMaxSourceRank) return std::nullopt;
  SourceShape s;
  s.dtype = dtype;
  s.rank = static_cast<std::uint8_t>(dims.size());
  for (std::size_t i = 0; i < dims.size(); ++i) s.dims[i] = dims[i];
  return s;
}

ShapeDescriptor SourceShape::descriptor() const {
  ShapeDescriptor d;
  d.rank = rank;
  for (std::size_t i = 0; i < rank && i < kMaxSourceRank; ++i) d.dims[i] = dims[i];
  return d;
}

SourceBinding::SourceBinding(const SourceBinding& other)
    : result_name_(other.result_name_), call_(other.call_ ? std::make_unique<OpCall>(*other.call_) : nullptr) {}

SourceBinding& SourceBinding::operator=(const SourceBinding& other) {
  if (this != &other) {
    result_name_ = other.result_name_;
    call_ = other.call_ ? std::make_unique<OpCall>(*other.call_) : nullptr;
  }
  return *this;
}

SourceBinding SourceBinding::op(bool has_name, SourceSymbol name, OpCall call) {
  SourceBinding b;
  if (has_name) b.result_name_ = name;
  b.call_ = std::make_unique<OpCall>(std::move(call));
  return b;
}

bool operator==(const SourceBinding& a, const SourceBinding& b) {
  if (a.result_name_ != b.result_name_) return false;
  if (!a.call_ || !b.call_) return !a.call_ && !b.call_;
  return *a.call_ == *b.call_;
}

SourceSymbol SourceProgram::intern(std::string_view name) {
  if (auto it = index_.find(name); it != index_.end()) return it->second;
  auto symbol = static_cast<SourceSymbol>(names_.size());
  auto [it, inserted] = index_.emplace(std::string(name), symbol);
  try {
    names_.emplace_back(name);
  } catch (...) {
    index_.erase(it);  // keep the table and the index in step if memory runs out
    throw;
  }
  return symbol;
}

std::optional<SourceSymbol> SourceProgram::lookup(std::string_view name) const {
  if (auto it = index_.find(name); it != index_.end()) return it->second;
  return std::nullopt;
}

}  // namespace tessary
