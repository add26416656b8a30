#pragma once
// WeightLayout: how a quantized weight's bytes are ordered. The graph's
// quantization records and the weight tiers of the compute layer name the
// same two values, so both use this one enumeration; the compiler reads the
// two side by side. Two spellings of each value are kept because both parts
// were written against their own.
#include <cstdint>

namespace tessary {

enum class WeightLayout : std::uint8_t {
  ROW_MAJOR = 0,     // weight [k, n], element (r, c) at r n + c
  OUTPUT_MAJOR = 1,  // weight [n, k], element (r, c) at c k + r
  RowMajor = ROW_MAJOR,
  OutputMajor = OUTPUT_MAJOR,
};

}  // namespace tessary
