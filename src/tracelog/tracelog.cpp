// The trace log's file, its entries and its summary.
#include "tracelog/tracelog.h"

#include "platform/handles.h"

#include <vector>

TraceLog* TraceLog::s_pCurrent = nullptr;

namespace {

const WCHAR kIndent[] = _T("   ");

// The longest module path the log asks for, in characters: the longest path
// Windows hands out.
constexpr DWORD kMaxModulePath = 32768;

// The executable's full path, whole or not at all: a path cut by a short buffer
// would name another file, so the buffer grows until the path fits.
bool GetWholeModulePath(CString& path) {
  for (DWORD size = MAX_PATH; size <= kMaxModulePath; size *= 2) {
    std::vector<WCHAR> buffer(size, 0);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      path = CString(buffer.data(), static_cast<int>(length));
      return true;
    }
  }
  return false;
}

}  // namespace

CString IntToText(int value) {
  WCHAR digits[12];
  int n = 0;
  // Work on the magnitude as unsigned so that the most negative value has one.
  std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value)
                                      : static_cast<std::uint32_t>(value);
  do {
    digits[n++] = static_cast<WCHAR>(_T('0') + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  CString text;
  if (value < 0) text += _T('-');
  while (n > 0) text += digits[--n];
  return text;
}

CString NarrowToWide(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
  if (length <= 0) return CString();
  std::vector<WCHAR> wide(static_cast<std::size_t>(length), 0);
  MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide.data(), length);
  return CString(wide.data());
}

TraceLog::TraceLog() {
  s_pCurrent = this;
  CString path;
  if (GetWholeModulePath(path)) {
    path += _T(".log");
    m_pFile = OpenFileExclusiveForWrite(path);
  }
  if (m_pFile == nullptr) {
    PrintToStdout(_T("Unable to create log file"));
    return;
  }
  const unsigned char bom[2] = {0xFF, 0xFE};
  std::fwrite(bom, 1, sizeof bom, m_pFile);
  m_strLine = _T("Compiled in ");
  m_strLine += NarrowToWide(kBuildTimestamp);
  WriteLine();
}

TraceLog::~TraceLog() {
  if (m_pFile != nullptr) {
    m_strLine = _T("Execution ends with ");
    m_strLine += IntToText(m_nErrors);
    m_strLine += _T(" error(s) and ");
    m_strLine += IntToText(m_nWarnings);
    m_strLine += _T(" warning(s).");
    WriteLine();
    if (std::fclose(m_pFile) != 0) PrintToStderr(_T("Unable to close the log file"));
    m_pFile = nullptr;
  }
  m_strLine.Empty();
  if (s_pCurrent == this) s_pCurrent = nullptr;
}

void TraceLog::WriteLine() {
  if (m_pFile == nullptr) return;
  m_strLine += _T("\r\n");
  // The whole line goes to the stream in one piece and is flushed at once: one
  // write to the file per line, and a killed run loses no line it wrote.
  std::vector<unsigned char> bytes;
  bytes.reserve(static_cast<std::size_t>(m_strLine.GetLength()) * 2);
  for (const WCHAR unit : m_strLine.Str()) {
    bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
    bytes.push_back(static_cast<unsigned char>((unit >> 8) & 0xFF));
  }
  std::fwrite(bytes.data(), 1, bytes.size(), m_pFile);
  std::fflush(m_pFile);
}

void TraceLog::AppendSystemError() {
  const DWORD code = GetLastError();
  LPWSTR text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
      nullptr);
  const unique_hlocal owner(text);
  if (length != 0 && text != nullptr) {
    m_strLine += _T(": ");
    m_strLine += CString(text, static_cast<int>(length));
  } else {
    m_strLine += _T(": Error(");
    m_strLine += IntToText(static_cast<int>(code));
    m_strLine += _T(")");
  }
  // Asking for the text may itself fail and set a code of its own; the failure
  // being logged keeps its code for whatever the caller does next.
  SetLastError(code);
}

void TraceLog::BeginEntry(int extra) {
  m_strLine.Empty();
  for (int i = 0; i < m_nDepth + extra; ++i) m_strLine += kIndent;
}

void TraceLog::Message(int kind, int line, const CString& formatted) {
  BeginEntry(1);
  m_strLine += _T("line ");
  m_strLine += IntToText(line);
  switch (kind) {
    case Error:
      m_strLine += _T(": ERROR: ");
      break;
    case Warning:
      m_strLine += _T(": WARNING: ");
      break;
    default:
      m_strLine += _T(": ");
      break;
  }
  m_strLine += formatted;
  if (kind == Error) {
    AppendSystemError();
    ++m_nErrors;
  } else if (kind == Warning) {
    ++m_nWarnings;
  }
  WriteLine();
}

void TraceLog::LogEnter(const char* signature) {
  BeginEntry(0);
  m_strLine += _T("Enter ");
  m_strLine += NarrowToWide(signature);
  WriteLine();
}

void TraceLog::LogExit(const CString& name) {
  BeginEntry(0);
  m_strLine += _T("Exit ");
  m_strLine += name;
  WriteLine();
}

void TraceLog::Value(int line, const char* name, int value) {
  BeginEntry(1);
  m_strLine += _T("line ");
  m_strLine += IntToText(line);
  m_strLine += _T(": ");
  m_strLine += NarrowToWide(name);
  m_strLine += _T("=");
  m_strLine += IntToText(value);
  WriteLine();
}

void LogValue(int line, const char* name, int value) {
  if (TraceLog* log = TraceLog::Current()) log->Value(line, name, value);
}

TraceScope::TraceScope(const char* signature, const char* name) : m_strName(NarrowToWide(name)) {
  if (TraceLog* log = TraceLog::Current()) {
    ++log->m_nDepth;
    log->LogEnter(signature);
  }
}

TraceScope::~TraceScope() {
  if (TraceLog* log = TraceLog::Current()) {
    log->LogExit(m_strName);
    --log->m_nDepth;
  }
  m_strName.Empty();
}
