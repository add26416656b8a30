#pragma once
// Constants section: constants bound to slots before execution, either
// inline or by the fingerprint of a weight in the weights section.
//
// Payload: count u32, then per entry a 6-byte head
//   tag u8 (0 inline, 1 weight), slot u32, dtype u8
// followed by, for tag 0, byte length m u32 and m bytes; for tag 1, the
// 32-byte weight fingerprint.
#include <cstdint>
#include <span>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "archive/weights.h"
#include "types/dtype.h"

namespace tessary {
namespace archive {

// The archive's view of a constant. It lives in its own namespace because
// the graph keeps a different record of the same name for its constants.
struct ConstantEntry {
  Bytes bytes;                       // inline bytes; empty when in_weights
  WeightFingerprint fingerprint{};   // weight fingerprint; all zero when inline
  std::uint32_t slot = 0;
  bool in_weights = false;
  DTypeId dtype = DTypeId::F32;

  friend bool operator==(const ConstantEntry&, const ConstantEntry&) = default;
};

}  // namespace archive

// An entry marked in_weights is written by fingerprint alone (its bytes are
// not written); an inline one by its bytes alone. Refuses inline bytes over
// 2^32 - 1 and more than 2^32 - 1 entries.
ArchiveResult<Bytes> encode_constants(std::span<const archive::ConstantEntry> entries);
// A tag other than 0 or 1 is Malformed "unknown ConstantEntry tag".
ArchiveResult<std::vector<archive::ConstantEntry>> decode_constants(ByteView payload);

}  // namespace tessary
