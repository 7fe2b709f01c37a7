// Finding the recovery volume: a volume's system ID from its boot sector, and the
// search of the fixed drives C to Z for the one whose ID is "RECOVERY".
#pragma once

#include "platform/afx/afxstub.h"
#include "platform/windows_api.h"

// The system ID of the volume of a drive root (C:\): the 8-byte field at offset
// 496 of its boot sector on NTFS, at offset 3 otherwise; empty when the volume
// cannot be opened or read.
CString GetSystemID(CString strDrive);

// 1 when the volume of the root counts as NTFS (or its file system cannot be
// queried), 0 otherwise.
int IsNTFS(CString strRoot);

// Searches the fixed drives C to Z for the recovery volume; on success stores its
// letter through pLetter and answers 1. The first parameter is not read.
int GetDriveLetter(const WCHAR* pUnused, WCHAR* pLetter);
