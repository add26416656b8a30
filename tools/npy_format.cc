#include "npy_format.h"

#include <array>
#include <cctype>
#include <cstring>
#include <string_view>

namespace tessary::cli {

namespace {

constexpr std::string_view kMagic = "\x93NUMPY";

// What write_npy puts in the header for each type numpy can hold.
struct DescrName {
  DTypeId dtype;
  std::string_view descr;
};

constexpr std::array<DescrName, 9> kDescrs = {{
    {DTypeId::Bool, "|b1"},
    {DTypeId::U8, "|u1"},
    {DTypeId::I8, "|i1"},
    {DTypeId::U64, "<u8"},
    {DTypeId::I32, "<i4"},
    {DTypeId::I64, "<i8"},
    {DTypeId::F16, "<f2"},
    {DTypeId::F32, "<f4"},
    {DTypeId::F64, "<f8"},
}};

// Reads a descr by its type code ("f4", "u1", ...) and accepts any byte
// order mark that means little-endian here: '<', '=' (native, which is
// little-endian on this platform) and, for one-byte types, '|'.
std::optional<DTypeId> dtype_of_descr(std::string_view d) {
  if (d.size() != 3) return std::nullopt;
  const std::string_view code = d.substr(1);
  for (const auto& e : kDescrs) {
    if (e.descr.substr(1) != code) continue;
    const bool one_byte = code.back() == '1';
    if (d[0] == '<' || d[0] == '=' || (d[0] == '|' && one_byte)) return e.dtype;
  }
  return std::nullopt;
}

// A cursor over the header dict, enough for what numpy writes: string keys,
// a string, a bool and a tuple of integers.
class HeaderReader {
 public:
  explicit HeaderReader(std::string_view text) : s_(text) {}

  void blanks() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  bool eat(char c) {
    blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  std::optional<std::string> string() {
    blanks();
    if (i_ >= s_.size() || (s_[i_] != '\'' && s_[i_] != '"')) return std::nullopt;
    const char q = s_[i_++];
    const std::size_t start = i_;
    while (i_ < s_.size() && s_[i_] != q) ++i_;
    if (i_ >= s_.size()) return std::nullopt;
    return std::string(s_.substr(start, i_++ - start));
  }
  std::optional<bool> boolean() {
    blanks();
    if (s_.substr(i_, 4) == "True") {
      i_ += 4;
      return true;
    }
    if (s_.substr(i_, 5) == "False") {
      i_ += 5;
      return false;
    }
    return std::nullopt;
  }
  std::optional<std::vector<std::uint64_t>> tuple() {
    if (!eat('(')) return std::nullopt;
    std::vector<std::uint64_t> dims;
    for (;;) {
      if (eat(')')) return dims;
      blanks();
      std::uint64_t v = 0;
      std::size_t digits = 0;
      while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) {
        const std::uint64_t d = static_cast<std::uint64_t>(s_[i_] - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
        ++i_;
        ++digits;
      }
      // numpy writes plain integers; a trailing L comes from old Python 2 files.
      if (i_ < s_.size() && s_[i_] == 'L') ++i_;
      if (digits == 0 || dims.size() >= 64) return std::nullopt;
      dims.push_back(v);
      if (!eat(',')) return eat(')') ? std::optional(dims) : std::nullopt;
    }
  }

 private:
  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

std::optional<std::string> npy_descr(DTypeId dtype) {
  for (const auto& e : kDescrs) {
    if (e.dtype == dtype) return std::string(e.descr);
  }
  return std::nullopt;
}

ByteBuffer write_npy(const NpyArray& array) {
  std::string header = "{'descr': '" + npy_descr(array.dtype).value_or("|u1") + "', 'fortran_order': False, 'shape': (";
  for (std::size_t i = 0; i < array.shape.size(); ++i) {
    header += std::to_string(array.shape[i]);
    header += array.shape.size() == 1 ? "," : (i + 1 < array.shape.size() ? ", " : "");
  }
  header += "), }";
  // Pad with blanks so magic, version, length and header end on a multiple
  // of 64 bytes, the last of them a newline.
  const std::size_t fixed = kMagic.size() + 2 + 2;
  const std::size_t total = (fixed + header.size() + 1 + 63) / 64 * 64;
  header.append(total - fixed - header.size() - 1, ' ');
  header += '\n';

  std::string head(kMagic);
  head += '\x01';
  head += '\x00';
  head += static_cast<char>(header.size() & 0xFF);
  head += static_cast<char>(header.size() >> 8);
  head += header;
  ByteBuffer out(head.size() + array.data.size());
  std::memcpy(out.data(), head.data(), head.size());
  if (!array.data.empty()) std::memcpy(out.data() + head.size(), array.data.data(), array.data.size());
  return out;
}

CliResult<NpyArray> read_npy(const ByteBuffer& bytes) {
  if (bytes.size() < 10 || std::memcmp(bytes.data(), kMagic.data(), kMagic.size()) != 0) {
    return fail("not a .npy file (no \\x93NUMPY magic)");
  }
  const unsigned major = bytes[6];
  std::size_t header_len = 0;
  std::size_t header_start = 0;
  if (major == 1) {
    header_len = bytes[8] | (static_cast<std::size_t>(bytes[9]) << 8);
    header_start = 10;
  } else if (major == 2 || major == 3) {
    if (bytes.size() < 12) return fail(".npy header is truncated");
    header_len = bytes[8] | (static_cast<std::size_t>(bytes[9]) << 8) | (static_cast<std::size_t>(bytes[10]) << 16) |
                 (static_cast<std::size_t>(bytes[11]) << 24);
    header_start = 12;
  } else {
    return fail(".npy format version " + std::to_string(major) + " is not supported");
  }
  if (header_len > bytes.size() - header_start) return fail(".npy header is truncated");
  HeaderReader h(std::string_view(reinterpret_cast<const char*>(bytes.data()) + header_start, header_len));

  std::optional<std::string> descr;
  std::optional<bool> fortran;
  std::optional<std::vector<std::uint64_t>> shape;
  if (!h.eat('{')) return fail(".npy header is not a dict");
  while (!h.eat('}')) {
    const auto key = h.string();
    if (!key || !h.eat(':')) return fail(".npy header is not a dict");
    if (*key == "descr") {
      descr = h.string();
      if (!descr) return fail(".npy descr is not a simple type (structured arrays are not supported)");
    } else if (*key == "fortran_order") {
      fortran = h.boolean();
      if (!fortran) return fail(".npy fortran_order is not True or False");
    } else if (*key == "shape") {
      shape = h.tuple();
      if (!shape) return fail(".npy shape is not a tuple of integers");
    } else {
      return fail(".npy header has an unknown key '" + *key + "'");
    }
    if (!h.eat(',')) {
      if (!h.eat('}')) return fail(".npy header is not a dict");
      break;
    }
  }
  if (!descr || !fortran || !shape) return fail(".npy header lacks descr, fortran_order or shape");
  if (*fortran) return fail(".npy array is in Fortran order; save it with numpy.ascontiguousarray first");
  const auto dtype = dtype_of_descr(*descr);
  if (!dtype) return fail(".npy element type '" + *descr + "' is not supported");

  std::uint64_t count = 1;
  for (std::uint64_t d : *shape) {
    if (d != 0 && count > UINT64_MAX / d) return fail(".npy shape is too large");
    count *= d;
  }
  const std::uint64_t width = *element_width(*dtype);
  const std::size_t data_start = header_start + header_len;
  const std::uint64_t available = bytes.size() - data_start;
  if (count > available / width || count * width != available) {
    return fail(".npy data holds " + std::to_string(available) + " bytes, the shape needs " +
                (count > UINT64_MAX / width ? std::string("more") : std::to_string(count * width)));
  }
  NpyArray a;
  a.dtype = *dtype;
  a.shape = std::move(*shape);
  a.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(data_start), bytes.end());
  return a;
}

}  // namespace tessary::cli
