// The class-library initialisation and the C runtime pieces on real Windows.
// Windows code only.
#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"

#include <share.h>
#include <stdio.h>

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                int /*nCmdShow*/) {
  if (hInstance == nullptr) return FALSE;
  // No critical-error dialog from here on: a drive without a medium makes the
  // operation fail instead, which an unattended run can log.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return TRUE;
}

void PrintToStdout(const WCHAR* text) { wprintf(L"%ls", text); }
void PrintToStderr(const WCHAR* text) { fwprintf(stderr, L"%ls", text); }

FILE* OpenFileExclusiveForWrite(const WCHAR* path) { return _wfsopen(path, L"wb", _SH_DENYRW); }
