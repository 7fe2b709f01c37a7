// Recording the recovery layout: the disk that holds a drive's volume, and the
// record of the recovery partition in ZEZ.DAT.
#pragma once

#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"

// The number of the physical disk that holds the volume of the drive letter, from
// the first of the volume's disk extents; 0xFFFFFFFF when it cannot be had.
DWORD GetDriveNumberFromDriveLetter(WCHAR chDrive);

class CKZDisk;
class CKZPartition;

// Records the recovery partition's start and recorded size, its volume name and
// the disk's size in the section "General" of the existing file at pszPath.
// Failures are only logged.
void Pellwick(const WCHAR* pszPath, int nDisk);

// The size recorded for the recovery partition: with at least TailThreshold
// behind it, the partition and the whole rest of the disk; otherwise its length.
LONGLONG RecordedPartitionSize(const CKZDisk& disk, const CKZPartition& partition);

// A quantity as ZEZ.DAT holds it: the decimal digits of its 64 bits read as
// unsigned.
CString ProfileNumber(LONGLONG llValue);
