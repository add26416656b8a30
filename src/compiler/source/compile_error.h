#pragma once
// CompileError: the error value of parsing, lowering and compiling. Its
// message is always a fixed text of the library (static storage), so errors
// are cheap to copy and the C layer can classify them by text.
#include <cstdint>
#include <expected>
#include <string_view>

namespace tessary {

enum class CompileErrorKind : std::uint8_t {
  Message,          // a plain fixed message (parser, frontends, source lowering)
  GraphValidation,  // a graph that breaks a rule of the compiler
  ShapeViolation,   // operand shapes that break a rule of the compiler
  UnknownOp,        // an op kind the compiler does not know
  OpEmitter,        // an op emitter failed
  LoweringRefusal,  // kernel lowering declined a node; carries no text
  ArchiveWrite,     // the compiled program has no archive encoding (a name or count past a section's limits)
};

struct CompileError {
  CompileErrorKind kind = CompileErrorKind::Message;
  std::string_view message;  // static text; empty for LoweringRefusal

  static constexpr CompileError with_message(std::string_view text) {
    return {CompileErrorKind::Message, text};
  }
  static constexpr CompileError graph_validation(std::string_view text) {
    return {CompileErrorKind::GraphValidation, text};
  }
  static constexpr CompileError shape_violation(std::string_view text) {
    return {CompileErrorKind::ShapeViolation, text};
  }
  static constexpr CompileError unknown_op() { return {CompileErrorKind::UnknownOp, "source op unknown"}; }
  static constexpr CompileError op_emitter() { return {CompileErrorKind::OpEmitter, "op emitter"}; }
  static constexpr CompileError lowering_refusal() { return {CompileErrorKind::LoweringRefusal, {}}; }
  static constexpr CompileError archive_write() { return {CompileErrorKind::ArchiveWrite, "archive: write failed"}; }

  friend constexpr bool operator==(const CompileError&, const CompileError&) = default;
};

template <class T>
using CompileResult = std::expected<T, CompileError>;

}  // namespace tessary
