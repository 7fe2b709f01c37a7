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

// Compares a log's lines with the expected ones, the header by its form. An
// expected line ending in "<wine>" stands for that text followed by Wine's own
// error text (which must be there, and is not Windows' wording), and then the
// empty line that the text's own line end leaves.
void ExpectLog(const std::vector<std::string>& lines, const std::vector<std::string>& expected) {
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(std::regex_match(lines[0], kHeader)) << lines[0];
  std::size_t i = 1;
  for (const std::string& want : expected) {
    ASSERT_LT(i, lines.size()) << "missing: " << want;
    const std::string marker = "<wine>";
    if (want.size() > marker.size() && want.compare(want.size() - marker.size(), marker.size(), marker) == 0) {
      const std::string prefix = want.substr(0, want.size() - marker.size());
      EXPECT_EQ(lines[i].substr(0, prefix.size()), prefix);
      EXPECT_GT(lines[i].size(), prefix.size() + 1) << "no system text: " << lines[i];
      EXPECT_EQ(lines[i].find("Error("), std::string::npos) << lines[i];
      ++i;
      ASSERT_LT(i, lines.size());
      EXPECT_EQ(lines[i], "") << "the system text ends with its own line end";
    } else {
      EXPECT_EQ(lines[i], want);
    }
    ++i;
  }
  EXPECT_EQ(i, lines.size()) << ::testing::PrintToString(lines);
}

const std::string kCString =
    "class ATL::CStringT<unsigned short,class StrTraitMFC<unsigned short,class ATL::ChTraitsCRT<unsigned short> > >";
const std::string kEnterGetSystemID = "Enter " + kCString + " __cdecl GetSystemID(" + kCString + ")";
const std::string kEnterIsNTFS = "Enter int __cdecl IsNTFS(" + kCString + ")";

// Wine's drive D: for one test: the folder d: for its files and, as the raw
// device \\.\D:, the image file that d:: points to.
class WineImageDrive : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "droot");
    std::string sector(8192, '\0');
    sector.replace(3, 8, "NTFS    ");
    sector.replace(496, 8, "RECOVERY");
    support::WriteBytes(m_dir / "d.img", sector);
    fs::copy_file(kWin64Dir / "discovery-probe.exe", m_dir / "discovery-probe.exe");
    RunWine({"cmd", "/c", "exit"});  // the prefix exists from here on
    const fs::path devices = fs::path(RPLAYOUT_WINE_PREFIX) / "dosdevices";
    fs::remove(devices / "d:");
    fs::remove(devices / "d::");
    fs::create_directory_symlink(m_dir / "droot", devices / "d:");
    fs::create_symlink(m_dir / "d.img", devices / "d::");
  }
  void TearDown() override {
    const fs::path devices = fs::path(RPLAYOUT_WINE_PREFIX) / "dosdevices";
    fs::remove(devices / "d:");
    fs::remove(devices / "d::");
  }
  std::vector<std::string> ProbeLog() {
    return support::LogLines(support::ReadBytes(m_dir / "discovery-probe.exe.log"));
  }
  TempDir m_dir;
};

TEST_F(WineImageDrive, SearchFindsTheImageBackedDriveAndItsLookupFails) {
  const auto r = RunWine({(m_dir / "discovery-probe.exe").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "D 1 -1\r\n");
  ExpectLog(ProbeLog(),
            {"   Enter int __cdecl GetDriveLetter(const unsigned short *,unsigned short *)",
             "      line 239: Test drive C:\\",
             "      " + kEnterGetSystemID,
             "         line 210: ERROR: Cannot read System ID from drive C:\\: <wine>",
             "      Exit GetSystemID",
             "      line 239: Test drive D:\\",
             "      " + kEnterGetSystemID,
             "         " + kEnterIsNTFS,
             "         Exit IsNTFS",
             "      Exit GetSystemID",
             "      line 250: bDriveFound=1",
             "   Exit GetDriveLetter",
             "   Enter unsigned long __cdecl GetDriveNumberFromDriveLetter(unsigned short)",
             "      line 34: strVolume=\\\\.\\D:",
             "      line 63: ERROR: Function to get disk number failed: <wine>",
             "      line 70: dwRetVal=-1",
             "   Exit GetDriveNumberFromDriveLetter",
             "Execution ends with 2 error(s) and 0 warning(s)."});
}

TEST_F(WineImageDrive, FolderBackedCAnswersWithNoExtentAndNamesNoDisk) {
  const auto r = RunWine({(m_dir / "discovery-probe.exe").string(), "C"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "C 0 -1\r\n");
  ExpectLog(ProbeLog(),
            {"   Enter unsigned long __cdecl GetDriveNumberFromDriveLetter(unsigned short)",
             "      line 34: strVolume=\\\\.\\C:",
             "      line 63: ERROR: Function to get disk number failed: <wine>",
             "      line 70: dwRetVal=-1",
             "   Exit GetDriveNumberFromDriveLetter",
             "Execution ends with 1 error(s) and 0 warning(s)."});
}

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
