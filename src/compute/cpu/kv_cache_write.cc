#include "compute/cpu/kv_cache_write.h"

#include <cstring>

namespace tessary {

namespace {

// a * b * c, or nothing when it does not fit 64 bits.
std::optional<std::uint64_t> mul3(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
  std::uint64_t ab, abc;
  if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc)) return std::nullopt;
  return abc;
}

}  // namespace

void kv_cache_scatter_rows(const std::uint8_t* rows, std::uint8_t* cache, std::uint64_t groups,
                           std::uint64_t bucket_rows, std::uint64_t new_rows, std::uint64_t row_bytes,
                           std::uint64_t start) {
  for (std::uint64_t g = 0; g < groups; ++g) {
    for (std::uint64_t r = 0; r < new_rows; ++r) {
      const std::uint64_t dst_row = g * bucket_rows + (start + r) % bucket_rows;
      std::memcpy(cache + dst_row * row_bytes, rows + (g * new_rows + r) * row_bytes,
                  static_cast<std::size_t>(row_bytes));
    }
  }
}

BackendResult<void> kv_cache_write(const KvCacheWriteCall& call, Workspace& ws) {
  if (call.bucket_rows == 0 || call.row_bytes == 0)
    return std::unexpected(BackendError::unsupported("kv_cache_write: bucket_rows and row_bytes must be >= 1"));
  if (call.new_rows > call.bucket_rows)
    return std::unexpected(BackendError::unsupported("kv_cache_write: new_rows exceeds bucket_rows"));
  const auto cache_bytes = mul3(call.groups, call.bucket_rows, call.row_bytes);
  const auto new_bytes = mul3(call.groups, call.new_rows, call.row_bytes);
  if (!cache_bytes || !new_bytes) return std::unexpected(BackendError::buffer_error(call.cache.slot));
  const BufferRef ins[] = {call.cache, call.rows, call.position};
  auto sb = ws.split_borrow(call.output, ins);
  if (!sb) return std::unexpected(BackendError::buffer_error(call.output.slot));
  if (sb->input(0).size() < *cache_bytes) return std::unexpected(BackendError::buffer_error(call.cache.slot));
  if (sb->input(1).size() < *new_bytes) return std::unexpected(BackendError::buffer_error(call.rows.slot));
  if (sb->input(2).size() < 4) return std::unexpected(BackendError::buffer_error(call.position.slot));
  if (sb->output.size() < *cache_bytes) return std::unexpected(BackendError::buffer_error(call.output.slot));
  std::memcpy(sb->output.data(), sb->input(0).data(), static_cast<std::size_t>(*cache_bytes));
  std::uint32_t pos;
  std::memcpy(&pos, sb->input(2).data(), 4);
  kv_cache_scatter_rows(sb->input(1).data(), sb->output.data(), call.groups, call.bucket_rows, call.new_rows,
                        call.row_bytes, pos % call.bucket_rows);
  return {};
}

}  // namespace tessary
