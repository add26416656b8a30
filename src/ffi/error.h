#pragma once
// The per-thread last-error record behind tessary_last_error* and the error
// values the C layer builds before it gives up.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tessary::ffi {

struct FfiError {
  std::optional<std::string> rejected;  // the rejected fragment of a source diagnostic
  std::string_view message;             // a literal of the library or a diagnostic's text
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  std::int32_t code = 0;
};

inline FfiError ffi_error(std::int32_t code, std::string_view message) {
  FfiError e;
  e.code = code;
  e.message = message;
  return e;
}

// Replaces this thread's record with one built from `err`. A message holding a
// NUL byte cannot be a C string: the record is emptied instead. A rejected
// fragment holding a NUL byte is dropped.
void error_code(const FfiError& err);

// Empties this thread's record.
void clear_error() noexcept;

// Classifies a message of the source parser or source lowering.
FfiError source_parse_error(std::string_view message);

// Readers of this thread's record.
std::int32_t last_error_code() noexcept;
const char* last_error_message() noexcept;
std::uint64_t last_error_line() noexcept;
std::uint64_t last_error_column() noexcept;
const char* last_error_rejected() noexcept;

}  // namespace tessary::ffi
