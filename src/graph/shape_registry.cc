#include "graph/shape_registry.h"

#include <utility>

namespace tessary {

ShapeId ShapeRegistry::intern(ShapeDescriptor descriptor) {
  shapes_.push_back(std::move(descriptor));
  return static_cast<ShapeId>(shapes_.size() - 1);
}

const ShapeDescriptor* ShapeRegistry::get(ShapeId id) const {
  return id < shapes_.size() ? &shapes_[id] : nullptr;
}

}  // namespace tessary
