#pragma once
// The subcommands. Each returns its output text or a CliError; main prints
// the one to stdout and the other to stderr and picks the exit status.
#include <cstdint>
#include <string>
#include <vector>

#include "cli_error.h"

namespace tessary::cli {

struct CompileOptions {
  std::string program;
  std::string output;  // empty: the program's path with its extension replaced by .tsa
};

struct RunOptions {
  std::string path;  // program text or archive
  std::vector<std::string> inputs;
  std::uint32_t repeat = 0;
  std::string save_dir;  // empty: nothing saved
};

struct InspectOptions {
  std::string path;
  bool json = false;
};

// Output already printed progressively is not a concern here: each command
// builds its whole report and main prints it once.
CliResult<std::string> compile_command(const CompileOptions& options);
CliResult<std::string> run_command(const RunOptions& options);

// inspect prints what it could decode even when a section is damaged; the
// problems then come back as `problems` and make the exit status non-zero.
struct InspectOutput {
  std::string text;
  std::vector<std::string> problems;
};
CliResult<InspectOutput> inspect_command(const InspectOptions& options);

}  // namespace tessary::cli
