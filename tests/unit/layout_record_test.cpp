// Recording the layout: the size rule and the number format, and each path of
// Pellwick on the simulated machine, checked by ZEZ.DAT's bytes, the trace and the
// order of the writes.
#include "disklib/kzdisk.h"
#include "layoutrecord/layoutrecord.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using support::LogBytes;
using support::LogHeader;
using support::ReadBytes;
using support::Summary;
using support::WriteBytes;

constexpr long long kMiB = 1048576;

struct SizeCase {
  const char* name;
  long long size, start, length, threshold, recorded;
  friend void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }
};

const SizeCase kSizes[] = {
    {"TailEqualToThresholdTakesTheTail", 10 * kMiB, 1 * kMiB, 8 * kMiB, kMiB, 9 * kMiB},
    {"TailOneByteShortTakesTheLength", 10 * kMiB, 1 * kMiB, 8 * kMiB + 1, kMiB, 8 * kMiB + 1},
    {"NoTail", 10 * kMiB, 2 * kMiB, 8 * kMiB, kMiB, 8 * kMiB},
    {"NegativeTailIsSignedSoTakesTheLength", 10 * kMiB, 9 * kMiB, 2 * kMiB, kMiB, 2 * kMiB},
    {"NegativeTailWithThresholdZero", 10 * kMiB, 9 * kMiB, 2 * kMiB, 0, 2 * kMiB},
    {"ZeroTailWithThresholdZeroTakesTheTail", 10 * kMiB, 2 * kMiB, 8 * kMiB, 0, 8 * kMiB},
    {"AbsurdQuantitiesWrapWithoutOverflow", LLONG_MIN, LLONG_MAX, LLONG_MAX, kMiB, LLONG_MAX},
};

class SizeRule : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeRule, RecordsTheTailOnlyFromTheThresholdOn) {
  const SizeCase& c = GetParam();
  CKZDisk disk;
  disk.Size = c.size;
  disk.TailThreshold = c.threshold;
  CKZPartition partition;
  partition.Start = c.start;
  partition.Length = c.length;
  EXPECT_EQ(RecordedPartitionSize(disk, partition), c.recorded);
}

INSTANTIATE_TEST_SUITE_P(Table, SizeRule, ::testing::ValuesIn(kSizes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileNumberText, SixtyFourBitsReadAsUnsigned) {
  EXPECT_EQ(ProfileNumber(0).Str(), u"0");
  EXPECT_EQ(ProfileNumber(63350767616).Str(), u"63350767616");
  EXPECT_EQ(ProfileNumber(LLONG_MIN + 5).Str(), u"9223372036854775813");  // above 2^63
  EXPECT_EQ(ProfileNumber(-1).Str(), u"18446744073709551615");            // twenty digits
}

TEST(DiskLibrary, DefaultsAndCopies) {
  CKZDisk disk;
  EXPECT_EQ(disk.TailThreshold, kMiB);
  EXPECT_EQ(disk.Size, 0);
  CKZPartition a;
  a.Start = 5;
  a.Length = 6;
  CKZPartition b;
  b = a;
  EXPECT_EQ(b.Start, 5);
  EXPECT_EQ(b.Length, 6);
  WCHAR name[260] = {u'x'};
  EXPECT_EQ(b.GetVolume().GetVolumeName(name, 260), 0);  // a partition from no disk has no volume
}

const std::u16string kEnter = u"   Enter void __cdecl Pellwick(const unsigned short *,int)";
const std::u16string kExit = u"   Exit Pellwick";
const char16_t kPath[] = u"E:\\PRELOAD\\ZEZ.DAT";
const std::string kVolume = "\\\\?\\Volume{5A5A5A5A-0000-4000-8000-00000000BEEF}\\";
const std::string kRecoveryType = "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC";
const std::string kEfiType = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";

// A 64 GiB GPT disk: the EFI partition, then the recovery partition of 1 GiB at
// 63,350,767,616, leaving 1,048,576 bytes behind it (the threshold exactly).
const std::string kGptDisk = R"("0": {"size": 64424509440, "style": "gpt", "partitions": [
    {"type": ")" + kEfiType + R"(", "offset": 1048576, "length": 104857600},
    {"type": ")" + kRecoveryType + R"(", "offset": 63350767616, "length": 1072693248}]})";
// The same disk with forced failures, e.g. R"("CreateFileW": 5)".
std::string GptDiskFailing(const std::string& failures) {
  std::string disk = kGptDisk;
  disk.insert(disk.size() - 1, R"(, "fail": {)" + failures + "}");
  return disk;
}

const std::string kRecoveryDrive =
    R"("E": {"files": "e", "disk": 0, "partition": 2, "guid": "5A5A5A5A-0000-4000-8000-00000000BEEF"})";

const std::string kZezBefore =
    "; written at the factory\r\n[Other]\r\nX=1\r\n\r\n[General]\r\nVolumeName=old\r\nModel=PX-1\r\n\r\n[Tail]\r\nY=2\r\n";

class Recording : public support::SimMachineTest {
 protected:
  std::string RunPellwick(int disk = 0) {
    return Logged([&] { Pellwick(kPath, disk); });
  }
  std::filesystem::path Zez() const { return m_dir / "e/PRELOAD/ZEZ.DAT"; }
  std::vector<std::string> Writes() {
    std::vector<std::string> writes;
    for (const std::string& call : Calls())
      if (call.rfind("WritePrivateProfileStringW ", 0) == 0) writes.push_back(call.substr(27));
    return writes;
  }
  bool Called(const std::string& prefix) {
    for (const std::string& call : Calls())
      if (call.rfind(prefix, 0) == 0) return true;
    return false;
  }
  std::vector<std::string> After(const std::string& first) {
    std::vector<std::string> rest;
    bool seen = false;
    for (const std::string& call : Calls()) {
      if (seen) rest.push_back(call);
      if (call == first) seen = true;
    }
    return rest;
  }
};

TEST_F(Recording, FullRunWritesThreeKeysFlushesThenTheDiskSize) {
  WriteBytes(Zez(), kZezBefore);
  Install(kRecoveryDrive, kGptDisk);
  EXPECT_EQ(RunPellwick(), LogBytes({LogHeader(), kEnter, kExit, Summary(0, 0)}));
  EXPECT_EQ(Writes(), (std::vector<std::string>{"General Recovery_Partition_Start 63350767616",
                                                "General Recovery_Partition_Size 1073741824",
                                                "General VolumeName " + kVolume, "(null) (null) (null)",
                                                "General Disk_Size 64424509440", "(null) (null) (null)"}));
  EXPECT_EQ(ReadBytes(Zez()),
            "; written at the factory\r\n[Other]\r\nX=1\r\n\r\n[General]\r\nVolumeName=" + kVolume +
                "\r\nModel=PX-1\r\nRecovery_Partition_Start=63350767616\r\nRecovery_Partition_Size=1073741824\r\n"
                "Disk_Size=64424509440\r\n\r\n[Tail]\r\nY=2\r\n");
  EXPECT_EQ(After("General Disk_Size 64424509440").size(), 0u);
  EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(Recording, SecondRunLeavesTheFileAsTheFirstLeftIt) {
  WriteBytes(Zez(), kZezBefore);
  Install(kRecoveryDrive, kGptDisk);
  RunPellwick();
  const std::string first = ReadBytes(Zez());
  RunPellwick();
  EXPECT_EQ(ReadBytes(Zez()), first);
}

TEST_F(Recording, VolumeWithoutNameKeepsTheOldName) {
  WriteBytes(Zez(), kZezBefore);
  // E: holds ZEZ.DAT but is not the volume of the recovery partition, and no
  // volume is.
  Install(R"("E": {"files": "e", "extents": [{"disk": 0, "offset": 1048576, "length": 104857600}]})", kGptDisk);
  EXPECT_EQ(RunPellwick(), LogBytes({LogHeader(), kEnter, kExit, Summary(0, 0)}));
  EXPECT_EQ(Writes(), (std::vector<std::string>{"General Recovery_Partition_Start 63350767616",
                                                "General Recovery_Partition_Size 1073741824", "(null) (null) (null)",
                                                "General Disk_Size 64424509440", "(null) (null) (null)"}));
  EXPECT_NE(ReadBytes(Zez()).find("VolumeName=old\r\n"), std::string::npos);
}

TEST_F(Recording, UnreadablePartitionsWriteOnlyTheDiskSize) {
  WriteBytes(Zez(), kZezBefore);
  Install(kRecoveryDrive, GptDiskFailing(R"("IOCTL_DISK_GET_DRIVE_LAYOUT_EX": 1117)"));
  EXPECT_EQ(RunPellwick(), LogBytes({LogHeader(), kEnter, kExit, Summary(0, 0)}));
  EXPECT_EQ(Writes(), (std::vector<std::string>{"General Disk_Size 64424509440", "(null) (null) (null)"}));
  EXPECT_EQ(After("WritePrivateProfileStringW (null) (null) (null)"), (std::vector<std::string>{"CloseHandle"}));
  EXPECT_EQ(ReadBytes(Zez()),
            "; written at the factory\r\n[Other]\r\nX=1\r\n\r\n[General]\r\nVolumeName=old\r\nModel=PX-1\r\n"
            "Disk_Size=64424509440\r\n\r\n[Tail]\r\nY=2\r\n");
}

TEST_F(Recording, DiskWithoutRecoveryPartitionWritesOnlyTheDiskSize) {
  WriteBytes(Zez(), kZezBefore);
  Install(R"("E": {"files": "e", "disk": 0, "partition": 1})",
          R"("0": {"size": 1000000000, "style": "mbr", "partitions": [{"type": 7, "offset": 1048576, "length": 5000000},
              {"type": 12, "offset": 8000000, "length": 5000000}]})");
  RunPellwick();
  EXPECT_EQ(Writes(), (std::vector<std::string>{"General Disk_Size 1000000000", "(null) (null) (null)"}));
}

TEST_F(Recording, MbrRecoveryPartitionByType0x27) {
  WriteBytes(Zez(), "[General]\r\n");
  Install(R"("E": {"files": "e", "disk": 2, "partition": 3, "guid": "5A5A5A5A-0000-4000-8000-00000000BEEF"})",
          R"("2": {"size": 1000000000, "style": "mbr", "partitions": [{"type": 7, "offset": 1048576, "length": 5000000},
              {"type": 39, "offset": 6048576, "length": 0}, {"type": 39, "offset": 8000000, "length": 900000000}]})");
  RunPellwick(2);
  // The tail of 91,999,999... bytes is above the threshold: the size runs to the disk's end.
  EXPECT_EQ(ReadBytes(Zez()), "[General]\r\nRecovery_Partition_Start=8000000\r\nRecovery_Partition_Size=992000000\r\n"
                              "VolumeName=" + kVolume + "\r\nDisk_Size=1000000000\r\n");
}

TEST_F(Recording, DiskThatCannotBeOpenedIsLoggedAndNothingWritten) {
  WriteBytes(Zez(), kZezBefore);
  Install(kRecoveryDrive, GptDiskFailing(R"("CreateFileW": 5)"));
  EXPECT_EQ(RunPellwick(), LogBytes({LogHeader(), kEnter,
                                     u"      line 129: ERROR: Unable to open the disk 0: Access is denied.", u"", kExit,
                                     Summary(1, 0)}));
  EXPECT_TRUE(Writes().empty());
  EXPECT_FALSE(Called("CloseHandle"));
  EXPECT_EQ(ReadBytes(Zez()), kZezBefore);
}

TEST_F(Recording, DiskWhoseLengthCannotBeReadIsNotOpen) {
  WriteBytes(Zez(), kZezBefore);
  Install(kRecoveryDrive, GptDiskFailing(R"("IOCTL_DISK_GET_LENGTH_INFO": 21)"));
  EXPECT_EQ(RunPellwick(), LogBytes({LogHeader(), kEnter,
                                     u"      line 129: ERROR: Unable to open the disk 0: The device is not ready.", u"",
                                     kExit, Summary(1, 0)}));
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(OpenHandles(), 0u);
}

TEST_F(Recording, NegativeDiskNumberIsLoggedSigned) {
  WriteBytes(Zez(), kZezBefore);
  Install(kRecoveryDrive, kGptDisk);
  const std::string log = RunPellwick(-2);
  EXPECT_EQ(support::LogLines(log).at(2),
            "      line 129: ERROR: Unable to open the disk -2: The system cannot find the file specified.");
  EXPECT_TRUE(Called("CreateFileW \\\\.\\PhysicalDrive4294967294"));
}

TEST_F(Recording, MissingFileTouchesNothing) {
  std::filesystem::create_directories(m_dir / "e/PRELOAD");
  Install(kRecoveryDrive, kGptDisk);
  EXPECT_EQ(RunPellwick(),
            LogBytes({LogHeader(), kEnter,
                      u"      line 132: ERROR: Unable to find the file E:\\PRELOAD\\ZEZ.DAT: The system cannot find the "
                      u"file specified.",
                      u"", kExit, Summary(1, 0)}));
  EXPECT_FALSE(std::filesystem::exists(Zez()));
  EXPECT_FALSE(Called("CreateFileW"));
  EXPECT_TRUE(Writes().empty());
}

TEST_F(Recording, MissingFolderTouchesNothing) {
  std::filesystem::create_directories(m_dir / "e");
  Install(kRecoveryDrive, kGptDisk);
  const auto lines = support::LogLines(RunPellwick());
  EXPECT_EQ(lines.at(2),
            "      line 132: ERROR: Unable to find the file E:\\PRELOAD\\ZEZ.DAT: The system cannot find the path "
            "specified.");
  EXPECT_TRUE(support::Snapshot(m_dir / "e").empty());
}

TEST_F(Recording, WriteThatFailsIsLoggedAfterItsCall) {
  WriteBytes(Zez(), kZezBefore);
  std::filesystem::permissions(Zez(), std::filesystem::perms::owner_read);
  Install(kRecoveryDrive, kGptDisk);
  const std::u16string denied = u" to E:\\PRELOAD\\ZEZ.DAT: Access is denied.";
  EXPECT_EQ(RunPellwick(), LogBytes({LogHeader(), kEnter,
                                     u"      line 136: ERROR: Unable to write Recovery_Partition_Start" + denied, u"",
                                     u"      line 136: ERROR: Unable to write Recovery_Partition_Size" + denied, u"",
                                     u"      line 136: ERROR: Unable to write VolumeName" + denied, u"",
                                     u"      line 136: ERROR: Unable to write Disk_Size" + denied, u"", kExit,
                                     Summary(4, 0)}));
  EXPECT_EQ(ReadBytes(Zez()), kZezBefore);
}

}  // namespace
