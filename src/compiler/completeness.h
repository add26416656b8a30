#pragma once
// The completeness step of certification: a digest that states what a
// compilation at a given width covers. It depends on the width alone, so
// every op node of one compilation carries the same digest.
#include <cstdint>
#include <optional>
#include <string_view>

#include "archive/hasher.h"

namespace tessary {

// The tensor type of the certificates, as an IRI on the project's own
// domain. These exact bytes are hashed; changing them changes every
// certificate the compiler produces.
inline constexpr std::string_view kTensorTypeIri = "https://tessary.dev/type/tensor";

// BLAKE3 over: width as 2 bytes big-endian, 8 zero bytes, the tensor type
// IRI, one zero byte, 8 zero bytes, one byte 2. Nothing for a width that does
// not fit 16 bits.
std::optional<Digest> completeness_digest(std::uint32_t width);

}  // namespace tessary
