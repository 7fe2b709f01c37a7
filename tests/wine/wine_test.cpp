// rplayout.exe under Wine, run as a black box in a scratch Wine prefix of the
// build's own: what it leaves on the console, in its exit code and in its log.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_profile.h"

#include <algorithm>
#include <map>
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

std::string DosPath(const fs::path& path) {
  std::string dos = "Z:" + path.string();
  for (char& c : dos)
    if (c == '/') c = '\\';
  return dos;
}

// Wine's own drives: C: is a folder whose device cannot be read, Z: is the host's
// root.
TEST(Wine, NoArgumentOnWinesDefaultDrivesFindsNoRecoveryVolume) {
  TempDir dir;
  fs::copy_file(kExe, dir / "rplayout.exe");
  const auto r = RunWine({(dir / "rplayout.exe").string()});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string bytes = support::ReadBytes(dir / "rplayout.exe.log");
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));
  const auto lines = support::LogLines(bytes);
  // Z: is the host's root: whether Wine fails to open its device or to read it
  // depends on the host's root file system, and either is an Error entry with
  // Wine's text.
  const std::string zOpen = "         line 215: ERROR: Cannot open handle on drive Z:\\: ";
  const std::string zRead = "         line 210: ERROR: Cannot read System ID from drive Z:\\: ";
  const bool zReadFails =
      std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(zRead, 0) == 0; });
  ExpectLog(lines,
            {"   Enter int __cdecl GetDriveLetter(const unsigned short *,unsigned short *)",
             "      line 239: Test drive C:\\",
             "      " + kEnterGetSystemID,
             "         line 210: ERROR: Cannot read System ID from drive C:\\: <wine>",
             "      Exit GetSystemID",
             "      line 239: Test drive Z:\\",
             "      " + kEnterGetSystemID,
             (zReadFails ? zRead : zOpen) + "<wine>",
             "      Exit GetSystemID",
             "      line 250: bDriveFound=0",
             "   Exit GetDriveLetter",
             "   line 274: WARNING: Unable to get the recovery drive letter",
             "Execution ends with 2 error(s) and 1 warning(s)."});
}

TEST(Wine, TwoArgumentsShowTheUsageAndReplaceTheLog) {
  TempDir dir;
  fs::copy_file(kExe, dir / "rplayout.exe");
  support::WriteBytes(dir / "rplayout.exe.log", std::string(5000, 'x'));
  const auto r = RunWine({(dir / "rplayout.exe").string(), "E", "F"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  const std::string program = DosPath(dir / "rplayout.exe");  // argv[0] as Wine hands it over
  // (the C runtime writes its standard output in text mode: line ends are CR LF)
  EXPECT_EQ(r.out, "Correct usage: " + program +
                       " [RPDrive]\r\n\r\n\tRPDrive (optional): drive letter of the RP.\r\n"
                       "\tIf the drive is not specified, the module will try to find it.\r\n");
  ExpectLog(support::LogLines(support::ReadBytes(dir / "rplayout.exe.log")),
            {"   line 285: WARNING: Incorrect parameters. Correct usage: " + program + " [RP letter]",
             "Execution ends with 0 error(s) and 1 warning(s)."});
}

// A letter given on the command line whose extents request fails under Wine.
void ExpectLookupFailsWithExitCode4(const fs::path& dir, const std::string& letter) {
  fs::copy_file(kExe, dir / "rplayout.exe");
  const auto r = RunWine({(dir / "rplayout.exe").string(), letter});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  ExpectLog(support::LogLines(support::ReadBytes(dir / "rplayout.exe.log")),
            {"   Enter unsigned long __cdecl GetDriveNumberFromDriveLetter(unsigned short)",
             "      line 34: strVolume=\\\\.\\" + letter + ":",
             "      line 63: ERROR: Function to get disk number failed: <wine>",
             "      line 70: dwRetVal=-1",
             "   Exit GetDriveNumberFromDriveLetter",
             "Execution ends with 1 error(s) and 0 warning(s)."});
}

TEST_F(WineImageDrive, ImageBackedLetterEndsWithExitCode4) { ExpectLookupFailsWithExitCode4(m_dir.Path(), "D"); }

TEST_F(WineImageDrive, LetterCEndsWithExitCode4) { ExpectLookupFailsWithExitCode4(m_dir.Path(), "C"); }

TEST(Wine, InitialisationAddsItsErrorModeFlagsToThoseSet) {
  const auto r = RunWine({(kWin64Dir / "error-mode-probe.exe").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // SEM_NOGPFAULTERRORBOX kept, SEM_FAILCRITICALERRORS and SEM_NOOPENFILEERRORBOX added.
  // (the C runtime writes its standard output in text mode: the line ends with CR LF)
  EXPECT_EQ(r.out, std::to_string(0x0002 | 0x0001 | 0x8000) + "\r\n");
}

}  // namespace

namespace {

// The sections, keys and values of a profile file, as names without regard to
// case; the first of two same names counts, as a reader finds it first. Lines
// outside any section, and lines without "=", hold no value.
using Content = std::map<std::string, std::map<std::string, std::string>>;

Content ParseProfile(const std::string& bytes) {
  std::u16string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  } else {
    for (const char c : bytes) text.push_back(static_cast<unsigned char>(c));  // Latin-1 is enough here
  }
  auto trim = [](std::string s) {
    const auto b = s.find_first_not_of(" \t\r");
    const auto e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  };
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  Content content;
  std::string section;
  bool inSection = false;
  std::string all = support::Utf8(text);
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    const std::string line = trim(all.substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line[0] == '[') {
      section = upper(trim(line.substr(1, line.find(']') - 1)));
      inSection = true;
      content[section];
      continue;
    }
    const auto eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    content[section].emplace(upper(trim(line.substr(0, eq))), trim(line.substr(eq + 1)));
  }
  return content;
}

struct DiffCase {
  const char* name;
  std::string before;
  std::string section, key, value;
};

const DiffCase kDiffCases[] = {
    {"OtherSectionsAround", "[Boot]\r\nA=1\r\n\r\n[General]\r\nDisk_Size=5\r\n\r\n[Other]\r\nB=2\r\n", "General",
     "Disk_Size", "123"},
    {"SectionInAnotherCase", "[general]\r\nx=1\r\n", "General", "Disk_Size", "7"},
    {"KeyInAnotherCaseWithSpaces", "[General]\r\n  disk_size =  5  \r\nB=1\r\n", "General", "Disk_Size", "77"},
    {"CommentsAndBlankLines", "; factory\r\n\r\n[General]\r\n; keep\r\nA=1\r\n\r\n[Next]\r\nC=3\r\n", "General",
     "VolumeName", "\\\\?\\Volume{1}\\"},
    {"LfOnly", "[General]\nA=1\nB=2\n", "General", "A", "9"},
    {"NoLineEndAtTheEnd", "[General]\r\nA=1", "General", "K", "V"},
    {"EmptyFile", "", "General", "Disk_Size", "0"},
    {"MissingSection", "[Other]\r\nB=2\r\n", "General", "K", "V"},
    {"Utf16Le", "\xFF\xFE" + support::Utf16Le(u"[General]\r\nA=1\r\n[Z]\r\nQ=1\r\n"), "General", "A", "2"},
    {"Utf16LeNewKey", "\xFF\xFE" + support::Utf16Le(u"[General]\r\nA=1\r\n"), "General", "Recovery_Partition_Start",
     "63350767616"},
};

TEST(WineProfileWriter, SameContentAsOursOnTheSameFiles) {
  TempDir dir;
  std::vector<std::string> argv{(kWin64Dir / "profile-probe.exe").string()};
  for (std::size_t i = 0; i < std::size(kDiffCases); ++i) {
    const fs::path file = dir / (std::to_string(i) + ".dat");
    support::WriteBytes(file, kDiffCases[i].before);
    std::string winePath = "Z:" + file.string();
    for (char& c : winePath)
      if (c == '/') c = '\\';
    argv.insert(argv.end(), {winePath, kDiffCases[i].section, kDiffCases[i].key, kDiffCases[i].value});
  }
  const auto r = RunWine(argv);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (std::size_t i = 0; i < std::size(kDiffCases); ++i) {
    const DiffCase& c = kDiffCases[i];
    const std::string wine = support::ReadBytes(dir / (std::to_string(i) + ".dat"));
    const std::string ours = sim::ApplyProfileWrite(c.before, support::U16(c.section), support::U16(c.key),
                                                    support::U16(c.value));
    auto upper = [](std::string s) {
      for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      return s;
    };
    EXPECT_EQ(ParseProfile(wine)[upper(c.section)][upper(c.key)], c.value) << c.name;
    EXPECT_EQ(ParseProfile(ours), ParseProfile(wine)) << c.name << "\nours: " << ::testing::PrintToString(ours)
                                                      << "\nwine: " << ::testing::PrintToString(wine);
  }
  std::string allWritten;
  for (std::size_t i = 0; i < std::size(kDiffCases); ++i) allWritten += "1\r\n";
  EXPECT_EQ(r.out, allWritten);
}

}  // namespace
