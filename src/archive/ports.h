#pragma once
// Port sections (Inputs and Outputs): the buffers a caller fills and reads.
//
// Payload: count u32, then per port
//   name length k u16, k name bytes (UTF-8), slot u32, elements u64,
//   dtype u8, rank r u8, r dimensions u64 each.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "types/dtype.h"

namespace tessary {

struct PortDescriptor {
  std::string name;                  // UTF-8, as the caller sees it
  std::vector<std::uint64_t> shape;  // outermost first
  std::uint64_t elements = 0;
  std::uint32_t slot = 0;            // session buffer slot bound to the port
  DTypeId dtype = DTypeId::F32;

  friend bool operator==(const PortDescriptor&, const PortDescriptor&) = default;
};

// Bytes a port's buffer holds: elements times the width of its tag, where
// tags without a whole-byte width (bool, u8, i8, i4, e8cb and unknown tags)
// count one byte per element. Saturates at 2^64 - 1.
std::uint64_t port_byte_length(const PortDescriptor& port);

// Refuses names over 65535 bytes or not valid UTF-8, shapes over 255
// dimensions and more than 2^32 - 1 ports, rather than write a payload that
// could not be read back.
ArchiveResult<Bytes> encode_ports(std::span<const PortDescriptor> ports);
ArchiveResult<std::vector<PortDescriptor>> decode_ports(ByteView payload);

}  // namespace tessary
