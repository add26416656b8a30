#pragma once
// BackendError: how a kernel says it could not run. Either a buffer was
// unusable (too short for the call's sizes, or not lendable by the workspace)
// and the error names it, or the operation is not supported as asked and the
// error carries a fixed message of the library. Nothing is formatted with
// values: the message is always a string literal.
#include <cstdint>
#include <expected>
#include <string_view>

namespace tessary {

enum class BackendErrorKind : std::uint8_t {
  Buffer,
  Unsupported,
};

struct BackendError {
  BackendErrorKind kind = BackendErrorKind::Unsupported;
  // Buffer: the id of the offending buffer, i.e. the slot its reference names.
  std::uint32_t buffer = 0;
  // Unsupported: a fixed literal with static storage duration.
  std::string_view message;

  static constexpr BackendError buffer_error(std::uint32_t buffer_id) {
    BackendError e;
    e.kind = BackendErrorKind::Buffer;
    e.buffer = buffer_id;
    return e;
  }
  static constexpr BackendError unsupported(std::string_view fixed_message) {
    BackendError e;
    e.kind = BackendErrorKind::Unsupported;
    e.message = fixed_message;
    return e;
  }

  constexpr bool is_buffer() const { return kind == BackendErrorKind::Buffer; }
  constexpr bool is_unsupported() const { return kind == BackendErrorKind::Unsupported; }

  friend constexpr bool operator==(const BackendError& a, const BackendError& b) {
    if (a.kind != b.kind) return false;
    return a.kind == BackendErrorKind::Buffer ? a.buffer == b.buffer : a.message == b.message;
  }
};

template <typename T>
using BackendResult = std::expected<T, BackendError>;

}  // namespace tessary
