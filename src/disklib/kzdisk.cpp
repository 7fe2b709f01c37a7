// The disk library over the Windows disk and volume operations.
#include "disklib/kzdisk.h"

#include <cstring>
#include <string>

namespace {

const GUID kRecoveryType = {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};
constexpr BYTE kMbrRecoveryType = 0x27;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

std::basic_string<WCHAR> DiskDevicePath(DWORD dwDisk) {
  std::basic_string<WCHAR> path = _T("\\\\.\\PhysicalDrive");
  const std::string digits = std::to_string(dwDisk);
  for (const char c : digits) path.push_back(static_cast<WCHAR>(c));
  return path;
}

// Whether one of the volume's extents starts on `dwDisk` at `llStart`. The name
// comes from FindFirstVolumeW with its final backslash, which opening the volume
// must not have.
bool VolumeStartsAt(const WCHAR* pszVolumeName, DWORD dwDisk, LONGLONG llStart) {
  std::basic_string<WCHAR> device = pszVolumeName;
  if (!device.empty() && device.back() == _T('\\')) device.pop_back();
  unique_handle volume(
      CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!volume.IsValid()) return false;
  // Room for a volume that spans many disks.
  constexpr DWORD kMaxExtents = 32;
  std::vector<BYTE> buffer(offsetof(VOLUME_DISK_EXTENTS, Extents) + kMaxExtents * sizeof(DISK_EXTENT), 0);
  DWORD dwReturned = 0;
  if (!DeviceIoControl(volume.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                       static_cast<DWORD>(buffer.size()), &dwReturned, nullptr))
    return false;
  const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buffer.data());
  const DWORD count = extents->NumberOfDiskExtents < kMaxExtents ? extents->NumberOfDiskExtents : kMaxExtents;
  for (DWORD i = 0; i < count; ++i) {
    if (extents->Extents[i].DiskNumber == dwDisk && extents->Extents[i].StartingOffset.QuadPart == llStart)
      return true;
  }
  return false;
}

}  // namespace

int CKZVolume::GetVolumeName(WCHAR* pszName, int nCapacity) const {
  if (!m_bKnown || pszName == nullptr || nCapacity <= 0) return 0;
  WCHAR szVolume[MAX_PATH + 1] = {};
  unique_hfindvolume find(FindFirstVolumeW(szVolume, MAX_PATH + 1));
  if (!find.IsValid()) return 0;
  do {
    if (VolumeStartsAt(szVolume, m_dwDisk, m_llStart)) {
      const std::size_t length = std::char_traits<WCHAR>::length(szVolume);
      if (length + 1 > static_cast<std::size_t>(nCapacity)) return 0;
      std::memcpy(pszName, szVolume, (length + 1) * sizeof(WCHAR));
      return 1;
    }
  } while (FindNextVolumeW(find.Get(), szVolume, MAX_PATH + 1));
  return 0;
}

int CKZDisk::Open(DWORD dwDisk) {
  Close();
  const std::basic_string<WCHAR> path = DiskDevicePath(dwDisk);
  unique_handle disk(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!disk.IsValid()) return 0;
  GET_LENGTH_INFORMATION length;
  std::memset(&length, 0, sizeof length);
  DWORD dwReturned = 0;
  if (!DeviceIoControl(disk.Get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &dwReturned,
                       nullptr))
    return 0;
  Size = length.Length.QuadPart;
  m_dwDisk = dwDisk;
  m_hDisk = std::move(disk);
  return 1;
}

int CKZDisk::Enumerate() {
  m_partitions.clear();
  if (!m_hDisk.IsValid()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  // A GPT disk has up to 128 entries; the buffer grows if the disk has more.
  for (std::size_t entries = 128; entries <= 4096; entries *= 2) {
    std::vector<BYTE> buffer(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) +
                                 entries * sizeof(PARTITION_INFORMATION_EX),
                             0);
    DWORD dwReturned = 0;
    if (DeviceIoControl(m_hDisk.Get(), IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                        static_cast<DWORD>(buffer.size()), &dwReturned, nullptr)) {
      const auto* layout = reinterpret_cast<const DRIVE_LAYOUT_INFORMATION_EX*>(buffer.data());
      const std::size_t count = layout->PartitionCount < entries ? layout->PartitionCount : entries;
      m_partitions.assign(layout->PartitionEntry, layout->PartitionEntry + count);
      return 1;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER && GetLastError() != ERROR_MORE_DATA) return 0;
  }
  return 0;
}

CKZPartition CKZDisk::GetRecoveryPartition() const {
  CKZPartition partition;
  for (const PARTITION_INFORMATION_EX& entry : m_partitions) {
    const bool recovery =
        entry.PartitionStyle == PARTITION_STYLE_GPT ? SameGuid(entry.Gpt.PartitionType, kRecoveryType)
        : entry.PartitionStyle == PARTITION_STYLE_MBR ? entry.Mbr.PartitionType == kMbrRecoveryType
                                                      : false;
    if (recovery && entry.PartitionLength.QuadPart != 0) {
      partition.Start = entry.StartingOffset.QuadPart;
      partition.Length = entry.PartitionLength.QuadPart;
      partition.m_volume = CKZVolume(m_dwDisk, partition.Start);
      break;
    }
  }
  return partition;
}

void CKZDisk::Close() {
  m_hDisk.Reset();
  m_partitions.clear();
}
