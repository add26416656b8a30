#include "exec/execute.h"

#include <algorithm>
#include <cstring>

#include "compute/cpu/kv_cache_write.h"
#include "exec/dispatch.h"

namespace tessary {

namespace {

std::uint64_t slot_size(const InferenceSession& s, std::uint32_t slot) {
  return slot < s.slot_sizes.size() ? s.slot_sizes[slot] : 64;
}

// The in-place cache append: only when nothing else can observe the cache
// buffer. Returns false to fall back to a fresh output and the kernel.
bool cache_write_in_place(InferenceSession& s, const KvCacheWriteCall& call, const NodeMeta& m,
                          const KappaLabel& cache_label) {
  if (call.bucket_rows < call.new_rows || call.bucket_rows == 0 || call.row_bytes == 0) return false;
  std::uint64_t gb, cache_bytes, gn, new_bytes;
  if (__builtin_mul_overflow(std::uint64_t{call.groups}, call.bucket_rows, &gb) ||
      __builtin_mul_overflow(gb, std::uint64_t{call.row_bytes}, &cache_bytes))
    return false;
  auto cache = s.arena.resolve(cache_label);
  if (!cache || cache->size() < cache_bytes) return false;
  const WriteBytes pos_bytes = s.arena.write(call.position);
  if (pos_bytes.size() < 4) return false;
  std::uint32_t pos;
  std::memcpy(&pos, pos_bytes.data(), 4);
  pos %= call.bucket_rows;
  // new_rows <= bucket_rows, so this product fits whenever the cache's does.
  gn = std::uint64_t{call.groups} * call.new_rows;
  new_bytes = gn * call.row_bytes;
  const WriteBytes rows = s.arena.write(call.rows);
  if (rows.size() < new_bytes) return false;
  // Stage the new rows: they may live in the very buffer about to be written.
  s.staging.assign(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(new_bytes));
  std::array<std::uint32_t, NodeMeta::kMaxInputs + 1> allowed{};
  std::size_t n_allowed = 0;
  for (std::uint32_t slot : m.inputs()) allowed[n_allowed++] = slot;
  allowed[n_allowed++] = m.output;
  auto stolen = s.arena.steal_transient(cache_label, std::span(allowed.data(), n_allowed));
  if (!stolen) return false;
  s.arena.bind_stolen(m.output, *stolen);
  auto out = s.arena.write_slot(m.output);
  kv_cache_scatter_rows(s.staging.data(), out->data(), call.groups, call.bucket_rows, call.new_rows, call.row_bytes,
                        pos);
  return true;
}

}  // namespace

std::expected<void, ExecError> compute_and_label(InferenceSession& s) {
  std::copy(s.slot_labels.begin(), s.slot_labels.end(), s.run_labels.begin());
  std::fill(s.boundary_labels.begin(), s.boundary_labels.end(), std::nullopt);
  for (std::size_t i = 0; i < s.inputs.size(); ++i) {
    const std::uint32_t slot = s.inputs[i].slot;
    if (slot < s.run_labels.size()) s.run_labels[slot] = s.input_labels[i];
  }

  LabelList& labels = s.call_labels;  // kept in the session: a spilled list keeps its storage
  for (const PlanStep& group : s.plan) {
    for (std::uint32_t k : group) {
      if (k >= s.calls.size()) return std::unexpected(ExecError::ExecutionFailed);
      const KernelCall& call = s.calls[k];
      const NodeMeta& m = s.node_meta[k];
      const std::uint32_t o = m.output;
      if (o >= s.slot_count()) return std::unexpected(ExecError::ExecutionFailed);

      labels.clear();
      bool labelled = true;
      for (std::uint32_t slot : m.inputs()) {
        if (slot >= s.run_labels.size() || !s.run_labels[slot]) {
          labelled = false;
          break;
        }
        labels.push_back(*s.run_labels[slot]);
      }
      std::optional<KappaLabel> label;
      if (labelled) {
        if (m.unordered && labels.size() >= 2) std::sort(labels.begin(), labels.end());
        if (call.kind() == CallKind::Reshape) {
          if (!labels.empty()) label = labels[0];
        } else {
          label = derive_label(m.op, m.params.bytes(), labels);
        }
      }

      if (!s.is_output[o]) {
        if (label && s.arena.resident(*label)) {
          s.arena.bind_resident(o, *label);
          s.run_labels[o] = label;
          continue;
        }
        if (call.kind() == CallKind::Slice) {
          const LayoutCall& slice = *call.get_if<LayoutCall>();
          s.arena.bind_view(o, slice.input.slot, slice.input.offset, slice.input.len);
          s.run_labels[o] = label;
          continue;
        }
      }

      bool done = false;
      if (s.stealable[k] && label && !labels.empty() && call.kind() == CallKind::KvCacheWrite) {
        done = cache_write_in_place(s, *call.get_if<KvCacheWriteCall>(), m, labels[0]);
      }
      if (!done) {
        if (!s.arena.bind_fresh(o, slot_size(s, o))) return std::unexpected(ExecError::ExecutionFailed);
        ++s.kernels_run;
        if (!dispatch(call, s.arena)) return std::unexpected(ExecError::ExecutionFailed);
      }

      if (!label) {
        s.run_labels[o].reset();
      } else if (!s.is_output[o]) {
        s.arena.retain(o, *label);
        s.run_labels[o] = label;
      } else {
        auto boundary = derive_label_boundary(m.op, m.params.bytes(), labels);
        if (!boundary) return std::unexpected(ExecError::ExecutionFailed);
        s.arena.retain(o, *boundary);
        s.boundary_labels[o] = boundary;
        s.run_labels[o] = label;
      }
    }
  }

  s.output_labels.clear();
  for (const PortDescriptor& port : s.outputs) {
    if (port.slot < s.boundary_labels.size() && s.boundary_labels[port.slot]) {
      s.output_labels.push_back(*s.boundary_labels[port.slot]);
      continue;
    }
    auto view = s.arena.read_slot(port.slot);
    if (!view) return std::unexpected(ExecError::OutputUnavailable);
    const std::uint64_t n = std::min<std::uint64_t>(port_byte_length(port), view->size());
    const KappaLabel l = address_bytes(view->first(static_cast<std::size_t>(n)));
    s.arena.retain(port.slot, l);
    s.output_labels.push_back(l);
  }
  s.memo.insert(s.input_labels, s.output_labels);
  return {};
}

std::expected<std::span<const ReadBytes>, ExecError> collect_outputs(InferenceSession& s) {
  s.output_views.clear();
  const std::size_t count = std::min(s.output_labels.size(), s.outputs.size());
  for (std::size_t i = 0; i < count; ++i) {
    auto bytes = s.arena.resolve(s.output_labels[i]);
    if (!bytes) {
      s.output_views.clear();
      return std::unexpected(ExecError::OutputUnavailable);
    }
    const std::uint64_t n = std::min<std::uint64_t>(port_byte_length(s.outputs[i]), bytes->size());
    s.output_views.push_back(bytes->first(static_cast<std::size_t>(n)));
  }
  return std::span<const ReadBytes>(s.output_views);
}

std::expected<std::span<const ReadBytes>, ExecError> execute(InferenceSession& s, std::span<const ReadBytes> inputs) {
  if (inputs.size() != s.inputs.size()) return std::unexpected(ExecError::InputCountMismatch);

  s.input_labels.clear();
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::uint64_t n = std::min<std::uint64_t>(inputs[i].size(), port_byte_length(s.inputs[i]));
    const ReadBytes used = inputs[i].first(static_cast<std::size_t>(n));
    InputCacheEntry& cache = s.input_cache[i];
    if (!(cache.valid && cache.bytes.size() == used.size() &&
          (used.empty() || std::memcmp(cache.bytes.data(), used.data(), used.size()) == 0))) {
      cache.valid = false;
      cache.label = address_bytes(used);
      cache.bytes.assign(used.begin(), used.end());  // keeps its storage when large enough
      cache.valid = true;
    }
    s.input_labels.push_back(cache.label);
  }

  if (s.memo.get(s.input_labels, s.output_labels)) {
    const bool all_resident = std::all_of(s.output_labels.begin(), s.output_labels.end(),
                                          [&](const KappaLabel& l) { return s.arena.resident(l); });
    if (all_resident) return collect_outputs(s);
  }

  s.arena.rebind_reset(s.slot_count());
  for (const auto& [slot, label] : s.constant_labels) s.arena.bind_resident(slot, label);
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const ReadBytes used = inputs[i].first(s.input_cache[i].bytes.size());
    if (!s.arena.store_unbound(s.input_labels[i], used)) return std::unexpected(ExecError::ExecutionFailed);
    s.arena.bind_resident(s.inputs[i].slot, s.input_labels[i]);
  }
  if (auto r = compute_and_label(s); !r) return std::unexpected(r.error());
  return collect_outputs(s);
}

}  // namespace tessary
