// The search of the fixed drives for the recovery volume.
#include "discovery/discovery.h"

#include "tracelog/tracelog.h"

int GetDriveLetter(const WCHAR* /*pUnused*/, WCHAR* pLetter) {
  TraceScope scope("int __cdecl GetDriveLetter(const unsigned short *,unsigned short *)", "GetDriveLetter");
  int bDriveFound = 0;
  for (WCHAR letter = _T('C'); letter <= _T('Z'); ++letter) {
    CString strRoot;
    strRoot.Format(_T("%c:\\"), letter);
    if (GetDriveTypeW(strRoot) != DRIVE_FIXED) continue;
    LogMessage(Info, 239, _T("Test drive %s"), strRoot);
    const CString strID = GetSystemID(strRoot);
    if (strID == _T("RECOVERY")) {
      *pLetter = letter;
      bDriveFound = 1;
    }
    if (bDriveFound == 1) break;
  }
  LogValue(250, "bDriveFound", bDriveFound);
  return bDriveFound;
}
