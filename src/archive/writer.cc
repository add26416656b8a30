#include "archive/writer.h"

#include "archive/calls_codec.h"
#include "archive/extension_payload.h"
#include "archive/shape_registry.h"

namespace tessary {

ArchiveResult<Bytes> TessWriter::finish() && {
  std::vector<Section> sections;
  std::optional<ArchiveError> failed;
  auto put = [&](SectionKind kind, ArchiveResult<Bytes> payload) {
    if (failed) return;
    if (!payload) {
      failed = payload.error();
      return;
    }
    sections.push_back({static_cast<std::uint8_t>(kind), std::move(*payload)});
  };
  put(SectionKind::KernelCalls, encode_calls(calls_));
  if (schedule_) put(SectionKind::Schedule, encode_schedule(*schedule_));
  put(SectionKind::Weights, encode_weights(weights_));
  if (shapes_) put(SectionKind::ShapeRegistry, encode_shape_registry(*shapes_));
  if (!certificates_.empty()) put(SectionKind::Certificates, std::move(certificates_));
  if (!inputs_.empty()) put(SectionKind::Inputs, encode_ports(inputs_));
  if (!outputs_.empty()) put(SectionKind::Outputs, encode_ports(outputs_));
  if (!constants_.empty()) put(SectionKind::Constants, encode_constants(constants_));
  if (!exec_plan_.empty()) put(SectionKind::ExecPlan, encode_exec_plan(exec_plan_));
  for (const auto& [key, value] : extensions_) put(SectionKind::Extension, encode_extension(key, value));
  if (failed) return std::unexpected(*failed);
  return assemble_archive(sections);
}

}  // namespace tessary
