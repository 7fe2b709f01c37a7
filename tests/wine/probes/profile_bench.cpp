// profile-bench.exe FILE COUNT: times the system's WritePrivateProfileStringW
// setting one key of the section "General" of FILE, COUNT times with alternating
// values, each followed by the flush form, and prints the mean microseconds per
// write.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 64;
  const int count = _wtoi(argv[2]);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = 0; i < count; ++i) {
    if (!WritePrivateProfileStringW(L"General", L"Disk_Size", i % 2 == 0 ? L"64424509440" : L"64424509441", argv[1]))
      return 1;
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, argv[1]);
  }
  QueryPerformanceCounter(&end);
  const double us = static_cast<double>(end.QuadPart - start.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
  printf("%.1f\n", us / count);
  return 0;
}
