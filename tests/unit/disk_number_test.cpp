// The disk number of a drive letter: every path of the lookup, byte for byte.
#include "layoutrecord/layoutrecord.h"
#include "support/sim_fixture.h"

#include <gtest/gtest.h>

namespace {

using support::LogBytes;
using support::LogHeader;
using support::Summary;

const std::u16string kEnter = u"   Enter unsigned long __cdecl GetDriveNumberFromDriveLetter(unsigned short)";
const std::u16string kExit = u"   Exit GetDriveNumberFromDriveLetter";

struct LookupCase {
  const char* name;
  std::string drives;
  std::string disks;
  WCHAR letter;
  DWORD result;
  std::vector<std::u16string> inside;  // the entries inside the scope
  int errors;
  friend void PrintTo(const LookupCase& c, std::ostream* os) { *os << c.name; }
};

const LookupCase kLookups[] = {
    {"VolumeOnDiskZero", R"("D": {"extents": [{"disk": 0, "offset": 1048576, "length": 4096}]})", "", u'D', 0,
     {u"      line 34: strVolume=\\\\.\\D:", u"      line 70: dwRetVal=0"}, 0},
    {"PartitionOfDiskThree", R"("E": {"disk": 3, "partition": 2})",
     R"("3": {"size": 100000, "style": "mbr", "partitions": [{"type": 7, "offset": 512, "length": 512},
                                                              {"type": 39, "offset": 1024, "length": 4096}]})",
     u'E', 3, {u"      line 34: strVolume=\\\\.\\E:", u"      line 70: dwRetVal=3"}, 0},
    {"LowerCaseLetterUsedUnchanged", R"("D": {"extents": [{"disk": 1, "offset": 0, "length": 1}]})", "", u'd', 1,
     {u"      line 34: strVolume=\\\\.\\d:", u"      line 70: dwRetVal=1"}, 0},
    {"NoVolumeBehindTheLetter", "", "", u'Q', 0xFFFFFFFF,
     {u"      line 34: strVolume=\\\\.\\Q:",
      u"      line 68: ERROR: Cannot open handle on \\\\.\\Q:: The system cannot find the file specified.", u"",
      u"      line 70: dwRetVal=-1"},
     1},
    {"VolumeSpanningTwoDisks",
     R"("D": {"extents": [{"disk": 0, "offset": 0, "length": 1}, {"disk": 1, "offset": 0, "length": 1}]})", "", u'D',
     0xFFFFFFFF,
     {u"      line 34: strVolume=\\\\.\\D:",
      u"      line 63: ERROR: Function to get disk number failed: More data is available.", u"",
      u"      line 70: dwRetVal=-1"},
     1},
    {"RequestSucceedsWithNoExtent", R"("C": {"extents": []})", "", u'C', 0xFFFFFFFF,
     {u"      line 34: strVolume=\\\\.\\C:", u"      line 63: ERROR: Function to get disk number failed: The data is invalid.",
      u"", u"      line 70: dwRetVal=-1"},
     1},
    {"VolumeWithoutExtents", R"("D": {})", "", u'D', 0xFFFFFFFF,
     {u"      line 34: strVolume=\\\\.\\D:", u"      line 63: ERROR: Function to get disk number failed: Incorrect function.",
      u"", u"      line 70: dwRetVal=-1"},
     1},
    {"RequestFailsWithoutSystemText", R"("D": {"extents": [], "fail": {"DeviceIoControl": 50000}})", "", u'D',
     0xFFFFFFFF,
     {u"      line 34: strVolume=\\\\.\\D:", u"      line 63: ERROR: Function to get disk number failed: Error(50000)",
      u"      line 70: dwRetVal=-1"},
     1},
    {"OpeningFailsForced", R"("D": {"extents": [], "fail": {"CreateFileW": 32}})", "", u'D', 0xFFFFFFFF,
     {u"      line 34: strVolume=\\\\.\\D:",
      u"      line 68: ERROR: Cannot open handle on \\\\.\\D:: The process cannot access the file because it is being "
      u"used by another process.",
      u"", u"      line 70: dwRetVal=-1"},
     1},
};

class DiskNumberLookup : public support::SimMachineTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(DiskNumberLookup, WritesItsEntriesInOrder) {
  const LookupCase& c = GetParam();
  Install(c.drives, c.disks);
  DWORD result = 12345;
  const std::string log = Logged([&] { result = GetDriveNumberFromDriveLetter(c.letter); });
  EXPECT_EQ(result, c.result);
  std::vector<std::u16string> lines{LogHeader(), kEnter};
  lines.insert(lines.end(), c.inside.begin(), c.inside.end());
  lines.push_back(kExit);
  lines.push_back(Summary(c.errors, 0));
  EXPECT_EQ(log, LogBytes(lines)) << ::testing::PrintToString(support::LogLines(log));
  EXPECT_EQ(OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Paths, DiskNumberLookup, ::testing::ValuesIn(kLookups),
                         [](const auto& info) { return std::string(info.param.name); });

using DiskNumber = support::SimMachineTest;

TEST_F(DiskNumber, OpensForReadAndWriteAndClosesAfterTheRequest) {
  Install(R"("D": {"extents": [{"disk": 0, "offset": 0, "length": 1}, {"disk": 1, "offset": 0, "length": 1}]})");
  Logged([] { GetDriveNumberFromDriveLetter(u'D'); });
  EXPECT_EQ(Calls(), (std::vector<std::string>{"CreateFileW \\\\.\\D:", "DeviceIoControl 0x00560000", "CloseHandle"}));
}

TEST_F(DiskNumber, NoRequestIsSentWhenTheVolumeCannotBeOpened) {
  Install("");
  Logged([] { GetDriveNumberFromDriveLetter(u'Q'); });
  EXPECT_EQ(Calls(), (std::vector<std::string>{"CreateFileW \\\\.\\Q:"}));
}

}  // namespace
