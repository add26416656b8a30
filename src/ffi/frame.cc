// Version queries, the feature query and the last-error accessors.
#include <array>
#include <string_view>

#include "ffi/boundary.h"
#include "ffi/error.h"
#include "tessary/tessary.h"
#include "types/utf8.h"

using namespace tessary::ffi;

namespace {

constexpr std::array<std::string_view, 11> kFeatures = {
    "abi.v1",
    "session",
    "archive.v2",
    "compile.empty",
    "compile.source",
    "source-builder",
    "errors.locations",
    "errors.structured",
    "source-builder.const",
    "source-builder.const-ref",
    "source-builder.output-alias",
};

}  // namespace

extern "C" {

TESSARY_API int32_t tessary_abi_version(void) { return 1; }

TESSARY_API int32_t tessary_archive_format_version(void) { return 4; }

TESSARY_API int32_t tessary_feature_supported(const uint8_t* name, size_t name_len) {
  return guarded_recording([&]() -> std::int32_t {
    if (name_len == 0) return 0;
    if (name == nullptr) return fail(ffi_error(10, "string null"));
    if (!tessary::is_valid_utf8(name, name_len)) return fail(ffi_error(10, "string utf8"));
    const std::string_view text(reinterpret_cast<const char*>(name), name_len);
    for (std::string_view f : kFeatures) {
      if (f == text) return 1;
    }
    return 0;
  });
}

TESSARY_API int32_t tessary_last_error(void) { return last_error_code(); }
TESSARY_API int32_t tessary_last_error_code(void) __attribute__((alias("tessary_last_error")));

TESSARY_API const char* tessary_last_error_message(void) { return last_error_message(); }
TESSARY_API const char* tessary_error_message(void) __attribute__((alias("tessary_last_error_message")));

TESSARY_API uint64_t tessary_last_error_line(void) { return last_error_line(); }
TESSARY_API uint64_t tessary_last_error_column(void) { return last_error_column(); }
TESSARY_API const char* tessary_last_error_rejected(void) { return last_error_rejected(); }

}  // extern "C"
