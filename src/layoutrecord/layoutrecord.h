// Recording the recovery layout: the disk that holds a drive's volume, and the
// record of the recovery partition in ZEZ.DAT.
#pragma once

#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"

// The number of the physical disk that holds the volume of the drive letter, from
// the first of the volume's disk extents; 0xFFFFFFFF when it cannot be had.
DWORD GetDriveNumberFromDriveLetter(WCHAR chDrive);
