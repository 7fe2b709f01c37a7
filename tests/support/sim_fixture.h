// A fixture for in-process runs on a simulated machine: the machine is put in
// place from JSON (with the module on a removable drive A, which no search
// examines), and a traced call's whole log is returned as its file's bytes.
#pragma once

#include "platform/sim/sim_machine.h"
#include "support/test_support.h"
#include "tracelog/tracelog.h"

#include <gtest/gtest.h>

#include <functional>

namespace support {

inline std::u16string LogHeader() { return u"Compiled in " + U16(kBuildTimestamp); }

inline std::u16string Summary(int errors, int warnings) {
  return u"Execution ends with " + U16(std::to_string(errors)) + u" error(s) and " +
         U16(std::to_string(warnings)) + u" warning(s).";
}

// The 512 bytes of a boot sector with the given bytes at offsets 3 and 496.
inline std::string BootSector(const std::string& at3, const std::string& at496) {
  std::string s(512, '\0');
  s.replace(3, at3.size(), at3);
  s.replace(496, at496.size(), at496);
  return s;
}

// The path of a program of Debian's that may live in a folder of the super-user.
std::string FindTool(const std::string& name);

class SimMachineTest : public ::testing::Test {
 protected:
  void TearDown() override { sim::Uninstall(); }

  // `drives` and `disks` are the JSON objects' contents (without braces).
  void Install(const std::string& drives, const std::string& disks = "",
               std::vector<std::u16string> arguments = {}) {
    std::filesystem::create_directories(m_dir / "a");
    std::string json = R"({"module": "A:\\rplayout.exe", "drives": {"A": {"type": 2, "files": "a"})";
    if (!drives.empty()) json += ", " + drives;
    json += "}";
    if (!disks.empty()) json += R"(, "disks": {)" + disks + "}";
    json += "}";
    InstallMachine(json, m_dir.Path(), std::move(arguments));
  }

  // The log of a run of `body`, as its file's bytes.
  std::string Logged(const std::function<void()>& body) {
    {
      TraceLog log;
      body();
    }
    return ReadBytes(m_dir / "a/rplayout.exe.log");
  }

  std::vector<std::string>& Calls() { return sim::Current().calls; }
  std::size_t OpenHandles() { return sim::Current().OpenHandleCount(); }

  TempDir m_dir;
};

}  // namespace support
