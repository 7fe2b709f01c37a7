// Whole runs of rplayout-sim, as a user runs it: the exit code, the console, the
// log byte for byte and ZEZ.DAT byte for byte.
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

namespace {

using support::LogBytes;
using support::LogHeader;
using support::ReadBytes;
using support::Summary;
using support::TempDir;
using support::WriteBytes;
using Lines = std::vector<std::u16string>;

const std::u16string kCString =
    u"class ATL::CStringT<unsigned short,class StrTraitMFC<unsigned short,class ATL::ChTraitsCRT<unsigned short> > >";

Lines Cat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Lines Tested(const std::u16string& root) {
  return {u"      line 239: Test drive " + root, u"      Enter " + kCString + u" __cdecl GetSystemID(" + kCString + u")",
          u"         Enter int __cdecl IsNTFS(" + kCString + u")", u"         Exit IsNTFS", u"      Exit GetSystemID"};
}
Lines Search(const Lines& tested, int found) {
  return Cat({{u"   Enter int __cdecl GetDriveLetter(const unsigned short *,unsigned short *)"}, tested,
              {u"      line 250: bDriveFound=" + support::U16(std::to_string(found)), u"   Exit GetDriveLetter"}});
}
Lines Lookup(const std::u16string& device, const Lines& inside) {
  return Cat({{u"   Enter unsigned long __cdecl GetDriveNumberFromDriveLetter(unsigned short)",
               u"      line 34: strVolume=" + device},
              inside,
              {u"   Exit GetDriveNumberFromDriveLetter"}});
}
Lines Recorded(const Lines& inside = {}) {
  return Cat({{u"   Enter void __cdecl Pellwick(const unsigned short *,int)"}, inside, {u"   Exit Pellwick"}});
}

const std::string kZez = "; factory\r\n[General]\r\nDisk_Size=0\r\n\r\n[Other]\r\nA=1\r\n";
const std::string kZezOnD =
    "; factory\r\n[General]\r\nDisk_Size=64424509440\r\nRecovery_Partition_Start=63350767616\r\n"
    "Recovery_Partition_Size=1073741824\r\nVolumeName=\\\\?\\Volume{00000000-0000-0000-0000-0000000000D0}\\\r\n"
    "\r\n[Other]\r\nA=1\r\n";
const std::string kZezOnE =
    "; factory\r\n[General]\r\nDisk_Size=8589934592\r\nRecovery_Partition_Start=1048576\r\n"
    "Recovery_Partition_Size=8588886016\r\nVolumeName=\\\\?\\Volume{00000000-0000-0000-0000-0000000000E0}\\\r\n"
    "\r\n[Other]\r\nA=1\r\n";
const std::string kUsage =
    "Correct usage: C:\\Tools\\rplayout.exe [RPDrive]\n\n\tRPDrive (optional): drive letter of the RP.\n"
    "\tIf the drive is not specified, the module will try to find it.\n";

// C: Windows (NTFS) on disk 0; D: the recovery volume (NTFS, ID at 496) on disk 0;
// E: a FAT volume with the ID at offset 3, the recovery partition of disk 1.
const std::string kPc = R"({
  "module": "C:\\Tools\\rplayout.exe",
  "drives": {
    "C": {"files": "c", "volume": "windows.bin", "fs_flags": 65535, "disk": 0, "partition": 1},
    "D": {"files": "d", "volume": "recovery-ntfs.bin", "fs_flags": 8, "disk": 0, "partition": 2,
          "guid": "00000000-0000-0000-0000-0000000000D0"},
    "E": {"files": "e", "volume": "recovery-fat.bin", "fs_flags": 6, "disk": 1, "partition": 1,
          "guid": "00000000-0000-0000-0000-0000000000E0"},
    "F": {"type": 2, "volume": "recovery-fat.bin", "fs_flags": 6}
  },
  "disks": {
    "0": {"size": 64424509440, "partitions": [
      {"type": "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "offset": 1048576, "length": 42949672960},
      {"type": "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "offset": 63350767616, "length": 1072693248}]},
    "1": {"size": 8589934592, "style": "mbr", "partitions": [{"type": 39, "offset": 1048576, "length": 4294967296}]}
  }
})";

// The same PC without a recovery volume: D: carries another ID.
std::string NoRecoveryPc() {
  std::string m = kPc;
  m.replace(m.find("recovery-ntfs.bin"), 17, "data-ntfs.bin");
  m.replace(m.find("\"E\": {"), 0, "\"X\": {},");
  return m.substr(0, m.find("\"E\": {")) + R"("G": {"type": 5}}, )" + m.substr(m.find("\"disks\""));
}

struct RunCase {
  const char* name;
  std::string machine;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  Lines entries;  // between the header and the summary
  std::u16string summary;
  std::string zezOnD, zezOnE;  // what each ZEZ.DAT holds afterwards
  bool zezOnDMissing = false;
  std::string zezOnC = kZez;
  friend void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }
};

const Lines kLookupD = Lookup(u"\\\\.\\D:", {u"      line 70: dwRetVal=0"});
const Lines kLookupE = Lookup(u"\\\\.\\E:", {u"      line 70: dwRetVal=1"});

const RunCase kRuns[] = {
    {"NoArgumentFindsTheRecoveryVolumeOnD", kPc, {}, 0, "",
     Cat({Search(Cat({Tested(u"C:\\"), Tested(u"D:\\")}), 1), kLookupD, Recorded()}), Summary(0, 0), kZezOnD, kZez},
    {"LowerCaseArgumentIsUsedUnchanged", kPc, {"e"}, 0, "",
     Cat({Lookup(u"\\\\.\\e:", {u"      line 70: dwRetVal=1"}), Recorded()}), Summary(0, 0), kZez, kZezOnE},
    {"ArgumentWithColon", kPc, {"E:"}, 0, "", Cat({kLookupE, Recorded()}), Summary(0, 0), kZez, kZezOnE},
    {"ArgumentWithColonAndBackslash", kPc, {"E:\\"}, 0, "", Cat({kLookupE, Recorded()}), Summary(0, 0), kZez, kZezOnE},
    {"OnlyTheFirstCharacterCounts", kPc, {"ERECOVERY"}, 0, "", Cat({kLookupE, Recorded()}), Summary(0, 0), kZez,
     kZezOnE},
    {"EmptyArgumentIsPassedOnAsItsTerminatingZero", kPc, {""}, 4, "",
     Lookup(u"\\\\.\\",
            {u"      line 68: ERROR: Cannot open handle on \\\\.\\: The system cannot find the file specified.", u"",
             u"      line 70: dwRetVal=-1"}),
     Summary(1, 0), kZez, kZez},
    {"TwoArgumentsShowTheUsage", kPc, {"E", "F"}, 3, kUsage,
     {u"   line 285: WARNING: Incorrect parameters. Correct usage: C:\\Tools\\rplayout.exe [RP letter]"},
     Summary(0, 1), kZez, kZez},
    {"ThreeArgumentsShowTheUsage", kPc, {"E", "F", "G"}, 3, kUsage,
     {u"   line 285: WARNING: Incorrect parameters. Correct usage: C:\\Tools\\rplayout.exe [RP letter]"},
     Summary(0, 1), kZez, kZez},
    {"NoRecoveryVolume", NoRecoveryPc(), {}, 2, "",
     Cat({Search(Cat({Tested(u"C:\\"), Tested(u"D:\\"),
                      {u"      line 239: Test drive X:\\",
                       u"      Enter " + kCString + u" __cdecl GetSystemID(" + kCString + u")",
                       u"         Enter int __cdecl IsNTFS(" + kCString + u")", u"         Exit IsNTFS",
                       u"      Exit GetSystemID"}}),
                 0),
          {u"   line 274: WARNING: Unable to get the recovery drive letter"}}),
     Summary(0, 1), kZez, kZez},
    {"LookupFailureAddsNoEntryOfItsOwn", kPc, {"Q"}, 4, "",
     Lookup(u"\\\\.\\Q:",
            {u"      line 68: ERROR: Cannot open handle on \\\\.\\Q:: The system cannot find the file specified.", u"",
             u"      line 70: dwRetVal=-1"}),
     Summary(1, 0), kZez, kZez},
    {"MissingZezStillEndsWithZero", kPc, {"D"}, 0, "",
     Cat({kLookupD,
          Recorded({u"      line 132: ERROR: Unable to find the file D:\\PRELOAD\\ZEZ.DAT: The system cannot find the "
                    u"file specified.",
                    u""})}),
     Summary(1, 0), "", kZez, true},
    // C's ZEZ.DAT receives the layout of C's disk, whose recovery partition is D's.
    {"ArgumentCIsUsedThoughCIsNotTheRecoveryVolume", kPc, {"C"}, 0, "",
     Cat({Lookup(u"\\\\.\\C:", {u"      line 70: dwRetVal=0"}), Recorded()}), Summary(0, 0), kZez, kZez, false,
     kZezOnD},
};

class WholeRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(WholeRun, ExitCodeConsoleLogAndZez) {
  const RunCase& c = GetParam();
  TempDir dir;
  std::filesystem::create_directories(dir / "c/Tools");
  WriteBytes(dir / "windows.bin", support::BootSector("NTFS    ", "WINDOWS"));
  WriteBytes(dir / "recovery-ntfs.bin", support::BootSector("NTFS    ", "RECOVERY"));
  WriteBytes(dir / "data-ntfs.bin", support::BootSector("NTFS    ", "DATA"));
  WriteBytes(dir / "recovery-fat.bin", support::BootSector("RECOVERY", "NOTTHIS"));
  if (!c.zezOnDMissing) WriteBytes(dir / "d/PRELOAD/ZEZ.DAT", kZez);
  std::filesystem::create_directories(dir / "d/PRELOAD");
  WriteBytes(dir / "e/PRELOAD/ZEZ.DAT", kZez);
  WriteBytes(dir / "c/PRELOAD/ZEZ.DAT", kZez);
  WriteBytes(dir / "machine.json", c.machine);

  std::vector<std::string> argv{RPLAYOUT_SIM, (dir / "machine.json").string()};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  const auto r = support::RunProcess(argv);
  EXPECT_EQ(r.exitCode, c.exitCode);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, "");
  const std::string log = ReadBytes(dir / "c/Tools/rplayout.exe.log");
  EXPECT_EQ(log, LogBytes(Cat({{LogHeader()}, c.entries, {c.summary}})))
      << ::testing::PrintToString(support::LogLines(log));
  if (c.zezOnDMissing) {
    EXPECT_FALSE(std::filesystem::exists(dir / "d/PRELOAD/ZEZ.DAT"));
  } else {
    EXPECT_EQ(ReadBytes(dir / "d/PRELOAD/ZEZ.DAT"), c.zezOnD);
  }
  EXPECT_EQ(ReadBytes(dir / "e/PRELOAD/ZEZ.DAT"), c.zezOnE);
  EXPECT_EQ(ReadBytes(dir / "c/PRELOAD/ZEZ.DAT"), c.zezOnC);
}

INSTANTIATE_TEST_SUITE_P(Runs, WholeRun, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// On a terminal the usage text is shown in bright red, and the console is left
// bright white.
TEST(WholeRunOnTerminal, UsageTextIsColoured) {
  TempDir dir;
  std::filesystem::create_directories(dir / "c");
  WriteBytes(dir / "m.json", R"({"drives": {"C": {"files": "c"}}})");
  const std::string command = std::string(RPLAYOUT_SIM) + " " + (dir / "m.json").string() + " E F";
  const auto r = support::RunProcess({"script", "-qec", command, "/dev/null"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  const std::string out = r.out;
  const auto red = out.find("\x1b[91;40m");
  const auto text = out.find("Correct usage: C:\\rplayout.exe [RPDrive]");
  const auto white = out.find("\x1b[97;40m");
  ASSERT_NE(red, std::string::npos) << ::testing::PrintToString(out);
  ASSERT_NE(text, std::string::npos);
  ASSERT_NE(white, std::string::npos);
  EXPECT_LT(red, text);
  EXPECT_LT(text, white);
  EXPECT_NE(out.find("try to find it.", text), std::string::npos);
  EXPECT_GT(white, out.find("try to find it.", text));
}

// The default machine that the demo runs, made by its own script: run twice, the
// second run leaves ZEZ.DAT as the first left it and replaces the log.
TEST(DefaultMachine, SecondRunChangesNothingAndReplacesTheLog) {
  TempDir dir;
  std::filesystem::copy(std::string(RPLAYOUT_SOURCE_DIR) + "/machines/default", dir.Path(),
                        std::filesystem::copy_options::recursive);
  std::filesystem::remove(dir / "disk.img");
  const auto made = support::RunProcess({(dir / "make-disk").string(), dir.Path().string()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string before = ReadBytes(dir / "d/PRELOAD/ZEZ.DAT");

  const auto first = support::RunProcess({RPLAYOUT_SIM, (dir / "machine.json").string()});
  EXPECT_EQ(first.exitCode, 0) << first.err;
  const std::string afterFirst = ReadBytes(dir / "d/PRELOAD/ZEZ.DAT");
  const std::string logFirst = ReadBytes(dir / "c/Tools/rplayout.exe.log");
  EXPECT_EQ(afterFirst,
            "; ZEZ.DAT: description of the preloaded image\r\n; written by the factory imaging station\r\n\r\n"
            "[Image]\r\nModel=PX-2000\r\nBuild=2026.11\r\n\r\n[General]\r\nLanguage=EN\r\n"
            "Recovery_Partition_Start=42991616\r\nRecovery_Partition_Size=24117248\r\nDisk_Size=67108864\r\n"
            "VolumeName=\\\\?\\Volume{6C1F2A9E-3B47-4D2A-9E51-0A7B3C4D5E02}\\\r\n\r\n[Drivers]\r\nChipset=1.2.3\r\n");
  EXPECT_NE(afterFirst, before);
  EXPECT_EQ(logFirst, LogBytes(Cat({{LogHeader()}, Search(Cat({Tested(u"C:\\"), Tested(u"D:\\")}), 1), kLookupD,
                                    Recorded(), {Summary(0, 0)}})));

  const auto second = support::RunProcess({RPLAYOUT_SIM, (dir / "machine.json").string()});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(ReadBytes(dir / "d/PRELOAD/ZEZ.DAT"), afterFirst);
  EXPECT_EQ(ReadBytes(dir / "c/Tools/rplayout.exe.log"), logFirst);
}

// The MBR laptop: the recovery volume on E: (FAT32, ID at offset 3) after two
// fixed drives that are not it; the removable F: is never examined.
TEST(MbrLaptop, FindsTheFat32RecoveryVolumeOnE) {
  TempDir dir;
  std::filesystem::copy(std::string(RPLAYOUT_SOURCE_DIR) + "/machines/mbr-laptop", dir.Path(),
                        std::filesystem::copy_options::recursive);
  const auto made = support::RunProcess({(dir / "make-disk").string(), dir.Path().string()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const auto r = support::RunProcess({RPLAYOUT_SIM, (dir / "machine.json").string()});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir / "c/Tools/rplayout.exe.log"),
            LogBytes(Cat({{LogHeader()}, Search(Cat({Tested(u"C:\\"), Tested(u"D:\\"), Tested(u"E:\\")}), 1),
                          Lookup(u"\\\\.\\E:", {u"      line 70: dwRetVal=0"}), Recorded(), {Summary(0, 0)}})));
  EXPECT_EQ(ReadBytes(dir / "e/PRELOAD/ZEZ.DAT"),
            "[General]\r\nVolumeName=\\\\?\\Volume{0E0E0E0E-1111-2222-3333-444444444444}\\\r\n"
            "Recovery_Partition_Start=42991616\r\nRecovery_Partition_Size=57671680\r\nDisk_Size=100663296\r\n\r\n"
            "[Service]\r\nLast=2026-10-01\r\n");
}

}  // namespace
