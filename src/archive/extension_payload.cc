#include "archive/extension_payload.h"

#include "types/utf8.h"

namespace tessary {

ArchiveResult<Bytes> encode_extension(std::string_view key, ByteView value) {
  if (key.size() > UINT16_MAX) return std::unexpected(ArchiveError::malformed("extension key longer than 65535 bytes"));
  if (!is_valid_utf8(key)) return std::unexpected(ArchiveError::malformed("extension key is not valid UTF-8"));
  ByteWriter w;
  w.buffer().reserve(2 + key.size() + value.size());
  w.u16(static_cast<std::uint16_t>(key.size()));
  w.text(key);
  w.bytes(value);
  return w.take();
}

}  // namespace tessary
