#pragma once
// The copy kernels behind reshape, slice, pad and concat. They move raw
// element bytes, so they serve every fixed-width element type.
#include "compute/backend_error.h"
#include "compute/kernel_call.h"
#include "compute/workspace.h"

namespace tessary {

BackendResult<void> layout_copy(const LayoutCall& call, Workspace& ws);
BackendResult<void> concat_copy(const BinaryCall& call, Workspace& ws);

}  // namespace tessary
