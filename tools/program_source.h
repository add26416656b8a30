#pragma once
// Turns what the user names on the command line into archive bytes: a file
// that starts with the archive magic is taken as it is, anything else is
// program text and is compiled through the public C interface.
#include <cstdint>
#include <string>
#include <variant>

#include "cli_error.h"
#include "file_io.h"

namespace tessary::cli {

// What the library reported for text it refused.
struct CompileFailure {
  std::string message;
  std::uint64_t line = 0;    // 1-based; 0 when the failure has no place in the text
  std::uint64_t column = 0;  // 1-based byte column; 0 as above
  std::string rejected;      // the rejected fragment, when the library gives one
  int code = 0;              // the last-error code
};

// Compiles program text. The outer error is a failure of the tool (the
// archive would not fit the interface's 32-bit length); the inner variant
// holds the archive or the library's refusal.
CliResult<std::variant<ByteBuffer, CompileFailure>> compile_text(const ByteBuffer& text);

// True when the bytes start with the archive magic "TESS".
bool looks_like_archive(const ByteBuffer& bytes);

// The compiler-style report of a refusal:
//   PATH:LINE:COLUMN: error: MESSAGE
//    LINE | source line
//         |     ^
// A failure without a place prints "PATH: error: MESSAGE" alone.
std::string render_compile_failure(const std::string& path, const ByteBuffer& text, const CompileFailure& failure);

// Reads PATH and returns archive bytes, compiling text first. A refused
// program comes back as a CliError whose message is the full rendered
// diagnostic (several lines).
struct LoadedArchive {
  ByteBuffer bytes;
  bool compiled = false;  // the file was program text
};
CliResult<LoadedArchive> load_archive_or_program(const std::string& path);

}  // namespace tessary::cli
