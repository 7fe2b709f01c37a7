// The simulated profile writer: the files that users really have, each checked
// byte for byte after one write, and what a failed or interrupted write leaves.
#include "platform/sim/sim_profile.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

namespace {

using support::ReadBytes;
using support::Utf16Le;
using support::WriteBytes;

struct ProfileCase {
  const char* name;
  std::string before;
  std::u16string section, key, value;
  std::string after;
  friend void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }
};

const std::string kBom16 = "\xFF\xFE";

const ProfileCase kProfiles[] = {
    {"ValueReplacedInPlaceBetweenOtherSections",
     "[Boot]\r\nA=1\r\n\r\n[General]\r\nDisk_Size=5\r\nB=2\r\n\r\n[Other]\r\nDisk_Size=9\r\n", u"General", u"Disk_Size",
     u"123", "[Boot]\r\nA=1\r\n\r\n[General]\r\nDisk_Size=123\r\nB=2\r\n\r\n[Other]\r\nDisk_Size=9\r\n"},
    {"MissingKeyAddedAfterTheSectionsLastLine", "[General]\r\nA=1\r\n\r\n\r\n[Next]\r\nC=3\r\n", u"General",
     u"VolumeName", u"\\\\?\\Volume{1}\\",
     "[General]\r\nA=1\r\nVolumeName=\\\\?\\Volume{1}\\\r\n\r\n\r\n[Next]\r\nC=3\r\n"},
    {"SectionInAnotherCase", "[gEnErAl]\r\nx=1\r\n", u"General", u"Disk_Size", u"7",
     "[gEnErAl]\r\nx=1\r\nDisk_Size=7\r\n"},
    {"SectionHeaderWithSpaces", "  [ General ]  \r\nx=1\r\n", u"General", u"x", u"2", "  [ General ]  \r\nx=2\r\n"},
    {"KeyInAnotherCaseWithSpacesAroundEquals", "[General]\r\n  disk_size =  5  \r\nB=1\r\n", u"General",
     u"Disk_Size", u"77", "[General]\r\n  disk_size =  77\r\nB=1\r\n"},
    {"KeyWithTabs", "[General]\r\n\tDisk_Size\t=\t5\r\n", u"General", u"Disk_Size", u"6",
     "[General]\r\n\tDisk_Size\t=\t6\r\n"},
    {"CommentsAndBlankLinesStay", "; factory settings\r\n\r\n[General]\r\n; keep this\r\nA=1\r\n\r\n; trailer\r\n",
     u"General", u"Disk_Size", u"1", "; factory settings\r\n\r\n[General]\r\n; keep this\r\nA=1\r\n\r\n; trailer\r\nDisk_Size=1\r\n"},
    {"LfOnlyLineEndsKeptAroundTheChange", "[General]\nA=1\nB=2\n", u"General", u"A", u"9", "[General]\nA=9\nB=2\n"},
    {"LfOnlyNewKeyGetsCrLf", "[General]\nA=1\n", u"General", u"K", u"V", "[General]\nA=1\nK=V\r\n"},
    {"NoLineEndAtTheEndReplaced", "[General]\r\nA=1", u"General", u"A", u"22", "[General]\r\nA=22"},
    {"NoLineEndAtTheEndNewKey", "[General]\r\nA=1", u"General", u"K", u"V", "[General]\r\nA=1\r\nK=V"},
    {"HeaderAloneWithoutLineEnd", "[General]", u"General", u"K", u"V", "[General]\r\nK=V"},
    {"EmptyFile", "", u"General", u"Disk_Size", u"0", "[General]\r\nDisk_Size=0\r\n"},
    {"MissingSectionAppended", "[Other]\r\nB=2\r\n", u"General", u"K", u"V", "[Other]\r\nB=2\r\n[General]\r\nK=V\r\n"},
    {"MissingSectionAfterLastLineWithoutEnd", "[Other]\r\nB=2", u"General", u"K", u"V",
     "[Other]\r\nB=2\r\n[General]\r\nK=V\r\n"},
    {"KeyBeforeAnySectionIsNotTheSectionsKey", "Disk_Size=1\r\n[General]\r\n", u"General", u"Disk_Size", u"2",
     "Disk_Size=1\r\n[General]\r\nDisk_Size=2\r\n"},
    {"FirstOfTwoSameSectionsIsWritten", "[General]\r\nA=1\r\n[General]\r\nA=2\r\n", u"General", u"A", u"3",
     "[General]\r\nA=3\r\n[General]\r\nA=2\r\n"},
    {"KeyWithoutValue", "[General]\r\nDisk_Size=\r\n", u"General", u"Disk_Size", u"5", "[General]\r\nDisk_Size=5\r\n"},
    {"LineWithoutEqualsIsNoKey", "[General]\r\nDisk_Size\r\n", u"General", u"Disk_Size", u"5",
     "[General]\r\nDisk_Size\r\nDisk_Size=5\r\n"},
    {"AnsiFileTakesAnsiBytes", "[General]\r\nName=caf\xE9\r\n", u"General", u"VolumeName", u"\u00e9t\u00e9\u20ac",
     "[General]\r\nName=caf\xE9\r\nVolumeName=\xE9t\xE9\x80\r\n"},
    {"Utf16LeReplaced", kBom16 + Utf16Le(u"[General]\r\nA=1\r\nB=\u00e9\r\n"), u"General", u"A", u"2",
     kBom16 + Utf16Le(u"[General]\r\nA=2\r\nB=\u00e9\r\n")},
    {"Utf16LeNewKeyAndSection", kBom16 + Utf16Le(u"[Other]\r\nB=2\r\n"), u"General", u"K", u"\u20ac",
     kBom16 + Utf16Le(u"[Other]\r\nB=2\r\n[General]\r\nK=\u20ac\r\n")},
    {"Utf16LeOnlyByteOrderMark", kBom16, u"General", u"K", u"V", kBom16 + Utf16Le(u"[General]\r\nK=V\r\n")},
    {"Utf8ByteOrderMarkKept", "\xEF\xBB\xBF[General]\r\nA=1\r\n", u"General", u"A", u"\u00e9",
     "\xEF\xBB\xBF[General]\r\nA=\xC3\xA9\r\n"},
    {"Utf16LeOddLengthKeepsItsStrayByteLast", kBom16 + Utf16Le(u"[General]\r\nA=1") + "\x41", u"General", u"K", u"V",
     kBom16 + Utf16Le(u"[General]\r\nA=1\r\nK=V") + "\x41"},
    {"Utf16LeOddLengthNewSection", kBom16 + Utf16Le(u"[X]\r\n") + "\x41", u"General", u"K", u"V",
     kBom16 + Utf16Le(u"[X]\r\n[General]\r\nK=V\r\n") + "\x41"},
    {"BinaryBytesOutsideTheLineStay", std::string("\x01\x00\xFF\r\n[General]\r\nA=1\r\n\x00\x7F", 19), u"General",
     u"A", u"2", std::string("\x01\x00\xFF\r\n[General]\r\nA=2\r\n\x00\x7F", 19)},
};

class ProfileWrites : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileWrites, ChangeOnlyTheLineOfTheKey) {
  const ProfileCase& c = GetParam();
  EXPECT_EQ(sim::ApplyProfileWrite(c.before, c.section, c.key, c.value), c.after);
}

INSTANTIATE_TEST_SUITE_P(Files, ProfileWrites, ::testing::ValuesIn(kProfiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileWriteRule, RemovingKeysAndSections) {
  const std::string file = "[A]\r\nx=1\r\n[General]\r\nk=1\r\nj=2\r\n[B]\r\ny=2\r\n";
  EXPECT_EQ(sim::ApplyProfileWrite(file, u"General", u"K", std::nullopt), "[A]\r\nx=1\r\n[General]\r\nj=2\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(sim::ApplyProfileWrite(file, u"general", std::nullopt, std::nullopt), "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(sim::ApplyProfileWrite(file, u"None", u"k", std::nullopt), file);
}

TEST(ProfileWriteRule, RefusesWhatWouldBreakTheFilesLines) {
  EXPECT_TRUE(sim::ValidProfileWrite(u"General", u"Disk_Size", u"1"));
  EXPECT_FALSE(sim::ValidProfileWrite(u"General", u"Disk_Size", u"1\r\n[Evil]"));
  EXPECT_FALSE(sim::ValidProfileWrite(u"Gen]eral", u"Disk_Size", u"1"));
  EXPECT_FALSE(sim::ValidProfileWrite(u"General", u"a=b", u"1"));
  EXPECT_FALSE(sim::ValidProfileWrite(u"General", u"[x", u"1"));
}

class ProfileFiles : public support::SimMachineTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(m_dir / "e");
    Install(R"("E": {"files": "e"})");
  }
  std::filesystem::path Zez() const { return m_dir / "e/PRELOAD/ZEZ.DAT"; }
  BOOL Write(const char16_t* key, const char16_t* value) {
    return WritePrivateProfileStringW(u"General", key, value, u"e:\\preload\\zez.dat");
  }
  std::size_t FilesInPreload() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir / "e/PRELOAD")) ++n;
    return n;
  }
};

const std::string kZez = "; ZEZ\r\n[General]\r\nDisk_Size=1\r\n\r\n[Other]\r\nX=1\r\n";

TEST_F(ProfileFiles, WritesThroughToTheFileAndKeepsItsMode) {
  WriteBytes(Zez(), kZez);
  std::filesystem::permissions(Zez(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                          std::filesystem::perms::group_read);
  EXPECT_TRUE(Write(u"Disk_Size", u"2"));
  EXPECT_TRUE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, u"E:\\PRELOAD\\ZEZ.DAT"));
  EXPECT_EQ(ReadBytes(Zez()), "; ZEZ\r\n[General]\r\nDisk_Size=2\r\n\r\n[Other]\r\nX=1\r\n");
  EXPECT_EQ(std::filesystem::status(Zez()).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write | std::filesystem::perms::group_read);
  EXPECT_EQ(FilesInPreload(), 1u);  // no temporary file left beside it
}

TEST_F(ProfileFiles, MissingFileIsCreatedAsWindowsCreatesIt) {
  std::filesystem::create_directories(m_dir / "e/PRELOAD");
  EXPECT_TRUE(Write(u"Disk_Size", u"5"));  // named e:\preload\zez.dat: a new file keeps that spelling
  EXPECT_EQ(ReadBytes(m_dir / "e/PRELOAD/zez.dat"), "[General]\r\nDisk_Size=5\r\n");
  EXPECT_FALSE(WritePrivateProfileStringW(u"General", u"K", u"V", u"E:\\NOFOLDER\\ZEZ.DAT"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(ProfileFiles, ReadOnlyFileAndFolderAreRefusedUntouched) {
  WriteBytes(Zez(), kZez);
  std::filesystem::permissions(Zez(), std::filesystem::perms::owner_read);
  EXPECT_FALSE(Write(u"Disk_Size", u"2"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadBytes(Zez()), kZez);
  std::filesystem::create_directories(m_dir / "e/PRELOAD/DIR.DAT");
  EXPECT_FALSE(WritePrivateProfileStringW(u"General", u"K", u"V", u"E:\\PRELOAD\\DIR.DAT"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// A write failed at each of its steps (reading, creating the temporary file,
// writing it, flushing it, renaming it, flushing the folder) leaves the old file
// or the new one, whole, and no temporary file.
TEST_F(ProfileFiles, FailureAtEachStepLeavesTheOldFileOrTheNew) {
  const std::string updated = "; ZEZ\r\n[General]\r\nDisk_Size=2\r\n\r\n[Other]\r\nX=1\r\n";
  int newAt = 0;
  for (int step = 1; step <= 7; ++step) {
    WriteBytes(Zez(), kZez);
    sim::Current().FailFileOperationAt(sim::Current().FileOperationCount() + step, ERROR_IO_DEVICE);
    const BOOL ok = Write(u"Disk_Size", u"2");
    sim::Current().FailFileOperationAt(0, 0);
    const std::string now = ReadBytes(Zez());
    EXPECT_TRUE(now == kZez || now == updated) << "step " << step;
    if (!ok) {
      EXPECT_EQ(GetLastError(), ERROR_IO_DEVICE) << "step " << step;
    } else {
      EXPECT_EQ(now, updated) << "step " << step;
    }
    if (now == updated && newAt == 0) newAt = step;
    EXPECT_EQ(FilesInPreload(), 1u) << "step " << step;
  }
  EXPECT_EQ(newAt, 6);  // the new file is in place once the rename is done
}

}  // namespace
