// The tool's run once the class library is ready: the command line, the recovery
// run and the exit code.
#pragma once

#include "platform/windows_api.h"

int RunRecoveryLayout(int argc, WCHAR** argv);
