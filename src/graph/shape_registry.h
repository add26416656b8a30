#pragma once
// The graph's append-only list of shapes. Equal shapes are not merged: every
// intern hands out a fresh identifier, and passes compare identifiers.
#include <vector>

#include "graph/node.h"
#include "types/shape.h"

namespace tessary {

class ShapeRegistry {
 public:
  ShapeId intern(ShapeDescriptor descriptor);

  std::size_t size() const { return shapes_.size(); }
  bool empty() const { return shapes_.empty(); }

  // nullptr when `id` is out of range (identifier 0 of an empty registry).
  const ShapeDescriptor* get(ShapeId id) const;

  const std::vector<ShapeDescriptor>& shapes() const { return shapes_; }

 private:
  std::vector<ShapeDescriptor> shapes_;
};

}  // namespace tessary
