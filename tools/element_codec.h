#pragma once
// Reading and writing tensor elements of every element type as doubles, for
// filling inputs from text and printing outputs.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "types/dtype.h"

namespace tessary::cli {

// Bytes per element as ports count them: the element width, or 1 for the
// types without a whole-byte width (bool, u8, i8, i4, e8cb, unknown tags).
std::size_t port_element_bytes(DTypeId dtype);

// True when values can be written into elements of this type from numbers
// (every fixed-width type; not the sub-byte ones, which only raw bytes fill).
bool writable_from_numbers(DTypeId dtype);

// Stores `value` as element `index`, converting to the element type: floats
// round to nearest, integers truncate toward zero and saturate at the type's
// range (NaN stores 0), bool stores 1 for any non-zero value.
void store_element(DTypeId dtype, std::span<std::uint8_t> bytes, std::size_t index, double value);

// Element `index` as a double; nothing for the sub-byte types.
std::optional<double> load_element(DTypeId dtype, std::span<const std::uint8_t> bytes, std::size_t index);

// A short readable spelling of one element: integers in full, floats with up
// to six significant digits, "nan", "inf", "-inf", "true"/"false" for bool.
std::string format_element(DTypeId dtype, std::span<const std::uint8_t> bytes, std::size_t index);

}  // namespace tessary::cli
