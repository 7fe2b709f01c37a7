// The disk number of a drive letter's volume.
#include "layoutrecord/layoutrecord.h"

#include "platform/handles.h"
#include "tracelog/tracelog.h"

#include <cstring>

namespace {

// The disk of the volume's first extent. A request that succeeds with no extent at
// all names no disk, so it counts as failed, with ERROR_INVALID_DATA as its reason.
BOOL GetFirstExtentDisk(HANDLE hVolume, DWORD& dwDisk) {
  VOLUME_DISK_EXTENTS extents;
  std::memset(&extents, 0, sizeof extents);
  DWORD dwReturned = 0;
  if (!DeviceIoControl(hVolume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, &extents, sizeof extents,
                       &dwReturned, nullptr))
    return FALSE;
  if (extents.NumberOfDiskExtents == 0) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  dwDisk = extents.Extents[0].DiskNumber;
  return TRUE;
}

}  // namespace

DWORD GetDriveNumberFromDriveLetter(WCHAR chDrive) {
  TraceScope scope("unsigned long __cdecl GetDriveNumberFromDriveLetter(unsigned short)",
                   "GetDriveNumberFromDriveLetter");
  DWORD dwRetVal = 0xFFFFFFFF;
  CString strVolume;
  strVolume.Format(_T("\\\\.\\%c:"), chDrive);
  LogMessage(Info, 34, _T("strVolume=%s"), strVolume);
  {
    unique_handle volume(CreateFileW(strVolume, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!volume.IsValid()) {
      LogMessage(Error, 68, _T("Cannot open handle on %s"), strVolume);
    } else if (!GetFirstExtentDisk(volume.Get(), dwRetVal)) {
      LogMessage(Error, 63, _T("Function to get disk number failed"));
    }
  }  // the volume is closed here, after its failure was logged
  LogValue(70, "dwRetVal", static_cast<int>(dwRetVal));
  return dwRetVal;
}
