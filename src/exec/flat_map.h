#pragma once
// Open-addressing hash map with linear probing and backward-shift deletion.
// clear() keeps the table, so maps that are emptied and refilled every run
// (the arena's generations) stop allocating once they have reached their
// peak size.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tessary {

template <class Key, class Value, class Hash>
class FlatMap {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void clear() {
    for (Slot& s : slots_) s.used = false;
    size_ = 0;
  }

  const Value* find(const Key& key) const {
    if (slots_.empty()) return nullptr;
    for (std::size_t i = index_of(key);; i = next(i)) {
      const Slot& s = slots_[i];
      if (!s.used) return nullptr;
      if (s.key == key) return &s.value;
    }
  }
  Value* find(const Key& key) { return const_cast<Value*>(std::as_const(*this).find(key)); }
  bool contains(const Key& key) const { return find(key) != nullptr; }

  // Inserts or overwrites.
  void put(const Key& key, const Value& value) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    for (std::size_t i = index_of(key);; i = next(i)) {
      Slot& s = slots_[i];
      if (!s.used) {
        s.used = true;
        s.key = key;
        s.value = value;
        ++size_;
        return;
      }
      if (s.key == key) {
        s.value = value;
        return;
      }
    }
  }

  bool erase(const Key& key) {
    if (slots_.empty()) return false;
    std::size_t i = index_of(key);
    for (;; i = next(i)) {
      if (!slots_[i].used) return false;
      if (slots_[i].key == key) break;
    }
    // Backward-shift: move later entries of the probe run into the hole.
    std::size_t hole = i;
    for (std::size_t j = next(hole);; j = next(j)) {
      Slot& s = slots_[j];
      if (!s.used) break;
      const std::size_t home = index_of(s.key);
      const bool between = hole <= j ? (home > hole && home <= j) : (home > hole || home <= j);
      if (!between) {
        slots_[hole] = s;
        hole = j;
      }
    }
    slots_[hole].used = false;
    --size_;
    return true;
  }

  template <class F>
  void for_each(F&& f) const {
    for (const Slot& s : slots_) {
      if (s.used) f(s.key, s.value);
    }
  }

  void swap(FlatMap& other) noexcept {
    slots_.swap(other.slots_);
    std::swap(size_, other.size_);
  }

 private:
  struct Slot {
    Key key{};
    Value value{};
    bool used = false;
  };

  std::size_t index_of(const Key& key) const { return Hash{}(key) & (slots_.size() - 1); }
  std::size_t next(std::size_t i) const { return (i + 1) & (slots_.size() - 1); }

  void grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
    size_ = 0;
    for (const Slot& s : old) {
      if (s.used) put(s.key, s.value);
    }
  }

  std::vector<Slot> slots_;
  std::size_t size_ = 0;
};

}  // namespace tessary
