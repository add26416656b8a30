#include "archive/weights.h"

#include <algorithm>

#include "archive/payload_rules.h"

namespace tessary {

WeightFingerprint WeightStore::insert(Bytes&& bytes) {
  WeightFingerprint fp = blake3_digest(bytes);
  weights_.try_emplace(fp, std::move(bytes));
  return fp;
}

WeightFingerprint WeightStore::insert(ByteView bytes) {
  WeightFingerprint fp = blake3_digest(bytes);
  if (!weights_.contains(fp)) weights_.emplace(fp, Bytes(bytes.begin(), bytes.end()));
  return fp;
}

std::optional<ByteView> WeightStore::get(const WeightFingerprint& fingerprint) const {
  auto it = weights_.find(fingerprint);
  if (it == weights_.end()) return std::nullopt;
  return ByteView(it->second);
}

ArchiveResult<Bytes> encode_weights(const WeightStore& store) {
  ByteWriter w;
  if (auto r = put_count(w, store.size()); !r) return std::unexpected(r.error());
  for (const auto& [fp, bytes] : store) {
    w.bytes(fp);
    w.u64(bytes.size());
    w.bytes(bytes);
  }
  return w.take();
}

ArchiveResult<WeightStore> decode_weights(ByteView payload) {
  Cursor c(payload);
  auto count = read_count(c);
  if (!count) return std::unexpected(count.error());
  WeightStore store;
  for (std::uint32_t i = 0; i < *count; ++i) {
    auto fp_bytes = c.bytes(sizeof(WeightFingerprint));
    if (!fp_bytes) return std::unexpected(fp_bytes.error());
    WeightFingerprint stored;
    std::copy(fp_bytes->begin(), fp_bytes->end(), stored.begin());
    auto len = c.u64();
    if (!len) return std::unexpected(len.error());
    auto bytes = c.bytes(*len);
    if (!bytes) return std::unexpected(bytes.error());
    if (blake3_digest(*bytes) != stored) return std::unexpected(ArchiveError::digest_mismatch());
    if (!store.weights_.contains(stored)) store.weights_.emplace(stored, Bytes(bytes->begin(), bytes->end()));
  }
  return store;
}

}  // namespace tessary
