// The record of the recovery layout in ZEZ.DAT.
#include "disklib/kzdisk.h"
#include "layoutrecord/layoutrecord.h"
#include "platform/handles.h"
#include "tracelog/tracelog.h"

#include <cstdint>

namespace {

const WCHAR kSection[] = _T("General");

bool FileExists(const WCHAR* pszPath) {
  WIN32_FIND_DATAW findData;
  const unique_hfind find(FindFirstFileW(pszPath, &findData));
  return find.IsValid();
}

// Writes one key. A write that fails is logged at once, while the thread's last
// error is still that of the failed write; the run goes on, as callers rely on
// exit code 0 meaning that the recording was attempted.
void WriteKey(const WCHAR* pszPath, const WCHAR* pszKey, const CString& strValue) {
  if (!WritePrivateProfileStringW(kSection, pszKey, strValue, pszPath))
    LogMessage(Error, 136, _T("Unable to write %s to %s"), pszKey, pszPath);
}

void FlushProfile(const WCHAR* pszPath) { WritePrivateProfileStringW(nullptr, nullptr, nullptr, pszPath); }

// Signed 64-bit arithmetic that wraps as the machine's does instead of
// overflowing, for quantities that a damaged partition table can make absurd.
LONGLONG Subtract(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
LONGLONG Add(LONGLONG a, LONGLONG b) {
  return static_cast<LONGLONG>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

}  // namespace

CString ProfileNumber(LONGLONG llValue) {
  CString strNumber;
  strNumber.Format(_T("%I64u"), static_cast<unsigned long long>(llValue));
  return strNumber;
}

LONGLONG RecordedPartitionSize(const CKZDisk& disk, const CKZPartition& partition) {
  const LONGLONG llTail = Subtract(disk.Size, Add(partition.Start, partition.Length));
  if (llTail >= disk.TailThreshold) return Subtract(disk.Size, partition.Start);
  return partition.Length;
}

void Pellwick(const WCHAR* pszPath, int nDisk) {
  TraceScope scope("void __cdecl Pellwick(const unsigned short *,int)", "Pellwick");
  if (!FileExists(pszPath)) {
    LogMessage(Error, 132, _T("Unable to find the file %s"), pszPath);
    return;
  }
  CKZDisk disk;
  CKZPartition partition;
  if (!disk.Open(static_cast<DWORD>(nDisk))) {
    LogMessage(Error, 129, _T("Unable to open the disk %d"), nDisk);
    return;
  }
  if (disk.Enumerate()) {
    partition = disk.GetRecoveryPartition();
    if (partition.Length != 0) {
      WriteKey(pszPath, _T("Recovery_Partition_Start"), ProfileNumber(partition.Start));
      WriteKey(pszPath, _T("Recovery_Partition_Size"), ProfileNumber(RecordedPartitionSize(disk, partition)));
      WCHAR szVolumeName[260] = {};
      if (partition.GetVolume().GetVolumeName(szVolumeName, 260) && szVolumeName[0] != 0)
        WriteKey(pszPath, _T("VolumeName"), szVolumeName);
      FlushProfile(pszPath);
    }
  }
  WriteKey(pszPath, _T("Disk_Size"), ProfileNumber(disk.Size));
  FlushProfile(pszPath);
  disk.Close();
}
