// The simulated Windows machine: its drives, disks and files as a machine file
// describes them, and its running state (last error, error mode, open handles,
// console). The simulated Windows operations answer from here.
#pragma once

#include "platform/sim/sim_api.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace sim {

namespace fs = std::filesystem;

struct Extent {
  DWORD disk = 0;
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

struct Drive {
  WCHAR letter = u'C';  // upper case
  UINT type = DRIVE_FIXED;
  std::optional<fs::path> files;
  std::optional<fs::path> volume;
  std::optional<DWORD> fsFlags;
  std::optional<std::vector<Extent>> extents;
  DWORD sectorSize = 512;
  std::optional<DWORD> disk;
  std::optional<DWORD> partition;  // 1-based, table order
  bool fsFlagsFound = false;       // fsFlags come from the file system in a disk image
  std::string guid;                // upper-case hex, without braces
  std::map<std::string, DWORD> fail;
};

struct Partition {
  bool gpt = true;
  GUID gptType{};
  BYTE mbrType = 0;
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

struct Disk {
  std::int64_t size = 0;
  bool gpt = true;
  bool raw = false;  // an image with no partition table that could be read
  std::vector<Partition> partitions;
  std::optional<fs::path> image;
  std::map<std::string, DWORD> fail;
};

struct Machine {
  std::u16string module = u"C:\\rplayout.exe";
  bool initFails = false;
  std::map<WCHAR, Drive> drives;
  std::map<DWORD, Disk> disks;
};

// A machine file that cannot be used: the key at fault ("drives.C.type"; empty
// when the file as a whole is at fault) and what is wrong with it.
struct LoadError {
  std::string key;
  std::string message;
};

// Reads a machine description. Relative paths in it are taken from baseDir.
std::variant<Machine, LoadError> ParseMachine(const std::string& json, const fs::path& baseDir);
// Reads a machine file; on failure `errorLine` is the one line that names the file
// and the key.
std::optional<Machine> LoadMachineFile(const fs::path& file, std::string& errorLine);

// An object that a simulated handle stands for.
struct OpenObject {
  virtual ~OpenObject() = default;
};

// The machine as it runs.
class Runtime {
 public:
  explicit Runtime(Machine machine) : m_machine(std::move(machine)) {}

  Machine& GetMachine() { return m_machine; }
  const Drive* FindDrive(WCHAR letter) const;
  const Disk* FindDisk(DWORD number) const;

  DWORD lastError = 0;
  UINT errorMode = 0;
  std::vector<std::u16string> arguments;  // argv, the module first
  std::u16string commandLine;             // what GetCommandLineW gives

  HANDLE AddHandle(std::unique_ptr<OpenObject> object);
  OpenObject* GetHandle(HANDLE h) const;
  bool CloseHandleObject(HANDLE h);
  template <class T>
  T* GetHandleAs(HANDLE h) const {
    return dynamic_cast<T*>(GetHandle(h));
  }

  // The operations called so far, one line each ("CreateFileW \\.\C:"), so that a
  // test can see what the tool touched and in which order.
  std::vector<std::string> calls;
  void Record(const std::string& call) {
    Step();
    calls.push_back(call);
  }

  // Every operation and every step of a file update is a step; a run can be
  // killed at its Nth step (SIGKILL, as a power cut or a task manager would end
  // it), to show what a run that is cut short leaves behind.
  void KillAtStep(int n) { m_killAt = n; }
  void Step();
  std::size_t OpenHandleCount() const { return m_handles.size(); }

  // A test may fail the Nth file operation from now on (1 is the next one), to
  // show what each step of a file update leaves behind when it fails.
  void FailFileOperationAt(int n, DWORD error) {
    m_failFileOpAt = n;
    m_failFileOpError = error;
  }
  // Counts one file operation; true when this one is to fail (its error set).
  bool FileOperationFails();
  int FileOperationCount() const { return m_fileOps; }

 private:
  Machine m_machine;
  std::map<HANDLE, std::unique_ptr<OpenObject>> m_handles;
  std::uintptr_t m_nextHandle = 0x1000;
  int m_fileOps = 0;
  int m_steps = 0;
  int m_killAt = 0;
  int m_failFileOpAt = 0;
  DWORD m_failFileOpError = 0;
};

// The running machine. In the tool started by rplayout-sim it is loaded on first
// use from the file that the launcher hands over, so it is in place before any
// static object of the tool asks it anything.
Runtime& Current();
// Puts a machine in place (tests), with the tool's arguments, the module first.
void Install(Machine machine, std::vector<std::u16string> arguments = {});
void Uninstall();

// The environment variable by which rplayout-sim hands the machine file to the tool.
constexpr const char* kMachineEnvVar = "RPLAYOUT_SIM_MACHINE";
// The environment variable that asks the simulator to kill the tool at step N.
constexpr const char* kKillAtEnvVar = "RPLAYOUT_SIM_KILL_AT_STEP";

// Text conversions of the host side.
std::string ToUtf8(const std::u16string& text);
std::u16string FromUtf8(const std::string& text);
// The Windows command line for an argument vector (quoted as the C runtime splits).
std::u16string JoinCommandLine(const std::vector<std::u16string>& args);

// Whether two names are the same without regard to case, as Windows compares file,
// section and key names (ASCII and Latin-1 letters).
bool EqualNoCase(const std::u16string& a, const std::u16string& b);

// One byte of the ANSI code page (Windows-1252) as UTF-16.
char16_t AnsiToWide(unsigned char byte);

// Sets the thread's last error and answers the given result, for the simulated
// operations' failure paths.
template <class T>
T Fail(DWORD error, T result) {
  Current().lastError = error;
  return result;
}

// A forced failure of the drive or disk: the code, if one is set.
std::optional<DWORD> ForcedFailure(const std::map<std::string, DWORD>& fail, const char* operation);

// What a disk image holds: its size and partition table, read with libblkid.
// False, with the reason, when the file cannot be read.
bool ReadDiskImage(const fs::path& image, Disk& disk, std::string& error);
// The file-system flags of the volume at `offset` in an image: NTFS with
// FILE_PERSISTENT_ACLS, FAT without; nothing for a file system not recognised.
std::optional<DWORD> DetectFileSystemFlags(const fs::path& image, std::int64_t offset, std::int64_t length);

// The volume of a drive as the simulator sees it: its extents (or the error of the
// extents request) and where its bytes are.
struct VolumeBytes {
  std::optional<fs::path> file;  // none: 512 zero bytes
  std::int64_t offset = 0;       // in the file
  std::int64_t length = -1;      // -1: to the end of the file
};
VolumeBytes VolumeBytesOf(const Drive& drive);

// Where a path of the machine (D:\PRELOAD\ZEZ.DAT) lives on the host. For an
// existing file `hostPath` is it; for a missing last component (create allowed)
// it is the path the new file would have. Answers 0 or the Windows error code.
struct ResolvedPath {
  fs::path hostPath;
  bool exists = false;
};
DWORD ResolveMachinePath(const std::u16string& path, bool mayBeMissing, ResolvedPath& out);

}  // namespace sim
