#pragma once
// An .npy reader for the tests, written apart from the tool's own so that a
// mistake shared by writer and reader cannot hide: it checks the layout
// numpy documents byte by byte (magic, version 1.0, header length, header
// dict ending in a newline at a multiple of 64 bytes, C-order data).
#include <cstdint>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace tessary::tooltest {

struct NpyFile {
  std::string descr;
  bool fortran_order = true;
  std::vector<std::uint64_t> shape;
  std::vector<std::uint8_t> data;
  std::string error;  // empty when the file is well-formed

  std::vector<float> floats() const {
    std::vector<float> v(data.size() / 4);
    if (!v.empty()) std::memcpy(v.data(), data.data(), v.size() * 4);
    return v;
  }
};

inline NpyFile parse_npy(const std::string& bytes) {
  NpyFile f;
  if (bytes.size() < 10 || bytes.compare(0, 6, "\x93NUMPY") != 0) {
    f.error = "no magic";
    return f;
  }
  if (bytes[6] != 1 || bytes[7] != 0) {
    f.error = "not version 1.0";
    return f;
  }
  const std::size_t hlen = static_cast<unsigned char>(bytes[8]) | (static_cast<unsigned char>(bytes[9]) << 8);
  if (10 + hlen > bytes.size()) {
    f.error = "header past the end";
    return f;
  }
  if ((10 + hlen) % 64 != 0) {
    f.error = "data not aligned to 64 bytes";
    return f;
  }
  const std::string header = bytes.substr(10, hlen);
  if (header.empty() || header.back() != '\n') {
    f.error = "header does not end in a newline";
    return f;
  }
  std::smatch m;
  static const std::regex dict(
      R"(^\{'descr': '([<>|=][a-z][0-9]+)', 'fortran_order': (True|False), 'shape': \(([0-9, ]*)\), \} *\n$)");
  if (!std::regex_match(header, m, dict)) {
    f.error = "header is not the dict numpy writes: " + header;
    return f;
  }
  f.descr = m[1];
  f.fortran_order = m[2] == "True";
  const std::string dims = m[3];
  std::size_t i = 0;
  while (i < dims.size()) {
    while (i < dims.size() && (dims[i] == ' ' || dims[i] == ',')) ++i;
    std::size_t j = i;
    while (j < dims.size() && dims[j] >= '0' && dims[j] <= '9') ++j;
    if (j > i) f.shape.push_back(std::stoull(dims.substr(i, j - i)));
    i = j;
  }
  f.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(10 + hlen), bytes.end());
  return f;
}

}  // namespace tessary::tooltest
