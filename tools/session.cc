#include "session.h"

#include <algorithm>

#include "element_codec.h"
#include "tessary/tessary.h"

namespace tessary::cli {

namespace {

using NameFn = int32_t (*)(int32_t, size_t, uint8_t*, size_t);
using ShapeFn = int32_t (*)(int32_t, size_t, uint64_t*, size_t);
using DtypeFn = int32_t (*)(int32_t, size_t);

CliResult<PortInfo> port(int32_t h, size_t i, NameFn name_fn, ShapeFn shape_fn, DtypeFn dtype_fn) {
  PortInfo p;
  const int32_t name_len = name_fn(h, i, nullptr, 0);
  const int32_t rank = shape_fn(h, i, nullptr, 0);
  const int32_t tag = dtype_fn(h, i);
  if (name_len < 0 || rank < 0 || tag < 0) return fail("cannot read the session's ports");
  p.name.resize(static_cast<std::size_t>(name_len));
  name_fn(h, i, reinterpret_cast<uint8_t*>(p.name.data()), p.name.size());
  p.shape.resize(static_cast<std::size_t>(rank));
  shape_fn(h, i, p.shape.data(), p.shape.size());
  p.dtype = static_cast<DTypeId>(tag);
  // The port's own element count is the product of its shape; a product
  // that overflows cannot be filled or read by this tool anyway.
  std::uint64_t n = 1;
  for (std::uint64_t d : p.shape) {
    if (d != 0 && n > UINT64_MAX / d) return fail("port '" + p.name + "' has a shape too large to handle");
    n *= d;
  }
  p.elements = n;
  const std::uint64_t w = port_element_bytes(p.dtype);
  if (n > UINT64_MAX / w) return fail("port '" + p.name + "' has a shape too large to handle");
  p.byte_length = n * w;
  return p;
}

}  // namespace

CliResult<Session> Session::load(const ByteBuffer& archive) {
  const int32_t h = tessary_session_load(archive.data(), archive.size());
  if (h < 0) return fail("the archive does not load (damaged, truncated or not an archive)");
  Session s(h);
  const int32_t n_in = tessary_session_input_count(h);
  const int32_t n_out = tessary_session_output_count(h);
  if (n_in < 0 || n_out < 0) return fail("cannot read the session's ports");
  for (int32_t i = 0; i < n_in; ++i) {
    auto p = port(h, static_cast<size_t>(i), tessary_session_input_name, tessary_session_input_shape,
                  tessary_session_input_dtype);
    if (!p) return std::unexpected(p.error());
    s.inputs_.push_back(std::move(*p));
  }
  for (int32_t i = 0; i < n_out; ++i) {
    auto p = port(h, static_cast<size_t>(i), tessary_session_output_name, tessary_session_output_shape,
                  tessary_session_output_dtype);
    if (!p) return std::unexpected(p.error());
    const int32_t len = tessary_session_output_byte_len(h, static_cast<size_t>(i));
    // The library refuses lengths of 2^31 bytes or more; such an output
    // cannot be received through this interface.
    if (len < 0) return fail("output '" + p->name + "' is too large for this tool");
    p->byte_length = static_cast<std::uint64_t>(len);
    // Readers of the output trust `elements`, so it never promises more
    // elements than the bytes the library hands back.
    p->elements = std::min(p->elements, p->byte_length / port_element_bytes(p->dtype));
    s.outputs_.push_back(std::move(*p));
  }
  return s;
}

Session::~Session() {
  if (handle_ >= 0) tessary_session_close(handle_);
}

int32_t Session::kernel_count() const { return tessary_session_kernel_count(handle_); }

bool Session::execute(const std::vector<ByteBuffer>& inputs, std::vector<ByteBuffer>& outputs) {
  std::vector<const uint8_t*> in_ptrs;
  std::vector<size_t> in_lens;
  for (const auto& b : inputs) {
    in_ptrs.push_back(b.data());
    in_lens.push_back(b.size());
  }
  outputs.resize(outputs_.size());
  std::vector<uint8_t*> out_ptrs;
  std::vector<size_t> out_caps;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    outputs[i].resize(static_cast<std::size_t>(outputs_[i].byte_length));
    out_ptrs.push_back(outputs[i].data());
    out_caps.push_back(outputs[i].size());
  }
  return tessary_session_execute(handle_, in_ptrs.data(), in_lens.data(), in_ptrs.size(), out_ptrs.data(),
                                 out_caps.data(), out_ptrs.size()) == 0;
}

}  // namespace tessary::cli
