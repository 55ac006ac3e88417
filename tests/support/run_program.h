// Runs a built program the way an operator would and collects what it did:
// standard output, standard error and the exit status.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zol::test {

struct ProgramResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status; -1 when a signal ended it
  bool timedOut = false;
};

using EnvOverrides = std::vector<std::pair<std::string, std::string>>;

// `args[0]` is the name the program sees. The environment is the test's own
// with `env` set on top. Standard input is empty. A program still running
// after timeoutMs is killed. It runs in `workDir` when one is given.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const EnvOverrides& env = {}, int timeoutMs = 30000,
                         const std::string& workDir = {});

}  // namespace zol::test
