#pragma once
// Kernel dispatch: routes a call to its kernel by variant and element type.
#include <string_view>

#include "compute/backend_error.h"
#include "compute/kernel_call.h"
#include "compute/workspace.h"

namespace tessary {

enum class Routing : std::uint8_t {
  FloatCapable,  // f16/bf16/f32 run the float kernel, other types the byte-domain kernel
  ByteOnly,      // only a byte-domain kernel exists
  TypeGeneric,   // one kernel whatever the type; it checks the type itself
};

using KernelFn = BackendResult<void> (*)(const KernelCall&, Workspace&);

struct Route {
  Routing routing = Routing::FloatCapable;
  KernelFn float_path = nullptr;  // also the one kernel of a type-generic variant
  KernelFn byte_path = nullptr;
  // A fixed refusal in place of a kernel on that path.
  std::string_view float_refusal;
  std::string_view byte_refusal;
};

const Route& route_of(CallKind kind);

// Refuses f64 calls, then runs the routed kernel.
BackendResult<void> dispatch(const KernelCall& call, Workspace& ws);

// Message for a path whose kernel this build does not provide.
inline constexpr std::string_view kMsgNoKernel = "dispatch: no kernel for this call on the cpu backend";

}  // namespace tessary
