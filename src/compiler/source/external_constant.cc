#include "compiler/source/external_constant.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "archive/hasher.h"

namespace tessary {

namespace fs = std::filesystem;

namespace {

// Owns a file descriptor so that every return path closes it.
class FileHandle {
 public:
  explicit FileHandle(int fd) : fd_(fd) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

CompileError fail(std::string_view message) { return CompileError::with_message(message); }

// True when `file` starts with every component of `root`.
bool starts_with_components(const fs::path& file, const fs::path& root) {
  auto f = file.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++f) {
    if (f == file.end() || *f != *r) return false;
  }
  return true;
}

}  // namespace

CompileResult<std::vector<std::uint8_t>> read_external_constant(const SourceExternalConst& item,
                                                                std::uint64_t expected_len) {
  std::error_code ec;
  const char* root_var = std::getenv(kExternalTensorRootVar);
  fs::path root;
  if (root_var != nullptr) {
    root = fs::path(root_var);
  } else {
    root = fs::current_path(ec);
    if (ec) return std::unexpected(fail("external const: current dir"));
  }
  fs::path canonical_root = fs::canonical(root, ec);
  if (ec) return std::unexpected(fail("external const: resolve root"));

  // The operating system would stop at a NUL byte and resolve a different
  // file than the one named, so such a path names no file at all.
  if (item.path.find('\0') != std::string::npos) return std::unexpected(fail("external const: resolve file"));
  fs::path named(item.path);
  fs::path candidate = named.is_absolute() ? named : canonical_root / named;
  fs::path canonical_file = fs::canonical(candidate, ec);
  if (ec) return std::unexpected(fail("external const: resolve file"));

  if (root_var != nullptr && !starts_with_components(canonical_file, canonical_root)) {
    return std::unexpected(fail("external const: outside root"));
  }

  int fd = ::open(canonical_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::unexpected(fail("external const: open file"));
  FileHandle file(fd);

  if (item.offset > static_cast<std::uint64_t>(INT64_MAX) ||
      ::lseek(file.get(), static_cast<off_t>(item.offset), SEEK_SET) < 0) {
    return std::unexpected(fail("external const: seek file"));
  }

  // Reserve only what the file can still supply; the buffer grows with the
  // bytes actually read otherwise.
  std::vector<std::uint8_t> bytes;
  struct stat st {};
  if (::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
    auto size = static_cast<std::uint64_t>(st.st_size);
    std::uint64_t available = size > item.offset ? size - item.offset : 0;
    bytes.reserve(static_cast<std::size_t>(std::min(available, expected_len)));
  }
  constexpr std::uint64_t kChunk = 1u << 20;
  std::uint64_t got = 0;
  while (got < expected_len) {
    std::uint64_t want = std::min(expected_len - got, kChunk);
    bytes.resize(static_cast<std::size_t>(got + want));
    ssize_t n = ::read(file.get(), bytes.data() + got, static_cast<std::size_t>(want));
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(fail("external const: read file"));
    }
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  bytes.resize(static_cast<std::size_t>(got));
  if (got < expected_len) return std::unexpected(fail("external const: short read"));

  if (blake3_digest(bytes) != item.digest) {
    return std::unexpected(fail("external const: content hash mismatch"));
  }
  return bytes;
}

}  // namespace tessary
