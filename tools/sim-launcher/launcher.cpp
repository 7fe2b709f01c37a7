// rplayout-sim MACHINE.json [ARG...]: runs the tool on a simulated machine.
//
// The machine file is read and checked here, before the tool exists as a
// process: a bad file is refused with one line and exit code 64, and nothing is
// written anywhere. A good one is handed to the tool, which is started in this
// process's place with the machine's module as its argv[0]; the machine is thus in
// place before any static object of the tool is constructed, and the exit code is
// the tool's own.
#include "platform/sim/sim_machine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: rplayout-sim MACHINE.json [ARG...]\n", stderr);
    return 64;
  }
  std::string error;
  const std::optional<sim::Machine> machine = sim::LoadMachineFile(argv[1], error);
  if (!machine) {
    std::fprintf(stderr, "rplayout-sim: %s\n", error.c_str());
    return 64;
  }
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  const fs::path tool = self.parent_path() / "rplayout-sim-tool";
  const fs::path machineFile = fs::absolute(argv[1], ec);
  if (::setenv(sim::kMachineEnvVar, machineFile.c_str(), 1) != 0) {
    std::perror("rplayout-sim: setenv");
    return 70;
  }
  std::string module = sim::ToUtf8(machine->module);
  std::vector<char*> toolArgv;
  toolArgv.push_back(module.data());
  for (int i = 2; i < argc; ++i) toolArgv.push_back(argv[i]);
  toolArgv.push_back(nullptr);
  ::execv(tool.c_str(), toolArgv.data());
  std::fprintf(stderr, "rplayout-sim: cannot start %s: %s\n", tool.c_str(), std::strerror(errno));
  return 70;
}
