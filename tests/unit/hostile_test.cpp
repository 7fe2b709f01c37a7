// Hostile input: what users, machines and files can give, each with the outcome
// it must have (a clear message, the right exit code, nothing lost), and runs
// killed at every step.
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>

namespace {

namespace fs = std::filesystem;
using support::LogBytes;
using support::LogHeader;
using support::LogLines;
using support::ReadBytes;
using support::RunProcess;
using support::Summary;
using support::TempDir;
using support::Utf16Le;
using support::WriteBytes;

// C: Windows, D: the recovery volume on disk 0 (its partition starts at 1 GiB).
const std::string kMachine = R"({
  "module": "C:\\Tools\\rplayout.exe",
  "drives": {
    "C": {"files": "c", "volume": "windows.bin", "fs_flags": 8, "disk": 0, "partition": 1},
    "D": {"files": "d", "volume": "recovery.bin", "fs_flags": 8, "disk": 0, "partition": 2,
          "guid": "00000000-0000-0000-0000-0000000000D0"}
  },
  "disks": {"0": {"size": 4294967296, "partitions": [
    {"type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "offset": 1048576, "length": 1072693248},
    {"type": "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "offset": 1073741824, "length": 1073741824}]}}
})";

const std::string kKeys =
    "Recovery_Partition_Start=1073741824\r\nRecovery_Partition_Size=3221225472\r\n"
    "VolumeName=\\\\?\\Volume{00000000-0000-0000-0000-0000000000D0}\\\r\nDisk_Size=4294967296\r\n";

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(m_dir / "c/Tools");
    fs::create_directories(m_dir / "d/PRELOAD");
    WriteBytes(m_dir / "windows.bin", support::BootSector("NTFS    ", "WINDOWS"));
    WriteBytes(m_dir / "recovery.bin", support::BootSector("NTFS    ", "RECOVERY"));
    WriteBytes(m_dir / "machine.json", kMachine);
  }
  support::ProcessResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{RPLAYOUT_SIM, (m_dir / "machine.json").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(argv);
  }
  std::string Log() { return ReadBytes(m_dir / "c/Tools/rplayout.exe.log"); }
  fs::path Zez() { return m_dir / "d/PRELOAD/ZEZ.DAT"; }
  TempDir m_dir;
};

struct ZezCase {
  const char* name;
  std::string before;
  std::string after;
  friend void PrintTo(const ZezCase& c, std::ostream* os) { *os << c.name; }
};

std::string TenMegabytes(bool withKeys) {
  std::string lines;
  for (int i = 0; lines.size() < 5 * 1024 * 1024; ++i) lines += "; filler line " + std::to_string(i) + "\r\n";
  return lines + "[General]\r\nLanguage=EN\r\n" + (withKeys ? kKeys : "") + "\r\n[Rest]\r\n" + lines;
}

const ZezCase kZezCases[] = {
    {"Binary", std::string("\x00\x01\xFF" "binary\x00\x00junk", 15),
     std::string("\x00\x01\xFF" "binary\x00\x00junk", 15) + "\r\n[General]\r\n" + kKeys},
    {"NulBytesInLines", std::string("[General]\r\nA=1\x00\x00\r\n[Other]\r\nB=\x00" "2\r\n", 30),
     std::string("[General]\r\nA=1\x00\x00\r\n", 18) + kKeys + std::string("[Other]\r\nB=\x00" "2\r\n", 12)},
    {"TenMegabytes", TenMegabytes(false), TenMegabytes(true)},
    {"NoLineEnd", "[General]\r\nDisk_Size=1",
     "[General]\r\nDisk_Size=4294967296\r\nRecovery_Partition_Start=1073741824\r\nRecovery_Partition_Size=3221225472\r\n"
     "VolumeName=\\\\?\\Volume{00000000-0000-0000-0000-0000000000D0}\\"},
    {"Utf16LeByteOrderMark", "\xFF\xFE" + Utf16Le(u"[General]\r\nModel=\u00e9\r\n"),
     "\xFF\xFE" + Utf16Le(u"[General]\r\nModel=\u00e9\r\n" + support::U16(kKeys))},
    {"Utf8ByteOrderMark", "\xEF\xBB\xBF[General]\r\nModel=\xC3\xA9\r\n",
     "\xEF\xBB\xBF[General]\r\nModel=\xC3\xA9\r\n" + kKeys},
};

class HostileZez : public Hostile, public ::testing::WithParamInterface<ZezCase> {};

TEST_P(HostileZez, KeysWrittenAndEveryOtherByteKept) {
  WriteBytes(Zez(), GetParam().before);
  const auto r = Run({"D"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Summary(0, 0), support::U16(LogLines(Log()).back()));
  const std::string after = ReadBytes(Zez());
  EXPECT_TRUE(after == GetParam().after) << "got " << after.size() << " bytes, expected " << GetParam().after.size()
                                         << ": " << ::testing::PrintToString(after.substr(0, 300));
}

INSTANTIATE_TEST_SUITE_P(Files, HostileZez, ::testing::ValuesIn(kZezCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<std::string> WriteErrors(const std::string& reason) {
  std::vector<std::string> lines;
  for (const char* key : {"Recovery_Partition_Start", "Recovery_Partition_Size", "VolumeName", "Disk_Size"}) {
    lines.push_back(std::string("      line 136: ERROR: Unable to write ") + key + " to D:\\PRELOAD\\ZEZ.DAT: " + reason);
    lines.push_back("");
  }
  return lines;
}

std::vector<std::string> Slice(const std::vector<std::string>& lines, std::size_t from, std::size_t count) {
  return std::vector<std::string>(lines.begin() + static_cast<long>(from),
                                  lines.begin() + static_cast<long>(std::min(lines.size(), from + count)));
}

TEST_F(Hostile, ReadOnlyZezIsUntouchedAndEachKeyLogged) {
  WriteBytes(Zez(), "[General]\r\nDisk_Size=1\r\n");
  fs::permissions(Zez(), fs::perms::owner_read);
  const auto r = Run({"D"});
  EXPECT_EQ(r.exitCode, 0);  // the recording was attempted
  EXPECT_EQ(ReadBytes(Zez()), "[General]\r\nDisk_Size=1\r\n");
  const auto lines = LogLines(Log());
  EXPECT_EQ(Slice(lines, 6, 8), WriteErrors("Access is denied."));
  EXPECT_EQ(lines.back(), "Execution ends with 4 error(s) and 0 warning(s).");
}

TEST_F(Hostile, ZezThatIsAFolderStaysAFolder) {
  fs::create_directories(Zez() / "inside");
  const auto r = Run({"D"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(fs::is_directory(Zez() / "inside"));
  EXPECT_EQ(Slice(LogLines(Log()), 6, 8), WriteErrors("Access is denied."));
}

struct ArgumentCase {
  const char* name;
  std::string argument;
  int exitCode;
  std::u16string device;  // what the lookup names
  friend void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }
};

const ArgumentCase kArguments[] = {
    {"OneCharacter", "D", 0, u"\\\\.\\D:"},
    {"LongText", "D" + std::string(20000, 'x'), 0, u"\\\\.\\D:"},
    {"APath", "D:\\PRELOAD\\ZEZ.DAT", 0, u"\\\\.\\D:"},
    {"NonAscii", "\xC3\xA9t\xC3\xA9", 4, u"\\\\.\\\u00e9:"},
    {"LoneSurrogate", "\xED\xA0\x80", 4, std::u16string(u"\\\\.\\") + char16_t(0xD800) + u":"},
    {"Emoji", "\xF0\x9F\x98\x80", 4, std::u16string(u"\\\\.\\") + char16_t(0xD83D) + u":"},
    {"Option", "/?", 4, u"\\\\.\\/:"},
    {"Digit", "0", 4, u"\\\\.\\0:"},
};

class HostileArguments : public Hostile, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(HostileArguments, FirstCodeUnitIsTheLetterAndNothingBreaks) {
  WriteBytes(Zez(), "[General]\r\n");
  const auto r = Run({GetParam().argument});
  EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string log = Log();
  const std::string expected = Utf16Le(u"      line 34: strVolume=" + GetParam().device + u"\r\n");
  EXPECT_NE(log.find(expected), std::string::npos) << ::testing::PrintToString(LogLines(log));
  EXPECT_EQ(ReadBytes(Zez()), GetParam().exitCode == 0 ? "[General]\r\n" + kKeys : "[General]\r\n");
}

INSTANTIATE_TEST_SUITE_P(Arguments, HostileArguments, ::testing::ValuesIn(kArguments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Hostile, LogThatCannotBeCreatedLeavesTheRunAsItIs) {
  std::string machine = kMachine;
  machine.replace(machine.find("C:\\\\Tools"), 9, "C:\\\\Gone");
  WriteBytes(m_dir / "machine.json", machine);
  WriteBytes(Zez(), "[General]\r\n");
  const auto r = Run({"D"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "Unable to create log file");
  EXPECT_EQ(ReadBytes(Zez()), "[General]\r\n" + kKeys);
}

TEST(HostileMachine, AllTwentyFourLettersFixedAndUnreadable) {
  TempDir dir;
  fs::create_directories(dir / "a");
  std::string drives = R"("A": {"type": 2, "files": "a"})";
  for (char letter = 'C'; letter <= 'Z'; ++letter)
    drives += std::string(", \"") + letter + R"(": {"fail": {"CreateFileW": 21}})";
  WriteBytes(dir / "m.json", R"({"module": "A:\\rplayout.exe", "drives": {)" + drives + "}}");
  const auto r = RunProcess({RPLAYOUT_SIM, (dir / "m.json").string()});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.out, "");
  const auto lines = LogLines(ReadBytes(dir / "a/rplayout.exe.log"));
  ASSERT_EQ(lines.size(), 1u + 1 + 24 * 5 + 2 + 1 + 1);
  for (int i = 0; i < 24; ++i) {
    const std::string root = std::string(1, static_cast<char>('C' + i)) + ":\\";
    EXPECT_EQ(lines[2 + 5 * i], "      line 239: Test drive " + root);
    EXPECT_EQ(lines[4 + 5 * i], "         line 215: ERROR: Cannot open handle on drive " + root +
                                    ": The device is not ready.");
  }
  EXPECT_EQ(lines[lines.size() - 2], "   line 274: WARNING: Unable to get the recovery drive letter");
  EXPECT_EQ(lines.back(), "Execution ends with 24 error(s) and 1 warning(s).");
}

// Disk images that are damaged: made by the default machine's own script, then
// cut short or with their partition tables overwritten.
class DamagedImage : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(std::string(RPLAYOUT_SOURCE_DIR) + "/machines/default", m_dir.Path(), fs::copy_options::recursive);
    const auto made = RunProcess({(m_dir / "make-disk").string(), m_dir.Path().string()});
    ASSERT_EQ(made.exitCode, 0) << made.err;
  }
  void Overwrite(std::int64_t sector) {
    std::fstream f(m_dir / "disk.img", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(sector * 512);
    const std::string junk(512, '\x5A');
    f.write(junk.data(), 512);
  }
  TempDir m_dir;
};

TEST_F(DamagedImage, TruncatedImageIsRefusedNamingThePartition) {
  fs::resize_file(m_dir / "disk.img", 20 * 1024 * 1024);
  const auto r = RunProcess({RPLAYOUT_SIM, (m_dir / "machine.json").string()});
  EXPECT_EQ(r.exitCode, 64);
  EXPECT_NE(r.err.find("drives.C.partition: names a partition, but the disk's image holds no partition table"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(m_dir / "c/Tools/rplayout.exe.log"));
}

TEST_F(DamagedImage, DamagedPrimaryTableIsReadFromItsBackup) {
  Overwrite(1);
  const auto r = RunProcess({RPLAYOUT_SIM, (m_dir / "machine.json").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(ReadBytes(m_dir / "d/PRELOAD/ZEZ.DAT").find("Recovery_Partition_Start=42991616\r\n"), std::string::npos);
}

TEST_F(DamagedImage, DiskWithoutReadableTableRecordsOnlyItsSize) {
  Overwrite(1);
  Overwrite(131071);  // the backup header in the last sector
  // D: is still found by its boot sector and its extents; only the disk's table is gone.
  WriteBytes(m_dir / "recovery.bin", support::BootSector("NTFS    ", "RECOVERY"));
  WriteBytes(m_dir / "machine.json", R"({"module": "C:\\Tools\\rplayout.exe", "drives": {
      "C": {"files": "c"},
      "D": {"files": "d", "volume": "recovery.bin", "fs_flags": 8, "extents": [{"disk": 0, "offset": 42991616, "length": 16777216}]}},
    "disks": {"0": {"image": "disk.img"}}})");
  const std::string before = ReadBytes(m_dir / "d/PRELOAD/ZEZ.DAT");
  const auto r = RunProcess({RPLAYOUT_SIM, (m_dir / "machine.json").string(), "D"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string expected = before;
  expected.replace(expected.find("Disk_Size=0"), 11, "Disk_Size=67108864");
  EXPECT_EQ(ReadBytes(m_dir / "d/PRELOAD/ZEZ.DAT"), expected);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// Killed at every step from the first to the last: ZEZ.DAT is whole, as it was
// before the run or after one of its four writes, never torn; the log holds every
// line written so far and no summary.
TEST_F(DamagedImage, RunKilledAtAnyStepLeavesZezWholeAndItsLogLines) {
  const fs::path zez = m_dir / "d/PRELOAD/ZEZ.DAT";
  const fs::path log = m_dir / "c/Tools/rplayout.exe.log";
  const std::string before = ReadBytes(zez);
  ASSERT_EQ(RunProcess({RPLAYOUT_SIM, (m_dir / "machine.json").string()}).exitCode, 0);
  const std::string after = ReadBytes(zez);
  const std::string fullLog = ReadBytes(log);
  ASSERT_NE(before, after);
  const std::string summary = Utf16Le(u"Execution ends with 0 error(s) and 0 warning(s).\r\n");
  ASSERT_EQ(fullLog.substr(fullLog.size() - summary.size()), summary);

  // The file after each of the four writes, in their order.
  std::vector<std::string> states{before};
  states.push_back(Replaced(states.back(), "Recovery_Partition_Start=0\r\n", "Recovery_Partition_Start=42991616\r\n"));
  states.push_back(Replaced(states.back(), "Recovery_Partition_Size=0\r\n", "Recovery_Partition_Size=24117248\r\n"));
  states.push_back(Replaced(states.back(), "Disk_Size=0\r\n",
                            "Disk_Size=0\r\nVolumeName=\\\\?\\Volume{6C1F2A9E-3B47-4D2A-9E51-0A7B3C4D5E02}\\\r\n"));
  states.push_back(Replaced(states.back(), "Disk_Size=0\r\n", "Disk_Size=67108864\r\n"));
  ASSERT_EQ(states.back(), after);
  std::vector<int> seen(states.size(), 0);
  int killed = 0;
  for (int step = 1; step < 500; ++step) {
    WriteBytes(zez, before);
    fs::remove(log);
    const auto r = RunProcess({RPLAYOUT_SIM, (m_dir / "machine.json").string()},
                              {{"RPLAYOUT_SIM_KILL_AT_STEP", std::to_string(step)}});
    if (r.exitCode == 0) break;  // the run has fewer steps than this
    ASSERT_EQ(r.exitCode, 128 + SIGKILL) << "step " << step;
    ++killed;
    const std::string now = ReadBytes(zez);
    const auto state = std::find(states.begin(), states.end(), now);
    ASSERT_NE(state, states.end()) << "step " << step << ": " << ::testing::PrintToString(now);
    ++seen[static_cast<std::size_t>(state - states.begin())];
    const std::string partial = ReadBytes(log);
    EXPECT_LT(partial.size(), fullLog.size() - summary.size() + 1) << "step " << step;
    EXPECT_EQ(fullLog.compare(0, partial.size(), partial), 0) << "step " << step;
    if (partial.size() > 2) {
      EXPECT_EQ(partial.substr(partial.size() - 4), std::string("\r\0\n\0", 4)) << "step " << step;
    }
  }
  EXPECT_GT(killed, 40);
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_GT(seen[i], 0) << "no kill left the state after write " << i;
}

}  // namespace
