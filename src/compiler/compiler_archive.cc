// Stage 10: the archive. Constants above 4096 bytes go to the weight store
// (deduplicated by content), smaller ones inline; ports describe the buffers
// a caller fills and reads.
#include <algorithm>
#include <utility>

#include "archive/writer.h"
#include "compiler/compiler_stages.h"
#include "compiler/operand_info.h"

namespace tessary::compiler_detail {

namespace {

constexpr std::size_t kInlineConstantLimit = 4096;

std::vector<std::uint64_t> dims_of(const ShapeDescriptor* shape) {
  if (shape == nullptr) return {};
  return std::vector<std::uint64_t>(shape->dims.begin(), shape->dims.begin() + std::min<std::size_t>(shape->rank, 8));
}

std::string name_at(const std::vector<std::string>& names, std::size_t k) {
  return k < names.size() ? names[k] : std::string{};
}

// A port over one buffer: its slot, and the element count, element type and
// dimensions of the value that buffer holds.
struct PortBuffer {
  std::uint32_t slot = 0;
  const ShapeDescriptor* shape = nullptr;
  DTypeId dtype = DTypeId::F32;
};

PortDescriptor make_port(std::string name, const PortBuffer& b) {
  PortDescriptor p;
  p.name = std::move(name);
  p.shape = dims_of(b.shape);
  p.elements = b.shape != nullptr ? b.shape->total_elements() : 0;
  p.slot = b.slot;
  p.dtype = b.dtype;
  return p;
}

PortBuffer node_buffer(const Graph& graph, NodeId id) {
  const Node& n = graph.nodes[id];
  return PortBuffer{id, graph.shapes.get(n.shape), n.dtype};
}

// An output port describes the buffer that feeds it, dimensions included:
// the output node's own shape identifier is never declared (it reads as the
// first registered shape), so taking the dimensions from it would let a port
// claim the shape of some other value.
PortBuffer output_source(const Graph& graph, NodeId out) {
  const Node& node = graph.nodes[out];
  if (node.inputs.empty()) return node_buffer(graph, out);
  const InputSource in = node.inputs[0];
  const auto node_count = static_cast<std::uint32_t>(graph.nodes.size());
  switch (in.tag) {
    case InputSourceTag::Node:
      if (in.payload < node_count) return node_buffer(graph, in.payload);
      break;
    case InputSourceTag::Constant:
      if (const ConstantEntry* c = graph.constants.get(in.payload)) {
        return PortBuffer{node_count + in.payload, graph.shapes.get(c->shape), c->dtype};
      }
      break;
    case InputSourceTag::GraphInput: {
      const auto inputs = graph.inputs();
      if (in.payload < inputs.size() && inputs[in.payload] < node_count) return node_buffer(graph, inputs[in.payload]);
      break;
    }
  }
  // An operand that names nothing: a port of no elements on slot 0, as the
  // operand's buffer reference would be.
  return PortBuffer{0, nullptr, node.dtype};
}

}  // namespace

CompileResult<Bytes> write_archive(const Graph& graph, ArchiveParts parts) {
  const auto node_count = static_cast<std::uint32_t>(graph.nodes.size());
  TessWriter writer;
  writer.set_kernel_calls(std::move(parts.calls));
  if (graph.schedule) {
    PlanSteps waves;
    waves.reserve(graph.schedule->size());
    for (const Wave& w : *graph.schedule) waves.emplace_back(w.begin(), w.end());
    writer.set_schedule(std::move(waves));
  }
  if (!parts.plan.empty()) writer.set_exec_plan(std::move(parts.plan));

  WeightStore weights;
  std::vector<archive::ConstantEntry> constants;
  constants.reserve(graph.constants.size());
  const auto& entries = graph.constants.entries();
  const auto& digests = graph.constants.digests();
  for (std::size_t j = 0; j < entries.size(); ++j) {
    archive::ConstantEntry e;
    e.slot = node_count + static_cast<std::uint32_t>(j);
    e.dtype = entries[j].dtype;
    if (j < digests.size() && digests[j]) {
      // A weight known by its digest: its bytes are bound by whoever supplies
      // that weight, not written here.
      e.in_weights = true;
      e.fingerprint = *digests[j];
    } else {
      const bool replaced = j < parts.replacements.size() && parts.replacements[j].has_value();
      const Bytes& bytes = replaced ? *parts.replacements[j] : entries[j].bytes;
      if (bytes.size() > kInlineConstantLimit) {
        e.in_weights = true;
        e.fingerprint = weights.insert(ByteView(bytes));
      } else {
        e.bytes = bytes;
      }
    }
    constants.push_back(std::move(e));
  }
  writer.set_weights(std::move(weights));
  writer.set_shape_registry(graph.shapes.shapes());
  if (!parts.certificates.empty()) {
    ArchiveResult<Bytes> encoded = encode_certificates(parts.certificates);
    if (!encoded) return std::unexpected(CompileError::archive_write());
    writer.set_certificates(std::move(*encoded));
  }

  std::vector<PortDescriptor> inputs;
  const auto input_ids = graph.inputs();
  for (std::size_t k = 0; k < input_ids.size(); ++k) {
    const NodeId id = input_ids[k];
    PortBuffer b = id < node_count ? node_buffer(graph, id) : PortBuffer{0, nullptr, DTypeId::F32};
    inputs.push_back(make_port(name_at(graph.input_names, k), b));
  }
  std::vector<PortDescriptor> outputs;
  const auto output_ids = graph.outputs();
  for (std::size_t k = 0; k < output_ids.size(); ++k) {
    const NodeId id = output_ids[k];
    PortBuffer b = id < node_count ? output_source(graph, id) : PortBuffer{0, nullptr, DTypeId::F32};
    outputs.push_back(make_port(name_at(graph.output_names, k), b));
  }
  writer.set_inputs(std::move(inputs));
  writer.set_outputs(std::move(outputs));
  writer.set_constants(std::move(constants));

  ArchiveResult<Bytes> bytes = std::move(writer).finish();
  if (!bytes) return std::unexpected(CompileError::archive_write());
  return std::move(*bytes);
}

}  // namespace tessary::compiler_detail
