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

/* ---- Compiling ---------------------------------------------------------- */
/* Archives come back through (dst, cap): the first min(length, cap) bytes
 * are copied and the full length is returned, so a call with cap 0 asks for
 * the length and a second call with a buffer that large gets the archive.
 * A truncated copy is not a valid archive. The library keeps no copy.
 * An archive of 2^31 bytes or more does not fit the result and is refused. */

/* Compiles the empty program: an archive with no inputs, outputs or calls.
 * Returns its length, or -1 for a NULL dst. Does not touch the last-error
 * record. */
TESSARY_API int32_t tessary_compile_empty(uint8_t* dst, size_t cap);

/* Compiles `text_len` bytes of UTF-8 program text. Returns the archive
 * length, or -1 with the last-error record set:
 *   10 "compile source null"  text or dst is NULL (even for empty text);
 *    1 "source: utf8"         the text is not UTF-8;
 *   1, 2, 3, 5 or 6           the parser's diagnostic, with its own message,
 *                             1-based line, byte column and rejected fragment;
 *   2, 3, 5, 6 or 1           a lowering error (unresolved or duplicate
 *                             names, shapes and byte counts, external
 *                             constants), with line and column 0;
 *   12 "source builder compile"  the compiler refused the program.
 * Nothing is written to dst on failure. */
TESSARY_API int32_t tessary_compile_source(const uint8_t* text, size_t text_len, uint8_t* dst, size_t cap);

/* ---- Source builder ----------------------------------------------------- */
/* Builds a program statement by statement instead of writing text. Every
 * builder function except tessary_source_builder_free clears the last-error
 * record first and fills it on failure (line and column 0, no fragment). A
 * failed call appends no statement, but a name interned before the failing
 * check keeps its symbol. Names are not resolved until compile time. A builder
 * has no lock: use one builder from one thread at a time. Element type 0 and
 * 8 both mean f32; any other is refused with code 11 "dtype unsupported".
 * Shapes have rank 1 to 8 ("shape missing" for rank 0, "shape bad" above 8
 * or with NULL dims, code 5); the dimensions are copied. */

/* A UTF-8 text given as pointer and length, not NUL-terminated. A length of
 * 0 is the empty text whatever the pointer; otherwise the pointer must not be
 * NULL (code 10 "string null") and the bytes must be UTF-8 (code 10
 * "string utf8"). */
typedef struct TessaryString {
  const uint8_t* ptr;
  size_t len;
} TessaryString;

/* An input declaration. */
typedef struct TessaryTensorDescriptor {
  TessaryString name;
  uint8_t dtype; /* 0 or 8: f32 */
  const uint64_t* dims;
  size_t rank;
} TessaryTensorDescriptor;

/* A constant with its bytes (little-endian f32, byte_len a multiple of 4);
 * the bytes are copied. */
typedef struct TessaryConstDescriptor {
  TessaryString name;
  uint8_t dtype;
  const uint64_t* dims;
  size_t rank;
  const uint8_t* bytes;
  size_t byte_len;
} TessaryConstDescriptor;

/* A constant read at compile time from `byte_len` bytes at `byte_offset` of
 * the file at `path` (relative paths resolve against the directory named by
 * the environment variable TESSARY_EXTERNAL_TENSOR_ROOT, or the current
 * directory), checked against the BLAKE3 `digest` of those bytes. */
typedef struct TessaryConstRefDescriptor {
  TessaryString name;
  uint8_t dtype;
  const uint64_t* dims;
  size_t rank;
  TessaryString path;
  uint64_t byte_offset;
  uint64_t byte_len;
  uint8_t digest[32];
} TessaryConstRefDescriptor;

/* An op call: `result = op(inputs...)`, with an optional declared result
 * shape (rank 0: none). `op` is one of the op-kind names, in lower case. */
typedef struct TessaryOpDescriptor {
  TessaryString result;
  TessaryString op;
  const TessaryString* inputs;
  size_t input_count;
  const uint64_t* dims;
  size_t rank;
} TessaryOpDescriptor;

/* The records' layouts are part of the interface (x86-64). */
#define TESSARY_LAYOUT_CHECK(name, cond) typedef char tessary_layout_check_##name[(cond) ? 1 : -1]
TESSARY_LAYOUT_CHECK(string_size, sizeof(TessaryString) == 16);
TESSARY_LAYOUT_CHECK(string_len, offsetof(TessaryString, len) == 8);
TESSARY_LAYOUT_CHECK(tensor_size, sizeof(TessaryTensorDescriptor) == 40);
TESSARY_LAYOUT_CHECK(tensor_dtype, offsetof(TessaryTensorDescriptor, dtype) == 16);
TESSARY_LAYOUT_CHECK(tensor_dims, offsetof(TessaryTensorDescriptor, dims) == 24);
TESSARY_LAYOUT_CHECK(tensor_rank, offsetof(TessaryTensorDescriptor, rank) == 32);
TESSARY_LAYOUT_CHECK(const_size, sizeof(TessaryConstDescriptor) == 56);
TESSARY_LAYOUT_CHECK(const_bytes, offsetof(TessaryConstDescriptor, bytes) == 40);
TESSARY_LAYOUT_CHECK(const_byte_len, offsetof(TessaryConstDescriptor, byte_len) == 48);
TESSARY_LAYOUT_CHECK(const_ref_size, sizeof(TessaryConstRefDescriptor) == 104);
TESSARY_LAYOUT_CHECK(const_ref_path, offsetof(TessaryConstRefDescriptor, path) == 40);
TESSARY_LAYOUT_CHECK(const_ref_offset, offsetof(TessaryConstRefDescriptor, byte_offset) == 56);
TESSARY_LAYOUT_CHECK(const_ref_len, offsetof(TessaryConstRefDescriptor, byte_len) == 64);
TESSARY_LAYOUT_CHECK(const_ref_digest, offsetof(TessaryConstRefDescriptor, digest) == 72);
TESSARY_LAYOUT_CHECK(op_size, sizeof(TessaryOpDescriptor) == 64);
TESSARY_LAYOUT_CHECK(op_op, offsetof(TessaryOpDescriptor, op) == 16);
TESSARY_LAYOUT_CHECK(op_inputs, offsetof(TessaryOpDescriptor, inputs) == 32);
TESSARY_LAYOUT_CHECK(op_input_count, offsetof(TessaryOpDescriptor, input_count) == 40);
TESSARY_LAYOUT_CHECK(op_dims, offsetof(TessaryOpDescriptor, dims) == 48);
TESSARY_LAYOUT_CHECK(op_rank, offsetof(TessaryOpDescriptor, rank) == 56);
#undef TESSARY_LAYOUT_CHECK

/* An opaque builder. */
typedef struct TessarySourceBuilder TessarySourceBuilder;

/* A new empty builder, owned by the caller until tessary_source_builder_free.
 * NULL only if memory is exhausted. Clears the last-error record. */
TESSARY_API TessarySourceBuilder* tessary_source_builder_new(void);

/* Releases a builder; NULL does nothing. Does not touch the record. */
TESSARY_API void tessary_source_builder_free(TessarySourceBuilder* builder);

/* Declares an input. Returns the name's symbol (0 and up), or -1:
 * 10 "source builder null", 10 "tensor descriptor null", string errors,
 * 11 "dtype unsupported", 5 "shape missing" / "shape bad". */
TESSARY_API int32_t tessary_source_builder_input(TessarySourceBuilder* builder, const TessaryTensorDescriptor* desc);

/* Declares a constant with inline bytes. Returns the name's symbol, or -1:
 * 10 "const descriptor null", string errors, 11 "dtype unsupported",
 * 5 "const byte len" (not a multiple of 4), 10 "bytes null", 5 shape errors.
 * That the bytes fill the shape is checked at compile time. */
TESSARY_API int32_t tessary_source_builder_const(TessarySourceBuilder* builder, const TessaryConstDescriptor* desc);

/* Declares a constant read from a file at compile time (the file is not
 * opened here). Returns the name's symbol, or -1: 10 "const ref descriptor
 * null", string errors (name, then path), 11 "dtype unsupported", 5 shape
 * errors. */
TESSARY_API int32_t tessary_source_builder_const_ref(TessarySourceBuilder* builder,
                                                     const TessaryConstRefDescriptor* desc);

/* Appends an op call. Returns the result name's symbol, or -1: 10 "source op
 * null", string errors (result, op, then each input), 3 "source op unknown",
 * 10 "source op inputs null", 5 "shape bad". Inputs need not be declared
 * yet. */
TESSARY_API int32_t tessary_source_builder_op(TessarySourceBuilder* builder, const TessaryOpDescriptor* desc);

/* Marks a name as an output. Returns its symbol, or -1 on a string error. */
TESSARY_API int32_t tessary_source_builder_output(TessarySourceBuilder* builder, const uint8_t* name,
                                                  size_t name_len);

/* Marks a name as an output whose port is called `alias` (which may be the
 * empty name). Returns the name's symbol, or -1 on a string error. */
TESSARY_API int32_t tessary_source_builder_output_alias(TessarySourceBuilder* builder, const uint8_t* name,
                                                        size_t name_len, const uint8_t* alias, size_t alias_len);

/* Compiles the program built so far; the builder is not consumed and may be
 * extended and compiled again. Returns the archive length, or -1 with the
 * record set as for tessary_compile_source's lowering errors, 12 "source
 * builder compile", or 10 "archive output null" for a NULL dst. */
TESSARY_API int32_t tessary_source_builder_compile(TessarySourceBuilder* builder, uint8_t* dst, size_t cap);

#ifdef __cplusplus
}
#endif

#endif /* TESSARY_TESSARY_H */
