// Simulated volume and disk devices: drive types, device handles, reading a
// volume's bytes, volume information, the device controls that the tool sends,
// and the enumeration of volumes.
#include "platform/sim/sim_machine.h"
#include "platform/windows_api.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace sim {

namespace {

struct VolumeObject : OpenObject {
  WCHAR letter = 0;
  std::int64_t position = 0;
};

struct DiskObject : OpenObject {
  DWORD number = 0;
};

struct VolumeFindObject : OpenObject {
  std::vector<WCHAR> letters;
  std::size_t next = 0;
};

bool StartsWithNoCase(const std::u16string& text, const std::u16string& prefix) {
  return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

std::u16string Text(LPCWSTR s) { return s == nullptr ? std::u16string() : std::u16string(s); }

std::u16string VolumeName(const Drive& d) { return u"\\\\?\\Volume{" + FromUtf8(d.guid) + u"}\\"; }

// The drive whose volume a device path names: \\.\X: or \\?\Volume{GUID}.
const Drive* VolumeOfDevicePath(const std::u16string& path, DWORD& error) {
  Runtime& rt = Current();
  error = ERROR_FILE_NOT_FOUND;
  if (path.size() == 6 && path.compare(0, 4, u"\\\\.\\") == 0 && path[5] == u':') {
    return rt.FindDrive(path[4]);
  }
  if (StartsWithNoCase(path, u"\\\\?\\Volume{") && path.back() == u'}') {
    const std::u16string wanted = path + u"\\";
    for (const auto& [letter, drive] : rt.GetMachine().drives)
      if (EqualNoCase(VolumeName(drive), wanted))
        return &drive;
  }
  return nullptr;
}

std::optional<DWORD> DiskOfDevicePath(const std::u16string& path) {
  const std::u16string prefix = u"\\\\.\\PhysicalDrive";
  if (!StartsWithNoCase(path, prefix) || path.size() == prefix.size() || path.size() > prefix.size() + 10)
    return std::nullopt;
  std::uint64_t n = 0;
  for (std::size_t i = prefix.size(); i < path.size(); ++i) {
    if (path[i] < u'0' || path[i] > u'9') return std::nullopt;
    n = n * 10 + (path[i] - u'0');
  }
  if (n > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<DWORD>(n);
}

const Partition* PartitionOf(const Drive& d) {
  if (!d.disk || !d.partition) return nullptr;
  const Disk* disk = Current().FindDisk(*d.disk);
  if (disk == nullptr || *d.partition == 0 || *d.partition > disk->partitions.size()) return nullptr;
  return &disk->partitions[*d.partition - 1];
}

std::optional<std::vector<Extent>> ExtentsOf(const Drive& d) {
  if (d.extents) return d.extents;
  if (const Partition* p = PartitionOf(d)) return std::vector<Extent>{{*d.disk, p->offset, p->length}};
  return std::nullopt;
}

// Reads up to `count` bytes of a volume from `position`; what lies past its end
// is not delivered.
DWORD ReadVolume(const Drive& d, std::int64_t position, BYTE* out, DWORD count) {
  const VolumeBytes where = VolumeBytesOf(d);
  if (!where.file) {
    const std::int64_t size = 512;
    const std::int64_t n = std::max<std::int64_t>(0, std::min<std::int64_t>(count, size - position));
    std::memset(out, 0, static_cast<std::size_t>(n));
    return static_cast<DWORD>(n);
  }
  std::ifstream in(*where.file, std::ios::binary);
  if (!in) return 0;
  in.seekg(0, std::ios::end);
  const std::int64_t fileSize = static_cast<std::int64_t>(in.tellg());
  std::int64_t end = where.length < 0 ? fileSize : std::min(fileSize, where.offset + where.length);
  const std::int64_t start = where.offset + position;
  const std::int64_t n = std::max<std::int64_t>(0, std::min<std::int64_t>(count, end - start));
  if (n == 0) return 0;
  in.seekg(start);
  in.read(reinterpret_cast<char*>(out), n);
  return static_cast<DWORD>(in.gcount());
}

std::string Hex(DWORD v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", v);
  return text;
}

}  // namespace

VolumeBytes VolumeBytesOf(const Drive& d) {
  VolumeBytes where;
  if (d.volume) {
    where.file = d.volume;
  } else if (const Partition* p = PartitionOf(d)) {
    const Disk* disk = Current().FindDisk(*d.disk);
    if (disk->image) {
      where.file = disk->image;
      where.offset = p->offset;
      where.length = p->length;
    }
  }
  return where;
}

}  // namespace sim

using sim::Current;
using sim::Fail;

UINT GetDriveTypeW(LPCWSTR lpRootPathName) {
  const std::u16string root = sim::Text(lpRootPathName);
  Current().Record("GetDriveTypeW " + sim::ToUtf8(root));
  if (root.size() < 2 || root[1] != u':' || (root.size() > 2 && root.substr(2) != u"\\"))
    return DRIVE_NO_ROOT_DIR;
  const sim::Drive* d = Current().FindDrive(root[0]);
  return d == nullptr ? DRIVE_NO_ROOT_DIR : d->type;
}

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD dwCreationDisposition,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  sim::Runtime& rt = Current();
  const std::u16string path = sim::Text(lpFileName);
  rt.Record("CreateFileW " + sim::ToUtf8(path));
  if (auto n = sim::DiskOfDevicePath(path)) {
    const sim::Disk* disk = rt.FindDisk(*n);
    if (disk == nullptr) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    if (auto code = sim::ForcedFailure(disk->fail, "CreateFileW")) return Fail(*code, INVALID_HANDLE_VALUE);
    if (dwCreationDisposition != OPEN_EXISTING) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    auto object = std::make_unique<sim::DiskObject>();
    object->number = *n;
    return rt.AddHandle(std::move(object));
  }
  DWORD error = 0;
  const sim::Drive* drive = sim::VolumeOfDevicePath(path, error);
  if (drive == nullptr) return Fail(error, INVALID_HANDLE_VALUE);
  if (auto code = sim::ForcedFailure(drive->fail, "CreateFileW")) return Fail(*code, INVALID_HANDLE_VALUE);
  if (dwCreationDisposition != OPEN_EXISTING) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  if ((dwDesiredAccess & GENERIC_WRITE) != 0 && drive->type == DRIVE_CDROM)
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  auto object = std::make_unique<sim::VolumeObject>();
  object->letter = drive->letter;
  return rt.AddHandle(std::move(object));
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED /*lpOverlapped*/) {
  sim::Runtime& rt = Current();
  rt.Record("ReadFile " + std::to_string(nNumberOfBytesToRead));
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  auto* volume = rt.GetHandleAs<sim::VolumeObject>(hFile);
  if (volume == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  const sim::Drive* drive = rt.FindDrive(volume->letter);
  if (auto code = sim::ForcedFailure(drive->fail, "ReadFile")) return Fail(*code, FALSE);
  if (nNumberOfBytesToRead % drive->sectorSize != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  const DWORD n = sim::ReadVolume(*drive, volume->position, static_cast<BYTE*>(lpBuffer), nNumberOfBytesToRead);
  volume->position += n;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = n;
  return TRUE;
}

BOOL CloseHandle(HANDLE hObject) {
  sim::Runtime& rt = Current();
  rt.Record("CloseHandle");
  if (rt.GetHandleAs<sim::VolumeFindObject>(hObject) != nullptr || !rt.CloseHandleObject(hObject))
    return Fail(ERROR_INVALID_HANDLE, FALSE);
  return TRUE;
}

BOOL GetVolumeInformationW(LPCWSTR lpRootPathName, LPWSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                           LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                           LPDWORD lpFileSystemFlags, LPWSTR lpFileSystemNameBuffer,
                           DWORD nFileSystemNameSize) {
  sim::Runtime& rt = Current();
  const std::u16string root = sim::Text(lpRootPathName);
  rt.Record("GetVolumeInformationW " + sim::ToUtf8(root));
  if (root.size() != 3 || root[1] != u':' || root[2] != u'\\') return Fail(ERROR_INVALID_NAME, FALSE);
  const sim::Drive* drive = rt.FindDrive(root[0]);
  if (drive == nullptr) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (auto code = sim::ForcedFailure(drive->fail, "GetVolumeInformationW")) return Fail(*code, FALSE);
  if (!drive->fsFlags) return Fail(ERROR_NOT_READY, FALSE);
  const std::u16string fsName = (*drive->fsFlags & FILE_PERSISTENT_ACLS) != 0 ? u"NTFS" : u"FAT32";
  if (lpFileSystemNameBuffer != nullptr && nFileSystemNameSize <= fsName.size())
    return Fail(ERROR_MORE_DATA, FALSE);
  if (lpVolumeNameBuffer != nullptr && nVolumeNameSize > 0) lpVolumeNameBuffer[0] = 0;
  if (lpVolumeSerialNumber != nullptr) *lpVolumeSerialNumber = 0x1234ABCD;
  if (lpMaximumComponentLength != nullptr) *lpMaximumComponentLength = 255;
  if (lpFileSystemFlags != nullptr) *lpFileSystemFlags = *drive->fsFlags;
  if (lpFileSystemNameBuffer != nullptr)
    std::memcpy(lpFileSystemNameBuffer, fsName.c_str(), (fsName.size() + 1) * sizeof(WCHAR));
  return TRUE;
}

namespace {

BOOL VolumeControl(const sim::Drive& drive, DWORD code, LPVOID out, DWORD outSize, LPDWORD returned) {
  if (code != IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  const auto extents = sim::ExtentsOf(drive);
  if (!extents) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  if (out == nullptr || outSize < sizeof(VOLUME_DISK_EXTENTS)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  auto* record = static_cast<VOLUME_DISK_EXTENTS*>(out);
  record->NumberOfDiskExtents = static_cast<DWORD>(extents->size());
  const std::size_t room = (outSize - offsetof(VOLUME_DISK_EXTENTS, Extents)) / sizeof(DISK_EXTENT);
  if (extents->size() > room) {
    if (returned != nullptr) *returned = sizeof(DWORD);
    return Fail(ERROR_MORE_DATA, FALSE);
  }
  for (std::size_t i = 0; i < extents->size(); ++i) {
    record->Extents[i].DiskNumber = (*extents)[i].disk;
    record->Extents[i].StartingOffset.QuadPart = (*extents)[i].offset;
    record->Extents[i].ExtentLength.QuadPart = (*extents)[i].length;
  }
  if (returned != nullptr)
    *returned = static_cast<DWORD>(offsetof(VOLUME_DISK_EXTENTS, Extents) + extents->size() * sizeof(DISK_EXTENT));
  return TRUE;
}

BOOL DiskControl(const sim::Disk& disk, DWORD code, LPVOID out, DWORD outSize, LPDWORD returned) {
  if (code == IOCTL_DISK_GET_LENGTH_INFO) {
    if (auto forced = sim::ForcedFailure(disk.fail, "IOCTL_DISK_GET_LENGTH_INFO")) return Fail(*forced, FALSE);
    if (out == nullptr || outSize < sizeof(GET_LENGTH_INFORMATION)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    static_cast<GET_LENGTH_INFORMATION*>(out)->Length.QuadPart = disk.size;
    if (returned != nullptr) *returned = sizeof(GET_LENGTH_INFORMATION);
    return TRUE;
  }
  if (code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) {
    if (auto forced = sim::ForcedFailure(disk.fail, "IOCTL_DISK_GET_DRIVE_LAYOUT_EX")) return Fail(*forced, FALSE);
    // An MBR layout lists its entries four at a time, the unused ones empty, as
    // Windows lists them.
    std::size_t count = disk.raw ? 0 : disk.partitions.size();
    if (!disk.raw && !disk.gpt) count = (count + 3) / 4 * 4;
    if (!disk.raw && !disk.gpt && count == 0) count = 4;
    const std::size_t need = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                             std::max<std::size_t>(count, 1) * sizeof(PARTITION_INFORMATION_EX);
    if (out == nullptr || outSize < need) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memset(out, 0, need);
    auto* layout = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out);
    layout->PartitionStyle = disk.raw ? PARTITION_STYLE_RAW : disk.gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
    layout->PartitionCount = static_cast<DWORD>(count);
    if (disk.gpt && !disk.raw) {
      layout->Gpt.StartingUsableOffset.QuadPart = 34 * 512;
      layout->Gpt.UsableLength.QuadPart = disk.size > 67 * 512 ? disk.size - 67 * 512 : 0;
      layout->Gpt.MaxPartitionCount = 128;
    } else if (!disk.raw) {
      layout->Mbr.Signature = 0x5250414C;
    }
    for (std::size_t i = 0; i < disk.partitions.size() && !disk.raw; ++i) {
      const sim::Partition& p = disk.partitions[i];
      PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
      e.PartitionStyle = disk.gpt ? PARTITION_STYLE_GPT : PARTITION_STYLE_MBR;
      e.StartingOffset.QuadPart = p.offset;
      e.PartitionLength.QuadPart = p.length;
      e.PartitionNumber = static_cast<DWORD>(i + 1);
      if (disk.gpt) {
        e.Gpt.PartitionType = p.gptType;
        e.Gpt.PartitionId.Data1 = static_cast<std::uint32_t>(i + 1);
      } else {
        e.Mbr.PartitionType = p.mbrType;
        e.Mbr.RecognizedPartition = TRUE;
        e.Mbr.HiddenSectors = static_cast<DWORD>(p.offset / 512);
      }
    }
    if (returned != nullptr) *returned = static_cast<DWORD>(need);
    return TRUE;
  }
  return Fail(ERROR_INVALID_FUNCTION, FALSE);
}

}  // namespace

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID /*lpInBuffer*/, DWORD /*nInBufferSize*/,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED /*lpOverlapped*/) {
  sim::Runtime& rt = Current();
  rt.Record("DeviceIoControl " + sim::Hex(dwIoControlCode));
  if (lpBytesReturned != nullptr) *lpBytesReturned = 0;
  if (auto* volume = rt.GetHandleAs<sim::VolumeObject>(hDevice)) {
    const sim::Drive* drive = rt.FindDrive(volume->letter);
    if (auto code = sim::ForcedFailure(drive->fail, "DeviceIoControl")) return Fail(*code, FALSE);
    return VolumeControl(*drive, dwIoControlCode, lpOutBuffer, nOutBufferSize, lpBytesReturned);
  }
  if (auto* disk = rt.GetHandleAs<sim::DiskObject>(hDevice))
    return DiskControl(*rt.FindDisk(disk->number), dwIoControlCode, lpOutBuffer, nOutBufferSize,
                            lpBytesReturned);
  return Fail(ERROR_INVALID_HANDLE, FALSE);
}

namespace {

BOOL CopyVolumeName(const sim::Drive& d, LPWSTR out, DWORD size) {
  const std::u16string name = sim::VolumeName(d);
  if (out == nullptr || size <= name.size()) return Fail(206u /*ERROR_FILENAME_EXCED_RANGE*/, FALSE);
  std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  return TRUE;
}

}  // namespace

HANDLE FindFirstVolumeW(LPWSTR lpszVolumeName, DWORD cchBufferLength) {
  sim::Runtime& rt = Current();
  rt.Record("FindFirstVolumeW");
  auto find = std::make_unique<sim::VolumeFindObject>();
  for (const auto& [letter, drive] : rt.GetMachine().drives) find->letters.push_back(letter);
  if (find->letters.empty()) return Fail(ERROR_NO_MORE_FILES, INVALID_HANDLE_VALUE);
  if (!CopyVolumeName(*rt.FindDrive(find->letters[0]), lpszVolumeName, cchBufferLength))
    return INVALID_HANDLE_VALUE;
  find->next = 1;
  return rt.AddHandle(std::move(find));
}

BOOL FindNextVolumeW(HANDLE hFindVolume, LPWSTR lpszVolumeName, DWORD cchBufferLength) {
  sim::Runtime& rt = Current();
  rt.Record("FindNextVolumeW");
  auto* find = rt.GetHandleAs<sim::VolumeFindObject>(hFindVolume);
  if (find == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (find->next >= find->letters.size()) return Fail(ERROR_NO_MORE_FILES, FALSE);
  if (!CopyVolumeName(*rt.FindDrive(find->letters[find->next]), lpszVolumeName, cchBufferLength))
    return FALSE;
  ++find->next;
  return TRUE;
}

BOOL FindVolumeClose(HANDLE hFindVolume) {
  sim::Runtime& rt = Current();
  rt.Record("FindVolumeClose");
  if (rt.GetHandleAs<sim::VolumeFindObject>(hFindVolume) == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
  rt.CloseHandleObject(hFindVolume);
  return TRUE;
}
