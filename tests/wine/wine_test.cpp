// rplayout.exe under Wine, run as a black box in a scratch Wine prefix of the
// build's own: what it leaves on the console, in its exit code and in its log.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

namespace fs = std::filesystem;
using support::RunProcess;
using support::TempDir;

const std::string kExe = RPLAYOUT_EXE;
const fs::path kWin64Dir = fs::path(RPLAYOUT_EXE).parent_path();

support::ProcessResult RunWine(const std::vector<std::string>& argv) {
  std::vector<std::string> full{"wine"};
  full.insert(full.end(), argv.begin(), argv.end());
  return RunProcess(full, {{"WINEPREFIX", RPLAYOUT_WINE_PREFIX},
                           {"WINEDEBUG", "-all"},
                           {"WINEARCH", "win64"},
                           {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                           {"DISPLAY", ""}});
}

const std::regex kHeader(
    "Compiled in (Sun|Mon|Tue|Wed|Thu|Fri|Sat) [A-Z][a-z]{2} [ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");

TEST(Wine, ReadyToolLeavesItsLogBesideItself) {
  TempDir dir;
  fs::copy_file(kExe, dir / "rplayout.exe");
  const auto r = RunWine({(dir / "rplayout.exe").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string bytes = support::ReadBytes(dir / "rplayout.exe.log");
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));
  const auto lines = support::LogLines(bytes);
  ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
  EXPECT_TRUE(std::regex_match(lines[0], kHeader)) << lines[0];
  EXPECT_EQ(lines[1], "Execution ends with 0 error(s) and 0 warning(s).");
}

TEST(Wine, SecondRunReplacesTheLog) {
  TempDir dir;
  fs::copy_file(kExe, dir / "rplayout.exe");
  support::WriteBytes(dir / "rplayout.exe.log", std::string(5000, 'x'));
  const auto r = RunWine({(dir / "rplayout.exe").string()});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(support::LogLines(support::ReadBytes(dir / "rplayout.exe.log")).size(), 2u);
}

TEST(Wine, InitialisationAddsItsErrorModeFlagsToThoseSet) {
  const auto r = RunWine({(kWin64Dir / "error-mode-probe.exe").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // SEM_NOGPFAULTERRORBOX kept, SEM_FAILCRITICALERRORS and SEM_NOOPENFILEERRORBOX added.
  // (the C runtime writes its standard output in text mode: the line ends with CR LF)
  EXPECT_EQ(r.out, std::to_string(0x0002 | 0x0001 | 0x8000) + "\r\n");
}

}  // namespace
