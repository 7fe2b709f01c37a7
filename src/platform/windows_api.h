// The Windows operations that the tool's logic calls, by their Windows names.
//
// On Windows this is <windows.h> itself. Elsewhere it is the simulated Windows
// machine (platform/sim): the same names, types and record layouts, answered from a
// machine description. This header is the only place that knows which of the two
// it is; the logic above it never asks.
#pragma once

#include "platform/windows_api_types.h"

#include <cstdio>

// Console output of the C runtime's formatted wide print: the text goes to the
// process's standard output or standard error as it stands.
void PrintToStdout(const WCHAR* text);
void PrintToStderr(const WCHAR* text);

// Opens a file by its wide path for writing without newline translation, creating
// it or truncating it, shared with nobody while it is open.
FILE* OpenFileExclusiveForWrite(const WCHAR* path);
