#pragma once
// Named op-call arguments of the v2 syntax, sorted into the per-kind
// attribute records of an op call. The first attribute that touches a record
// creates it with its defaults; later ones overwrite single fields, so a
// repeated key keeps its last value.
#include <expected>
#include <string_view>

#include "compiler/source/attr_value.h"
#include "compiler/source/source_program.h"

namespace tessary::v2 {

// Applies one attribute to `call` (whose kind is already set). On failure
// returns the fixed message and leaves `call` as it was.
std::expected<void, std::string_view> apply_attribute(OpCall& call, const ParsedAttr& attr);

}  // namespace tessary::v2
