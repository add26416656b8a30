#pragma once
// Everything an archive holds, decoded section by section for `inspect`.
// Container failures (magic, version, digest, section table) end the report;
// a section that does not decode is recorded as a problem and the others are
// still shown.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/certificates.h"
#include "archive/constants.h"
#include "archive/container.h"
#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "archive/warm_start.h"
#include "archive/weights.h"
#include "cli_error.h"
#include "compute/kernel_call.h"
#include "file_io.h"
#include "types/shape.h"

namespace tessary::cli {

struct SectionEntry {
  std::uint8_t kind = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  bool in_range = true;  // offset + size lies inside the archive
};

struct ConstantInfo {
  std::uint32_t slot = 0;
  DTypeId dtype = DTypeId::F32;
  bool in_weights = false;
  std::optional<std::uint64_t> size;  // unknown when the weight is missing
  Digest fingerprint{};               // the stored one for weights, BLAKE3 of the bytes when inline
};

struct ExtensionInfo {
  std::string key;
  ByteBuffer value;
};

struct WarmInfo {
  std::string label;
  std::uint64_t size = 0;
};

struct ArchiveReport {
  std::uint64_t size = 0;
  std::uint16_t version = 0;
  Digest fingerprint{};  // the trailer digest that seals the archive
  std::vector<SectionEntry> sections;

  std::optional<std::vector<PortDescriptor>> inputs;
  std::optional<std::vector<PortDescriptor>> outputs;
  std::optional<std::vector<KernelCall>> calls;
  std::optional<PlanSteps> exec_plan;
  std::optional<PlanSteps> schedule;
  std::optional<std::vector<ConstantInfo>> constants;
  std::optional<std::vector<std::pair<Digest, std::uint64_t>>> weights;  // fingerprint, size
  std::optional<std::vector<ShapeDescriptor>> shapes;
  std::optional<std::vector<CertificateRecord>> certificates;
  std::optional<std::vector<WarmInfo>> warm_start;
  std::vector<ExtensionInfo> extensions;

  std::vector<std::string> problems;  // sections that did not decode
};

CliResult<ArchiveReport> build_report(const ByteBuffer& archive);

// "KernelCalls", ..., "reserved" for kinds 5, 7, 8, 15 and 16.
std::string section_kind_name(std::uint8_t kind);

// 64 lowercase hex digits.
std::string hex_digest(const Digest& d);

}  // namespace tessary::cli
