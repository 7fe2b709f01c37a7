// rplayout-sim as a user runs it: a machine file, the tool's arguments, the exit
// code, the console and the log it leaves.
#include "support/test_support.h"
#include "tracelog/tracelog.h"

#include <gtest/gtest.h>

namespace {

using support::LogBytes;
using support::ReadBytes;
using support::RunProcess;
using support::TempDir;

std::u16string Header() { return u"Compiled in " + support::U16(kBuildTimestamp); }

support::ProcessResult RunSim(const std::filesystem::path& machine, std::vector<std::string> args = {}) {
  std::vector<std::string> argv{RPLAYOUT_SIM, machine.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

// The tool's arguments follow the machine file, and its argv[0] is the module.
TEST(Launcher, HandsTheArgumentsAndTheModuleToTheTool) {
  TempDir dir;
  std::filesystem::create_directories(dir / "c/Tools");
  support::WriteBytes(dir / "m.json", R"({"module": "C:\\Tools\\rplayout.exe", "drives": {"C": {"files": "c"}}})");
  const auto r = RunSim(dir / "m.json", {"E", "two words"});
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_EQ(r.out,
            "Correct usage: C:\\Tools\\rplayout.exe [RPDrive]\n\n\tRPDrive (optional): drive letter of the RP.\n"
            "\tIf the drive is not specified, the module will try to find it.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadBytes(dir / "c/Tools/rplayout.exe.log"),
            LogBytes({Header(), u"   line 285: WARNING: Incorrect parameters. Correct usage: C:\\Tools\\rplayout.exe [RP letter]",
                      u"Execution ends with 0 error(s) and 1 warning(s)."}));
}

TEST(Launcher, FailedInitialisationPrintsOnlyTheFatalMessage) {
  TempDir dir;
  std::filesystem::create_directories(dir / "c");
  support::WriteBytes(dir / "m.json", R"({"init_fails": true, "drives": {"C": {"files": "c"}}})");
  const auto r = RunSim(dir / "m.json", {"E", "F"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "Fatal Error: MFC initialization failed\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadBytes(dir / "c/rplayout.exe.log"),
            LogBytes({Header(), u"Execution ends with 0 error(s) and 0 warning(s)."}));
}

TEST(Launcher, LogThatCannotBeCreatedIsReportedOnStandardOutput) {
  TempDir dir;
  support::WriteBytes(dir / "m.json", R"({"drives": {"C": {}}})");  // C has no files
  const auto r = RunSim(dir / "m.json");
  EXPECT_EQ(r.exitCode, 2);  // the run goes on without its log: no recovery volume here
  EXPECT_EQ(r.out, "Unable to create log file");
}

struct BadMachine {
  const char* name;
  std::string json;  // empty: the file does not exist
  std::string named;
  friend void PrintTo(const BadMachine& c, std::ostream* os) { *os << c.name; }
};

class LauncherRefuses : public ::testing::TestWithParam<BadMachine> {};

TEST_P(LauncherRefuses, WithOneLineAndExit64WritingNothing) {
  TempDir dir;
  std::filesystem::create_directories(dir / "c");
  const auto file = dir / "bad-machine.json";
  if (!GetParam().json.empty()) support::WriteBytes(file, GetParam().json);
  const auto before = support::Snapshot(dir.Path());
  const auto r = RunSim(file, {"E"});
  EXPECT_EQ(r.exitCode, 64);
  EXPECT_EQ(r.out, "");
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // one line
  EXPECT_NE(r.err.find(file.string()), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(GetParam().named), std::string::npos) << r.err;
  EXPECT_EQ(support::Snapshot(dir.Path()), before);
}

const BadMachine kBadMachines[] = {
    {"Missing", "", "cannot be read"},
    {"NotJson", "{ nope", "is not JSON"},
    {"UnknownKey", R"({"drives": {"C": {"files": "c"}}, "colour": "red"})", "colour"},
    {"WrongType", R"({"drives": {"C": {"files": "c", "type": "3"}}})", "drives.C.type"},
    {"DriveKey", R"({"drives": {"C:": {"files": "c"}}})", "drives.C:"},
    {"MissingDisk", R"({"drives": {"C": {"files": "c", "disk": 1, "partition": 1}}})", "drives.C.disk"},
    {"MissingPartition",
     R"({"disks": {"0": {"size": 1048576, "partitions": []}}, "drives": {"C": {"files": "c", "disk": 0, "partition": 1}}})",
     "drives.C.partition"},
};

INSTANTIATE_TEST_SUITE_P(BadFiles, LauncherRefuses, ::testing::ValuesIn(kBadMachines),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Launcher, WithoutMachineFileShowsUsage) {
  const auto r = RunProcess({RPLAYOUT_SIM});
  EXPECT_EQ(r.exitCode, 64);
  EXPECT_NE(r.err.find("usage: rplayout-sim MACHINE.json"), std::string::npos);
}

}  // namespace
