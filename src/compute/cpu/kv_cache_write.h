#pragma once
// kv_cache_write: writes a chunk of new rows into a ring of bucket_rows rows
// per group, starting at the position modulo bucket_rows. Moves bytes only.
#include "compute/backend_error.h"
#include "compute/kernel_call.h"
#include "compute/workspace.h"

namespace tessary {

BackendResult<void> kv_cache_write(const KvCacheWriteCall& call, Workspace& ws);

// The row copies shared by the kernel and the execute loop's in-place path:
// new row (g, r) of `rows` goes to ring row (g, (start + r) mod bucket_rows)
// of `cache`.
void kv_cache_scatter_rows(const std::uint8_t* rows, std::uint8_t* cache, std::uint64_t groups,
                           std::uint64_t bucket_rows, std::uint64_t new_rows, std::uint64_t row_bytes,
                           std::uint64_t start);

}  // namespace tessary
