#include "archive/ports.h"

#include <utility>

#include "archive/payload_rules.h"
#include "types/utf8.h"

namespace tessary {

namespace {

constexpr std::size_t kMinPortBytes = 16;  // empty name, rank 0

std::uint64_t port_element_width(DTypeId dtype) {
  switch (static_cast<std::uint8_t>(dtype)) {
    case 3: case 5: case 9: return 8;  // u64, i64, f64
    case 4: case 8: return 4;          // i32, f32
    case 6: case 7: return 2;          // f16, bf16
    default: return 1;
  }
}

}  // namespace

std::uint64_t port_byte_length(const PortDescriptor& port) {
  std::uint64_t width = port_element_width(port.dtype);
  if (port.elements > UINT64_MAX / width) return UINT64_MAX;
  return port.elements * width;
}

ArchiveResult<Bytes> encode_ports(std::span<const PortDescriptor> ports) {
  ByteWriter w;
  if (auto r = put_count(w, ports.size()); !r) return std::unexpected(r.error());
  for (const PortDescriptor& p : ports) {
    if (p.name.size() > UINT16_MAX) return std::unexpected(ArchiveError::malformed("port name longer than 65535 bytes"));
    if (!is_valid_utf8(p.name)) return std::unexpected(ArchiveError::malformed("port name is not valid UTF-8"));
    if (p.shape.size() > UINT8_MAX) return std::unexpected(ArchiveError::malformed("port shape has more than 255 dimensions"));
    w.u16(static_cast<std::uint16_t>(p.name.size()));
    w.text(p.name);
    w.u32(p.slot);
    w.u64(p.elements);
    w.u8(static_cast<std::uint8_t>(p.dtype));
    w.u8(static_cast<std::uint8_t>(p.shape.size()));
    for (std::uint64_t d : p.shape) w.u64(d);
  }
  return w.take();
}

ArchiveResult<std::vector<PortDescriptor>> decode_ports(ByteView payload) {
  Cursor c(payload);
  auto count = read_count(c);
  if (!count) return std::unexpected(count.error());
  std::vector<PortDescriptor> ports;
  ports.reserve(reserve_bound(*count, c.remaining(), kMinPortBytes));
  for (std::uint32_t i = 0; i < *count; ++i) {
    auto name_len = c.u16();
    if (!name_len) return std::unexpected(name_len.error());
    auto name = c.bytes(*name_len);
    if (!name) return std::unexpected(name.error());
    if (!is_valid_utf8(*name)) return std::unexpected(ArchiveError::malformed("port name is not valid UTF-8"));
    auto slot = c.u32();
    if (!slot) return std::unexpected(slot.error());
    auto elements = c.u64();
    if (!elements) return std::unexpected(elements.error());
    auto dtype = c.u8();
    if (!dtype) return std::unexpected(dtype.error());
    auto rank = c.u8();
    if (!rank) return std::unexpected(rank.error());

    PortDescriptor p;
    p.name.assign(reinterpret_cast<const char*>(name->data()), name->size());
    p.shape.reserve(reserve_bound(*rank, c.remaining(), 8));
    for (std::uint8_t d = 0; d < *rank; ++d) {
      auto dim = c.u64();
      if (!dim) return std::unexpected(dim.error());
      p.shape.push_back(*dim);
    }
    p.elements = *elements;
    p.slot = *slot;
    p.dtype = static_cast<DTypeId>(*dtype);
    ports.push_back(std::move(p));
  }
  return ports;
}

}  // namespace tessary
