#include "program_source.h"

#include <cstring>
#include <limits>

#include "tessary/tessary.h"

namespace tessary::cli {

namespace {

CompileFailure last_failure() {
  CompileFailure f;
  const char* msg = tessary_last_error_message();
  f.message = msg != nullptr ? msg : "compilation failed";
  f.line = tessary_last_error_line();
  f.column = tessary_last_error_column();
  const char* rejected = tessary_last_error_rejected();
  if (rejected != nullptr) f.rejected = rejected;
  f.code = tessary_last_error();
  return f;
}

// The text of 1-based line `number`, without its line break (and without one
// carriage return before it, as the parser counts lines).
std::string source_line(const ByteBuffer& text, std::uint64_t number) {
  std::uint64_t line = 1;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size() && line < number; ++i) {
    if (text[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  if (line != number) return {};
  std::size_t end = start;
  while (end < text.size() && text[end] != '\n') ++end;
  if (end > start && text[end - 1] == '\r') --end;
  return std::string(reinterpret_cast<const char*>(text.data()) + start, end - start);
}

// Blanks that put a caret under byte column `column` of `line`: tabs are
// kept as tabs so the caret lines up whatever the tab width, and a UTF-8
// character takes one place however many bytes it has.
std::string caret_padding(const std::string& line, std::uint64_t column) {
  std::string pad;
  const std::size_t upto = column > 0 ? static_cast<std::size_t>(column - 1) : 0;
  for (std::size_t i = 0; i < upto && i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == '\t') {
      pad += '\t';
    } else if ((c & 0xC0) != 0x80) {
      pad += ' ';
    }
  }
  // A column past the end of the line (an error at the end of input) points
  // just after the last character.
  for (std::size_t i = line.size(); i < upto; ++i) pad += ' ';
  return pad;
}

}  // namespace

bool looks_like_archive(const ByteBuffer& bytes) {
  return bytes.size() >= 4 && std::memcmp(bytes.data(), "TESS", 4) == 0;
}

CliResult<std::variant<ByteBuffer, CompileFailure>> compile_text(const ByteBuffer& text) {
  // Most programs fit a first guess; a larger archive is compiled again into
  // a buffer of the size the first call reported.
  ByteBuffer out(1u << 20);
  std::uint8_t dummy = 0;
  const std::uint8_t* src = text.empty() ? &dummy : text.data();
  int32_t len = tessary_compile_source(src, text.size(), out.data(), out.size());
  if (len < 0) return std::variant<ByteBuffer, CompileFailure>(last_failure());
  if (static_cast<std::size_t>(len) > out.size()) {
    out.resize(static_cast<std::size_t>(len));
    len = tessary_compile_source(src, text.size(), out.data(), out.size());
    if (len < 0) return std::variant<ByteBuffer, CompileFailure>(last_failure());
    if (static_cast<std::size_t>(len) != out.size()) return fail("compiler returned an inconsistent archive length");
  }
  out.resize(static_cast<std::size_t>(len));
  return std::variant<ByteBuffer, CompileFailure>(std::move(out));
}

std::string render_compile_failure(const std::string& path, const ByteBuffer& text, const CompileFailure& f) {
  std::string out;
  if (f.line == 0) {
    out = path + ": error: " + f.message;
    // Code 12 carries one fixed message for every refusal of the compiler
    // proper; say what usually causes it.
    if (f.code == 12) {
      out += "\n" + path +
             ": note: the compiler refused the program: check each op's operands and their shapes, and declare "
             "the result type of ops whose shape is not inferred (let y: f32[2, 3] = op(...))";
    }
    return out;
  }
  out = path + ":" + std::to_string(f.line) + ":" + std::to_string(f.column) + ": error: " + f.message;
  const std::string line = source_line(text, f.line);
  const std::string number = std::to_string(f.line);
  const std::string gutter(number.size(), ' ');
  out += "\n " + number + " | " + line;
  out += "\n " + gutter + " | " + caret_padding(line, f.column) + "^";
  return out;
}

CliResult<LoadedArchive> load_archive_or_program(const std::string& path) {
  auto bytes = read_file(path);
  if (!bytes) return std::unexpected(bytes.error());
  if (looks_like_archive(*bytes)) return LoadedArchive{std::move(*bytes), false};
  auto compiled = compile_text(*bytes);
  if (!compiled) return std::unexpected(compiled.error());
  if (auto* failure = std::get_if<CompileFailure>(&*compiled)) {
    return fail(render_compile_failure(path, *bytes, *failure));
  }
  return LoadedArchive{std::move(std::get<ByteBuffer>(*compiled)), true};
}

}  // namespace tessary::cli
