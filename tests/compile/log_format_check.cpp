// Compiled by the test suite once for each case: only CASE_good may compile.
#include "tracelog/tracelog.h"

void Check() {
  CString text = _T("C:\\");
#if defined(CASE_good)
  LogMessage(Error, 215, _T("Cannot open handle on drive %s (%d)"), text, 5);
  LogMessage(Info, 1, _T("no arguments, 100%%"));
#elif defined(CASE_wrong_type)
  LogMessage(Error, 215, _T("Cannot open handle on drive %d"), text);
#elif defined(CASE_missing_arg)
  LogMessage(Error, 215, _T("Cannot open handle on drive %s"));
#elif defined(CASE_extra_arg)
  LogMessage(Error, 63, _T("Function to get disk number failed"), 5);
#elif defined(CASE_bad_conversion)
  LogMessage(Info, 1, _T("%x"), 5);
#endif
}
