#pragma once
// The KernelCalls section: the program's kernel calls in execution order.
//
// Payload (little-endian, no alignment or padding):
//   0  u32  count
//   4  ...  count records, back to back: u16 wire discriminant, then the
//           variant's fields in record order (kernel_call.h)
// Field encodings: u8 (also element-type tags, ranks, activation ids), flag
// (written 0 or 1, any non-zero byte read as 1), u16, u32 (also binary32 bits
// and signed zero points), u64, and R, a 20-byte BufferRef written slot u32,
// offset u64, len u64.
//
// Assigned discriminants are 1 to 78 and 105 to 121, one per variant (see the
// call table) plus the longer forms of two variants:
//   dequantize      105 plain; 118 = plain + weight_layout u8, act_quant u8,
//                   codebook R (written when any of the three is set)
//   matmul_dequant  111 plain; 116 = plain + weight_layout flag, act_quant u8,
//                   act u8, addend R; 117 = 116 + codebook R (codebook present)
// Variable-length records: the reductions and cumsum write rank dims after
// dtype (55 + 4 * rank bytes); broadcast_binary writes rank (in_dims[i],
// out_dims[i]) pairs (64 + 8 * rank). transpose, expand and resize always
// write all eight entries of their arrays.
//
// The decoder reads untrusted bytes: every read is bounds-checked, a forged
// count reserves memory only in proportion to the payload, and the first
// error discards everything decoded. Slots, lengths, element types and sizes
// are checked later by session loading and the kernels, not here.
#include <span>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"
#include "compute/kernel_call.h"

namespace tessary {

inline constexpr const char* kUnknownCallDiscriminant = "unknown KernelCall discriminant";
inline constexpr const char* kCallRankAbove8 = "kernel call rank above 8";
inline constexpr const char* kCallRecordMismatch = "kernel call variant does not match its record";
inline constexpr const char* kTooManyCalls = "too many kernel calls";

// Encodes the section payload. Fails (Malformed) rather than write a record
// the decoder would read differently: a reduction or broadcast_binary of rank
// above 8, a call whose kind does not carry its record, or more than 2^32 - 1
// calls. Lowering never builds such calls.
ArchiveResult<Bytes> encode_calls(std::span<const KernelCall> calls);

// Decodes the section payload. Bytes after the last record are ignored.
ArchiveResult<std::vector<KernelCall>> decode_calls(ByteView payload);

// Decodes one record at the cursor. On error the cursor's position is
// unspecified; the caller drops the section.
ArchiveResult<KernelCall> decode_one(Cursor& cursor);

}  // namespace tessary
