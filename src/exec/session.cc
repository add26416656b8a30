#include "exec/session.h"

#include <algorithm>

#include "archive/calls_codec.h"
#include "archive/constants.h"
#include "archive/container.h"
#include "archive/warm_start.h"
#include "archive/weights.h"
#include "exec/load_fusion.h"

namespace tessary {

namespace {

constexpr std::uint64_t kSizeCeiling = UINT64_MAX - 63;

// An archive names slots by number, and every slot costs per-slot tables, so
// a forged slot number must not size them. The compiler numbers slots
// densely; we accept up to 64 slots per slot mention plus a fixed allowance
// and refuse anything sparser as not produced by a compiler.
constexpr std::uint64_t kSlotsPerMention = 64;
constexpr std::uint64_t kSlotAllowance = 4096;

}  // namespace

NodeMeta build_node_meta(const KernelCall& call) {
  NodeMeta m;
  const CallBuffers refs = buffers(call);
  for (const BufferRef& r : refs.inputs()) {
    if (r.present() && m.input_count < NodeMeta::kMaxInputs) m.input_slots[m.input_count++] = r.slot;
  }
  m.output = refs.size() == 0 ? kSlotNone : refs.output().slot;
  OpSignature sig = op_signature(call);
  m.op = sig.op;
  m.params = std::move(sig.pb);
  m.unordered = call.descriptor().unordered;
  // A label names a value by op, parameters and input labels; the windows a
  // call reads or writes are not among them, so two slices of one tensor at
  // different starts would share a label and be served each other's result.
  // When any reference starts past offset 0, the windows of all references
  // join the parameters. Calls whose references all start at 0 keep the
  // plain signature.
  const bool windowed = std::any_of(refs.begin(), refs.end(), [](const BufferRef& r) { return r.offset != 0; });
  if (windowed) {
    for (const BufferRef& r : refs) m.params.u64(r.offset).u64(r.len);
  }
  return m;
}

std::vector<bool> compute_stealable(std::span<const KernelCall> calls, const PlanSteps& plan,
                                    std::span<const NodeMeta> meta) {
  std::vector<bool> stealable(calls.size(), false);
  const bool any_cache_write =
      std::any_of(calls.begin(), calls.end(), [](const KernelCall& c) { return c.kind() == CallKind::KvCacheWrite; });
  if (!any_cache_write) return stealable;
  constexpr std::uint64_t kNone = UINT64_MAX;
  std::vector<std::uint64_t> number(calls.size(), kNone);
  std::uint64_t next = 0;
  for (const PlanStep& group : plan) {
    for (std::uint32_t k : group) {
      if (k < calls.size()) number[k] = next++;
    }
  }
  for (std::size_t k = 0; k < calls.size(); ++k) {
    if (calls[k].kind() != CallKind::KvCacheWrite || number[k] == kNone) continue;
    const std::uint32_t cache = buffers(calls[k])[0].slot;
    bool ok = true;
    for (std::size_t j = 0; j < calls.size() && ok; ++j) {
      if (j == k) continue;
      const auto ins = meta[j].inputs();
      const bool touches = meta[j].output == cache || std::find(ins.begin(), ins.end(), cache) != ins.end();
      if (touches && !(number[j] != kNone && number[j] < number[k])) ok = false;
    }
    stealable[k] = ok;
  }
  return stealable;
}

std::optional<InferenceSession> load_inner(ByteView bytes) {
  auto loader = TessLoader::from_bytes(bytes);
  if (!loader) return std::nullopt;
  auto table = loader->into_plan();
  if (!table) return std::nullopt;

  InferenceSession s;
  auto calls_payload = table->section(SectionKind::KernelCalls);
  if (!calls_payload) return std::nullopt;
  auto calls = decode_calls(*calls_payload);
  if (!calls) return std::nullopt;
  s.calls = std::move(*calls);
  // A decoded call always carries the record of its kind; refuse anything
  // else rather than let later code trust the descriptor.
  for (const KernelCall& c : s.calls) {
    if (!c.well_formed() || buffers(c).size() == 0) return std::nullopt;
  }

  if (auto p = table->section(SectionKind::Inputs)) {
    auto ports = decode_ports(*p);
    if (!ports) return std::nullopt;
    s.inputs = std::move(*ports);
  }
  if (auto p = table->section(SectionKind::Outputs)) {
    auto ports = decode_ports(*p);
    if (!ports) return std::nullopt;
    s.outputs = std::move(*ports);
  }
  auto exts = table->extensions();
  if (!exts) return std::nullopt;
  for (const ExtensionView& e : *exts) s.extensions.push_back({std::string(e.key), Bytes(e.value.begin(), e.value.end())});

  if (auto p = table->section(SectionKind::ExecPlan)) {
    auto plan = decode_exec_plan(*p);
    if (!plan) return std::nullopt;
    s.plan = std::move(*plan);
  } else {
    PlanStep all(s.calls.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint32_t>(i);
    s.plan.push_back(std::move(all));
  }

  if (!run_load_fusion(s.calls, s.plan, s.outputs)) return std::nullopt;

  std::vector<archive::ConstantEntry> constants;
  if (auto p = table->section(SectionKind::Constants)) {
    auto decoded = decode_constants(*p);
    if (!decoded) return std::nullopt;
    constants = std::move(*decoded);
  }
  std::optional<WeightStore> weights;
  if (auto p = table->section(SectionKind::Weights)) {
    auto decoded = decode_weights(*p);
    if (!decoded) return std::nullopt;
    weights = std::move(*decoded);
  }
  auto constant_bytes = [&](const archive::ConstantEntry& c) -> std::optional<ByteView> {
    if (!c.in_weights) return ByteView(c.bytes);
    if (!weights) return std::nullopt;
    return weights->get(c.fingerprint);
  };

  // Slot count and sizes.
  std::uint64_t slot_count = 0, mentions = 0;
  auto mention = [&](std::uint32_t slot) {
    if (slot == kSlotNone) return;
    slot_count = std::max<std::uint64_t>(slot_count, std::uint64_t{slot} + 1);
    ++mentions;
  };
  for (const KernelCall& c : s.calls) {
    for (const BufferRef& r : buffers(c)) mention(r.slot);
  }
  for (const PortDescriptor& p : s.inputs) mention(p.slot);
  for (const PortDescriptor& p : s.outputs) mention(p.slot);
  for (const archive::ConstantEntry& c : constants) mention(c.slot);
  if (slot_count > kSlotsPerMention * mentions + kSlotAllowance) return std::nullopt;

  s.slot_sizes.assign(slot_count, 0);
  auto raise = [&](std::uint32_t slot, std::uint64_t size) {
    if (slot < slot_count) s.slot_sizes[slot] = std::max(s.slot_sizes[slot], size);
  };
  for (const KernelCall& c : s.calls) {
    for (const BufferRef& r : buffers(c)) raise(r.slot, r.len);
  }
  for (const PortDescriptor& p : s.inputs) raise(p.slot, port_byte_length(p));
  for (const PortDescriptor& p : s.outputs) raise(p.slot, port_byte_length(p));
  for (const archive::ConstantEntry& c : constants) {
    auto b = constant_bytes(c);
    raise(c.slot, b ? b->size() : 0);
  }
  for (std::uint64_t& size : s.slot_sizes) {
    // A size that cannot be rounded up to whole 64-byte blocks can never be
    // allocated: refuse the archive now rather than fail every run.
    if (size > kSizeCeiling) return std::nullopt;
    size = std::max<std::uint64_t>((size + 63) / 64 * 64, 64);
  }

  s.slot_labels.assign(slot_count, std::nullopt);
  for (const archive::ConstantEntry& c : constants) {
    auto b = constant_bytes(c);
    if (!b) return std::nullopt;
    const KappaLabel label = address_bytes(*b);
    if (!s.arena.pin_bytes(label, *b)) return std::nullopt;
    s.slot_labels[c.slot] = label;
    s.constant_labels.emplace_back(c.slot, label);
  }
  constants.clear();
  weights.reset();

  if (auto p = table->section(SectionKind::WarmStart)) {
    auto entries = decode_warm_start(*p);
    if (!entries) return std::nullopt;
    for (const WarmEntry& e : *entries) {
      if (!e.bytes.empty() && !s.arena.pin_bytes(e.label, e.bytes)) return std::nullopt;
    }
  }

  s.node_meta.reserve(s.calls.size());
  for (const KernelCall& c : s.calls) s.node_meta.push_back(build_node_meta(c));
  s.is_output.assign(slot_count, false);
  for (const PortDescriptor& p : s.outputs) s.is_output[p.slot] = true;
  s.stealable = compute_stealable(s.calls, s.plan, s.node_meta);

  s.input_cache.resize(s.inputs.size());
  s.run_labels.assign(slot_count, std::nullopt);
  s.boundary_labels.assign(slot_count, std::nullopt);
  s.output_views.reserve(s.outputs.size());
  s.fingerprint = loader->digest();
  return s;
}

}  // namespace tessary
