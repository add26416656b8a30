#pragma once
// Every exported function runs its body through one of these guards, so that
// no C++ exception (allocation failure included) ever crosses the C interface.
#include <cstdint>
#include <new>

#include "ffi/error.h"

namespace tessary::ffi {

// For functions that report -1 without touching the last-error record.
template <class F>
std::int32_t guarded(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return -1;
  }
}

// For record-keeping functions: clears the record on entry; an exception
// leaves the record empty and returns -1 (recording could itself need memory).
template <class F>
std::int32_t guarded_recording(F&& body) noexcept {
  clear_error();
  try {
    return body();
  } catch (...) {
    clear_error();
    return -1;
  }
}

// Records `err` and returns the failure status.
inline std::int32_t fail(const FfiError& err) {
  error_code(err);
  return -1;
}

}  // namespace tessary::ffi
