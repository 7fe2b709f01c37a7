// A wsprintf-style formatter whose format is checked against its arguments while
// the program compiles. A format is a string literal; each conversion in it must
// be one of the conversions that its user allows and must meet an argument of the
// matching type, and the number of conversions must equal the number of
// arguments. A mismatch does not compile: the compiler reports a call to
// FormatDoesNotMatchItsArguments. There is no variadic C call underneath, so no
// argument can be read as something it is not.
#pragma once

#include "platform/windows_api_types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

class CStringW;

enum class FormatArgKind : std::uint8_t {
  Text,    // %s: wide text
  Int32,   // %d: signed 32-bit integer
  Char,    // %c: one wide character
  UInt64,  // %I64u: 64 bits read as unsigned
};

// The conversions a format may use.
enum FormatConversions : unsigned {
  kConvText = 1u << 0,
  kConvInt32 = 1u << 1,
  kConvChar = 1u << 2,
  kConvUInt64 = 1u << 3,
  kConvAll = kConvText | kConvInt32 | kConvChar | kConvUInt64,
};

struct FormatArg {
  FormatArgKind kind;
  const WCHAR* text;
  std::uint64_t number;
};

template <class T>
struct FormatArgTraits;  // no entry: the type cannot be formatted at all

template <>
struct FormatArgTraits<int> {
  static constexpr FormatArgKind kind = FormatArgKind::Int32;
  static FormatArg Make(int v) {
    return {kind, nullptr, static_cast<std::uint64_t>(static_cast<std::uint32_t>(v))};
  }
};
template <>
struct FormatArgTraits<WCHAR> {
  static constexpr FormatArgKind kind = FormatArgKind::Char;
  static FormatArg Make(WCHAR v) { return {kind, nullptr, static_cast<std::uint64_t>(v)}; }
};
template <>
struct FormatArgTraits<unsigned long long> {
  static constexpr FormatArgKind kind = FormatArgKind::UInt64;
  static FormatArg Make(unsigned long long v) { return {kind, nullptr, v}; }
};
template <>
struct FormatArgTraits<const WCHAR*> {
  static constexpr FormatArgKind kind = FormatArgKind::Text;
  static FormatArg Make(const WCHAR* v) { return {kind, v, 0}; }
};
template <>
struct FormatArgTraits<WCHAR*> : FormatArgTraits<const WCHAR*> {};
template <>
struct FormatArgTraits<CStringW> {
  static constexpr FormatArgKind kind = FormatArgKind::Text;
  static FormatArg Make(const CStringW& v);
};

template <class T>
using FormatArgTraitsOf = FormatArgTraits<std::remove_cv_t<std::decay_t<T>>>;

// Not constexpr on purpose: reaching it while a format is checked stops the
// compilation at the offending call.
void FormatDoesNotMatchItsArguments();

template <unsigned Allowed, class... Args>
class CheckedFormat {
 public:
  consteval CheckedFormat(const WCHAR* format) : m_format(format) { Verify(format); }
  const WCHAR* Get() const { return m_format; }

 private:
  static consteval void Verify(const WCHAR* f) {
    constexpr std::array<FormatArgKind, sizeof...(Args)> kinds{FormatArgTraitsOf<Args>::kind...};
    std::size_t used = 0;
    for (std::size_t i = 0; f[i] != 0; ++i) {
      if (f[i] != _T('%')) continue;
      ++i;
      FormatArgKind want;
      unsigned conv;
      if (f[i] == _T('%')) {
        continue;
      } else if (f[i] == _T('s')) {
        want = FormatArgKind::Text, conv = kConvText;
      } else if (f[i] == _T('d')) {
        want = FormatArgKind::Int32, conv = kConvInt32;
      } else if (f[i] == _T('c')) {
        want = FormatArgKind::Char, conv = kConvChar;
      } else if (f[i] == _T('I') && f[i + 1] == _T('6') && f[i + 2] == _T('4') && f[i + 3] == _T('u')) {
        want = FormatArgKind::UInt64, conv = kConvUInt64;
        i += 3;
      } else {
        FormatDoesNotMatchItsArguments();  // a conversion this formatter does not have
        return;
      }
      if ((Allowed & conv) == 0 || used >= kinds.size() || kinds[used] != want)
        FormatDoesNotMatchItsArguments();
      ++used;
    }
    if (used != kinds.size()) FormatDoesNotMatchItsArguments();
  }

  const WCHAR* m_format;
};

// Formats with already checked arguments. The result is cut after `limit` code
// units, as wvsprintfW cuts at its buffer.
std::basic_string<WCHAR> FormatArgs(const WCHAR* format, const FormatArg* args,
                                    std::size_t count, std::size_t limit);

template <class... Args>
std::basic_string<WCHAR> FormatChecked(const WCHAR* format, std::size_t limit,
                                       const Args&... args) {
  const std::array<FormatArg, sizeof...(Args)> packed{FormatArgTraitsOf<Args>::Make(args)...};
  return FormatArgs(format, packed.data(), packed.size(), limit);
}
