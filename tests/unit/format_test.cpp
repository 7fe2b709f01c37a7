// The checked formatter's output for each conversion it has.
#include "platform/afx/afxstub.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(CStringFormat, RendersEachConversion) {
  CString s;
  s.Format(_T("\\\\.\\%s"), CString(_T("C:")));
  EXPECT_EQ(s.Str(), u"\\\\.\\C:");
  s.Format(_T("%c:\\PRELOAD\\ZEZ.DAT"), WCHAR(_T('e')));
  EXPECT_EQ(s.Str(), u"e:\\PRELOAD\\ZEZ.DAT");
  s.Format(_T("%c:\\"), WCHAR(0));
  EXPECT_EQ(s.Str(), std::u16string(u"\0:\\", 3));
  s.Format(_T("%d|%d|%d"), 0, -2147483647 - 1, 2147483647);
  EXPECT_EQ(s.Str(), u"0|-2147483648|2147483647");
}

TEST(CStringFormat, UnsignedSixtyFourBitNumbers) {
  const std::pair<unsigned long long, const char16_t*> cases[] = {
      {0ull, u"0"},
      {9223372036854775808ull, u"9223372036854775808"},
      {static_cast<unsigned long long>(-1LL), u"18446744073709551615"},
      {1048576ull, u"1048576"}};
  for (const auto& [value, text] : cases) {
    CString s;
    s.Format(_T("%I64u"), value);
    EXPECT_EQ(s.Str(), std::u16string(text));
  }
}

TEST(CStringFormat, NullTextIsShownAsWsprintfShowsIt) {
  CString s;
  s.Format(_T("[%s]"), static_cast<const WCHAR*>(nullptr));
  EXPECT_EQ(s.Str(), u"[(null)]");
}

}  // namespace
