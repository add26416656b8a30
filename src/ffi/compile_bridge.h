#pragma once
// What the compile entry points and the source builder share: turning a
// graph into archive bytes, mapping compile errors to last-error records and
// copying archives out.
#include <cstdint>
#include <optional>

#include "archive/bytes.h"
#include "compiler/source/compile_error.h"
#include "ffi/error.h"
#include "graph/graph.h"

namespace tessary::ffi {

// Compiles with compile target 0 and compile width 32, as every entry point
// does. Nothing on any compiler failure.
std::optional<Bytes> compile_graph(Graph graph);

// The record for an error of source lowering.
FfiError lowering_failure(const CompileError& e);

// Copies min(length, cap) bytes and returns the full length. An archive of
// 2^31 bytes or more does not fit the result: recorded as a compile failure
// rather than returned truncated.
std::int32_t copy_archive(const Bytes& archive, std::uint8_t* dst, std::size_t cap);

}  // namespace tessary::ffi
