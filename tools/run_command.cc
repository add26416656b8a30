#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

#include <fmt/format.h>

#include "commands.h"
#include "element_codec.h"
#include "input_fill.h"
#include "npy_format.h"
#include "program_source.h"
#include "run_failure.h"
#include "session.h"
#include "shape_text.h"
#include "tensor_table.h"

namespace tessary::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::string duration_text(double seconds) {
  if (seconds < 1e-3) return fmt::format("{:.1f} us", seconds * 1e6);
  if (seconds < 1.0) return fmt::format("{:.3f} ms", seconds * 1e3);
  return fmt::format("{:.3f} s", seconds);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// A file name for an output: its name with every character outside
// [A-Za-z0-9_.-] replaced by '_', "output_I" for an empty name, and a
// numeric suffix when two outputs would collide.
std::string save_name(const std::string& name, std::size_t index, std::set<std::string>& taken) {
  std::string base;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.';
    base += ok ? c : '_';
  }
  if (base.empty() || base == "." || base == "..") base = "output_" + std::to_string(index);
  std::string candidate = base;
  for (std::size_t k = 1; taken.contains(candidate); ++k) candidate = base + "_" + std::to_string(k);
  taken.insert(candidate);
  return candidate + ".npy";
}

// The output as a numpy array. bf16 has no numpy type and is widened to
// float32; the sub-byte types are saved as their raw bytes (uint8).
NpyArray output_array(const PortInfo& port, const ByteBuffer& bytes) {
  NpyArray a;
  a.shape = port.shape;
  if (port.dtype == DTypeId::BF16) {
    a.dtype = DTypeId::F32;
    a.data.resize(static_cast<std::size_t>(port.elements) * 4);
    for (std::size_t i = 0; i < port.elements; ++i) store_element(DTypeId::F32, a.data, i, *load_element(port.dtype, bytes, i));
    return a;
  }
  if (!npy_descr(port.dtype)) {
    a.dtype = DTypeId::U8;
    a.shape = {bytes.size()};
    a.data = bytes;
    return a;
  }
  a.dtype = port.dtype;
  a.data = bytes;
  // An output shorter than its shape promises is saved flat, as what it holds.
  std::uint64_t count = 1;
  for (std::uint64_t d : port.shape) count = d != 0 && count > UINT64_MAX / d ? UINT64_MAX : count * d;
  if (count != port.elements) a.shape = {port.elements};
  a.data.resize(static_cast<std::size_t>(port.elements) * port_element_bytes(port.dtype));
  return a;
}

}  // namespace

CliResult<std::string> run_command(const RunOptions& options) {
  auto loaded = load_archive_or_program(options.path);
  if (!loaded) return std::unexpected(loaded.error());
  auto session = Session::load(loaded->bytes);
  if (!session) return std::unexpected(session.error());
  auto filled = fill_inputs(session->inputs(), options.inputs);
  if (!filled) return std::unexpected(filled.error());

  std::vector<ByteBuffer> inputs;
  for (auto& f : *filled) inputs.push_back(f.bytes);
  std::vector<ByteBuffer> outputs;

  const auto t0 = Clock::now();
  const bool ok = session->execute(inputs, outputs);
  const double first = std::chrono::duration<double>(Clock::now() - t0).count();
  if (!ok) return fail("run failed: " + explain_run_failure(loaded->bytes));

  std::vector<double> repeats;
  std::vector<ByteBuffer> again;
  for (std::uint32_t i = 0; i < options.repeat; ++i) {
    const auto t = Clock::now();
    const bool r = session->execute(inputs, again);
    repeats.push_back(std::chrono::duration<double>(Clock::now() - t).count());
    if (!r) return fail(fmt::format("repeated run {} failed: {}", i + 1, explain_run_failure(loaded->bytes)));
    if (again != outputs) return fail(fmt::format("repeated run {} gave different outputs", i + 1));
  }

  std::string out = fmt::format("{}  ({}, {} kernel call{})\n", options.path,
                                loaded->compiled ? "compiled from text" : "archive", session->kernel_count(),
                                session->kernel_count() == 1 ? "" : "s");
  if (!session->inputs().empty()) {
    out += "\ninputs\n";
    for (std::size_t i = 0; i < session->inputs().size(); ++i) {
      const PortInfo& p = session->inputs()[i];
      out += fmt::format("  {}  {}  {}\n", p.name, typed_shape_text(p.dtype, p.shape), (*filled)[i].origin);
    }
  }
  out += "\noutputs\n";
  if (session->outputs().empty()) out += "  (the program has no outputs)\n";
  for (std::size_t i = 0; i < session->outputs().size(); ++i) {
    const PortInfo& p = session->outputs()[i];
    out += fmt::format("  {}  {}\n", p.name, typed_shape_text(p.dtype, p.shape));
    out += format_tensor(p.dtype, p.shape, p.elements, outputs[i], "    ");
  }

  if (options.repeat > 0) {
    out += "\ntiming\n";
    out += fmt::format("  first run                    {}\n", duration_text(first));
    out += fmt::format("  repeated runs (memo hits)    min {}   median {}   over {} run{}\n",
                       duration_text(*std::min_element(repeats.begin(), repeats.end())), duration_text(median(repeats)),
                       repeats.size(), repeats.size() == 1 ? "" : "s");
  }

  if (!options.save_dir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options.save_dir, ec);
    if (ec) return fail("cannot create directory '" + options.save_dir + "': " + ec.message());
    out += "\nsaved\n";
    std::set<std::string> taken;
    for (std::size_t i = 0; i < session->outputs().size(); ++i) {
      const PortInfo& p = session->outputs()[i];
      const std::string path = (std::filesystem::path(options.save_dir) / save_name(p.name, i, taken)).string();
      if (auto w = write_file(path, write_npy(output_array(p, outputs[i]))); !w) return std::unexpected(w.error());
      out += fmt::format("  {}  ->  {}\n", p.name, path);
    }
  }
  return out;
}

}  // namespace tessary::cli
