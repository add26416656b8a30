#include "input_fill.h"

#include <charconv>
#include <fmt/format.h>
#include <optional>
#include <string_view>

#include "element_codec.h"
#include "npy_format.h"
#include "shape_text.h"

namespace tessary::cli {

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::optional<double> parse_number(std::string_view s) {
  s = trim(s);
  if (s == "true") return 1.0;
  if (s == "false") return 0.0;
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return v;
}

CliResult<ByteBuffer> from_values(const PortInfo& port, std::string_view text) {
  if (!writable_from_numbers(port.dtype)) {
    return fail(fmt::format("input '{}' is {}: give its bytes with {}=@FILE.bin", port.name,
                            dtype_text(port.dtype), port.name));
  }
  // Brackets are allowed so a value list can be pasted from the output table.
  std::string cleaned;
  for (char c : text) {
    if (c != '[' && c != ']') cleaned += c;
  }
  std::vector<double> values;
  std::string_view rest = cleaned;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    const auto v = parse_number(item);
    if (!v) return fail(fmt::format("input '{}': '{}' is not a number", port.name, trim(item)));
    values.push_back(*v);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  if (values.size() != 1 && values.size() != port.elements) {
    return fail(fmt::format("input '{}' needs {} values for shape {} (or one value for all), got {}", port.name,
                            port.elements, shape_text(port.shape), values.size()));
  }
  ByteBuffer bytes(static_cast<std::size_t>(port.byte_length));
  for (std::size_t i = 0; i < port.elements; ++i) {
    store_element(port.dtype, bytes, i, values.size() == 1 ? values[0] : values[i]);
  }
  return bytes;
}

CliResult<ByteBuffer> from_npy(const PortInfo& port, const std::string& path) {
  auto file = read_file(path);
  if (!file) return std::unexpected(file.error());
  auto array = read_npy(*file);
  if (!array) return fail(fmt::format("input '{}': {}: {}", port.name, path, array.error().message));
  std::uint64_t count = 1;
  for (std::uint64_t d : array->shape) count *= d;  // read_npy checked the product
  if (count != port.elements) {
    return fail(fmt::format("input '{}' has shape {} ({} elements) but {} holds {} elements (shape {})", port.name,
                            shape_text(port.shape), port.elements, path, count, shape_text(array->shape)));
  }
  if (array->dtype == port.dtype) return std::move(array->data);
  if (!writable_from_numbers(port.dtype)) {
    return fail(fmt::format("input '{}' is {}: give its bytes with {}=@FILE.bin", port.name,
                            dtype_text(port.dtype), port.name));
  }
  // Another element type is converted value by value (a float64 array saved
  // by default from numpy fills an f32 input).
  ByteBuffer bytes(static_cast<std::size_t>(port.byte_length));
  for (std::size_t i = 0; i < port.elements; ++i) {
    store_element(port.dtype, bytes, i, *load_element(array->dtype, array->data, i));
  }
  return bytes;
}

CliResult<ByteBuffer> from_raw(const PortInfo& port, const std::string& path) {
  auto file = read_file(path);
  if (!file) return std::unexpected(file.error());
  if (file->size() != port.byte_length) {
    return fail(fmt::format("input '{}' needs {} bytes ({} {} elements) but {} has {}", port.name, port.byte_length,
                            port.elements, dtype_text(port.dtype), path, file->size()));
  }
  return std::move(*file);
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

constexpr std::uint64_t kMaxInputBytes = std::uint64_t{1} << 32;

}  // namespace

double default_element(std::size_t index) { return static_cast<double>(1 + index % 8); }

CliResult<std::vector<FilledInput>> fill_inputs(const std::vector<PortInfo>& ports,
                                                const std::vector<std::string>& args) {
  // An archive can declare any shape; refuse to allocate absurd inputs
  // rather than fail deep inside the allocator.
  for (const PortInfo& p : ports) {
    if (p.byte_length > kMaxInputBytes) {
      return fail(fmt::format("input '{}' needs {} bytes, more than this tool fills ({} bytes)", p.name,
                              p.byte_length, kMaxInputBytes));
    }
  }
  std::vector<std::optional<FilledInput>> given(ports.size());
  for (const std::string& arg : args) {
    const std::size_t eq = arg.find('=');
    if (eq == std::string::npos || eq == 0) {
      return fail("--input '" + arg + "' is not NAME=VALUES, NAME=@FILE.npy or NAME=@FILE.bin");
    }
    const std::string name = arg.substr(0, eq);
    const std::string value = arg.substr(eq + 1);
    std::size_t index = ports.size();
    for (std::size_t i = 0; i < ports.size(); ++i) {
      if (ports[i].name == name) index = i;
    }
    if (index == ports.size()) {
      std::string known;
      for (const auto& p : ports) known += (known.empty() ? "" : ", ") + p.name;
      return fail("the program has no input '" + name + "'" +
                  (known.empty() ? std::string(" (it has no inputs)") : " (inputs: " + known + ")"));
    }
    if (given[index]) return fail("input '" + name + "' is given twice");
    const PortInfo& port = ports[index];
    CliResult<ByteBuffer> bytes;
    std::string origin;
    if (!value.empty() && value.front() == '@') {
      const std::string path = value.substr(1);
      if (ends_with(path, ".npy")) {
        bytes = from_npy(port, path);
        origin = path;
      } else {
        bytes = from_raw(port, path);
        origin = path + " (raw bytes)";
      }
    } else {
      bytes = from_values(port, value);
      origin = "values";
    }
    if (!bytes) return std::unexpected(bytes.error());
    given[index] = FilledInput{std::move(*bytes), std::move(origin)};
  }

  std::vector<FilledInput> out;
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (given[i]) {
      out.push_back(std::move(*given[i]));
      continue;
    }
    const PortInfo& port = ports[i];
    FilledInput f;
    f.bytes.resize(static_cast<std::size_t>(port.byte_length));
    if (writable_from_numbers(port.dtype)) {
      for (std::size_t e = 0; e < port.elements; ++e) store_element(port.dtype, f.bytes, e, default_element(e));
    } else {
      for (std::size_t b = 0; b < f.bytes.size(); ++b) f.bytes[b] = static_cast<std::uint8_t>(default_element(b));
    }
    f.origin = "default (1 + i mod 8)";
    out.push_back(std::move(f));
  }
  return out;
}

}  // namespace tessary::cli
