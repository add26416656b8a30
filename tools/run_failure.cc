#include "run_failure.h"

#include <fmt/format.h>

#include "exec/dispatch.h"
#include "exec/session.h"
#include "shape_text.h"

namespace tessary::cli {

std::string explain_run_failure(const ByteBuffer& archive) {
  // The calls as the session holds them, after load-time fusion, so the
  // name reported is the kernel that was asked for.
  const auto session = load_inner(ByteView(archive.data(), archive.size()));
  if (!session) return "the archive does not load";
  for (std::size_t i = 0; i < session->calls.size(); ++i) {
    const KernelCall& call = session->calls[i];
    const DTypeId dtype = call_dtype(call);
    const std::string what = fmt::format("kernel call {} ({}, {})", i, call.descriptor().name, dtype_text(dtype));
    if (dtype == DTypeId::F64) return what + ": f64 is a storage type only; the CPU backend computes in f32, f16 or bf16";
    // Mirrors dispatch(): which path the call takes and what is there.
    const Route& r = route_of(call.kind());
    const bool float_side = r.routing == Routing::TypeGeneric || (r.routing == Routing::FloatCapable && is_compute_type(dtype));
    const std::string_view refusal = float_side ? r.float_refusal : r.byte_refusal;
    if (!refusal.empty()) return fmt::format("{}: {}", what, refusal);
    if ((float_side ? r.float_path : r.byte_path) == nullptr) return what + " has no CPU kernel in this build";
  }
  return "a kernel refused its buffers or sizes (every call has a kernel in this build)";
}

}  // namespace tessary::cli
