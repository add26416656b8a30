#pragma once
// The TESS archive container.
//
// Layout (all integers little-endian, no alignment):
//   0   4   magic "TESS"
//   4   2   version (writer: 4; loader accepts 2, 3 and 4)
//   6   2   reserved, written 0, not read
//   8   2   section count n
//   10  24n section table: kind u8, 7 zero bytes, payload offset u64 (from
//           the archive start), payload length u64
//   ... payloads, concatenated in table order, no gaps
//   end-32  BLAKE3 digest of every byte before it
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "archive/hasher.h"

namespace tessary {

enum class SectionKind : std::uint8_t {
  KernelCalls = 1,
  Schedule = 2,
  Weights = 3,
  ShapeRegistry = 4,
  Certificates = 6,
  Inputs = 9,
  Outputs = 10,
  Constants = 11,
  ExecPlan = 12,
  WarmStart = 13,
  Extension = 14,
};

inline constexpr std::uint32_t kTessMagic = 0x53534554;  // "TESS" read little-endian
inline constexpr std::uint16_t kTessVersion = 4;
inline constexpr std::size_t kHeaderBytes = 10;
inline constexpr std::size_t kTableEntryBytes = 24;
inline constexpr std::size_t kTrailerBytes = 32;
inline constexpr std::size_t kMinArchiveBytes = kHeaderBytes + kTrailerBytes;  // 42
inline constexpr std::size_t kMaxSections = 65535;

struct Section {
  std::uint8_t kind = 0;
  Bytes payload;
};

// Lays out header, table, payloads and trailer. More than 65535 sections have
// no encoding in the 16-bit count: refused as Malformed rather than wrapped.
ArchiveResult<Bytes> assemble_archive(const std::vector<Section>& sections);

struct SectionRef {
  std::uint8_t kind = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct ExtensionView {
  std::string_view key;
  ByteView value;
};

// The decoded section table over borrowed archive bytes (trailer included).
class LoadedPlan {
 public:
  LoadedPlan(ByteView bytes, std::vector<SectionRef> table) : bytes_(bytes), table_(std::move(table)) {}

  // The payload of the first entry of this kind, provided its range lies
  // inside the archive; a first entry with a bad range hides any later one.
  std::optional<ByteView> section(SectionKind kind) const;
  // Every Extension entry in table order.
  ArchiveResult<std::vector<ExtensionView>> extensions() const;

  const std::vector<SectionRef>& table() const { return table_; }
  ByteView bytes() const { return bytes_; }

 private:
  std::optional<ByteView> range(const SectionRef& ref) const;

  ByteView bytes_;
  std::vector<SectionRef> table_;
};

// A validated archive: length, magic, version and trailer digest checked.
class TessLoader {
 public:
  static ArchiveResult<TessLoader> from_bytes(ByteView bytes);
  ArchiveResult<LoadedPlan> into_plan() const;

  const Digest& digest() const { return digest_; }
  std::uint16_t version() const { return version_; }
  ByteView bytes() const { return bytes_; }

 private:
  TessLoader(ByteView bytes, Digest digest, std::uint16_t version)
      : bytes_(bytes), digest_(digest), version_(version) {}

  ByteView bytes_;
  Digest digest_;
  std::uint16_t version_;
};

}  // namespace tessary
