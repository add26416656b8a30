#pragma once
// The graph's constants: element bytes with their shape and element type, and
// per entry an optional content digest that the compile pipeline fills in.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "graph/node.h"
#include "types/dtype.h"

namespace tessary {

using ConstantDigest = std::array<std::uint8_t, 32>;

struct ConstantEntry {
  std::vector<std::uint8_t> bytes;  // little-endian element data
  ShapeId shape = 0;
  DTypeId dtype = DTypeId::F32;
  friend bool operator==(const ConstantEntry&, const ConstantEntry&) = default;
};

class ConstantStore {
 public:
  // Appends the entry with an absent digest and returns its index.
  ConstantId insert(ConstantEntry entry);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // nullptr when `index` is out of range.
  const ConstantEntry* get(ConstantId index) const;
  ConstantEntry* get(ConstantId index);

  const std::vector<ConstantEntry>& entries() const { return entries_; }
  std::vector<ConstantEntry>& entries() { return entries_; }

  // Parallel to entries(): one optional digest per entry.
  const std::vector<std::optional<ConstantDigest>>& digests() const { return digests_; }
  std::vector<std::optional<ConstantDigest>>& digests() { return digests_; }

 private:
  std::vector<ConstantEntry> entries_;
  std::vector<std::optional<ConstantDigest>> digests_;
};

}  // namespace tessary
