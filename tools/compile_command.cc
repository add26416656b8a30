#include <fmt/format.h>

#include "commands.h"
#include "program_source.h"
#include "session.h"

namespace tessary::cli {

namespace {

std::string default_output(const std::string& program) {
  const std::size_t slash = program.find_last_of('/');
  const std::size_t dot = program.find_last_of('.');
  const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (has_ext ? program.substr(0, dot) : program) + ".tsa";
}

std::string plural(std::size_t n, const char* word) { return fmt::format("{} {}{}", n, word, n == 1 ? "" : "s"); }

}  // namespace

CliResult<std::string> compile_command(const CompileOptions& options) {
  auto text = read_file(options.program);
  if (!text) return std::unexpected(text.error());
  auto compiled = compile_text(*text);
  if (!compiled) return std::unexpected(compiled.error());
  if (const auto* failure = std::get_if<CompileFailure>(&*compiled)) {
    return fail(render_compile_failure(options.program, *text, *failure));
  }
  const ByteBuffer& archive = std::get<ByteBuffer>(*compiled);
  // Loading the fresh archive proves it reads back and gives the summary.
  auto session = Session::load(archive);
  if (!session) return std::unexpected(session.error());
  const std::string out = options.output.empty() ? default_output(options.program) : options.output;
  if (auto w = write_file(out, archive); !w) return std::unexpected(w.error());
  return fmt::format("wrote {}: {} bytes, {}, {}, {}\n", out, archive.size(), plural(session->inputs().size(), "input"),
                     plural(session->outputs().size(), "output"),
                     plural(static_cast<std::size_t>(session->kernel_count()), "kernel call"));
}

}  // namespace tessary::cli
