#pragma once
// TessWriter: one slot per section source; finish lays them out in the fixed
// section order and seals the archive.
#include <string>
#include <utility>
#include <vector>

#include "archive/container.h"

namespace tessary {

class TessWriter {
 public:
  TessWriter() = default;

  // Extensions are appended in call order, one section each.
  void add_extension(std::string key, Bytes value) { extensions_.emplace_back(std::move(key), std::move(value)); }

  // Consumes the writer. Fails only when the archive would need more than
  // 65535 sections or a key longer than 65535 bytes.
  ArchiveResult<Bytes> finish() &&;

 private:
  std::vector<std::pair<std::string, Bytes>> extensions_;
};

}  // namespace tessary
