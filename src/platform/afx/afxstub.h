// Stand-ins for the few pieces of the class library that the tool uses: the wide
// string with value semantics, the application object and the library's
// initialisation. They are the same on Windows and on the simulator, except
// AfxWinInit, which each platform supplies.
#pragma once

#include "platform/afx/checked_format.h"
#include "platform/windows_api_types.h"

#include <string>
#include <type_traits>

// A wide (UTF-16) string with value semantics. Running out of memory raises
// std::bad_alloc, which nothing in the tool catches.
class CStringW {
 public:
  CStringW() = default;
  CStringW(const WCHAR* text) : m_str(text != nullptr ? text : _T("")) {}  // NOLINT: implicit as in the library
  CStringW(const WCHAR* text, int length) : m_str(text, static_cast<std::size_t>(length)) {}
  explicit CStringW(std::basic_string<WCHAR> text) : m_str(std::move(text)) {}
  CStringW(WCHAR ch, int repeat) : m_str(static_cast<std::size_t>(repeat), ch) {}

  int GetLength() const { return static_cast<int>(m_str.size()); }
  bool IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }
  WCHAR GetAt(int index) const { return m_str[static_cast<std::size_t>(index)]; }
  WCHAR operator[](int index) const { return GetAt(index); }
  const WCHAR* GetString() const { return m_str.c_str(); }
  operator const WCHAR*() const { return m_str.c_str(); }  // NOLINT: implicit as in the library
  const std::basic_string<WCHAR>& Str() const { return m_str; }

  CStringW Left(int count) const {
    if (count < 0) count = 0;
    return CStringW(m_str.substr(0, static_cast<std::size_t>(count)));
  }

  CStringW& operator=(const WCHAR* text) {
    m_str = text != nullptr ? text : _T("");
    return *this;
  }
  CStringW& operator+=(const CStringW& other) {
    m_str += other.m_str;
    return *this;
  }
  CStringW& operator+=(const WCHAR* text) {
    if (text != nullptr) m_str += text;
    return *this;
  }
  CStringW& operator+=(WCHAR ch) {
    m_str.push_back(ch);
    return *this;
  }
  friend CStringW operator+(CStringW a, const CStringW& b) { return a += b; }
  friend CStringW operator+(CStringW a, const WCHAR* b) { return a += b; }
  friend bool operator==(const CStringW& a, const CStringW& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CStringW& a, const WCHAR* b) { return a.m_str == b; }

  // Formats in place, as CString::Format does, with the checked formatter: %s takes
  // wide text, %d an int, %c one wide character, %I64u an unsigned 64-bit number.
  template <class... Args>
  void Format(CheckedFormat<kConvAll, std::type_identity_t<Args>...> format,
              const Args&... args) {
    m_str = FormatChecked(format.Get(), static_cast<std::size_t>(-1), args...);
  }

 private:
  std::basic_string<WCHAR> m_str;
};

typedef CStringW CString;

// The application object. The tool keeps exactly one, constructed before the main
// function and destroyed after it; its state serves the library alone.
class CWinApp {
 public:
  explicit CWinApp(const WCHAR* appName = nullptr) : m_pszAppName(appName) {}
  virtual ~CWinApp() = default;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  const WCHAR* m_pszAppName;  // as in the library: public, null for the tool
};

// Readies the class library. Nonzero when it is ready. It also sets the process
// error mode so that no critical-error dialog appears while the tool touches
// drives: the failing operation reports the error instead.
BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
