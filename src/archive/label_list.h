#pragma once
// LabelList: a list of content labels that holds up to four without touching
// the heap (the input labels of a call, the port labels of a run) and spills
// to a vector beyond that.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <vector>

#include "archive/labels.h"

namespace tessary {

class LabelList {
 public:
  static constexpr std::size_t kInline = 4;

  LabelList() = default;
  LabelList(std::initializer_list<KappaLabel> labels) {
    for (const KappaLabel& l : labels) push_back(l);
  }
  explicit LabelList(std::span<const KappaLabel> labels) {
    for (const KappaLabel& l : labels) push_back(l);
  }

  void push_back(const KappaLabel& label) {
    if (!spilled_) {
      if (size_ < kInline) {
        inline_[size_++] = label;
        return;
      }
      spill_.reserve(2 * kInline);
      spill_.assign(inline_.begin(), inline_.begin() + size_);
      spilled_ = true;
    }
    spill_.push_back(label);
    ++size_;
  }

  // Empties the list; a spilled vector keeps its capacity for reuse.
  void clear() {
    spill_.clear();
    spilled_ = false;
    size_ = 0;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // True once the list has grown past the inline capacity.
  bool spilled() const { return spilled_; }

  KappaLabel* data() { return spilled_ ? spill_.data() : inline_.data(); }
  const KappaLabel* data() const { return spilled_ ? spill_.data() : inline_.data(); }
  KappaLabel& operator[](std::size_t i) { return data()[i]; }
  const KappaLabel& operator[](std::size_t i) const { return data()[i]; }
  KappaLabel* begin() { return data(); }
  KappaLabel* end() { return data() + size_; }
  const KappaLabel* begin() const { return data(); }
  const KappaLabel* end() const { return data() + size_; }

  std::span<const KappaLabel> span() const { return {data(), size_}; }
  operator std::span<const KappaLabel>() const { return span(); }

  // Equal when the lengths match and the labels match position by position.
  friend bool operator==(const LabelList& a, const LabelList& b) {
    return std::ranges::equal(a.span(), b.span());
  }

 private:
  std::array<KappaLabel, kInline> inline_{};
  std::vector<KappaLabel> spill_;
  std::size_t size_ = 0;
  bool spilled_ = false;
};

}  // namespace tessary

template <>
struct std::hash<tessary::LabelList> {
  std::size_t operator()(const tessary::LabelList& list) const noexcept {
    std::hash<tessary::KappaLabel> one;
    std::size_t h = list.size();
    for (const tessary::KappaLabel& l : list) h = h * 0x9E3779B97F4A7C15ull ^ one(l);
    return h;
  }
};
