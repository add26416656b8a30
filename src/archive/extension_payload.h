#pragma once
// Extension section payload: one (key, value) pair per section.
//
// Payload: key length k u16, k key bytes (UTF-8), then the value: every
// remaining byte. Reading is done by the container (LoadedPlan::extensions).
#include <string_view>

#include "archive/bytes.h"
#include "archive/error.h"

namespace tessary {

// Refuses keys over 65535 bytes and keys that are not valid UTF-8, which the
// reader would reject.
ArchiveResult<Bytes> encode_extension(std::string_view key, ByteView value);

}  // namespace tessary
