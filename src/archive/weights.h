#pragma once
// Weights section and the store that deduplicates weight bytes by content.
//
// Payload: count u32, then per weight
//   fingerprint (32 bytes, BLAKE3 of the bytes), byte length m u64, m bytes.
// Records are written in ascending fingerprint order; readers must not rely
// on any order.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "archive/bytes.h"
#include "archive/error.h"
#include "archive/hasher.h"

namespace tessary {

using WeightFingerprint = Digest;

class WeightStore {
 public:
  using Map = std::map<WeightFingerprint, Bytes>;

  WeightStore() = default;

  // Adds bytes under their BLAKE3 fingerprint. When the fingerprint is
  // already present the new bytes are dropped and the stored ones kept.
  WeightFingerprint insert(Bytes&& bytes);
  // Same, copying the bytes only when they are not stored yet (lvalue byte
  // vectors land here, so a duplicate is never copied).
  WeightFingerprint insert(ByteView bytes);

  std::optional<ByteView> get(const WeightFingerprint& fingerprint) const;
  bool contains(const WeightFingerprint& fingerprint) const { return weights_.contains(fingerprint); }

  std::size_t size() const { return weights_.size(); }
  bool empty() const { return weights_.empty(); }
  // Iterates in ascending fingerprint order.
  Map::const_iterator begin() const { return weights_.begin(); }
  Map::const_iterator end() const { return weights_.end(); }

  friend bool operator==(const WeightStore&, const WeightStore&) = default;

 private:
  // Decoding checks each fingerprint itself and then stores without hashing
  // the (possibly large) bytes a second time.
  friend ArchiveResult<WeightStore> decode_weights(ByteView payload);

  // An ordered map, so that encoding walks the weights in fingerprint order:
  // the same program then always compiles to the same archive bytes, however
  // its constants were inserted.
  Map weights_;
};

// A source that can supply weight bytes on demand, for weights an archive
// names but does not carry. Sessions hold an optional shared one; nothing
// installs one yet, so every weight comes from the weights section.
class WeightProvider {
 public:
  virtual ~WeightProvider() = default;
  virtual std::optional<ByteView> weight(const WeightFingerprint& fingerprint) const = 0;
};
using SharedWeightProvider = std::shared_ptr<const WeightProvider>;

// Refuses more than 2^32 - 1 weights.
ArchiveResult<Bytes> encode_weights(const WeightStore& store);
// Each weight's bytes must hash to its stored fingerprint, else
// DigestMismatch. Repeated records of the same weight are stored once.
ArchiveResult<WeightStore> decode_weights(ByteView payload);

}  // namespace tessary
