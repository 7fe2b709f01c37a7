// The simulated file store: paths of the machine (D:\PRELOAD\ZEZ.DAT) live under
// the `files` folder of their drive on the host, found without regard to case.
#include "platform/sim/sim_machine.h"
#include "platform/windows_api.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <sys/stat.h>

namespace sim {

namespace {

bool ValidComponent(const std::u16string& name) {
  for (const char16_t c : name) {
    if (c < 0x20 || c == u'<' || c == u'>' || c == u':' || c == u'"' || c == u'|' || c == u'?' ||
        c == u'*')
      return false;
    if (c >= 0xD800 && c <= 0xDFFF) return false;  // no host name can carry it
  }
  return true;
}

// The entry of `folder` whose name matches `name` without regard to case.
std::optional<fs::path> FindEntry(const fs::path& folder, const std::u16string& name) {
  std::error_code ec;
  const fs::path exact = folder / ToUtf8(name);
  if (fs::exists(fs::symlink_status(exact, ec))) return exact;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (EqualNoCase(FromUtf8(it->path().filename().string()), name)) return it->path();
  }
  return std::nullopt;
}

}  // namespace

DWORD ResolveMachinePath(const std::u16string& path, bool mayBeMissing, ResolvedPath& out) {
  if (path.size() < 3 || path[1] != u':' || (path[2] != u'\\' && path[2] != u'/'))
    return ERROR_PATH_NOT_FOUND;
  const Drive* drive = Current().FindDrive(path[0]);
  if (drive == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!drive->files) return ERROR_PATH_NOT_FOUND;

  // The components, with "." and ".." taken as Windows takes them: a path cannot
  // climb out of its drive.
  std::vector<std::u16string> parts;
  std::u16string part;
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
      if (part == u"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != u".") {
        if (!ValidComponent(part)) return ERROR_INVALID_NAME;
        parts.push_back(part);
      }
      part.clear();
    } else {
      part.push_back(path[i]);
    }
  }
  fs::path current = *drive->files;
  std::error_code ec;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    std::optional<fs::path> entry = FindEntry(current, parts[i]);
    if (!entry) {
      if (!last) return ERROR_PATH_NOT_FOUND;
      if (!mayBeMissing) return ERROR_FILE_NOT_FOUND;
      out.hostPath = current / ToUtf8(parts[i]);
      out.exists = false;
      return 0;
    }
    if (!last && !fs::is_directory(*entry, ec)) return ERROR_PATH_NOT_FOUND;
    current = *entry;
  }
  out.hostPath = current;
  out.exists = true;
  return 0;
}

}  // namespace sim

FILE* OpenFileExclusiveForWrite(const WCHAR* path) {
  sim::ResolvedPath resolved;
  if (const DWORD error = sim::ResolveMachinePath(path, true, resolved); error != 0)
    return sim::Fail(error, static_cast<FILE*>(nullptr));
  struct stat st{};
  if (resolved.exists && ::stat(resolved.hostPath.c_str(), &st) == 0 &&
      (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0))
    return sim::Fail(ERROR_ACCESS_DENIED, static_cast<FILE*>(nullptr));
  FILE* file = std::fopen(resolved.hostPath.c_str(), "wb");
  if (file == nullptr) return sim::Fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_ACCESS_DENIED, file);
  return file;
}

namespace sim {
namespace {
struct FileFindObject : OpenObject {};
}  // namespace
}  // namespace sim

HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData) {
  sim::Runtime& rt = sim::Current();
  const std::u16string path = lpFileName == nullptr ? std::u16string() : std::u16string(lpFileName);
  rt.Record("FindFirstFileW " + sim::ToUtf8(path));
  if (path.find_first_of(u"*?") != std::u16string::npos) return sim::Fail(ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
  sim::ResolvedPath resolved;
  if (const DWORD error = sim::ResolveMachinePath(path, false, resolved); error != 0)
    return sim::Fail(error, INVALID_HANDLE_VALUE);
  std::error_code ec;
  std::memset(lpFindFileData, 0, sizeof *lpFindFileData);
  const bool folder = sim::fs::is_directory(resolved.hostPath, ec);
  lpFindFileData->dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (!folder) {
    const auto size = static_cast<std::uint64_t>(sim::fs::file_size(resolved.hostPath, ec));
    lpFindFileData->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    lpFindFileData->nFileSizeLow = static_cast<DWORD>(size);
  }
  const std::u16string name = sim::FromUtf8(resolved.hostPath.filename().string());
  const std::size_t n = std::min<std::size_t>(name.size(), MAX_PATH - 1);
  std::memcpy(lpFindFileData->cFileName, name.data(), n * sizeof(WCHAR));
  return rt.AddHandle(std::make_unique<sim::FileFindObject>());
}

BOOL FindClose(HANDLE hFindFile) {
  sim::Runtime& rt = sim::Current();
  rt.Record("FindClose");
  if (rt.GetHandleAs<sim::FileFindObject>(hFindFile) == nullptr) return sim::Fail(ERROR_INVALID_HANDLE, FALSE);
  rt.CloseHandleObject(hFindFile);
  return TRUE;
}
