// The command line and the run sequence: the recovery drive letter from the
// argument or the search, the path of ZEZ.DAT on it, the disk number, the record,
// and the exit code.
#include "driver/run.h"

#include "discovery/discovery.h"
#include "layoutrecord/layoutrecord.h"
#include "tracelog/tracelog.h"

namespace {

constexpr WORD kUsageAttribute = FOREGROUND_RED | FOREGROUND_INTENSITY;  // 12, bright red
constexpr WORD kAfterUsageAttribute =
    FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;  // 15, bright white

void PrintUsage(const WCHAR* pszProgram) {
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), kUsageAttribute);
  CString strLine;
  strLine.Format(_T("Correct usage: %s [RPDrive]\n\n"), pszProgram);
  PrintToStdout(strLine);
  PrintToStdout(_T("\tRPDrive (optional): drive letter of the RP.\n"));
  PrintToStdout(_T("\tIf the drive is not specified, the module will try to find it.\n"));
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), kAfterUsageAttribute);
}

}  // namespace

int RunRecoveryLayout(int argc, WCHAR** argv) {
  WCHAR chDrive = 0;
  if (argc == 1) {
    if (!GetDriveLetter(nullptr, &chDrive)) {
      LogMessage(Warning, 274, _T("Unable to get the recovery drive letter"));
      return kExitNoRecoveryVolume;
    }
  } else if (argc == 2) {
    chDrive = argv[1][0];  // only the first code unit counts, as it is
  } else {
    const WCHAR* pszProgram = argc > 0 ? argv[0] : nullptr;
    LogMessage(Warning, 285, _T("Incorrect parameters. Correct usage: %s [RP letter]"), pszProgram);
    PrintUsage(pszProgram);
    return kExitWrongArguments;
  }

  CString strPath;
  strPath.Format(_T("%c:\\PRELOAD\\ZEZ.DAT"), chDrive);
  const DWORD dwDisk = GetDriveNumberFromDriveLetter(chDrive);
  if (dwDisk == 0xFFFFFFFF) return kExitLookupFailed;
  Pellwick(strPath, static_cast<int>(dwDisk));
  return kExitRecorded;
}
