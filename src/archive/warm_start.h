#pragma once
// Warm-start section: precomputed values carried under their content labels.
// This library only reads it; other tools produce it.
//
// Payload: count u32, then per entry (79 + L bytes)
//   a 32-bit word loading ignores, label (71 bytes), value length L u32,
//   L value bytes.
#include <cstdint>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "archive/labels.h"

namespace tessary {

struct WarmEntry {
  std::uint32_t aux = 0;  // written by the producing tool; not used by loading
  KappaLabel label;       // only known to be ASCII, not to be well-formed
  Bytes bytes;

  friend bool operator==(const WarmEntry&, const WarmEntry&) = default;
};

// Entries are allocated as they are read. A label byte of 0x80 or above is
// Malformed "malformed warm-start κ-label".
ArchiveResult<std::vector<WarmEntry>> decode_warm_start(ByteView payload);

}  // namespace tessary
