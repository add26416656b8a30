#pragma once
// The fields of a kernel call as a flat, named list in record order, so the
// inspector can print every variant the same way in text and in JSON.
#include <cstdint>
#include <string_view>
#include <vector>

#include "compute/kernel_call.h"

namespace tessary::cli {

struct CallField {
  enum class Kind : std::uint8_t { Buffer, Unsigned, Signed, Float, DType, Flag, List };
  std::string_view name;
  Kind kind = Kind::Unsigned;
  BufferRef buffer{};
  std::uint64_t value = 0;  // Unsigned, Flag, DType (the tag), Float (the binary32 bits)
  std::int64_t signed_value = 0;
  std::vector<std::uint64_t> list;
};

// Every field of the call's record. Optional references that the variant
// does not carry (a plain matmul's addend) are left out; references that are
// absent but part of the record are listed with their "none" slot.
std::vector<CallField> call_fields(const KernelCall& call);

// The binary32 value of a Float field.
float field_float(const CallField& f);

}  // namespace tessary::cli
