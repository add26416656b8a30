#pragma once
// Runs a program with arguments and collects its exit status, standard
// output and standard error (through files, so a chatty child never blocks
// on a full pipe).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace tessary::tooltest {

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

inline std::string slurp(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                                 const std::filesystem::path& scratch) {
  const auto out_path = scratch / "stdout.txt";
  const auto err_path = scratch / "stderr.txt";
  std::vector<std::string> argv_store{program};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0) _exit(126);
    dup2(o, 1);
    dup2(e, 2);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProcessResult r;
  int wstatus = 0;
  if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.out = slurp(out_path);
  r.err = slurp(err_path);
  return r;
}

}  // namespace tessary::tooltest
