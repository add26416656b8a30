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

/* ---- Sessions --------------------------------------------------------- */
/* A session is a loaded archive, named by a handle: handles are 0, 1, 2, ...
 * in load order and are never reused, so a closed handle stays invalid for
 * the life of the process. One process-wide lock guards the session table:
 * every session function except tessary_session_load holds it for its whole
 * duration, so executions are serialised, also on different sessions.
 * Session functions never touch the last-error record; every failure is -1.
 * A port's byte length is its element count times the element width of its
 * type (8 for u64/i64/f64, 4 for i32/f32, 2 for f16/bf16, 1 otherwise). */

/* Validates `len` archive bytes and loads them into a new session. The
 * library copies all it keeps: the caller may free `bytes` on return.
 * Returns the new handle, or -1 (NULL bytes, or any defect of the archive). */
TESSARY_API int32_t tessary_session_load(const uint8_t* bytes, size_t len);

/* Ends the session and releases all its memory. Returns 0 for any handle
 * that was ever handed out (closing twice is fine), -1 for a negative handle
 * or one never handed out. */
TESSARY_API int32_t tessary_session_close(int32_t handle);

/* Runs the session. Input i is the byte range (input_ptrs[i], input_lens[i])
 * for input port i; a longer input is cut to the port's byte length, a
 * shorter one used as given; a length of 0 is an empty input whatever the
 * pointer. The counts must equal the session's port counts.
 * After the run, every output i with a non-NULL output_ptrs[i] receives
 * exactly its produced bytes; a NULL entry skips that output. Outputs are
 * copied all or nothing: if any non-NULL output's capacity is smaller than
 * its produced length, -1 is returned and nothing is written.
 * Returns 0, or -1 for a bad handle, a count mismatch, a NULL array where
 * one is needed (output arrays are checked after the run, whose effects on
 * the session's caches remain), a NULL input with a non-zero length, a
 * short output capacity or a failed execution.
 * Repeating a run with identical inputs is answered from the session's
 * result memo without running any kernel. */
TESSARY_API int32_t tessary_session_execute(int32_t handle, const uint8_t* const* input_ptrs,
                                            const size_t* input_lens, size_t input_count,
                                            uint8_t* const* output_ptrs, const size_t* output_caps,
                                            size_t output_count);

/* The number of input ports, output ports, or kernel calls; -1 for an
 * invalid handle. */
TESSARY_API int32_t tessary_session_input_count(int32_t handle);
TESSARY_API int32_t tessary_session_output_count(int32_t handle);
TESSARY_API int32_t tessary_session_kernel_count(int32_t handle);

/* The element-type tag (0 bool, 1 u8, 2 i8, 3 u64, 4 i32, 5 i64, 6 f16,
 * 7 bf16, 8 f32, 9 f64, 10 i4, 11 e8cb) of a port; -1 for an invalid handle
 * or an index past the ports. */
TESSARY_API int32_t tessary_session_input_dtype(int32_t handle, size_t index);
TESSARY_API int32_t tessary_session_output_dtype(int32_t handle, size_t index);

/* Copies the first min(length, cap) bytes of a port's UTF-8 name to `dst`
 * (no NUL terminator) and returns the full length; a NULL `dst` makes it a
 * length query. -1 for an invalid handle or index. */
TESSARY_API int32_t tessary_session_input_name(int32_t handle, size_t index, uint8_t* dst, size_t cap);
TESSARY_API int32_t tessary_session_output_name(int32_t handle, size_t index, uint8_t* dst, size_t cap);

/* Copies the first min(rank, cap) dimensions of a port's shape to `dst` and
 * returns the rank; a NULL `dst` makes it a rank query. -1 for an invalid
 * handle or index. */
TESSARY_API int32_t tessary_session_input_shape(int32_t handle, size_t index, uint64_t* dst, size_t cap);
TESSARY_API int32_t tessary_session_output_shape(int32_t handle, size_t index, uint64_t* dst, size_t cap);

/* The byte length of output port `index` (element count times width); -1 for
 * an invalid handle or index, or a length of 2^31 bytes or more. */
TESSARY_API int32_t tessary_session_output_byte_len(int32_t handle, size_t index);

/* Looks up the first archive extension whose key equals the `key_len` UTF-8
 * bytes at `key` (the empty key is legal, but `key` must not be NULL).
 * Copies the first min(length, cap) bytes of its value to `dst` and returns
 * the full length; a NULL `dst` makes it a length query. -1 for a NULL or
 * non-UTF-8 key, an invalid handle or a missing key. */
TESSARY_API int32_t tessary_session_extension(int32_t handle, const uint8_t* key, size_t key_len, uint8_t* dst,
                                              size_t cap);

/* Copies the 32-byte BLAKE3 digest that seals the session's archive (its
 * last 32 bytes) to `dst`. Returns 0, or -1 for a NULL `dst` or an invalid
 * handle. */
TESSARY_API int32_t tessary_session_archive_fingerprint(int32_t handle, uint8_t* dst);

#ifdef __cplusplus
}
#endif

#endif /* TESSARY_TESSARY_H */
