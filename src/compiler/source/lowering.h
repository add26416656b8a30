#pragma once
// Source lowering: turns a SourceProgram into a Graph. Every statement becomes
// graph inputs, constants, op nodes or graph outputs, names are resolved to
// operands, constant data is checked against its shape, and external
// constants are read from their files. The first error ends the run and no
// partial graph survives.
#include <cstdint>
#include <optional>

#include "compiler/source/compile_error.h"
#include "compiler/source/source_program.h"
#include "graph/graph.h"

namespace tessary {

// Byte length of a constant of that shape: element count × 4 for f32, the
// only constant element type.
CompileResult<std::uint64_t> expected_byte_len(const std::optional<SourceShape>& shape);

// Lowers a copy of `program`; the caller's program stays as it is and may be
// lowered again.
CompileResult<Graph> lower_ir(const SourceProgram& program);

// Lowers `program`, moving constant bytes into the graph.
CompileResult<Graph> lower_program(SourceProgram program);

}  // namespace tessary
