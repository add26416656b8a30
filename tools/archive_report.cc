#include "archive_report.h"

#include <fmt/format.h>

#include "archive/calls_codec.h"
#include "archive/hasher.h"
#include "archive/shape_registry.h"

namespace tessary::cli {

std::string section_kind_name(std::uint8_t kind) {
  switch (static_cast<SectionKind>(kind)) {
    case SectionKind::KernelCalls: return "KernelCalls";
    case SectionKind::Schedule: return "Schedule";
    case SectionKind::Weights: return "Weights";
    case SectionKind::ShapeRegistry: return "ShapeRegistry";
    case SectionKind::Certificates: return "Certificates";
    case SectionKind::Inputs: return "Inputs";
    case SectionKind::Outputs: return "Outputs";
    case SectionKind::Constants: return "Constants";
    case SectionKind::ExecPlan: return "ExecPlan";
    case SectionKind::WarmStart: return "WarmStart";
    case SectionKind::Extension: return "Extension";
  }
  return "reserved";
}

std::string hex_digest(const Digest& d) {
  std::string s;
  for (std::uint8_t b : d) s += fmt::format("{:02x}", b);
  return s;
}

namespace {

// Decodes the first section of `kind` with `decode` into `slot`, or records
// why it could not be read. Absent sections leave the slot empty.
template <class T, class Decode, class Convert>
void decode_section(const LoadedPlan& plan, const std::vector<SectionEntry>& table, SectionKind kind,
                    std::optional<T>& slot, std::vector<std::string>& problems, Decode decode, Convert convert) {
  const auto k = static_cast<std::uint8_t>(kind);
  const SectionEntry* first = nullptr;
  for (const auto& e : table) {
    if (e.kind == k) {
      first = &e;
      break;
    }
  }
  if (first == nullptr) return;
  const auto payload = plan.section(kind);
  if (!payload) {
    problems.push_back(section_kind_name(k) + " section lies outside the archive");
    return;
  }
  auto decoded = decode(*payload);
  if (!decoded) {
    problems.push_back(section_kind_name(k) + " section does not decode: " + decoded.error().describe());
    return;
  }
  slot = convert(std::move(*decoded));
}

auto same = [](auto v) { return v; };

}  // namespace

CliResult<ArchiveReport> build_report(const ByteBuffer& archive) {
  const ByteView bytes(archive.data(), archive.size());
  auto loader = TessLoader::from_bytes(bytes);
  if (!loader) return fail("not a valid archive: " + loader.error().describe());
  auto plan = loader->into_plan();
  if (!plan) return fail("not a valid archive: section table: " + plan.error().describe());

  ArchiveReport r;
  r.size = archive.size();
  r.version = loader->version();
  r.fingerprint = loader->digest();
  for (const SectionRef& ref : plan->table()) {
    SectionEntry e{ref.kind, ref.offset, ref.length, true};
    e.in_range = ref.offset <= archive.size() && ref.length <= archive.size() - ref.offset;
    r.sections.push_back(e);
  }

  auto& p = r.problems;
  decode_section(*plan, r.sections, SectionKind::KernelCalls, r.calls, p, decode_calls, same);
  decode_section(*plan, r.sections, SectionKind::Inputs, r.inputs, p, decode_ports, same);
  decode_section(*plan, r.sections, SectionKind::Outputs, r.outputs, p, decode_ports, same);
  decode_section(*plan, r.sections, SectionKind::ExecPlan, r.exec_plan, p, decode_exec_plan, same);
  decode_section(*plan, r.sections, SectionKind::Schedule, r.schedule, p, decode_schedule, same);
  decode_section(*plan, r.sections, SectionKind::ShapeRegistry, r.shapes, p, decode_shape_registry, same);
  decode_section(*plan, r.sections, SectionKind::Certificates, r.certificates, p, decode_certificates, same);

  std::optional<WeightStore> store;
  decode_section(*plan, r.sections, SectionKind::Weights, store, p, decode_weights,
                 [](WeightStore s) { return s; });
  if (store) {
    r.weights.emplace();
    for (const auto& [fp, b] : *store) r.weights->emplace_back(fp, b.size());
  }
  decode_section(*plan, r.sections, SectionKind::Constants, r.constants, p, decode_constants,
                 [&store](std::vector<archive::ConstantEntry> entries) {
                   std::vector<ConstantInfo> out;
                   for (const auto& e : entries) {
                     ConstantInfo c;
                     c.slot = e.slot;
                     c.dtype = e.dtype;
                     c.in_weights = e.in_weights;
                     if (e.in_weights) {
                       c.fingerprint = e.fingerprint;
                       if (store) {
                         if (auto w = store->get(e.fingerprint)) c.size = w->size();
                       }
                     } else {
                       c.fingerprint = blake3_digest(e.bytes);
                       c.size = e.bytes.size();
                     }
                     out.push_back(c);
                   }
                   return out;
                 });
  decode_section(*plan, r.sections, SectionKind::WarmStart, r.warm_start, p, decode_warm_start,
                 [](std::vector<WarmEntry> entries) {
                   std::vector<WarmInfo> out;
                   for (const auto& e : entries) out.push_back(WarmInfo{std::string(e.label.text()), e.bytes.size()});
                   return out;
                 });

  auto ext = plan->extensions();
  if (!ext) {
    p.push_back("Extension sections do not decode: " + ext.error().describe());
  } else {
    for (const auto& e : *ext) r.extensions.push_back(ExtensionInfo{std::string(e.key), ByteBuffer(e.value.begin(), e.value.end())});
  }
  return r;
}

}  // namespace tessary::cli
