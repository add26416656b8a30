#pragma once
// Loading the bytes of an external constant from its file, with every check
// that guards it: root directory, canonical paths, containment under the root
// when TESSARY_EXTERNAL_TENSOR_ROOT is set, exact length and BLAKE3 digest.
#include <cstdint>
#include <vector>

#include "compiler/source/compile_error.h"
#include "compiler/source/source_program.h"

namespace tessary {

inline constexpr const char* kExternalTensorRootVar = "TESSARY_EXTERNAL_TENSOR_ROOT";

// Reads `expected_len` bytes at the item's offset from the item's file and
// checks them against its digest. Never reads past expected_len bytes and
// grows its buffer only as bytes arrive, so a large declared length costs
// nothing when the file is short. The file is closed on every path.
CompileResult<std::vector<std::uint8_t>> read_external_constant(const SourceExternalConst& item,
                                                                std::uint64_t expected_len);

}  // namespace tessary
