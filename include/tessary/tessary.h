/*
 * tessary.h - the C interface of the Tessary tensor-program library.
 *
 * Tessary compiles tensor programs into self-describing, BLAKE3-sealed
 * archives and runs such archives on the CPU. This header is plain C and
 * usable from C99 and C++.
 *
 * Policies that hold for every function below
 * -------------------------------------------
 * Status.     Every function returns a 32-bit signed value (or a pointer or a
 *             64-bit count where stated). -1 is the only failure value; 0 or
 *             more is success: a handle, a count, an element-type tag, a
 *             length, or 0 for "done". Lengths and counts come back as the low
 *             32 bits of the value.
 * Copy-out.   Functions that copy into a caller buffer take (destination,
 *             capacity), copy min(length, capacity) units and return the full
 *             length, so a short buffer yields a truncated copy plus the length
 *             needed. Where a function says so, a NULL destination makes the
 *             call a pure length query.
 * Ownership.  The caller owns every buffer it passes; the library copies what
 *             it keeps. Pointers the library returns point into library memory
 *             and must not be freed by the caller.
 * Errors.     The feature query, the compile functions and the source-builder
 *             functions clear this thread's last-error record on entry and fill
 *             it when they fail (code, message, line, column, rejected source
 *             fragment). Session functions and version queries never touch it.
 *             No C++ exception, abort or crash crosses this interface: even an
 *             allocation failure is reported as -1.
 * Threads.    The library starts no threads and every call runs on the
 *             caller's thread. The last-error record is per thread.
 * Text.       Strings passed in are UTF-8 given as (pointer, length) and need
 *             not be NUL-terminated.
 * ABI.        tessary_abi_version() is 1 for the interface declared here.
 */
#ifndef TESSARY_TESSARY_H
#define TESSARY_TESSARY_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define TESSARY_API __attribute__((visibility("default")))
#else
#define TESSARY_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Versions and features ------------------------------------------- */

/* The version of this C interface. Always 1. Cannot fail. */
TESSARY_API int32_t tessary_abi_version(void);

/* The archive format version the library writes. Always 4; archives of
 * versions 2, 3 and 4 are accepted when loading. Cannot fail. */
TESSARY_API int32_t tessary_archive_format_version(void);

/* Asks whether a feature is supported. `name` is UTF-8 of `name_len` bytes,
 * compared byte for byte with the feature table ("abi.v1", "session",
 * "archive.v2", "compile.empty", "compile.source", "source-builder",
 * "errors.locations", "errors.structured", "source-builder.const",
 * "source-builder.const-ref", "source-builder.output-alias").
 * Returns 1 for a supported feature, 0 for anything else (a length of 0
 * gives 0 whatever the pointer), -1 when `name` is NULL with a non-zero
 * length (code 10, "string null") or the bytes are not UTF-8 (code 10,
 * "string utf8"). Clears the last-error record first. */
TESSARY_API int32_t tessary_feature_supported(const uint8_t* name, size_t name_len);

/* ---- Last-error record (per thread) ---------------------------------- */
/* Codes: 0 none, 1 source text rejected, 2 name or reference error,
 * 3 unknown operation, 5 shape or size error, 6 external constant error,
 * 10 missing or unreadable argument, 11 unsupported element type,
 * 12 compilation failed. Codes 4, 7, 8 and 9 are never produced. */

/* The code of this thread's last error, 0 when there is none. */
TESSARY_API int32_t tessary_last_error(void);
/* The same function as tessary_last_error under a second name. */
TESSARY_API int32_t tessary_last_error_code(void);

/* This thread's last error message as a NUL-terminated string, or NULL when
 * there is no record. The pointer stays valid until the record is next
 * cleared or replaced on this thread; do not free it. */
TESSARY_API const char* tessary_last_error_message(void);
/* The same function as tessary_last_error_message under a second name. */
TESSARY_API const char* tessary_error_message(void);

/* The 1-based source line of the last error; 0 when not applicable or when
 * there is no record. */
TESSARY_API uint64_t tessary_last_error_line(void);
/* The 1-based byte column of the last error; 0 when not applicable or when
 * there is no record. */
TESSARY_API uint64_t tessary_last_error_column(void);
/* The rejected source fragment of the last error as a NUL-terminated string,
 * or NULL when there is no record or it carries no fragment. Same lifetime
 * rule as tessary_last_error_message. */
TESSARY_API const char* tessary_last_error_rejected(void);

#ifdef __cplusplus
}
#endif

#endif /* TESSARY_TESSARY_H */
