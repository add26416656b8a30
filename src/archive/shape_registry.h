#pragma once
// Shape-registry section: the graph's shape descriptors, kept for inspection.
//
// Payload: count u32, then per descriptor (69 + 8e bytes)
//   inline dimensions in use u8, all eight inline slots u64 each (unused
//   slots as stored), further-dimension count e u32 (0 when none), e u64.
#include <span>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "types/shape.h"

namespace tessary {

// Refuses a rank above 8, more than 2^32 - 1 further dimensions and more
// than 2^32 - 1 descriptors.
ArchiveResult<Bytes> encode_shape_registry(std::span<const ShapeDescriptor> shapes);
// An extra-dimension count of 0 reads back as "no further list": the format
// does not tell an empty further list from an absent one. A rank above 8 is
// Malformed.
ArchiveResult<std::vector<ShapeDescriptor>> decode_shape_registry(ByteView payload);

}  // namespace tessary
