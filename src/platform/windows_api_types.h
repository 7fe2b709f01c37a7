// The Windows base types alone (WCHAR and its kin), for headers that need no
// operation.
#pragma once

#ifdef _WIN32
#include "platform/win32/win32_api.h"
#else
#include "platform/sim/sim_api.h"
#endif
