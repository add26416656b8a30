#pragma once
// SmallVector: an array of trivially copyable values that keeps up to N of
// them inline and moves them all to the heap once it grows past N. Node
// operands, waves and the graph's input and output lists are short almost
// always, so this saves one allocation per node.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <type_traits>
#include <vector>

namespace tessary {

template <class T, std::size_t N>
class SmallVector {
  static_assert(std::is_trivially_copyable_v<T>, "SmallVector holds plain values only");

 public:
  SmallVector() = default;
  SmallVector(std::initializer_list<T> values) {
    for (const T& v : values) push_back(v);
  }
  explicit SmallVector(std::span<const T> values) {
    for (const T& v : values) push_back(v);
  }

  void push_back(const T& value) {
    if (size_ < N) {
      inline_[size_] = value;
    } else {
      if (size_ == N) heap_.assign(inline_.begin(), inline_.end());
      heap_.push_back(value);
    }
    ++size_;
  }

  void clear() {
    size_ = 0;
    heap_.clear();
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  bool is_inline() const { return size_ <= N; }

  T* data() { return size_ <= N ? inline_.data() : heap_.data(); }
  const T* data() const { return size_ <= N ? inline_.data() : heap_.data(); }
  T& operator[](std::size_t i) { return data()[i]; }
  const T& operator[](std::size_t i) const { return data()[i]; }
  T* begin() { return data(); }
  T* end() { return data() + size_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size_; }

  std::span<T> span() { return {data(), size_}; }
  std::span<const T> span() const { return {data(), size_}; }

  friend bool operator==(const SmallVector& a, const SmallVector& b) {
    return a.size_ == b.size_ && std::equal(a.begin(), a.end(), b.begin());
  }

 private:
  std::array<T, N> inline_{};
  std::size_t size_ = 0;
  std::vector<T> heap_;  // holds every element while size_ > N
};

}  // namespace tessary
