#pragma once
// Whole-file reads and writes with messages that name the file.
#include <cstdint>
#include <string>
#include <vector>

#include "cli_error.h"

namespace tessary::cli {

using ByteBuffer = std::vector<std::uint8_t>;

CliResult<ByteBuffer> read_file(const std::string& path);
// Writes to a temporary name beside the target and renames it into place, so
// a failed write never leaves a half-written file under the final name.
CliResult<void> write_file(const std::string& path, const ByteBuffer& bytes);

}  // namespace tessary::cli
