// Simulated process and console operations, and the simulator's class-library
// initialisation.
#include "platform/afx/afxstub.h"
#include "platform/sim/sim_machine.h"
#include "platform/windows_api.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {
// What GetModuleHandleW(nullptr) gives: the image base of a typical executable.
HMODULE const kModuleHandle = reinterpret_cast<HMODULE>(0x140000000ull);
HANDLE const kStdOutputHandle = reinterpret_cast<HANDLE>(0x54ull);
HANDLE const kStdErrorHandle = reinterpret_cast<HANDLE>(0x58ull);

void WriteUtf8(FILE* stream, const WCHAR* text) {
  if (text == nullptr) return;
  const std::string bytes = sim::ToUtf8(std::u16string(text));
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
}
}  // namespace

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (hModule != nullptr && hModule != kModuleHandle) return sim::Fail(126u /*ERROR_MOD_NOT_FOUND*/, DWORD{0});
  const std::u16string& module = sim::Current().GetMachine().module;
  if (nSize == 0) return sim::Fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  if (module.size() < nSize) {
    std::memcpy(lpFilename, module.c_str(), (module.size() + 1) * sizeof(WCHAR));
    return static_cast<DWORD>(module.size());
  }
  // As Windows does: the path is cut to fit with its terminator, and the result is
  // the buffer's size.
  std::memcpy(lpFilename, module.c_str(), (nSize - 1) * sizeof(WCHAR));
  lpFilename[nSize - 1] = 0;
  return sim::Fail(ERROR_INSUFFICIENT_BUFFER, nSize);
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName != nullptr) return sim::Fail(126u, static_cast<HMODULE>(nullptr));
  return kModuleHandle;
}

LPWSTR GetCommandLineW() { return sim::Current().commandLine.data(); }

UINT SetErrorMode(UINT uMode) {
  const UINT previous = sim::Current().errorMode;
  sim::Current().errorMode = uMode;
  return previous;
}

UINT GetErrorMode() { return sim::Current().errorMode; }

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                int /*nCmdShow*/) {
  if (sim::Current().GetMachine().initFails || hInstance == nullptr) return FALSE;
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  return TRUE;
}

void PrintToStdout(const WCHAR* text) { WriteUtf8(stdout, text); }
void PrintToStderr(const WCHAR* text) { WriteUtf8(stderr, text); }

HANDLE GetStdHandle(DWORD nStdHandle) {
  if (nStdHandle == STD_OUTPUT_HANDLE) return kStdOutputHandle;
  if (nStdHandle == STD_ERROR_HANDLE) return kStdErrorHandle;
  return sim::Fail(ERROR_INVALID_HANDLE, INVALID_HANDLE_VALUE);
}

// A console attribute is shown on a terminal as the ANSI colours of the same
// meaning; where the stream is no terminal, the call fails as it does on Windows
// for a redirected handle, and nothing is written.
BOOL SetConsoleTextAttribute(HANDLE hConsoleOutput, WORD wAttributes) {
  FILE* stream = hConsoleOutput == kStdOutputHandle  ? stdout
                 : hConsoleOutput == kStdErrorHandle ? stderr
                                                     : nullptr;
  if (stream == nullptr || !isatty(fileno(stream))) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
  // Windows numbers the colour bits blue, green, red; ANSI numbers them red, green, blue.
  auto ansi = [](unsigned bits) { return ((bits & 1u) << 2) | (bits & 2u) | ((bits & 4u) >> 2); };
  const unsigned fg = ansi(wAttributes & 7u) + ((wAttributes & 8u) != 0 ? 90 : 30);
  const unsigned bg = ansi((wAttributes >> 4) & 7u) + ((wAttributes & 0x80u) != 0 ? 100 : 40);
  std::fflush(stream);
  std::fprintf(stream, "\x1b[%u;%um", fg, bg);
  return TRUE;
}
