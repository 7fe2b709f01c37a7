// Prints the process error mode after the class library's initialisation, with a
// flag of its own set beforehand: the initialisation must add its two flags and
// keep the one that was there.
#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"

#include <stdio.h>

int wmain() {
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  if (!AfxWinInit(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), 0)) return 1;
  printf("%u\n", GetErrorMode());
  return 0;
}
