#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tessary::cli {

namespace {

std::string reason() { return std::strerror(errno); }

}  // namespace

CliResult<ByteBuffer> read_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return fail("cannot open '" + path + "': " + reason());
  ByteBuffer bytes;
  std::uint8_t chunk[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, f);
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  const bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad) return fail("cannot read '" + path + "'");
  return bytes;
}

CliResult<void> write_file(const std::string& path, const ByteBuffer& bytes) {
  const std::string tmp = path + ".part";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (f == nullptr) return fail("cannot create '" + path + "': " + reason());
  const bool wrote = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!wrote || !closed) {
    std::remove(tmp.c_str());
    return fail("cannot write '" + path + "'");
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const std::string why = reason();
    std::remove(tmp.c_str());
    return fail("cannot write '" + path + "': " + why);
  }
  return {};
}

}  // namespace tessary::cli
