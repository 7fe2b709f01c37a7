// The tool's start and end: the trace log first, then the application object,
// both of static lifetime in this order, so that the log exists before the main
// function runs and writes its summary after the application object is gone.
#include "driver/run.h"
#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"
#include "tracelog/tracelog.h"

TraceLog theTraceLog;
CWinApp theApp(nullptr);

int _tmain(int argc, WCHAR** argv, WCHAR** /*envp*/) {
  LPWSTR commandLine = GetCommandLineW();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!AfxWinInit(instance, nullptr, commandLine, 0)) {
    PrintToStdout(_T("Fatal Error: MFC initialization failed\n"));
    return kExitInitFailed;
  }
  return RunRecoveryLayout(argc, argv);
}
