#pragma once
// The one error value of archive loading and of every section decoder.
#include <array>
#include <cstdint>
#include <expected>
#include <string>

namespace tessary {

enum class ArchiveErrorKind : std::uint8_t {
  BadMagic,
  UnsupportedVersion,
  Truncated,
  DigestMismatch,
  Malformed,
};

struct ArchiveError {
  ArchiveErrorKind kind = ArchiveErrorKind::Malformed;
  std::array<std::uint8_t, 4> magic{};  // BadMagic: the four bytes found
  std::uint16_t version = 0;            // UnsupportedVersion: the version found
  std::uint64_t needed = 0;             // Truncated: end offset the read needed
  std::uint64_t available = 0;          // Truncated: length that was available
  const char* message = "";             // Malformed: a fixed literal of the library

  static ArchiveError bad_magic(std::array<std::uint8_t, 4> found) {
    ArchiveError e;
    e.kind = ArchiveErrorKind::BadMagic;
    e.magic = found;
    return e;
  }
  static ArchiveError unsupported_version(std::uint16_t found) {
    ArchiveError e;
    e.kind = ArchiveErrorKind::UnsupportedVersion;
    e.version = found;
    return e;
  }
  static ArchiveError truncated(std::uint64_t needed_end, std::uint64_t available_len) {
    ArchiveError e;
    e.kind = ArchiveErrorKind::Truncated;
    e.needed = needed_end;
    e.available = available_len;
    return e;
  }
  static ArchiveError digest_mismatch() {
    ArchiveError e;
    e.kind = ArchiveErrorKind::DigestMismatch;
    return e;
  }
  static ArchiveError malformed(const char* fixed_message) {
    ArchiveError e;
    e.kind = ArchiveErrorKind::Malformed;
    e.message = fixed_message;
    return e;
  }

  // A one-line description for tools and test failure output.
  std::string describe() const;

  friend bool operator==(const ArchiveError& a, const ArchiveError& b);
};

template <class T>
using ArchiveResult = std::expected<T, ArchiveError>;

}  // namespace tessary
