// Volumes made by the real tools (mkfs.fat, mkntfs) in a disk image partitioned
// by sfdisk: the simulator reads the table and the file systems with libblkid, and
// the search finds the recovery volume by the field that its file system selects.
#include "discovery/discovery.h"
#include "layoutrecord/layoutrecord.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using support::FindTool;
using support::RunProcess;

void RunTool(const std::vector<std::string>& argv) {
  const auto r = RunProcess(argv);
  ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
}

void Patch(const std::filesystem::path& file, std::int64_t offset, const std::string& bytes) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(offset);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class RealVolumes : public support::SimMachineTest {
 protected:
  // A 16 MiB GPT disk: partition 1 FAT (2 MiB from sector 2048), partition 2 NTFS
  // (4 MiB from sector 6144). The system IDs are written after the tools ran.
  void MakeDisk(const std::string& fatId, std::int64_t fatIdOffset, const std::string& ntfsId) {
    const auto disk = m_dir / "disk.img";
    RunTool({"truncate", "-s", "16M", disk.string()});
    support::WriteBytes(m_dir / "table.sfdisk",
                        "label: gpt\n"
                        "start=2048, size=4096, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
                        "start=6144, size=8192, type=DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\n");
    RunTool({"sh", "-c", FindTool("sfdisk") + " -q " + disk.string() + " < " + (m_dir / "table.sfdisk").string()});
    RunTool({FindTool("mkfs.fat"), "-C", (m_dir / "fat.img").string(), "2048"});
    RunTool({"truncate", "-s", "4M", (m_dir / "ntfs.img").string()});
    RunTool({"sh", "-c", FindTool("mkntfs") + " -F -Q -q " + (m_dir / "ntfs.img").string() + " 2>/dev/null"});
    Patch(m_dir / "fat.img", fatIdOffset, fatId);
    Patch(m_dir / "ntfs.img", 496, ntfsId);
    RunTool({"dd", "if=" + (m_dir / "fat.img").string(), "of=" + disk.string(), "bs=512", "seek=2048", "conv=notrunc",
         "status=none"});
    RunTool({"dd", "if=" + (m_dir / "ntfs.img").string(), "of=" + disk.string(), "bs=512", "seek=6144", "conv=notrunc",
         "status=none"});
    Install(R"("D": {"disk": 0, "partition": 1}, "E": {"disk": 0, "partition": 2})",
            R"("0": {"image": "disk.img"})");
  }
};

TEST_F(RealVolumes, FatVolumeCarriesItsIdAtOffset3) {
  MakeDisk("RECOVERY", 3, "NTFSJUNK");
  WCHAR letter = 0;
  Logged([&] { EXPECT_EQ(GetDriveLetter(nullptr, &letter), 1); });
  EXPECT_EQ(letter, u'D');
}

TEST_F(RealVolumes, NtfsVolumeCarriesItsIdAtOffset496) {
  MakeDisk("MSWIN4.1", 3, "RECOVERY");
  WCHAR letter = 0;
  Logged([&] {
    EXPECT_EQ(GetDriveLetter(nullptr, &letter), 1);
    EXPECT_EQ(GetSystemID(_T("D:\\")).Str(), u"MSWIN4.1");
  });
  EXPECT_EQ(letter, u'E');
}

TEST_F(RealVolumes, IdInTheOtherFieldIsNotFound) {
  MakeDisk("MSWIN4.1", 496, "WINDOWS");  // RECOVERY nowhere in the FAT's own field
  Patch(m_dir / "disk.img", 2048 * 512 + 496, "RECOVERY");
  Install(R"("D": {"disk": 0, "partition": 1}, "E": {"disk": 0, "partition": 2})", R"("0": {"image": "disk.img"})");
  WCHAR letter = 0;
  Logged([&] { EXPECT_EQ(GetDriveLetter(nullptr, &letter), 0); });
}

TEST_F(RealVolumes, PartitionTableGivesTheDiskAndItsExtents) {
  MakeDisk("RECOVERY", 3, "X");
  const sim::Disk* disk = sim::Current().FindDisk(0);
  ASSERT_NE(disk, nullptr);
  EXPECT_TRUE(disk->gpt);
  EXPECT_EQ(disk->size, 16 * 1024 * 1024);
  ASSERT_EQ(disk->partitions.size(), 2u);
  EXPECT_EQ(disk->partitions[1].offset, 6144 * 512);
  EXPECT_EQ(disk->partitions[1].length, 8192 * 512);
  EXPECT_EQ(disk->partitions[1].gptType.Data1, 0xDE94BBA4u);
  Logged([] { EXPECT_EQ(GetDriveNumberFromDriveLetter(u'E'), 0u); });
}

}  // namespace

namespace {

// Disk images partitioned by sfdisk: what Pellwick records is what sfdisk
// reports of the same image.
struct RealDiskCase {
  const char* name;
  std::string table;
  int recoveryPartition;  // 1-based
  friend void PrintTo(const RealDiskCase& c, std::ostream* os) { *os << c.name; }
};

const RealDiskCase kRealDisks[] = {
    {"Gpt",
     "label: gpt\n"
     "start=2048, size=20480, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\n"
     "start=22528, size=81920, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n"
     "start=104448, size=20480, type=DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\n",
     3},
    {"GptRecoveryWithLargeTail",
     "label: gpt\n"
     "start=2048, size=40960, type=DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\n"
     "start=43008, size=20480, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n",
     1},
    {"Mbr",
     "label: dos\n"
     "start=2048, size=61440, type=7\n"
     "start=63488, size=40960, type=27\n",
     2},
};

class RealDisks : public support::SimMachineTest, public ::testing::WithParamInterface<RealDiskCase> {};

TEST_P(RealDisks, RecordWhatSfdiskReports) {
  const RealDiskCase& c = GetParam();
  const auto disk = m_dir / "disk.img";
  RunTool({"truncate", "-s", "64M", disk.string()});
  support::WriteBytes(m_dir / "table.sfdisk", c.table);
  RunTool({"sh", "-c", FindTool("sfdisk") + " -q " + disk.string() + " < " + (m_dir / "table.sfdisk").string()});
  const auto dump = RunProcess({FindTool("sfdisk"), "-J", disk.string()});
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  const auto json = nlohmann::json::parse(dump.out)["partitiontable"];
  const auto& part = json["partitions"][c.recoveryPartition - 1];
  const long long sector = json.value("sectorsize", 512);
  const long long start = part["start"].get<long long>() * sector;
  const long long length = part["size"].get<long long>() * sector;
  const long long size = static_cast<long long>(std::filesystem::file_size(disk));
  const long long recorded = size - (start + length) >= 1048576 ? size - start : length;

  support::WriteBytes(m_dir / "e/PRELOAD/ZEZ.DAT", "[General]\r\n");
  Install(R"("E": {"files": "e", "disk": 0, "partition": )" + std::to_string(c.recoveryPartition) +
              R"(, "guid": "11111111-2222-3333-4444-555555555555"})",
          R"("0": {"image": "disk.img"})");
  Logged([] { Pellwick(u"E:\\PRELOAD\\ZEZ.DAT", 0); });
  EXPECT_EQ(support::ReadBytes(m_dir / "e/PRELOAD/ZEZ.DAT"),
            "[General]\r\nRecovery_Partition_Start=" + std::to_string(start) +
                "\r\nRecovery_Partition_Size=" + std::to_string(recorded) +
                "\r\nVolumeName=\\\\?\\Volume{11111111-2222-3333-4444-555555555555}\\\r\nDisk_Size=" +
                std::to_string(size) + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Images, RealDisks, ::testing::ValuesIn(kRealDisks),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
