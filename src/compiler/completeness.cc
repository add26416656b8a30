#include "compiler/completeness.h"

#include <array>
#include <span>

namespace tessary {

std::optional<Digest> completeness_digest(std::uint32_t width) {
  if (width > 0xFFFF) return std::nullopt;
  const std::array<std::uint8_t, 2> width_be = {static_cast<std::uint8_t>(width >> 8),
                                                static_cast<std::uint8_t>(width & 0xFF)};
  const std::array<std::uint8_t, 8> zeros{};
  const std::span<const std::uint8_t> iri(reinterpret_cast<const std::uint8_t*>(kTensorTypeIri.data()),
                                          kTensorTypeIri.size());
  return Blake3Hasher{}
      .fold_bytes(width_be)
      .fold_bytes(zeros)
      .fold_bytes(iri)
      .fold_byte(0)
      .fold_bytes(zeros)
      .fold_byte(2)
      .finalize();
}

}  // namespace tessary
