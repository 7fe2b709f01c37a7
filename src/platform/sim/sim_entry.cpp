// The host's entry point of the simulated tool: the machine's command line split
// into UTF-16 arguments, handed to the tool's wide main function.
#include "platform/sim/sim_machine.h"

#include <vector>

int main(int argc, char** argv) {
  sim::Runtime& runtime = sim::Current();
  std::vector<std::u16string> arguments;
  arguments.push_back(runtime.GetMachine().module);
  for (int i = 1; i < argc; ++i) arguments.push_back(sim::FromUtf8(argv[i]));
  runtime.arguments = arguments;
  runtime.commandLine = sim::JoinCommandLine(arguments);

  std::vector<WCHAR*> wideArgv;
  for (std::u16string& arg : runtime.arguments) wideArgv.push_back(arg.data());
  wideArgv.push_back(nullptr);
  WCHAR* wideEnvp[] = {nullptr};
  return _tmain(static_cast<int>(runtime.arguments.size()), wideArgv.data(), wideEnvp);
}
