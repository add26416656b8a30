#pragma once
// Why a run failed. The C interface reports a failed execution as -1 with no
// reason, so the tool loads the archive once more through the engine's own
// loader and looks for the first kernel call this build cannot run.
#include <string>

#include "file_io.h"

namespace tessary::cli {

// A one-line explanation, e.g. "kernel call 0 (matmul, f32) has no CPU kernel
// in this build"; a generic sentence when every call has a kernel (the
// failure is then in a kernel's own checks of its buffers and sizes).
std::string explain_run_failure(const ByteBuffer& archive);

}  // namespace tessary::cli
