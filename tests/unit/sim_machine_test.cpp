// The simulated machine: its loader's defaults and refusals, its file store and
// the process and text operations that the log uses.
#include "platform/afx/afxstub.h"
#include "platform/sim/sim_machine.h"
#include "platform/windows_api.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using support::TempDir;

struct RefusedCase {
  const char* name;
  std::string json;
  std::string key;  // what the refusal names
  friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
};

const RefusedCase kRefused[] = {
    {"NotJson", "{\"drives\": ", ""},
    {"UnknownTopKey", R"({"version": 1})", "version"},
    {"UnknownDriveKey", R"({"drives": {"C": {"colour": 1}}})", "drives.C.colour"},
    {"DriveKeyTwoLetters", R"({"drives": {"CD": {}}})", "drives.CD"},
    {"DriveKeyDigit", R"({"drives": {"1": {}}})", "drives.1"},
    {"DriveTypeText", R"({"drives": {"C": {"type": "fixed"}}})", "drives.C.type"},
    {"DriveTypeNegative", R"({"drives": {"C": {"type": -1}}})", "drives.C.type"},
    {"ModuleNumber", R"({"module": 5})", "module"},
    {"InitFailsText", R"({"init_fails": "yes"})", "init_fails"},
    {"FilesFolderMissing", R"({"drives": {"C": {"files": "nowhere"}}})", "drives.C.files"},
    {"VolumeFileMissing", R"({"drives": {"C": {"volume": "none.bin"}}})", "drives.C.volume"},
    {"ExtentWithoutLength", R"({"drives": {"C": {"extents": [{"disk": 0, "offset": 0}]}}})",
     "drives.C.extents[0].length"},
    {"UnknownDisk", R"({"drives": {"D": {"disk": 3, "partition": 1}}})", "drives.D.disk"},
    {"UnknownPartition",
     R"({"disks": {"0": {"size": 100, "partitions": []}}, "drives": {"D": {"disk": 0, "partition": 1}}})",
     "drives.D.partition"},
    {"PartitionWithoutDisk", R"({"drives": {"D": {"partition": 1}}})", "drives.D.disk"},
    {"DiskKeyNotDecimal", R"({"disks": {"x": {"size": 1}}})", "disks.x"},
    {"DiskWithoutSize", R"({"disks": {"0": {}}})", "disks.0.size"},
    {"DiskStyleUnknown", R"({"disks": {"0": {"size": 1, "style": "apm"}}})", "disks.0.style"},
    {"GptTypeNotGuid",
     R"({"disks": {"0": {"size": 1, "partitions": [{"type": 39, "offset": 0, "length": 1}]}}})",
     "disks.0.partitions[0].type"},
    {"UnknownFailOperation", R"({"drives": {"C": {"fail": {"WriteFile": 5}}}})", "drives.C.fail.WriteFile"},
    {"BadGuid", R"({"drives": {"C": {"guid": "not-a-guid"}}})", "drives.C.guid"},
};

class MachineRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(MachineRefused, NamesTheKey) {
  TempDir dir;
  auto result = sim::ParseMachine(GetParam().json, dir.Path());
  ASSERT_TRUE(std::holds_alternative<sim::LoadError>(result));
  EXPECT_EQ(std::get<sim::LoadError>(result).key, GetParam().key)
      << std::get<sim::LoadError>(result).message;
}

INSTANTIATE_TEST_SUITE_P(Loader, MachineRefused, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MachineLoader, DefaultsAndTheDocumentedExample) {
  TempDir dir;
  std::filesystem::create_directories(dir / "c");
  std::filesystem::create_directories(dir / "d");
  support::WriteBytes(dir / "c-boot.bin", std::string(512, '\0'));
  auto result = sim::ParseMachine(R"({
    "module": "C:\\Tools\\rplayout.exe",
    "init_fails": false,
    "drives": {
      "C": { "type": 3, "files": "c", "volume": "c-boot.bin", "fs_flags": 65535,
             "extents": [ { "disk": 0, "offset": 1048576, "length": 42949672960 } ] },
      "d": { "type": 3, "files": "d", "disk": 0, "partition": 1 }
    },
    "disks": {
      "0": { "size": 64424509440, "style": "gpt",
             "partitions": [ { "type": "DE94BBA4-06D1-4D40-A16A-BFD50179D6AC",
                               "offset": 63350767616, "length": 1073741824 } ] }
    }
  })", dir.Path());
  ASSERT_TRUE(std::holds_alternative<sim::Machine>(result)) << std::get<sim::LoadError>(result).message;
  const sim::Machine& m = std::get<sim::Machine>(result);
  EXPECT_EQ(m.module, u"C:\\Tools\\rplayout.exe");
  ASSERT_EQ(m.drives.count(u'D'), 1u);  // keyed by the letter in either case
  const sim::Drive& d = m.drives.at(u'D');
  EXPECT_EQ(d.type, DRIVE_FIXED);
  EXPECT_EQ(d.sectorSize, 512u);
  EXPECT_EQ(d.guid, "00000000-0000-0000-0000-000000000044");
  EXPECT_FALSE(d.fsFlags.has_value());
  const sim::Partition& p = m.disks.at(0).partitions.at(0);
  EXPECT_EQ(p.gptType.Data1, 0xDE94BBA4u);
  EXPECT_EQ(p.gptType.Data4[7], 0xACu);
  EXPECT_EQ(p.offset, 63350767616);

  auto empty = sim::ParseMachine("{}", dir.Path());
  ASSERT_TRUE(std::holds_alternative<sim::Machine>(empty));
  EXPECT_EQ(std::get<sim::Machine>(empty).module, u"C:\\rplayout.exe");
  EXPECT_FALSE(std::get<sim::Machine>(empty).initFails);
}

class SimFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    support::WriteBytes(m_dir / "e/PRELOAD/ZEZ.DAT", "[General]\r\n");
    std::filesystem::create_directories(m_dir / "c");
    support::InstallMachine(
        R"({"drives": {"C": {"files": "c"}, "E": {"files": "e"}, "F": {}}})", m_dir.Path());
  }
  void TearDown() override { sim::Uninstall(); }
  DWORD Resolve(const std::u16string& path, bool mayBeMissing, sim::ResolvedPath& out) {
    return sim::ResolveMachinePath(path, mayBeMissing, out);
  }
  TempDir m_dir;
};

TEST_F(SimFiles, PathsMatchWithoutRegardToCase) {
  sim::ResolvedPath r;
  ASSERT_EQ(Resolve(u"e:\\preload\\zez.dat", false, r), 0u);
  EXPECT_TRUE(r.exists);
  EXPECT_EQ(r.hostPath, m_dir / "e/PRELOAD/ZEZ.DAT");
  ASSERT_EQ(Resolve(u"E:\\Preload\\new.txt", true, r), 0u);
  EXPECT_FALSE(r.exists);
  EXPECT_EQ(r.hostPath, m_dir / "e/PRELOAD/new.txt");  // a new file keeps its spelling
}

TEST_F(SimFiles, ErrorsAreThoseOfWindows) {
  sim::ResolvedPath r;
  EXPECT_EQ(Resolve(u"E:\\PRELOAD\\MISSING.DAT", false, r), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Resolve(u"E:\\NOPE\\ZEZ.DAT", true, r), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Resolve(u"E:\\PRELOAD\\ZEZ.DAT\\x", true, r), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Resolve(u"F:\\x", true, r), ERROR_PATH_NOT_FOUND);   // drive without files
  EXPECT_EQ(Resolve(u"Q:\\x", true, r), ERROR_FILE_NOT_FOUND);   // letter not on the machine
  EXPECT_EQ(Resolve(u"E:\\a?b", true, r), ERROR_INVALID_NAME);
}

TEST_F(SimFiles, APathCannotClimbOutOfItsDrive) {
  support::WriteBytes(m_dir / "c/inner/x", "x");
  sim::ResolvedPath r;
  // ".." stops at the drive's root: the host folder e beside c is out of reach.
  EXPECT_EQ(Resolve(u"C:\\..\\..\\e\\PRELOAD\\ZEZ.DAT", true, r), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(Resolve(u"C:\\inner\\..\\..\\inner\\.\\x", false, r), 0u);
  EXPECT_EQ(r.hostPath, m_dir / "c/inner/x");
}

TEST_F(SimFiles, ReadOnlyFileCannotBeOpenedForWriting) {
  std::filesystem::permissions(m_dir / "e/PRELOAD/ZEZ.DAT", std::filesystem::perms::owner_read);
  EXPECT_EQ(OpenFileExclusiveForWrite(u"E:\\PRELOAD\\ZEZ.DAT"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenFileExclusiveForWrite(u"E:\\PRELOAD"), nullptr);  // a folder
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

class SimProcess : public ::testing::Test {
 protected:
  void TearDown() override { sim::Uninstall(); }
};

TEST_F(SimProcess, ModuleFileNameIsCutAsWindowsCutsIt) {
  sim::Machine m;
  m.module = u"C:\\Tools\\rplayout.exe";  // 21 characters
  sim::Install(m);
  WCHAR buffer[32];
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 32), 21u);
  EXPECT_EQ(std::u16string(buffer), m.module);
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 10), 10u);
  EXPECT_EQ(std::u16string(buffer), u"C:\\Tools\\");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 21), 21u);  // no room for the terminator
}

TEST_F(SimProcess, CommandLineAndInitialisation) {
  sim::Machine m;
  sim::Install(m, {u"C:\\rplayout.exe", u"E", u"two words", u""});
  EXPECT_EQ(std::u16string(GetCommandLineW()), u"C:\\rplayout.exe E \"two words\" \"\"");
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  EXPECT_NE(AfxWinInit(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), 0), 0);
  EXPECT_EQ(GetErrorMode(), SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  m.initFails = true;
  sim::Install(m);
  EXPECT_EQ(AfxWinInit(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), 0), 0);
}

TEST_F(SimProcess, ErrorTextsAndAnsiConversion) {
  sim::Install(sim::Machine{});
  LPWSTR text = nullptr;
  DWORD n = FormatMessageW(0x1300, nullptr, 32, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  ASSERT_NE(n, 0u);
  EXPECT_EQ(std::u16string(text, n),
            u"The process cannot access the file because it is being used by another process.\r\n");
  LocalFree(text);
  EXPECT_EQ(FormatMessageW(0x1300, nullptr, 4, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr), 0u);

  const char bytes[] = "A\x80\x81\x9F\xA0\xFF";
  WCHAR wide[8];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, 7, wide, 7), 7);
  EXPECT_EQ(std::u16string(wide), u"A\u20AC\u0081\u0178\u00A0\u00FF");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, 7, wide, 3), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(SimText, Utf8RoundTripAndLoneSurrogates) {
  const std::u16string text = u"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(sim::FromUtf8(sim::ToUtf8(text)), text);
  EXPECT_EQ(sim::FromUtf8("\xED\xA0\x80"), std::u16string(1, char16_t(0xD800)));
  EXPECT_EQ(sim::FromUtf8("\xFF"), u"\uFFFD");
  EXPECT_EQ(sim::ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

}  // namespace
