// The trace log's bytes: header, the entry layouts at each depth, the system error
// part, the cut, the counters and summary, the state without a file.
#include "platform/sim/sim_machine.h"
#include "support/test_support.h"
#include "tracelog/tracelog.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <stdexcept>

namespace {

using support::LogBytes;
using support::LogLines;
using support::ReadBytes;
using support::U16;

std::u16string Header() { return u"Compiled in " + U16(kBuildTimestamp); }

class TraceLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(m_dir / "c" / "Tools");
    support::InstallMachine(R"({"module": "C:\\Tools\\rplayout.exe", "drives": {"C": {"files": "c"}}})",
                            m_dir.Path());
  }
  void TearDown() override { sim::Uninstall(); }
  std::filesystem::path LogPath() const { return m_dir / "c/Tools/rplayout.exe.log"; }
  std::string LogFile() const { return ReadBytes(LogPath()); }

  support::TempDir m_dir;
};

TEST_F(TraceLogTest, FreshLogHoldsByteOrderMarkHeaderAndZeroSummary) {
  { TraceLog log; }
  const std::string bytes = LogFile();
  ASSERT_GE(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\xFF\xFE" "C\0o\0m\0", 8));
  EXPECT_EQ(bytes, LogBytes({Header(), u"Execution ends with 0 error(s) and 0 warning(s)."}));
}

TEST_F(TraceLogTest, BuildTimestampHasTheFormOfTheHeader) {
  EXPECT_TRUE(std::regex_match(kBuildTimestamp,
                               std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ 123][0-9] "
                                          "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}")))
      << kBuildTimestamp;
}

TEST_F(TraceLogTest, EachLineIsInTheFileAsSoonAsItIsWritten) {
  TraceLog log;
  LogMessage(Info, 239, _T("Test drive %s"), _T("C:\\"));
  EXPECT_EQ(LogFile(), LogBytes({Header(), u"   line 239: Test drive C:\\"}));
}

TEST_F(TraceLogTest, SecondRunReplacesTheFirstRunsLog) {
  {
    TraceLog log;
    LogMessage(Warning, 285, _T("first run %d"), 1);
  }
  { TraceLog log; }
  EXPECT_EQ(LogFile(), LogBytes({Header(), u"Execution ends with 0 error(s) and 0 warning(s)."}));
}

struct EntryCase {
  const char* name;
  std::function<void()> entries;
  std::vector<std::u16string> lines;  // between header and summary
  std::u16string summary;
  friend void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }
};

void Traced(const std::function<void()>& body) {
  TraceScope scope("void __cdecl Traced(void)", "Traced");
  body();
}

void Throws() {
  TraceScope scope("void __cdecl Throws(void)", "Throws");
  throw std::runtime_error("thrown");
}

const EntryCase kEntryCases[] = {
    {"InfoAtDepthZero", [] { LogMessage(Info, 239, _T("Test drive %s"), _T("D:\\")); },
     {u"   line 239: Test drive D:\\"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"WarningAtDepthZero",
     [] { LogMessage(Warning, 274, _T("Unable to get the recovery drive letter")); },
     {u"   line 274: WARNING: Unable to get the recovery drive letter"},
     u"Execution ends with 0 error(s) and 1 warning(s)."},
    {"InfoInsideOneScope", [] { Traced([] { LogMessage(Info, 34, _T("strVolume=%s"), _T("\\\\.\\D:")); }); },
     {u"   Enter void __cdecl Traced(void)", u"      line 34: strVolume=\\\\.\\D:", u"   Exit Traced"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"ErrorWithSystemTextIsFollowedByAnEmptyLine",
     [] {
       Traced([] {
         SetLastError(ERROR_FILE_NOT_FOUND);
         LogMessage(Error, 68, _T("Cannot open handle on %s"), CString(_T("\\\\.\\Q:")));
       });
     },
     {u"   Enter void __cdecl Traced(void)",
      u"      line 68: ERROR: Cannot open handle on \\\\.\\Q:: The system cannot find the file specified.",
      u"", u"   Exit Traced"},
     u"Execution ends with 1 error(s) and 0 warning(s)."},
    {"ErrorWithoutSystemTextShowsTheCode",
     [] {
       SetLastError(9999);
       LogMessage(Error, 63, _T("Function to get disk number failed"));
     },
     {u"   line 63: ERROR: Function to get disk number failed: Error(9999)"},
     u"Execution ends with 1 error(s) and 0 warning(s)."},
    {"ErrorAfterSuccessShowsTheTextOfCodeZero",
     [] {
       SetLastError(0);
       LogMessage(Error, 129, _T("Unable to open the disk %d"), -1);
     },
     {u"   line 129: ERROR: Unable to open the disk -1: The operation completed successfully.", u""},
     u"Execution ends with 1 error(s) and 0 warning(s)."},
    {"UnknownKindIsWrittenAsInfo", [] { LogMessage(7, 1, _T("odd kind")); }, {u"   line 1: odd kind"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"NegativeLineNumber", [] { LogMessage(Info, -5, _T("x")); }, {u"   line -5: x"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"ValuesAtDepthOne",
     [] {
       Traced([] {
         LogValue(70, "dwRetVal", -1);
         LogValue(250, "bDriveFound", 0);
         LogValue(250, "bDriveFound", 1);
       });
     },
     {u"   Enter void __cdecl Traced(void)", u"      line 70: dwRetVal=-1", u"      line 250: bDriveFound=0",
      u"      line 250: bDriveFound=1", u"   Exit Traced"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"NestedScopesIndentOneStepEach",
     [] {
       Traced([] {
         Traced([] { LogMessage(Info, 2, _T("inner")); });
         LogMessage(Info, 3, _T("outer"));
       });
       LogMessage(Info, 4, _T("main"));
     },
     {u"   Enter void __cdecl Traced(void)", u"      Enter void __cdecl Traced(void)",
      u"         line 2: inner", u"      Exit Traced", u"      line 3: outer", u"   Exit Traced",
      u"   line 4: main"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"ExceptionWritesExitAndRestoresDepth",
     [] {
       Traced([] {
         try {
           Throws();
         } catch (const std::runtime_error&) {
         }
         LogMessage(Info, 5, _T("after"));
       });
     },
     {u"   Enter void __cdecl Traced(void)", u"      Enter void __cdecl Throws(void)", u"      Exit Throws",
      u"      line 5: after", u"   Exit Traced"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
    {"CountsTwoErrorsAndOneWarning",
     [] {
       SetLastError(9999);
       LogMessage(Error, 1, _T("a"));
       LogMessage(Warning, 2, _T("b"));
       LogMessage(Error, 3, _T("c"));
     },
     {u"   line 1: ERROR: a: Error(9999)", u"   line 2: WARNING: b", u"   line 3: ERROR: c: Error(9999)"},
     u"Execution ends with 2 error(s) and 1 warning(s)."},
    {"PercentSignsAndNonAsciiText",
     [] { LogMessage(Info, 9, _T("100%% %s %d"), _T("\u00e9\u20ac\U0001F600"), 2147483647); },
     {u"   line 9: 100% \u00e9\u20ac\U0001F600 2147483647"},
     u"Execution ends with 0 error(s) and 0 warning(s)."},
};

class TraceLogEntries : public TraceLogTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(TraceLogEntries, WritesExactBytes) {
  const EntryCase& c = GetParam();
  {
    TraceLog log;
    c.entries();
    EXPECT_EQ(log.Depth(), 0);
  }
  std::vector<std::u16string> lines{Header()};
  lines.insert(lines.end(), c.lines.begin(), c.lines.end());
  lines.push_back(c.summary);
  const std::string bytes = LogFile();
  EXPECT_EQ(bytes, LogBytes(lines)) << ::testing::PrintToString(LogLines(bytes));
}

INSTANTIATE_TEST_SUITE_P(Layouts, TraceLogEntries, ::testing::ValuesIn(kEntryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TraceLogTest, ComposingAnEntryLeavesTheLastErrorToTheFailedCall) {
  TraceLog log;
  SetLastError(ERROR_ACCESS_DENIED);
  CString drive = _T("C:\\");
  LogMessage(Error, 215, _T("Cannot open handle on drive %s"), drive);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(LogLines(LogFile()).at(1), "   line 215: ERROR: Cannot open handle on drive C:\\: Access is denied.");
}

TEST_F(TraceLogTest, FormattedTextIsCutAfter1023Characters) {
  {
    TraceLog log;
    const CString longText(_T('x'), 2000);
    LogMessage(Info, 1, _T("ab%s"), longText);
    LogMessage(Warning, 2, _T("%s tail"), CString(_T('y'), 1023));
    LogMessage(Info, 3, _T("%s"), CString(_T('z'), 1022));
  }
  EXPECT_EQ(LogFile(), LogBytes({Header(), u"   line 1: ab" + std::u16string(1021, u'x'),
                                 u"   line 2: WARNING: " + std::u16string(1023, u'y'),
                                 u"   line 3: " + std::u16string(1022, u'z'),
                                 u"Execution ends with 0 error(s) and 1 warning(s).", }));
}

TEST(IntToText, Table) {
  const std::pair<int, const char16_t*> cases[] = {
      {0, u"0"},         {7, u"7"},   {70, u"70"}, {2147483647, u"2147483647"},
      {-1, u"-1"},       {-70, u"-70"}, {INT32_MIN, u"-2147483648"}};
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(IntToText(value).Str(), std::u16string(text)) << value;
  }
}

TEST_F(TraceLogTest, NarrowToWideKeepsAsciiAndConvertsAnsiBytes) {
  EXPECT_EQ(NarrowToWide("int __cdecl IsNTFS(x)").Str(), u"int __cdecl IsNTFS(x)");
  EXPECT_EQ(NarrowToWide("").Str(), u"");
  EXPECT_EQ(NarrowToWide("\x80\xE9").Str(), u"\u20AC\u00E9");
}

class FilelessTraceLog : public ::testing::Test {
 protected:
  void TearDown() override { sim::Uninstall(); }
  support::TempDir m_dir;
};

TEST_F(FilelessTraceLog, CountsAndTracesButWritesNothingAnywhere) {
  std::filesystem::create_directories(m_dir / "c");
  // The module's folder does not exist, so the log cannot be created.
  support::InstallMachine(R"({"module": "C:\\Missing\\rplayout.exe", "drives": {"C": {"files": "c"}}})",
                          m_dir.Path());
  const auto before = support::Snapshot(m_dir.Path());
  ::testing::internal::CaptureStdout();
  {
    TraceLog log;
    EXPECT_FALSE(log.HasFile());
    SetLastError(2);
    LogMessage(Error, 1, _T("e"));
    LogMessage(Warning, 2, _T("w"));
    {
      TraceScope scope("sig", "name");
      EXPECT_EQ(log.Depth(), 1);
      LogValue(3, "v", 1);
    }
    EXPECT_EQ(log.Depth(), 0);
    EXPECT_EQ(log.Errors(), 1);
    EXPECT_EQ(log.Warnings(), 1);
  }
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to create log file");
  EXPECT_EQ(support::Snapshot(m_dir.Path()), before);
}

// A module path longer than a 260-character buffer holds: the log belongs at the
// whole path, never at a cut one.
TEST_F(FilelessTraceLog, LongModulePathGivesTheLogItsWholeName) {
  std::string folder = "c";
  std::string machinePath = "C:";
  for (int i = 0; i < 3; ++i) {
    const std::string part(100, static_cast<char>('a' + i));
    folder += "/" + part;
    machinePath += "\\\\" + part;
  }
  std::filesystem::create_directories(m_dir / folder);
  machinePath += "\\\\rplayout.exe";  // 2 + 3 * 101 + 13 = 318 characters
  support::InstallMachine(R"({"module": ")" + machinePath + R"(", "drives": {"C": {"files": "c"}}})",
                          m_dir.Path());
  { TraceLog log; }
  const std::string log = ReadBytes(m_dir / (folder + "/rplayout.exe.log"));
  EXPECT_EQ(log, LogBytes({Header(), u"Execution ends with 0 error(s) and 0 warning(s)."}));
  // The cut name (259 characters, plus .log) was not created.
  const auto files = support::Snapshot(m_dir / "c");
  EXPECT_EQ(files.size(), 4u);  // three folders and the log
}

TEST_F(FilelessTraceLog, ModulePathThatCannotBeHadWholeLeavesTheLogFileless) {
  std::filesystem::create_directories(m_dir / "c");
  const std::string huge(40000, 'p');
  support::InstallMachine(R"({"module": "C:\\)" + huge + R"(", "drives": {"C": {"files": "c"}}})",
                          m_dir.Path());
  ::testing::internal::CaptureStdout();
  { TraceLog log; }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to create log file");
  EXPECT_TRUE(support::Snapshot(m_dir / "c").empty());
}

}  // namespace
