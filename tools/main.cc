// tessary: compile, run and inspect Tessary programs and archives.
#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include "commands.h"
#include "tessary/tessary.h"

namespace {

using namespace tessary::cli;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int report_error(const CliError& e) {
  // A compiler diagnostic is already a complete, multi-line report; every
  // other failure is one line.
  if (e.message.find('\n') != std::string::npos || e.message.find(": error: ") != std::string::npos) {
    std::fprintf(stderr, "%s\n", e.message.c_str());
  } else {
    std::fprintf(stderr, "tessary: error: %s\n", e.message.c_str());
  }
  return kExitFailure;
}

int print(const CliResult<std::string>& r) {
  if (!r) return report_error(r.error());
  std::fputs(r->c_str(), stdout);
  return 0;
}

}  // namespace

static int run_tool(int argc, char** argv) {
  CLI::App app{"Compile, run and inspect Tessary tensor programs (.tess text) and archives (.tsa)."};
  app.name("tessary");
  app.require_subcommand(1);
  app.set_version_flag("--version",
                       fmt::format("tessary (C interface {}, archive format {})", tessary_abi_version(),
                                   tessary_archive_format_version()));
  // Usage errors are one line, like every other error of the tool.
  const auto one_line = [](const CLI::App* a, const CLI::Error& e) {
    std::string name = a->get_name();
    for (const CLI::App* p = a->get_parent(); p != nullptr; p = p->get_parent()) name = p->get_name() + " " + name;
    return fmt::format("{}: error: {} (see '{} --help')\n", name, e.what(), name);
  };
  app.failure_message(one_line);

  CompileOptions compile;
  CLI::App* c = app.add_subcommand("compile", "Compile program text to an archive.");
  c->add_option("PROGRAM", compile.program, "program text (.tess)")->required();
  c->add_option("-o,--output", compile.output, "archive to write (default: PROGRAM with the extension .tsa)");
  c->footer(
      "On a program the compiler refuses, prints PROGRAM:LINE:COLUMN: error: MESSAGE with the\n"
      "source line and a caret under the column, and exits with status 1.");

  RunOptions run;
  CLI::App* r = app.add_subcommand("run", "Run a program or an archive and print its outputs.");
  r->add_option("PATH", run.path, "program text (.tess, compiled first) or archive (.tsa)")->required();
  r->add_option("-i,--input", run.inputs,
                "NAME=V1,V2,... (numbers; one number fills the tensor), NAME=@FILE.npy or "
                "NAME=@FILE.bin (raw little-endian bytes); repeatable")
      ->take_all();
  r->add_option("-r,--repeat", run.repeat, "run N more times with the same inputs and report the timings")
      ->check(CLI::Range(0u, 1000000u));
  r->add_option("-s,--save", run.save_dir, "write every output to DIR/NAME.npy");
  r->footer(
      "Inputs not given are filled with 1, 2, 3, ... (element i gets 1 + i mod 8).\n"
      "Repeated runs with the same inputs are answered from the session's result memo.");

  InspectOptions inspect;
  CLI::App* in = app.add_subcommand("inspect", "Show everything an archive holds.");
  in->add_option("PATH", inspect.path, "archive (.tsa) or program text (.tess, compiled first)")->required();
  in->add_flag("--json", inspect.json, "print one JSON document instead of text");

  for (CLI::App* sub : {c, r, in}) sub->failure_message(one_line);

  // An unknown command word would otherwise be reported as a missing
  // subcommand, which hides the typo.
  const std::string first = argc > 1 ? argv[1] : "";
  if (!first.empty() && first[0] != '-' && first != "compile" && first != "run" && first != "inspect") {
    std::fprintf(stderr, "tessary: error: unknown command '%s' (commands: compile, run, inspect; see 'tessary --help')\n",
                 argv[1]);
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Report from the subcommand being parsed, so its name and its help
    // page are the ones shown.
    CLI::App* where = &app;
    for (CLI::App* sub : app.get_subcommands()) where = sub;
    return where->exit(e) == 0 ? 0 : kExitUsage;
  }

  if (*c) return print(compile_command(compile));
  if (*r) return print(run_command(run));
  auto out = inspect_command(inspect);
  if (!out) return report_error(out.error());
  std::fputs(out->text.c_str(), stdout);
  for (const auto& p : out->problems) std::fprintf(stderr, "tessary: error: %s\n", p.c_str());
  return out->problems.empty() ? 0 : kExitFailure;
}

int main(int argc, char** argv) {
  // Nothing below throws by design; this is the last fence for allocation
  // failure and the like, so even then the user gets one line and a status.
  try {
    return run_tool(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessary: error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "tessary: error: unexpected failure\n");
  }
  return kExitFailure;
}
