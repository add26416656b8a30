#pragma once
// GraphMemo: a session's whole-run memo from the labels of a run's inputs to
// the labels of its outputs, evicting the entry least recently inserted or
// hit. Every get and insert takes a new tick; the entry with the smallest
// stamp is the tail of an intrusive recency list, so eviction needs no scan.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/label_list.h"
#include "exec/flat_map.h"

namespace tessary {

class GraphMemo {
 public:
  static constexpr std::size_t kSessionCapacity = 1024;

  explicit GraphMemo(std::size_t capacity = kSessionCapacity) : capacity_(capacity) {}

  // Advances the tick on every call. On a hit, restamps the entry and copies
  // its outputs into `out` (which keeps its storage), returning true.
  bool get(const LabelList& key, LabelList& out);
  std::optional<LabelList> get(const LabelList& key);
  void insert(const LabelList& key, const LabelList& outputs);

  std::size_t size() const { return index_.size(); }
  std::uint64_t tick() const { return tick_; }
  bool contains(const LabelList& key) const { return index_.contains(key); }

 private:
  static constexpr std::uint32_t kNil = UINT32_MAX;

  struct Hash {
    std::size_t operator()(const LabelList& l) const noexcept { return std::hash<LabelList>{}(l); }
  };
  struct Node {
    LabelList key;
    LabelList outputs;
    std::uint64_t stamp = 0;
    std::uint32_t newer = kNil;  // towards the head (most recent)
    std::uint32_t older = kNil;  // towards the tail (least recent)
  };

  void unlink(std::uint32_t n);
  void push_front(std::uint32_t n);

  FlatMap<LabelList, std::uint32_t, Hash> index_;
  std::vector<Node> nodes_;
  std::uint32_t head_ = kNil;
  std::uint32_t tail_ = kNil;
  std::uint64_t tick_ = 0;
  std::size_t capacity_;
};

}  // namespace tessary
