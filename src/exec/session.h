#pragma once
// InferenceSession: the loaded, executable form of an archive.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/bytes.h"
#include "archive/hasher.h"
#include "archive/labels.h"
#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "compute/kernel_call.h"
#include "compute/op_signature.h"
#include "exec/buffer_arena.h"
#include "exec/graph_memo.h"

namespace tessary {

// Labelling metadata of one call, computed once at load.
struct NodeMeta {
  static constexpr std::size_t kMaxInputs = CallBuffers::kCapacity - 1;

  std::array<std::uint32_t, kMaxInputs> input_slots{};  // present references but the last, in order
  std::uint8_t input_count = 0;
  Pb params;  // signature parameters (plus reference windows, see build_node_meta)
  std::uint32_t output = kSlotNone;
  std::uint16_t op = 0;
  bool unordered = false;

  std::span<const std::uint32_t> inputs() const { return {input_slots.data(), input_count}; }
};

struct InputCacheEntry {
  bool valid = false;
  Bytes bytes;
  KappaLabel label;
};

struct SessionExtension {
  std::string key;
  Bytes value;
};

struct InferenceSession {
  std::vector<KernelCall> calls;
  PlanSteps plan;
  std::vector<PortDescriptor> inputs;
  std::vector<PortDescriptor> outputs;
  std::vector<SessionExtension> extensions;
  BufferArena arena;
  std::vector<std::uint64_t> slot_sizes;
  std::vector<std::pair<std::uint32_t, KappaLabel>> constant_labels;
  std::vector<InputCacheEntry> input_cache;
  std::vector<NodeMeta> node_meta;
  std::vector<std::optional<KappaLabel>> slot_labels;
  std::vector<bool> is_output;
  std::vector<bool> stealable;
  Bytes staging;
  // Per-run working tables, kept so their storage is reused.
  std::vector<std::optional<KappaLabel>> run_labels;
  std::vector<std::optional<KappaLabel>> boundary_labels;
  LabelList input_labels;
  LabelList call_labels;  // one call's input labels; decode attention has six, which spill
  LabelList output_labels;
  std::vector<ReadBytes> output_views;
  GraphMemo memo{GraphMemo::kSessionCapacity};
  Digest fingerprint{};
  // Number of kernels dispatched over the session's life; lets tests observe
  // that a memo hit or a resident shortcut ran nothing.
  std::uint64_t kernels_run = 0;

  std::size_t slot_count() const { return slot_sizes.size(); }
};

// Archive bytes to a session, or nothing; the failure carries no detail.
std::optional<InferenceSession> load_inner(ByteView bytes);

NodeMeta build_node_meta(const KernelCall& call);
std::vector<bool> compute_stealable(std::span<const KernelCall> calls, const PlanSteps& plan,
                                    std::span<const NodeMeta> meta);

}  // namespace tessary
