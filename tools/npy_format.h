#pragma once
// The .npy array file format, version 1.0 to write and 1.0 to 3.0 to read:
//   "\x93NUMPY", major, minor, header length (u16 in 1.0, u32 later),
//   a Python dict literal {'descr': '<f4', 'fortran_order': False,
//   'shape': (2, 3), } padded with blanks and a newline so the data starts
//   at a multiple of 64 bytes, then the elements in C order.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli_error.h"
#include "file_io.h"
#include "types/dtype.h"

namespace tessary::cli {

struct NpyArray {
  DTypeId dtype = DTypeId::F32;
  std::vector<std::uint64_t> shape;
  ByteBuffer data;  // little-endian elements, C order
};

// The descr string of an element type, or nothing for a type numpy has no
// little-endian spelling of (bf16, i4, e8cb).
std::optional<std::string> npy_descr(DTypeId dtype);

ByteBuffer write_npy(const NpyArray& array);

// Accepts little-endian (or byte-order-free) bool, integer and float
// element types that a port can hold; refuses Fortran order, big-endian and
// structured arrays, and data whose length does not match the shape.
CliResult<NpyArray> read_npy(const ByteBuffer& bytes);

}  // namespace tessary::cli
