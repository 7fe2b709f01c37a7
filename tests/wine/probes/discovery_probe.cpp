// Runs the discovery code on a real (or Wine's) Windows: the search for the
// recovery drive, then the disk number lookup of the letter found or of the
// letter given as the argument. Prints "letter found disk" and leaves its trace in
// a log beside itself, as the tool does.
#include "discovery/discovery.h"
#include "layoutrecord/layoutrecord.h"
#include "platform/afx/afxstub.h"
#include "tracelog/tracelog.h"

#include <stdio.h>

TraceLog theTraceLog;

int wmain(int argc, wchar_t** argv) {
  WCHAR letter = L'-';
  int found = 0;
  if (argc > 1) {
    letter = argv[1][0];
  } else {
    found = GetDriveLetter(nullptr, &letter);
  }
  const DWORD disk = (found || argc > 1) ? GetDriveNumberFromDriveLetter(letter) : 0xFFFFFFFF;
  printf("%c %d %d\n", static_cast<char>(letter), found, static_cast<int>(disk));
  return 0;
}
