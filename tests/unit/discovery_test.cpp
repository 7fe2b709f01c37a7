// Finding the recovery volume: the system ID of a boot sector, the search over
// the drives, and their trace entries byte for byte.
#include "discovery/discovery.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

namespace {

using support::BootSector;
using support::LogBytes;
using support::LogHeader;
using support::Summary;
using support::WriteBytes;

const std::u16string kCString =
    u"class ATL::CStringT<unsigned short,class StrTraitMFC<unsigned short,class ATL::ChTraitsCRT<unsigned short> > >";
const std::u16string kEnterGetSystemID = u"Enter " + kCString + u" __cdecl GetSystemID(" + kCString + u")";
const std::u16string kEnterIsNTFS = u"Enter int __cdecl IsNTFS(" + kCString + u")";
const std::u16string kEnterGetDriveLetter =
    u"Enter int __cdecl GetDriveLetter(const unsigned short *,unsigned short *)";

std::string Sector8(const char* text) { return std::string(text, 8); }

struct SectorCase {
  const char* name;
  std::string at3;
  std::string at496;
  std::string fsFlags;  // the JSON value, or empty for none (the query fails)
  std::u16string id;
  friend void PrintTo(const SectorCase& c, std::ostream* os) { *os << c.name; }
};

const SectorCase kSectors[] = {
    {"FatReadsOffset3", "RECOVERY", "NTFSJUNK", "0", u"RECOVERY"},
    {"NtfsReadsOffset496", "NTFS    ", "RECOVERY", "8", u"RECOVERY"},
    {"NtfsAmongOtherFlags", "RECOVERY", "WINDOWS", "65535", u"WINDOWS"},
    {"FlagsNotQueryableReadsOffset496", "RECOVERY", "SYSID496", "", u"SYSID496"},
    {"EightBytesNoZeroStopsAtEight", "RECOVERYX", "", "0", u"RECOVERY"},
    {"ZeroAtPosition0", Sector8("\0ECOVERY"), "", "0", u""},
    {"ZeroAtPosition1", Sector8("R\0COVERY"), "", "0", u"R"},
    {"ZeroAtPosition2", Sector8("RE\0OVERY"), "", "0", u"RE"},
    {"ZeroAtPosition3", Sector8("REC\0VERY"), "", "0", u"REC"},
    {"ZeroAtPosition4", Sector8("RECO\0ERY"), "", "0", u"RECO"},
    {"ZeroAtPosition5", Sector8("RECOV\0RY"), "", "0", u"RECOV"},
    {"ZeroAtPosition6", Sector8("RECOVE\0Y"), "", "0", u"RECOVE"},
    {"ZeroAtPosition7", Sector8("RECOVER\0"), "", "0", u"RECOVER"},
    {"AnsiBytesAreConverted", "\x80\xE9\x9F\xFF", "", "0", u"\u20AC\u00E9\u0178\u00FF"},
};

class SystemIdTable : public support::SimMachineTest, public ::testing::WithParamInterface<SectorCase> {};

TEST_P(SystemIdTable, ReadsTheFieldItsFileSystemSelects) {
  const SectorCase& c = GetParam();
  WriteBytes(m_dir / "d.bin", BootSector(c.at3, c.at496) + "after the sector");
  Install(R"("D": {"volume": "d.bin")" + (c.fsFlags.empty() ? std::string() : R"(, "fs_flags": )" + c.fsFlags) + "}");
  CString id;
  const std::string log = Logged([&] { id = GetSystemID(_T("D:\\")); });
  EXPECT_EQ(id.Str(), c.id);
  EXPECT_EQ(log, LogBytes({LogHeader(), u"   " + kEnterGetSystemID, u"      " + kEnterIsNTFS, u"      Exit IsNTFS",
                           u"   Exit GetSystemID", Summary(0, 0)}));
  EXPECT_EQ(OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BootSectors, SystemIdTable, ::testing::ValuesIn(kSectors),
                         [](const auto& info) { return std::string(info.param.name); });

using SystemId = support::SimMachineTest;

TEST_F(SystemId, DriveThatCannotBeOpenedLogsLine215AndSkipsIsNTFS) {
  Install(R"("D": {"fail": {"CreateFileW": 5}})");
  CString id = _T("unchanged");
  const std::string log = Logged([&] { id = GetSystemID(_T("D:\\")); });
  EXPECT_EQ(id.Str(), u"");
  EXPECT_EQ(log, LogBytes({LogHeader(), u"   " + kEnterGetSystemID,
                           u"      line 215: ERROR: Cannot open handle on drive D:\\: Access is denied.", u"",
                           u"   Exit GetSystemID", Summary(1, 0)}));
  EXPECT_EQ(Calls(), (std::vector<std::string>{"CreateFileW \\\\.\\D:"}));
}

TEST_F(SystemId, SectorThatCannotBeReadLogsLine210AndClosesTheVolume) {
  Install(R"("D": {"fs_flags": 8, "fail": {"ReadFile": 23}})");
  CString id;
  const std::string log = Logged([&] { id = GetSystemID(_T("D:\\")); });
  EXPECT_EQ(id.Str(), u"");
  EXPECT_EQ(log, LogBytes({LogHeader(), u"   " + kEnterGetSystemID,
                           u"      line 210: ERROR: Cannot read System ID from drive D:\\: Data error (cyclic "
                           u"redundancy check).",
                           u"", u"   Exit GetSystemID", Summary(1, 0)}));
  EXPECT_EQ(Calls(), (std::vector<std::string>{"CreateFileW \\\\.\\D:", "ReadFile 4096", "CloseHandle"}));
  EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(SystemId, DevicePathIsTheDrivesFirstTwoCharacters) {
  Install(R"("X": {"fs_flags": 0})");
  Logged([&] {
    GetSystemID(_T("X:\\some\\dir"));
    GetSystemID(_T("X"));
  });
  EXPECT_EQ(Calls().at(0), "CreateFileW \\\\.\\X:");
  EXPECT_EQ(Calls().at(1), "ReadFile 4096");
  EXPECT_EQ(Calls().at(2), "GetVolumeInformationW X:\\");  // IsNTFS asks for the root alone
  EXPECT_EQ(Calls().at(4), "CreateFileW \\\\.\\X");        // no colon: no such device
}

TEST_F(SystemId, VolumeWith4096ByteSectorsIsRead) {
  WriteBytes(m_dir / "d.bin", BootSector("", "RECOVERY") + std::string(8192, '\0'));
  Install(R"("D": {"volume": "d.bin", "fs_flags": 8, "sector_size": 4096})");
  EXPECT_EQ(Logged([] { EXPECT_EQ(GetSystemID(_T("D:\\")).Str(), u"RECOVERY"); }).size() > 0, true);
  // The simulator refuses what such a disk refuses: a read of one 512-byte sector.
  HANDLE h = CreateFileW(u"\\\\.\\D:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr);
  BYTE buffer[512];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(h, buffer, 512, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseHandle(h);
}

TEST_F(SystemId, ShortVolumeReadsAsZeroPastItsEnd) {
  WriteBytes(m_dir / "d.bin", std::string("\xEB\x3C\x90RECO", 7));  // seven bytes, no more
  Install(R"("D": {"volume": "d.bin", "fs_flags": 0})");
  Logged([] { EXPECT_EQ(GetSystemID(_T("D:\\")).Str(), u"RECO"); });
}

struct SearchCase {
  const char* name;
  std::string drives;
  int found;
  WCHAR letter;                      // when found
  std::vector<std::u16string> tested;  // the roots of the "Test drive" entries, in order
  std::vector<std::string> opened;     // the devices opened, in order
  friend void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }
};

std::string Ntfs(const std::string& file) { return R"({"volume": ")" + file + R"(", "fs_flags": 8})"; }

const SearchCase kSearches[] = {
    {"LowerOfTwoRecoveryLettersWinsHigherNeverOpened",
     R"("C": )" + Ntfs("windows.bin") + R"(, "E": )" + Ntfs("recovery.bin") + R"(, "F": )" + Ntfs("recovery.bin"),
     1, u'E', {u"C:\\", u"E:\\"}, {"\\\\.\\C:", "\\\\.\\E:"}},
    {"RecoveryOnC", R"("C": )" + Ntfs("recovery.bin") + R"(, "D": )" + Ntfs("recovery.bin"), 1, u'C', {u"C:\\"},
     {"\\\\.\\C:"}},
    {"LowerCaseAndSevenLettersDoNotMatch",
     R"("C": )" + Ntfs("lower.bin") + R"(, "D": )" + Ntfs("recover.bin"), 0, 0, {u"C:\\", u"D:\\"},
     {"\\\\.\\C:", "\\\\.\\D:"}},
    {"RemovableRemoteOpticalAndRamNeverExamined",
     R"("D": {"type": 2, "volume": "recovery.bin", "fs_flags": 8}, "E": {"type": 4, "volume": "recovery.bin", "fs_flags": 8},
        "F": {"type": 5, "volume": "recovery.bin", "fs_flags": 8}, "G": {"type": 6, "volume": "recovery.bin", "fs_flags": 8},
        "H": {"type": 0, "volume": "recovery.bin", "fs_flags": 8}, "I": {"type": 1, "volume": "recovery.bin", "fs_flags": 8})",
     0, 0, {}, {}},
    {"DriveBIsNeverExamined", R"("B": {"type": 3, "volume": "recovery.bin", "fs_flags": 8})", 0, 0, {}, {}},
    {"UnreadableDrivesArePassedOver",
     R"("C": {"fail": {"CreateFileW": 21}}, "D": {"fail": {"ReadFile": 1117}}, "E": )" + Ntfs("recovery.bin"), 1, u'E',
     {u"C:\\", u"D:\\", u"E:\\"}, {"\\\\.\\C:", "\\\\.\\D:", "\\\\.\\E:"}},
    {"RecoveryOnZ", R"("Z": )" + Ntfs("recovery.bin"), 1, u'Z', {u"Z:\\"}, {"\\\\.\\Z:"}},
    {"LowerCaseDriveKeyIsTheSameLetter", R"("e": )" + Ntfs("recovery.bin"), 1, u'E', {u"E:\\"}, {"\\\\.\\E:"}},
};

class DriveSearch : public support::SimMachineTest, public ::testing::WithParamInterface<SearchCase> {};

TEST_P(DriveSearch, FindsTheFirstFixedRecoveryDrive) {
  const SearchCase& c = GetParam();
  WriteBytes(m_dir / "recovery.bin", BootSector("NTFS    ", "RECOVERY"));
  WriteBytes(m_dir / "windows.bin", BootSector("NTFS    ", "WINDOWS"));
  WriteBytes(m_dir / "lower.bin", BootSector("NTFS    ", "recovery"));
  WriteBytes(m_dir / "recover.bin", BootSector("NTFS    ", "RECOVER"));
  Install(c.drives);
  WCHAR letter = u'?';
  int found = -1;
  const std::string log = Logged([&] { found = GetDriveLetter(nullptr, &letter); });
  EXPECT_EQ(found, c.found);
  EXPECT_EQ(letter, c.found ? c.letter : u'?');  // untouched when nothing is found

  std::vector<std::string> tested, opened;
  for (const std::string& line : support::LogLines(log))
    if (line.rfind("      line 239: Test drive ", 0) == 0) tested.push_back(line.substr(27));
  for (const std::string& call : Calls())
    if (call.rfind("CreateFileW ", 0) == 0) opened.push_back(call.substr(12));
  std::vector<std::string> expectedTested;
  for (const auto& root : c.tested) expectedTested.push_back(support::Utf8(root));
  EXPECT_EQ(tested, expectedTested);
  EXPECT_EQ(opened, c.opened);
  const auto lines = support::LogLines(log);
  EXPECT_EQ(lines.at(lines.size() - 3), "      line 250: bDriveFound=" + std::to_string(c.found));
  EXPECT_EQ(OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Machines, DriveSearch, ::testing::ValuesIn(kSearches),
                         [](const auto& info) { return std::string(info.param.name); });

using DriveSearchTrace = support::SimMachineTest;

TEST_F(DriveSearchTrace, TwoFixedDrivesNeitherRecovery) {
  WriteBytes(m_dir / "c.bin", BootSector("NTFS    ", "WINDOWS"));
  Install(R"("C": {"volume": "c.bin", "fs_flags": 8}, "D": {"fail": {"CreateFileW": 2}})");
  WCHAR letter = 0;
  const std::string log = Logged([&] { EXPECT_EQ(GetDriveLetter(_T("ignored"), &letter), 0); });
  EXPECT_EQ(log, LogBytes({LogHeader(), u"   " + kEnterGetDriveLetter, u"      line 239: Test drive C:\\",
                           u"      " + kEnterGetSystemID, u"         " + kEnterIsNTFS, u"         Exit IsNTFS",
                           u"      Exit GetSystemID", u"      line 239: Test drive D:\\", u"      " + kEnterGetSystemID,
                           u"         line 215: ERROR: Cannot open handle on drive D:\\: The system cannot find the "
                           u"file specified.",
                           u"", u"      Exit GetSystemID", u"      line 250: bDriveFound=0", u"   Exit GetDriveLetter",
                           Summary(1, 0)}));
}

}  // namespace
