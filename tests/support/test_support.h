// Helpers shared by the tests: scratch folders, bytes of files, UTF-16LE text,
// child processes, and machines put in place for in-process tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace support {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return m_path; }
  fs::path operator/(const std::string& name) const { return m_path / name; }

 private:
  fs::path m_path;
};

std::string ReadBytes(const fs::path& file);
void WriteBytes(const fs::path& file, const std::string& bytes);
// Every file below a folder with its bytes, by relative path.
std::map<std::string, std::string> Snapshot(const fs::path& folder);

std::u16string U16(const std::string& utf8);
std::string Utf8(const std::u16string& text);
// The UTF-16LE bytes of a text.
std::string Utf16Le(const std::u16string& text);
// A log file's bytes: the byte order mark, then each line with CR LF.
std::string LogBytes(const std::vector<std::u16string>& lines);
// A log file's lines (UTF-8 for readable failures), without its byte order mark.
std::vector<std::string> LogLines(const std::string& bytes);

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
// Runs a program to its end with no standard input, capturing both outputs.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env = {});

// Puts the machine of a JSON text in place for in-process tests; relative paths
// are taken from baseDir. Fails the test when the text is refused.
void InstallMachine(const std::string& json, const fs::path& baseDir,
                    std::vector<std::u16string> arguments = {});

}  // namespace support
