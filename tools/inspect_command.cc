#include <fmt/format.h>

#include "archive_report.h"
#include "call_fields.h"
#include "commands.h"
#include "json_writer.h"
#include "program_source.h"
#include "shape_text.h"

namespace tessary::cli {

namespace {

// ---- text ------------------------------------------------------------------

std::string buffer_text(const BufferRef& r) {
  if (!r.present()) return "none";
  std::string s = fmt::format("slot {}", r.slot);
  if (r.offset != 0 || r.len != 0) s += fmt::format(" @{}", r.offset);
  if (r.len != 0) s += fmt::format("+{}", r.len);
  return s;
}

std::string field_text(const CallField& f) {
  switch (f.kind) {
    case CallField::Kind::Buffer:
      return buffer_text(f.buffer);
    case CallField::Kind::Unsigned:
    case CallField::Kind::Flag:
      return std::to_string(f.value);
    case CallField::Kind::Signed:
      return std::to_string(f.signed_value);
    case CallField::Kind::Float:
      return fmt::format("{}", field_float(f));
    case CallField::Kind::DType:
      return dtype_text(static_cast<DTypeId>(f.value));
    case CallField::Kind::List:
      return shape_text(f.list);
  }
  return {};
}

// Printable ASCII as it is, anything else as a short hex preview.
std::string value_preview(const ByteBuffer& v) {
  bool printable = true;
  for (std::uint8_t b : v) printable = printable && b >= 0x20 && b < 0x7F;
  if (printable) return "\"" + std::string(v.begin(), v.end()) + "\"";
  std::string s = "0x";
  for (std::size_t i = 0; i < v.size() && i < 32; ++i) s += fmt::format("{:02x}", v[i]);
  if (v.size() > 32) s += "...";
  return s;
}

std::string ascii_only(std::string_view s) {
  std::string out;
  for (char c : s) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return out;
}

void ports_text(std::string& out, const char* title, const std::optional<std::vector<PortDescriptor>>& ports) {
  out += fmt::format("\n{}\n", title);
  if (!ports || ports->empty()) {
    out += "  (none)\n";
    return;
  }
  for (const auto& p : *ports) {
    out += fmt::format("  {}  {}  {} element{}  slot {}\n", p.name, typed_shape_text(p.dtype, p.shape), p.elements,
                       p.elements == 1 ? "" : "s", p.slot);
  }
}

void steps_text(std::string& out, const char* title, const char* unit, const std::optional<PlanSteps>& steps) {
  if (!steps) return;
  out += fmt::format("\n{} ({} step{})\n", title, steps->size(), steps->size() == 1 ? "" : "s");
  for (std::size_t i = 0; i < steps->size(); ++i) {
    out += fmt::format("  {:>3}  {} {}\n", i, unit, fmt::join((*steps)[i], ", "));
  }
}

std::string render_text(const std::string& path, const ArchiveReport& r) {
  std::string out = fmt::format("{}\n  size         {} bytes\n  magic        TESS, version {}\n", path, r.size, r.version);
  out += fmt::format("  fingerprint  {}\n", hex_digest(r.fingerprint));

  out += fmt::format("\nsections ({})\n", r.sections.size());
  out += "    #  kind  name               offset        size\n";
  for (std::size_t i = 0; i < r.sections.size(); ++i) {
    const auto& s = r.sections[i];
    out += fmt::format("  {:>3}  {:>4}  {:<14} {:>10}  {:>10}{}\n", i, s.kind, section_kind_name(s.kind), s.offset, s.size,
                       s.in_range ? "" : "  (outside the archive)");
  }

  ports_text(out, "inputs", r.inputs);
  ports_text(out, "outputs", r.outputs);

  if (r.calls) {
    out += fmt::format("\nkernel calls ({})\n", r.calls->size());
    for (std::size_t i = 0; i < r.calls->size(); ++i) {
      const KernelCall& call = (*r.calls)[i];
      out += fmt::format("  {:>3}  {}\n", i, call.descriptor().name);
      std::string line;
      for (const CallField& f : call_fields(call)) {
        const std::string item = fmt::format("{}={}", f.name, field_text(f));
        if (!line.empty() && line.size() + item.size() + 2 > 100) {
          out += "       " + line + "\n";
          line.clear();
        }
        line += (line.empty() ? "" : "  ") + item;
      }
      if (!line.empty()) out += "       " + line + "\n";
    }
  }

  if (r.exec_plan) {
    steps_text(out, "execution plan", "calls", r.exec_plan);
  } else if (r.calls) {
    out += "\nexecution plan\n  (no section: one group running every call in order)\n";
  }
  steps_text(out, "schedule", "nodes", r.schedule);

  if (r.constants) {
    out += fmt::format("\nconstants ({})\n", r.constants->size());
    for (const auto& c : *r.constants) {
      out += fmt::format("  slot {:>3}  {:<4}  {:<6}  {:>10}  blake3 {}\n", c.slot, dtype_text(c.dtype),
                         c.in_weights ? "weight" : "inline", c.size ? fmt::format("{} B", *c.size) : "missing",
                         hex_digest(c.fingerprint));
    }
  }
  if (r.weights) {
    out += fmt::format("\nweights ({})\n", r.weights->size());
    for (const auto& [fp, size] : *r.weights) out += fmt::format("  {:>10} B  blake3 {}\n", size, hex_digest(fp));
  }
  if (r.shapes) {
    out += fmt::format("\nshape registry ({})\n", r.shapes->size());
    for (std::size_t i = 0; i < r.shapes->size(); ++i) {
      const ShapeDescriptor& s = (*r.shapes)[i];
      std::vector<std::uint64_t> dims(s.dims.begin(), s.dims.begin() + std::min<std::size_t>(s.rank, 8));
      std::string extra;
      if (s.further) extra = "  further " + shape_text(*s.further);
      out += fmt::format("  {:>3}  {}{}\n", i, shape_text(dims), extra);
    }
  }
  if (r.certificates) {
    out += fmt::format("\ncertificates ({})\n", r.certificates->size());
    for (std::size_t i = 0; i < r.certificates->size(); ++i) {
      const auto& c = (*r.certificates)[i];
      out += fmt::format("  {:>3}  width {}  {}\n", i, c.width, hex_digest(c.digest));
    }
  }
  out += fmt::format("\nextensions ({})\n", r.extensions.size());
  for (const auto& e : r.extensions) {
    out += fmt::format("  {}  {} B  {}\n", ascii_only(e.key), e.value.size(), value_preview(e.value));
  }
  if (r.warm_start) {
    out += fmt::format("\nwarm start ({})\n", r.warm_start->size());
    for (const auto& w : *r.warm_start) out += fmt::format("  {}  {} B\n", ascii_only(w.label), w.size);
  }
  if (!r.problems.empty()) {
    out += "\nproblems\n";
    for (const auto& p : r.problems) out += "  " + p + "\n";
  }
  return out;
}

// ---- JSON ------------------------------------------------------------------

void buffer_json(JsonWriter& j, const BufferRef& r) {
  j.begin_object();
  j.key("slot");
  if (r.present()) {
    j.value(r.slot);
  } else {
    j.null();
  }
  j.key("offset").value(r.offset).key("len").value(r.len).end_object();
}

void field_json(JsonWriter& j, const CallField& f) {
  j.key(f.name);
  switch (f.kind) {
    case CallField::Kind::Buffer:
      buffer_json(j, f.buffer);
      break;
    case CallField::Kind::Unsigned:
      j.value(f.value);
      break;
    case CallField::Kind::Flag:
      j.value(f.value != 0);
      break;
    case CallField::Kind::Signed:
      j.value(f.signed_value);
      break;
    case CallField::Kind::Float:
      j.value(static_cast<double>(field_float(f)));
      break;
    case CallField::Kind::DType:
      j.value(dtype_text(static_cast<DTypeId>(f.value)));
      break;
    case CallField::Kind::List:
      j.begin_array();
      for (std::uint64_t v : f.list) j.value(v);
      j.end_array();
      break;
  }
}

void ports_json(JsonWriter& j, const char* key, const std::optional<std::vector<PortDescriptor>>& ports) {
  j.key(key).begin_array();
  if (ports) {
    for (const auto& p : *ports) {
      j.begin_object().key("name").value(p.name).key("dtype").value(dtype_text(p.dtype));
      j.key("shape").begin_array();
      for (std::uint64_t d : p.shape) j.value(d);
      j.end_array();
      j.key("elements").value(p.elements).key("slot").value(p.slot).end_object();
    }
  }
  j.end_array();
}

void steps_json(JsonWriter& j, const char* key, const std::optional<PlanSteps>& steps) {
  j.key(key);
  if (!steps) {
    j.null();
    return;
  }
  j.begin_array();
  for (const auto& step : *steps) {
    j.begin_array();
    for (std::uint32_t v : step) j.value(v);
    j.end_array();
  }
  j.end_array();
}

std::string hex_bytes(const ByteBuffer& v) {
  std::string s;
  for (std::uint8_t b : v) s += fmt::format("{:02x}", b);
  return s;
}

std::string render_json(const std::string& path, const ArchiveReport& r) {
  JsonWriter j;
  j.begin_object();
  j.key("file").value(path).key("size").value(r.size).key("magic").value("TESS");
  j.key("version").value(static_cast<std::uint64_t>(r.version));
  j.key("fingerprint").value(hex_digest(r.fingerprint));

  j.key("sections").begin_array();
  for (std::size_t i = 0; i < r.sections.size(); ++i) {
    const auto& s = r.sections[i];
    j.begin_object().key("index").value(static_cast<std::uint64_t>(i)).key("kind").value(static_cast<std::uint64_t>(s.kind));
    j.key("name").value(section_kind_name(s.kind)).key("offset").value(s.offset).key("size").value(s.size);
    j.key("in_range").value(s.in_range).end_object();
  }
  j.end_array();

  ports_json(j, "inputs", r.inputs);
  ports_json(j, "outputs", r.outputs);

  j.key("kernel_calls").begin_array();
  if (r.calls) {
    for (std::size_t i = 0; i < r.calls->size(); ++i) {
      const KernelCall& call = (*r.calls)[i];
      j.begin_object().key("index").value(static_cast<std::uint64_t>(i)).key("kind").value(call.descriptor().name);
      j.key("params").begin_object();
      for (const CallField& f : call_fields(call)) field_json(j, f);
      j.end_object().end_object();
    }
  }
  j.end_array();

  steps_json(j, "exec_plan", r.exec_plan);
  steps_json(j, "schedule", r.schedule);

  j.key("constants").begin_array();
  if (r.constants) {
    for (const auto& c : *r.constants) {
      j.begin_object().key("slot").value(c.slot).key("dtype").value(dtype_text(c.dtype));
      j.key("storage").value(c.in_weights ? "weight" : "inline").key("size");
      if (c.size) {
        j.value(*c.size);
      } else {
        j.null();
      }
      j.key("fingerprint").value(hex_digest(c.fingerprint)).end_object();
    }
  }
  j.end_array();

  j.key("weights").begin_array();
  if (r.weights) {
    for (const auto& [fp, size] : *r.weights) j.begin_object().key("fingerprint").value(hex_digest(fp)).key("size").value(size).end_object();
  }
  j.end_array();

  j.key("shape_registry").begin_array();
  if (r.shapes) {
    for (const ShapeDescriptor& s : *r.shapes) {
      j.begin_object().key("dims").begin_array();
      for (std::size_t d = 0; d < std::min<std::size_t>(s.rank, 8); ++d) j.value(s.dims[d]);
      j.end_array();
      if (s.further) {
        j.key("further").begin_array();
        for (std::uint64_t d : *s.further) j.value(d);
        j.end_array();
      }
      j.end_object();
    }
  }
  j.end_array();

  j.key("certificates").begin_array();
  if (r.certificates) {
    for (const auto& c : *r.certificates) {
      j.begin_object().key("width").value(static_cast<std::uint64_t>(c.width));
      j.key("digest_length").value(static_cast<std::uint64_t>(c.digest_length)).key("digest").value(hex_digest(c.digest));
      j.end_object();
    }
  }
  j.end_array();

  j.key("extensions").begin_array();
  for (const auto& e : r.extensions) {
    j.begin_object().key("key").value(e.key).key("size").value(static_cast<std::uint64_t>(e.value.size()));
    j.key("value_hex").value(hex_bytes(e.value)).end_object();
  }
  j.end_array();

  j.key("warm_start").begin_array();
  if (r.warm_start) {
    for (const auto& w : *r.warm_start) j.begin_object().key("label").value(w.label).key("size").value(w.size).end_object();
  }
  j.end_array();

  j.key("problems").begin_array();
  for (const auto& p : r.problems) j.value(p);
  j.end_array();
  j.end_object();
  return j.text();
}

}  // namespace

CliResult<InspectOutput> inspect_command(const InspectOptions& options) {
  auto loaded = load_archive_or_program(options.path);
  if (!loaded) return std::unexpected(loaded.error());
  auto report = build_report(loaded->bytes);
  if (!report) return std::unexpected(report.error());
  InspectOutput out;
  out.text = options.json ? render_json(options.path, *report) : render_text(options.path, *report);
  out.problems = report->problems;
  return out;
}

}  // namespace tessary::cli
