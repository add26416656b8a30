#pragma once
// The hashing interface of the library: plain unkeyed BLAKE3 with a 32-byte
// output, used as a chain of folds ending in finalize.
#include <array>
#include <cstdint>
#include <span>

#include "blake3.h"

namespace tessary {

using Digest = std::array<std::uint8_t, 32>;

class Blake3Hasher {
 public:
  Blake3Hasher() { blake3_hasher_init(&state_); }

  Blake3Hasher fold_byte(std::uint8_t b) && {
    blake3_hasher_update(&state_, &b, 1);
    return std::move(*this);
  }
  Blake3Hasher fold_bytes(std::span<const std::uint8_t> bytes) && {
    blake3_hasher_update(&state_, bytes.data(), bytes.size());
    return std::move(*this);
  }
  Digest finalize() const {
    Digest out;
    blake3_hasher_finalize(&state_, out.data(), out.size());
    return out;
  }

  // In-place forms for loops that stream many pieces into one state.
  void update(std::span<const std::uint8_t> bytes) {
    blake3_hasher_update(&state_, bytes.data(), bytes.size());
  }

 private:
  blake3_hasher state_;
};

// BLAKE3 of one byte string.
inline Digest blake3_digest(std::span<const std::uint8_t> bytes) {
  return Blake3Hasher{}.fold_bytes(bytes).finalize();
}

}  // namespace tessary
