#include "exec/graph_memo.h"

namespace tessary {

void GraphMemo::unlink(std::uint32_t n) {
  Node& node = nodes_[n];
  if (node.newer != kNil) nodes_[node.newer].older = node.older;
  if (node.older != kNil) nodes_[node.older].newer = node.newer;
  if (head_ == n) head_ = node.older;
  if (tail_ == n) tail_ = node.newer;
  node.newer = node.older = kNil;
}

void GraphMemo::push_front(std::uint32_t n) {
  Node& node = nodes_[n];
  node.newer = kNil;
  node.older = head_;
  if (head_ != kNil) nodes_[head_].newer = n;
  head_ = n;
  if (tail_ == kNil) tail_ = n;
}

bool GraphMemo::get(const LabelList& key, LabelList& out) {
  ++tick_;
  const std::uint32_t* n = index_.find(key);
  if (n == nullptr) return false;
  Node& node = nodes_[*n];
  node.stamp = tick_;
  unlink(*n);
  push_front(*n);
  out.clear();
  for (const KappaLabel& l : node.outputs) out.push_back(l);
  return true;
}

std::optional<LabelList> GraphMemo::get(const LabelList& key) {
  LabelList out;
  if (!get(key, out)) return std::nullopt;
  return out;
}

void GraphMemo::insert(const LabelList& key, const LabelList& outputs) {
  ++tick_;
  if (const std::uint32_t* n = index_.find(key)) {
    // Replacing an existing key never evicts; the stored key is kept.
    Node& node = nodes_[*n];
    node.outputs = outputs;
    node.stamp = tick_;
    unlink(*n);
    push_front(*n);
    return;
  }
  std::uint32_t slot;
  if (index_.size() >= capacity_ && tail_ != kNil) {
    slot = tail_;  // the smallest stamp
    unlink(slot);
    index_.erase(nodes_[slot].key);
  } else {
    nodes_.emplace_back();
    slot = static_cast<std::uint32_t>(nodes_.size() - 1);
  }
  Node& node = nodes_[slot];
  node.key = key;
  node.outputs = outputs;
  node.stamp = tick_;
  push_front(slot);
  index_.put(key, slot);
}

}  // namespace tessary
