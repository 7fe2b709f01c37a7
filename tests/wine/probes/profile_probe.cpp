// Applies profile writes with the system's own WritePrivateProfileStringW, for
// comparison with the simulator's writer: arguments in groups of four, FILE
// SECTION KEY VALUE; each write is followed by the flush form. Prints one result
// per write.
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i + 3 < argc; i += 4) {
    const BOOL ok = WritePrivateProfileStringW(argv[i + 1], argv[i + 2], argv[i + 3], argv[i]);
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, argv[i]);
    printf("%d\n", ok ? 1 : 0);
  }
  return 0;
}
