// The process-wide trace log: a UTF-16LE file beside the executable that records
// every traced function's entry and exit, numbered message entries with the
// source line of their call site, errors with the system's text, named values
// and a closing summary. Every line is flushed as it is written, so that a run
// that is killed still leaves its trace.
#pragma once

#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"

#include <cstdio>
#include <type_traits>

enum LogKind : int { Info = 0, Error = 1, Warning = 2 };

// The decimal text of a signed 32-bit integer.
CString IntToText(int value);
// An ASCII text in the ANSI code page as wide text.
CString NarrowToWide(const char* text);

// The text that the build supplies for the log's header: weekday, month, day,
// time and year, as in "Tue Jun 17 11:34:33 2008".
extern const char* const kBuildTimestamp;

// Message formats take %s (wide text) and %d (int) and nothing else; the check
// is made while compiling.
template <class... Args>
using LogFormat = CheckedFormat<kConvText | kConvInt32, Args...>;

class TraceLog {
 public:
  // Creates the log file and writes its header. The tool has exactly one, of
  // static lifetime; while it exists, every entry of the process goes to it.
  TraceLog();
  // Writes the summary and closes the file.
  ~TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // The log that entries go to; none before construction and after destruction.
  static TraceLog* Current() { return s_pCurrent; }

  void Message(int kind, int line, const CString& formatted);
  void LogEnter(const char* signature);
  void LogExit(const CString& name);
  void Value(int line, const char* name, int value);
  void WriteLine();
  void AppendSystemError();

  int Depth() const { return m_nDepth; }
  int Errors() const { return m_nErrors; }
  int Warnings() const { return m_nWarnings; }
  bool HasFile() const { return m_pFile != nullptr; }

 private:
  friend class TraceScope;

  // Begins an entry: the line emptied, then the indent once for each level of
  // depth and `extra` times more.
  void BeginEntry(int extra);

  CString m_strLine;
  int m_nDepth = 0;
  int m_nErrors = 0;
  int m_nWarnings = 0;
  FILE* m_pFile = nullptr;

  static TraceLog* s_pCurrent;
};

// The longest formatted message text, as wvsprintfW's 1,024-character buffer
// holds it with its terminator.
constexpr std::size_t kMaxMessageText = 1023;

// Writes one message entry of the given kind; `line` is the fixed number of the
// call site.
template <class... Args>
void LogMessage(int kind, int line, LogFormat<std::type_identity_t<Args>...> format,
                const Args&... args) {
  TraceLog* log = TraceLog::Current();
  if (log == nullptr) return;
  log->Message(kind, line, CString(FormatChecked(format.Get(), kMaxMessageText, args...)));
}

// Writes one entry showing a named integer value.
void LogValue(int line, const char* name, int value);

// Marks a traced function: created first thing in its body, it writes the Enter
// entry and deepens the indentation; its end, by return or by an exception
// passing through, writes the Exit entry and restores the depth.
class TraceScope {
 public:
  TraceScope(const char* signature, const char* name);
  ~TraceScope();
  TraceScope(const TraceScope&) = delete;
  TraceScope& operator=(const TraceScope&) = delete;

 private:
  CString m_strName;
};
