// The tool's run once the class library is ready: the command line, the recovery
// run and the exit code.
#pragma once

#include "platform/windows_api.h"

// The exit codes of the tool.
enum ExitCode : int {
  kExitRecorded = 0,          // a disk number was found and the recording was attempted
  kExitInitFailed = 1,        // the class library's initialisation failed
  kExitNoRecoveryVolume = 2,  // no argument, and the search found no recovery volume
  kExitWrongArguments = 3,    // two or more arguments
  kExitLookupFailed = 4,      // the disk number lookup failed
};

int RunRecoveryLayout(int argc, WCHAR** argv);
