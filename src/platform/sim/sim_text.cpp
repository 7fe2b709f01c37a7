// Simulated text services: the last error, the system's error texts, the ANSI
// code page (Windows-1252, as on an English Windows) and the host's UTF-8.
#include "platform/sim/sim_machine.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace sim {

std::string ToUtf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::u16string FromUtf8(const std::string& text) {
  // Also takes surrogates written as three bytes, so that an argument can carry a
  // lone surrogate to the tool as it can on Windows; any byte that is not part of
  // a sequence becomes U+FFFD.
  std::u16string out;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    std::uint32_t c = 0xFFFD;
    std::size_t len = 1;
    auto cont = [&](std::size_t k) { return i + k < n && (s[i + k] & 0xC0) == 0x80; };
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0 && b >= 0xC2 && cont(1)) {
      c = ((b & 0x1Fu) << 6) | (s[i + 1] & 0x3Fu), len = 2;
    } else if ((b & 0xF0) == 0xE0 && cont(1) && cont(2)) {
      c = ((b & 0x0Fu) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3Fu), len = 3;
      if (c < 0x800) c = 0xFFFD;
    } else if ((b & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
      c = ((b & 0x07u) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) |
          (s[i + 3] & 0x3Fu);
      len = 4;
      if (c < 0x10000 || c > 0x10FFFF) c = 0xFFFD;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

std::u16string JoinCommandLine(const std::vector<std::u16string>& args) {
  std::u16string line;
  for (std::size_t a = 0; a < args.size(); ++a) {
    if (a != 0) line.push_back(u' ');
    const std::u16string& arg = args[a];
    if (!arg.empty() && arg.find_first_of(u" \t\"") == std::u16string::npos) {
      line += arg;
      continue;
    }
    line.push_back(u'"');
    std::size_t backslashes = 0;
    for (const char16_t c : arg) {
      if (c == u'\\') {
        ++backslashes;
        continue;
      }
      line.append(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
      backslashes = 0;
      line.push_back(c);
    }
    line.append(backslashes * 2, u'\\');
    line.push_back(u'"');
  }
  return line;
}

namespace {

// Windows-1252 at 0x80 to 0x9F; the five bytes it leaves undefined map to the C1
// control of the same value, as Windows maps them.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const std::map<DWORD, const char16_t*>& ErrorTexts() {
  static const std::map<DWORD, const char16_t*> texts = {
      {0, u"The operation completed successfully.\r\n"},
      {1, u"Incorrect function.\r\n"},
      {2, u"The system cannot find the file specified.\r\n"},
      {3, u"The system cannot find the path specified.\r\n"},
      {5, u"Access is denied.\r\n"},
      {6, u"The handle is invalid.\r\n"},
      {13, u"The data is invalid.\r\n"},
      {15, u"The system cannot find the drive specified.\r\n"},
      {21, u"The device is not ready.\r\n"},
      {23, u"Data error (cyclic redundancy check).\r\n"},
      {32, u"The process cannot access the file because it is being used by another process.\r\n"},
      {50, u"The request is not supported.\r\n"},
      {87, u"The parameter is incorrect.\r\n"},
      {122, u"The data area passed to a system call is too small.\r\n"},
      {234, u"More data is available.\r\n"},
      {1117, u"The request could not be performed because of an I/O device error.\r\n"},
      {1167, u"The device is not connected.\r\n"},
  };
  return texts;
}

constexpr DWORD kErrorMessageNotFound = 317;  // ERROR_MR_MID_NOT_FOUND

}  // namespace

namespace {
char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}
}  // namespace

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

char16_t AnsiToWide(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80] : static_cast<char16_t>(byte);
}

}  // namespace sim

DWORD GetLastError() { return sim::Current().lastError; }
void SetLastError(DWORD dwErrCode) { sim::Current().lastError = dwErrCode; }

DWORD FormatMessageW(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                     LPWSTR lpBuffer, DWORD nSize, va_list* /*Arguments*/) {
  if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr)
    return sim::Fail(ERROR_INVALID_PARAMETER, DWORD{0});
  const auto& texts = sim::ErrorTexts();
  auto it = texts.find(dwMessageId);
  if (it == texts.end()) return sim::Fail(sim::kErrorMessageNotFound, DWORD{0});
  const std::u16string text = it->second;
  const auto length = static_cast<DWORD>(text.size());
  if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    auto* buffer = static_cast<WCHAR*>(std::malloc((text.size() + 1) * sizeof(WCHAR)));
    if (buffer == nullptr) return sim::Fail(ERROR_NOT_ENOUGH_MEMORY, DWORD{0});
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    *reinterpret_cast<WCHAR**>(lpBuffer) = buffer;
    return length;
  }
  if (nSize <= length) return sim::Fail(ERROR_INSUFFICIENT_BUFFER, DWORD{0});
  std::memcpy(lpBuffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return length;
}

HLOCAL LocalFree(HLOCAL hMem) {
  std::free(hMem);
  return nullptr;
}

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if ((CodePage != CP_ACP && CodePage != 1252) || (dwFlags & ~MB_PRECOMPOSED) != 0 ||
      lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0)
    return sim::Fail(ERROR_INVALID_PARAMETER, 0);
  const std::size_t count =
      cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  if (cchWideChar == 0) return static_cast<int>(count);
  if (static_cast<std::size_t>(cchWideChar) < count) return sim::Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  for (std::size_t i = 0; i < count; ++i)
    lpWideCharStr[i] = sim::AnsiToWide(static_cast<unsigned char>(lpMultiByteStr[i]));
  return static_cast<int>(count);
}
