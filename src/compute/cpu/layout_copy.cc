#include "compute/cpu/layout_copy.h"

#include <cstring>

namespace tessary {

BackendResult<void> layout_copy(const LayoutCall& call, Workspace& ws) {
  // n elements of the call's type. Sub-byte and unknown types have no
  // element width and move n bytes; fixed-width integer types move n times
  // their width, so an i32, i64 or u64 reshape is never cut short.
  const std::uint64_t width = element_width(call.dtype).value_or(1);
  if (call.n > UINT64_MAX / width) return std::unexpected(BackendError::buffer_error(call.input.slot));
  const std::uint64_t bytes = call.n * width;
  const BufferRef ins[] = {call.input};
  auto sb = ws.split_borrow(call.output, ins);
  if (!sb) return std::unexpected(BackendError::buffer_error(call.output.slot));
  if (sb->input(0).size() < bytes) return std::unexpected(BackendError::buffer_error(call.input.slot));
  if (sb->output.size() < bytes) return std::unexpected(BackendError::buffer_error(call.output.slot));
  if (bytes != 0) std::memcpy(sb->output.data(), sb->input(0).data(), static_cast<std::size_t>(bytes));
  return {};
}

BackendResult<void> concat_copy(const BinaryCall& call, Workspace& ws) {
  const BufferRef ins[] = {call.a, call.b};
  auto sb = ws.split_borrow(call.output, ins);
  if (!sb) return std::unexpected(BackendError::buffer_error(call.output.slot));
  const ReadBytes a = sb->input(0), b = sb->input(1);
  if (sb->output.size() < a.size() + b.size()) return std::unexpected(BackendError::buffer_error(call.output.slot));
  if (!a.empty()) std::memcpy(sb->output.data(), a.data(), a.size());
  if (!b.empty()) std::memcpy(sb->output.data() + a.size(), b.data(), b.size());
  return {};
}

}  // namespace tessary
