// External constants read from real files in a temporary directory. Tests that
// change TESSARY_EXTERNAL_TENSOR_ROOT or the working directory restore both.
#include <dirent.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "archive/hasher.h"
#include "compiler/source/lowering.h"

namespace tessary {
namespace {

namespace fs = std::filesystem;

// Sets or clears the root variable for one scope, restoring the old value.
class RootVar {
 public:
  explicit RootVar(std::optional<std::string> value) {
    if (const char* old = getenv("TESSARY_EXTERNAL_TENSOR_ROOT")) old_ = old;
    if (value) {
      setenv("TESSARY_EXTERNAL_TENSOR_ROOT", value->c_str(), 1);
    } else {
      unsetenv("TESSARY_EXTERNAL_TENSOR_ROOT");
    }
  }
  ~RootVar() {
    if (old_) {
      setenv("TESSARY_EXTERNAL_TENSOR_ROOT", old_->c_str(), 1);
    } else {
      unsetenv("TESSARY_EXTERNAL_TENSOR_ROOT");
    }
  }

 private:
  std::optional<std::string> old_;
};

class WorkingDir {
 public:
  explicit WorkingDir(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~WorkingDir() { fs::current_path(old_); }

 private:
  fs::path old_;
};

std::size_t open_fd_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Layout: <tmp>/outside.bin and <tmp>/root/{data.bin, sub/, link.bin -> ../outside.bin}.
class ExternalConstant : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tessary-extconst-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    tmp_ = templ;
    root_ = tmp_ / "root";
    fs::create_directories(root_ / "sub");
    // 64 bytes: 16 little-endian f32 values 0.0 .. 15.0.
    for (int i = 0; i < 16; ++i) {
      auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(i));
      for (int b = 0; b < 4; ++b) data_.push_back(static_cast<std::uint8_t>(bits >> (8 * b)));
    }
    write(root_ / "data.bin", data_);
    write(tmp_ / "outside.bin", data_);
    fs::create_symlink("../outside.bin", root_ / "link.bin");
    fds_before_ = open_fd_count();
  }
  void TearDown() override {
    EXPECT_EQ(open_fd_count(), fds_before_);  // every path closes its file
    fs::remove_all(tmp_);
  }

  static void write(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  // A program holding one external constant `c` of `elements` f32 values at
  // `offset` of `path`, whose digest is that of the matching slice of data_.
  SourceProgram program(const std::string& path, std::uint64_t offset = 0, std::uint64_t elements = 4) {
    SourceProgram p;
    SourceExternalConst c;
    c.name = p.intern("c");
    c.shape = SourceShape::from_dims(std::vector<std::uint64_t>{elements});
    c.byte_len = elements * 4;
    c.path = path;
    c.offset = offset;
    if (offset + c.byte_len <= data_.size()) {
      c.digest = blake3_digest(std::span(data_).subspan(offset, c.byte_len));
    }
    p.push(std::move(c));
    return p;
  }

  std::string error_of(const SourceProgram& p) {
    auto g = lower_ir(p);
    if (g) return "(lowered)";
    return std::string(g.error().message);
  }

  void expect_loaded(const SourceProgram& p, std::uint64_t offset, std::uint64_t len) {
    auto g = lower_ir(p);
    ASSERT_TRUE(g.has_value()) << g.error().message;
    ASSERT_EQ(g->constants.size(), 1u);
    const ConstantEntry* e = g->constants.get(0);
    EXPECT_EQ(e->bytes, std::vector<std::uint8_t>(data_.begin() + offset, data_.begin() + offset + len));
    EXPECT_EQ(e->dtype, DTypeId::F32);
    ASSERT_NE(g->shapes.get(e->shape), nullptr);
    EXPECT_EQ(g->shapes.get(e->shape)->total_elements(), len / 4);
  }

  fs::path tmp_, root_;
  std::vector<std::uint8_t> data_;
  std::size_t fds_before_ = 0;
};

TEST_F(ExternalConstant, AbsolutePathWithoutRoot) {
  RootVar var(std::nullopt);
  expect_loaded(program((root_ / "data.bin").string()), 0, 16);
  expect_loaded(program((root_ / "data.bin").string(), 20, 8), 20, 32);
  expect_loaded(program((tmp_ / "outside.bin").string(), 60, 1), 60, 4);
}

TEST_F(ExternalConstant, RelativePathResolvesAgainstWorkingDirWhenRootUnset) {
  RootVar var(std::nullopt);
  WorkingDir cwd(root_ / "sub");
  expect_loaded(program("../data.bin", 4, 2), 4, 8);
  EXPECT_EQ(error_of(program("data.bin")), "external const: resolve file");
}

TEST_F(ExternalConstant, RelativePathResolvesAgainstRoot) {
  RootVar var(root_.string());
  WorkingDir cwd(tmp_);  // the working directory no longer matters
  expect_loaded(program("data.bin", 8, 4), 8, 16);
  expect_loaded(program("sub/../data.bin"), 0, 16);
  RootVar relative_root("root/sub/..");  // a relative root is canonicalised first
  expect_loaded(program("data.bin"), 0, 16);
}

TEST_F(ExternalConstant, ContainmentOnlyWhileRootIsSet) {
  {
    RootVar var(root_.string());
    EXPECT_EQ(error_of(program("../outside.bin")), "external const: outside root");
    EXPECT_EQ(error_of(program((tmp_ / "outside.bin").string())), "external const: outside root");
    EXPECT_EQ(error_of(program("link.bin")), "external const: outside root");  // symlinks are followed
    RootVar prefix((tmp_ / "ro").string());  // a name prefix is not a parent directory
    fs::create_directory(tmp_ / "ro");
    EXPECT_EQ(error_of(program("../root/data.bin")), "external const: outside root");
  }
  RootVar unset(std::nullopt);
  expect_loaded(program((tmp_ / "outside.bin").string()), 0, 16);
  expect_loaded(program((root_ / "link.bin").string()), 0, 16);
}

TEST_F(ExternalConstant, RootAndFileResolution) {
  {
    RootVar var((tmp_ / "missing").string());
    EXPECT_EQ(error_of(program("data.bin")), "external const: resolve root");
  }
  {
    RootVar empty("");
    EXPECT_EQ(error_of(program("data.bin")), "external const: resolve root");
  }
  RootVar var(root_.string());
  EXPECT_EQ(error_of(program("nothing.bin")), "external const: resolve file");
  // A NUL byte would make the system open a different file: no such file.
  EXPECT_EQ(error_of(program(std::string("data.bin\0.other", 15))), "external const: resolve file");
}

TEST_F(ExternalConstant, ShortReadAndAlteredContent) {
  RootVar var(root_.string());
  // Offset 4 plus 64 bytes needs one byte more than the file has.
  SourceProgram shortp = program("data.bin", 4, 16);
  std::get<SourceExternalConst>(shortp.items()[0]).digest = blake3_digest(data_);
  EXPECT_EQ(error_of(shortp), "external const: short read");
  EXPECT_EQ(error_of(program("data.bin", 1000, 1)), "external const: short read");

  auto altered = data_;
  altered[9] ^= 0x01;
  write(root_ / "data.bin", altered);
  EXPECT_EQ(error_of(program("data.bin", 0, 4)), "external const: content hash mismatch");
  expect_loaded(program("data.bin", 12, 4), 12, 16);  // the slice after the altered byte still matches
}

TEST_F(ExternalConstant, HugeDeclaredLengthReadsOnlyWhatExists) {
  RootVar var(root_.string());
  // 2^40 elements: 4 TiB declared, 64 bytes on disk.
  EXPECT_EQ(error_of(program("data.bin", 0, std::uint64_t{1} << 40)), "external const: short read");
}

TEST_F(ExternalConstant, LengthSeekOpenAndReadFailures) {
  RootVar var(root_.string());
  SourceProgram len = program("data.bin");
  std::get<SourceExternalConst>(len.items()[0]).byte_len = 15;
  EXPECT_EQ(error_of(len), "external const: byte len mismatch");

  SourceProgram noshape = program("data.bin");
  std::get<SourceExternalConst>(noshape.items()[0]).shape.reset();
  EXPECT_EQ(error_of(noshape), "const: missing shape");

  EXPECT_EQ(error_of(program("data.bin", std::uint64_t{1} << 63, 1)), "external const: seek file");
  EXPECT_EQ(error_of(program(".")), "external const: read file");  // the root directory itself

  // A socket resolves like any file but cannot be opened.
  int s = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(s, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::string sock = (root_ / "sock").string();
  ASSERT_LT(sock.size(), sizeof(addr.sun_path));
  std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  EXPECT_EQ(error_of(program("sock")), "external const: open file");
  close(s);
}

TEST_F(ExternalConstant, FileChecksComeBeforeDuplicateNames) {
  RootVar var(root_.string());
  SourceProgram p = program("data.bin");
  p.push(SourceInput{p.intern("c"), std::nullopt});
  EXPECT_EQ(error_of(p), "source: duplicate name");
  SourceProgram q;
  q.push(SourceInput{q.intern("c"), std::nullopt});
  SourceProgram ext = program("missing.bin");
  q.push(ext.items()[0]);
  EXPECT_EQ(error_of(q), "external const: resolve file");
}

}  // namespace
}  // namespace tessary
