// The tessary_session_* functions. None of them touches the last-error
// record: every failure is -1 and nothing else.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "exec/execute.h"
#include "ffi/boundary.h"
#include "ffi/session_table.h"
#include "tessary/tessary.h"
#include "types/utf8.h"

using namespace tessary;
using namespace tessary::ffi;

namespace tessary::ffi {

SessionTable& sessions() {
  // Leaked on purpose: sessions live until the process ends, and a table
  // destroyed at exit could race with threads still calling in.
  static SessionTable* table = new SessionTable();
  return *table;
}

}  // namespace tessary::ffi

namespace {

// Lengths and counts travel in the 32-bit result; one that does not fit is
// refused instead of being returned truncated.
std::int32_t as_result(std::uint64_t v) {
  return v > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ? -1 : static_cast<std::int32_t>(v);
}

// Runs `f(session)` under the table lock for a valid handle, else -1.
template <class F>
std::int32_t with_session(std::int32_t handle, F&& f) {
  return guarded([&]() -> std::int32_t {
    if (handle < 0) return -1;
    SessionTable& t = sessions();
    std::lock_guard<std::mutex> guard(t.lock);
    if (static_cast<std::size_t>(handle) >= t.slots.size() || !t.slots[handle]) return -1;
    return f(*t.slots[handle]);
  });
}

const PortDescriptor* port_at(const std::vector<PortDescriptor>& ports, std::size_t index) {
  return index < ports.size() ? &ports[index] : nullptr;
}

std::int32_t copy_name(const PortDescriptor* p, std::uint8_t* dst, std::size_t cap) {
  if (p == nullptr) return -1;
  if (dst != nullptr) std::memcpy(dst, p->name.data(), std::min(cap, p->name.size()));
  return as_result(p->name.size());
}

std::int32_t copy_shape(const PortDescriptor* p, std::uint64_t* dst, std::size_t cap) {
  if (p == nullptr) return -1;
  if (dst != nullptr && !p->shape.empty())
    std::memcpy(dst, p->shape.data(), std::min(cap, p->shape.size()) * sizeof(std::uint64_t));
  return as_result(p->shape.size());
}

}  // namespace

extern "C" {

TESSARY_API int32_t tessary_session_load(const uint8_t* bytes, size_t len) {
  return guarded([&]() -> std::int32_t {
    if (bytes == nullptr) return -1;
    // Built without the lock; taken only to append.
    auto session = load_inner(ByteView(bytes, len));
    if (!session) return -1;
    auto owned = std::make_unique<InferenceSession>(std::move(*session));
    SessionTable& t = sessions();
    std::lock_guard<std::mutex> guard(t.lock);
    if (t.slots.size() >= static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return -1;
    t.slots.push_back(std::move(owned));
    return static_cast<std::int32_t>(t.slots.size() - 1);
  });
}

TESSARY_API int32_t tessary_session_close(int32_t handle) {
  return guarded([&]() -> std::int32_t {
    if (handle < 0) return -1;
    SessionTable& t = sessions();
    std::unique_ptr<InferenceSession> ended;
    {
      std::lock_guard<std::mutex> guard(t.lock);
      if (static_cast<std::size_t>(handle) >= t.slots.size()) return -1;
      ended = std::move(t.slots[handle]);
    }
    return 0;  // `ended` releases the session outside the lock
  });
}

TESSARY_API int32_t tessary_session_execute(int32_t handle, const uint8_t* const* input_ptrs, const size_t* input_lens,
                                            size_t input_count, uint8_t* const* output_ptrs, const size_t* output_caps,
                                            size_t output_count) {
  return with_session(handle, [&](InferenceSession& s) -> std::int32_t {
    if (input_count != s.inputs.size() || output_count != s.outputs.size()) return -1;
    if (input_count != 0 && (input_ptrs == nullptr || input_lens == nullptr)) return -1;
    // Gathered in place; up to eight without allocating.
    std::array<ReadBytes, 8> small;
    std::vector<ReadBytes> large;
    ReadBytes* ins = small.data();
    if (input_count > small.size()) {
      large.resize(input_count);
      ins = large.data();
    }
    for (std::size_t i = 0; i < input_count; ++i) {
      if (input_lens[i] == 0) {
        ins[i] = ReadBytes();
      } else if (input_ptrs[i] == nullptr) {
        return -1;
      } else {
        ins[i] = ReadBytes(input_ptrs[i], input_lens[i]);
      }
    }
    auto outs = execute(s, std::span<const ReadBytes>(ins, input_count));
    if (!outs) return -1;
    if (output_count == 0) return 0;
    if (output_ptrs == nullptr || output_caps == nullptr) return -1;
    // All or nothing: check every capacity before copying any output.
    for (std::size_t i = 0; i < outs->size(); ++i) {
      if (output_ptrs[i] != nullptr && output_caps[i] < (*outs)[i].size()) return -1;
    }
    for (std::size_t i = 0; i < outs->size(); ++i) {
      if (output_ptrs[i] != nullptr && !(*outs)[i].empty())
        std::memcpy(output_ptrs[i], (*outs)[i].data(), (*outs)[i].size());
    }
    return 0;
  });
}

TESSARY_API int32_t tessary_session_input_count(int32_t handle) {
  return with_session(handle, [](InferenceSession& s) { return as_result(s.inputs.size()); });
}

TESSARY_API int32_t tessary_session_output_count(int32_t handle) {
  return with_session(handle, [](InferenceSession& s) { return as_result(s.outputs.size()); });
}

TESSARY_API int32_t tessary_session_kernel_count(int32_t handle) {
  return with_session(handle, [](InferenceSession& s) { return as_result(s.calls.size()); });
}

TESSARY_API int32_t tessary_session_input_dtype(int32_t handle, size_t index) {
  return with_session(handle, [&](InferenceSession& s) -> std::int32_t {
    const PortDescriptor* p = port_at(s.inputs, index);
    return p == nullptr ? -1 : static_cast<std::int32_t>(dtype_tag(p->dtype));
  });
}

TESSARY_API int32_t tessary_session_output_dtype(int32_t handle, size_t index) {
  return with_session(handle, [&](InferenceSession& s) -> std::int32_t {
    const PortDescriptor* p = port_at(s.outputs, index);
    return p == nullptr ? -1 : static_cast<std::int32_t>(dtype_tag(p->dtype));
  });
}

TESSARY_API int32_t tessary_session_input_name(int32_t handle, size_t index, uint8_t* dst, size_t cap) {
  return with_session(handle, [&](InferenceSession& s) { return copy_name(port_at(s.inputs, index), dst, cap); });
}

TESSARY_API int32_t tessary_session_output_name(int32_t handle, size_t index, uint8_t* dst, size_t cap) {
  return with_session(handle, [&](InferenceSession& s) { return copy_name(port_at(s.outputs, index), dst, cap); });
}

TESSARY_API int32_t tessary_session_input_shape(int32_t handle, size_t index, uint64_t* dst, size_t cap) {
  return with_session(handle, [&](InferenceSession& s) { return copy_shape(port_at(s.inputs, index), dst, cap); });
}

TESSARY_API int32_t tessary_session_output_shape(int32_t handle, size_t index, uint64_t* dst, size_t cap) {
  return with_session(handle, [&](InferenceSession& s) { return copy_shape(port_at(s.outputs, index), dst, cap); });
}

TESSARY_API int32_t tessary_session_output_byte_len(int32_t handle, size_t index) {
  return with_session(handle, [&](InferenceSession& s) -> std::int32_t {
    const PortDescriptor* p = port_at(s.outputs, index);
    return p == nullptr ? -1 : as_result(port_byte_length(*p));
  });
}

TESSARY_API int32_t tessary_session_extension(int32_t handle, const uint8_t* key, size_t key_len, uint8_t* dst,
                                              size_t cap) {
  if (key == nullptr) return -1;
  if (!is_valid_utf8(key, key_len)) return -1;
  const std::string_view wanted(reinterpret_cast<const char*>(key), key_len);
  return with_session(handle, [&](InferenceSession& s) -> std::int32_t {
    for (const SessionExtension& e : s.extensions) {
      if (e.key != wanted) continue;
      if (dst != nullptr && !e.value.empty()) std::memcpy(dst, e.value.data(), std::min(cap, e.value.size()));
      return as_result(e.value.size());
    }
    return -1;
  });
}

TESSARY_API int32_t tessary_session_archive_fingerprint(int32_t handle, uint8_t* dst) {
  if (dst == nullptr) return -1;
  return with_session(handle, [&](InferenceSession& s) -> std::int32_t {
    std::memcpy(dst, s.fingerprint.data(), s.fingerprint.size());
    return 0;
  });
}

}  // extern "C"
