#include "archive/error.h"

#include <cstring>
#include <string_view>

namespace tessary {

std::string ArchiveError::describe() const {
  switch (kind) {
    case ArchiveErrorKind::BadMagic: {
      std::string s = "bad magic: ";
      static const char* hex = "0123456789abcdef";
      for (std::uint8_t b : magic) {
        s += hex[b >> 4];
        s += hex[b & 15];
      }
      return s;
    }
    case ArchiveErrorKind::UnsupportedVersion:
      return "unsupported version " + std::to_string(version);
    case ArchiveErrorKind::Truncated:
      return "truncated: needed " + std::to_string(needed) + ", available " + std::to_string(available);
    case ArchiveErrorKind::DigestMismatch:
      return "digest mismatch";
    case ArchiveErrorKind::Malformed:
      return std::string("malformed: ") + message;
  }
  return "unknown archive error";
}

bool operator==(const ArchiveError& a, const ArchiveError& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case ArchiveErrorKind::BadMagic:
      return a.magic == b.magic;
    case ArchiveErrorKind::UnsupportedVersion:
      return a.version == b.version;
    case ArchiveErrorKind::Truncated:
      return a.needed == b.needed && a.available == b.available;
    case ArchiveErrorKind::DigestMismatch:
      return true;
    case ArchiveErrorKind::Malformed:
      return std::string_view(a.message) == std::string_view(b.message);
  }
  return false;
}

}  // namespace tessary
