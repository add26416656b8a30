#include "archive/writer.h"

namespace tessary {

namespace {
Bytes empty_list() { return Bytes{0, 0, 0, 0}; }
}  // namespace

ArchiveResult<Bytes> TessWriter::finish() && {
  std::vector<Section> sections;
  sections.push_back({static_cast<std::uint8_t>(SectionKind::KernelCalls), empty_list()});
  sections.push_back({static_cast<std::uint8_t>(SectionKind::Weights), empty_list()});
  for (auto& [key, value] : extensions_) {
    if (key.size() > 0xFFFF) return std::unexpected(ArchiveError::malformed("extension key longer than 65535 bytes"));
    ByteWriter w;
    w.u16(static_cast<std::uint16_t>(key.size()));
    w.text(key);
    w.bytes(value);
    sections.push_back({static_cast<std::uint8_t>(SectionKind::Extension), w.take()});
  }
  return assemble_archive(sections);
}

}  // namespace tessary
