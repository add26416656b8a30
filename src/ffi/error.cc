#include "ffi/error.h"

namespace tessary::ffi {

namespace {

struct FfiErrorRecord {
  std::string message;
  std::uint64_t line = 0;
  std::uint64_t column = 0;
  std::optional<std::string> rejected;
  std::int32_t code = 0;
};

thread_local std::optional<FfiErrorRecord> LAST_ERROR;

bool has_nul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

}  // namespace

void error_code(const FfiError& err) {
  if (has_nul(err.message)) {
    LAST_ERROR.reset();
    return;
  }
  // Built in place; if a copy throws, the caller's guard empties the record.
  FfiErrorRecord& rec = LAST_ERROR.emplace();
  rec.message.assign(err.message);
  rec.line = err.line;
  rec.column = err.column;
  if (err.rejected && !has_nul(*err.rejected)) rec.rejected.emplace(*err.rejected);
  rec.code = err.code;
}

void clear_error() noexcept { LAST_ERROR.reset(); }

FfiError source_parse_error(std::string_view message) {
  if (message.find("unknown op") != std::string_view::npos) return ffi_error(3, "source op unknown");
  if (message.starts_with("external const")) return ffi_error(6, message);
  if (message.find("shape") != std::string_view::npos || message.find("byte") != std::string_view::npos ||
      message.find("value count") != std::string_view::npos)
    return ffi_error(5, message);
  if (message.find("duplicate") != std::string_view::npos || message.find("unresolved") != std::string_view::npos ||
      message.find("unknown/!node") != std::string_view::npos)
    return ffi_error(2, message);
  return ffi_error(1, message);
}

std::int32_t last_error_code() noexcept { return LAST_ERROR ? LAST_ERROR->code : 0; }
const char* last_error_message() noexcept { return LAST_ERROR ? LAST_ERROR->message.c_str() : nullptr; }
std::uint64_t last_error_line() noexcept { return LAST_ERROR ? LAST_ERROR->line : 0; }
std::uint64_t last_error_column() noexcept { return LAST_ERROR ? LAST_ERROR->column : 0; }
const char* last_error_rejected() noexcept {
  return LAST_ERROR && LAST_ERROR->rejected ? LAST_ERROR->rejected->c_str() : nullptr;
}

}  // namespace tessary::ffi
