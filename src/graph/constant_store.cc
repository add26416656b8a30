#include "graph/constant_store.h"

#include <utility>

namespace tessary {

ConstantId ConstantStore::insert(ConstantEntry entry) {
  entries_.push_back(std::move(entry));
  digests_.emplace_back();
  return static_cast<ConstantId>(entries_.size() - 1);
}

const ConstantEntry* ConstantStore::get(ConstantId index) const {
  return index < entries_.size() ? &entries_[index] : nullptr;
}

ConstantEntry* ConstantStore::get(ConstantId index) {
  return index < entries_.size() ? &entries_[index] : nullptr;
}

}  // namespace tessary
