// The run-time half of the checked formatter: the arguments have been matched to
// the format while compiling, so this only renders them.
#include "platform/afx/checked_format.h"

#include "platform/afx/afxstub.h"

FormatArg FormatArgTraits<CStringW>::Make(const CStringW& v) {
  return {kind, v.GetString(), 0};
}

namespace {

void AppendDecimal(std::basic_string<WCHAR>& out, std::uint64_t value, bool negative) {
  WCHAR digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<WCHAR>(_T('0') + value % 10);
    value /= 10;
  } while (value != 0);
  if (negative) out.push_back(_T('-'));
  while (n > 0) out.push_back(digits[--n]);
}

}  // namespace

std::basic_string<WCHAR> FormatArgs(const WCHAR* format, const FormatArg* args,
                                    std::size_t count, std::size_t limit) {
  std::basic_string<WCHAR> out;
  std::size_t next = 0;
  for (std::size_t i = 0; format[i] != 0 && out.size() < limit; ++i) {
    if (format[i] != _T('%')) {
      out.push_back(format[i]);
      continue;
    }
    ++i;
    if (format[i] == _T('%')) {
      out.push_back(_T('%'));
      continue;
    }
    if (format[i] == _T('I')) i += 3;  // %I64u
    if (next >= count) break;       // cannot happen: the format was checked
    const FormatArg& a = args[next++];
    switch (a.kind) {
      case FormatArgKind::Text:
        if (a.text == nullptr) {
          out += _T("(null)");
        } else {
          for (const WCHAR* p = a.text; *p != 0 && out.size() < limit; ++p) out.push_back(*p);
        }
        break;
      case FormatArgKind::Int32: {
        const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(a.number));
        const std::uint64_t magnitude =
            v < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(v))
                  : static_cast<std::uint64_t>(v);
        AppendDecimal(out, magnitude, v < 0);
        break;
      }
      case FormatArgKind::Char:
        out.push_back(static_cast<WCHAR>(a.number));
        break;
      case FormatArgKind::UInt64:
        AppendDecimal(out, a.number, false);
        break;
    }
  }
  if (out.size() > limit) out.resize(limit);
  return out;
}
