// The disk library: a physical disk opened by its number, its partitions, its
// recovery partition and that partition's volume. It is written over the Windows
// disk operations alone, so the same code runs on Windows and on the simulated
// machine. All quantities are in bytes.
#pragma once

#include "platform/handles.h"
#include "platform/windows_api.h"

#include <vector>

// The volume of a partition, known by where the partition starts on its disk.
class CKZVolume {
 public:
  CKZVolume() = default;
  CKZVolume(DWORD dwDisk, LONGLONG llStart) : m_dwDisk(dwDisk), m_llStart(llStart), m_bKnown(true) {}
  virtual ~CKZVolume() = default;
  CKZVolume(const CKZVolume&) = default;
  CKZVolume& operator=(const CKZVolume&) = default;

  // The volume name (\\?\Volume{GUID}\) of the volume whose disk extent starts on
  // the partition's disk at the partition's start, terminated, in a buffer of
  // `nCapacity` characters. 0 when no volume matches or the name does not fit.
  int GetVolumeName(WCHAR* pszName, int nCapacity) const;

 private:
  DWORD m_dwDisk = 0;
  LONGLONG m_llStart = 0;
  bool m_bKnown = false;
};

class CKZPartition {
 public:
  CKZPartition() = default;
  virtual ~CKZPartition() = default;
  CKZPartition(const CKZPartition&) = default;
  CKZPartition& operator=(const CKZPartition&) = default;

  CKZVolume& GetVolume() { return m_volume; }

  LONGLONG Start = 0;
  LONGLONG Length = 0;  // 0: no such partition

 private:
  friend class CKZDisk;
  CKZVolume m_volume;
};

class CKZDisk {
 public:
  CKZDisk() = default;
  virtual ~CKZDisk() = default;  // an open disk is closed by its handle's owner
  CKZDisk(const CKZDisk&) = delete;
  CKZDisk& operator=(const CKZDisk&) = delete;

  // Opens \\.\PhysicalDriveN for reading and reads its length into Size. Nonzero
  // when both succeeded; on failure the thread's last error is that of the step
  // that failed and the disk is not open.
  int Open(DWORD dwDisk);
  // Reads the disk's partition table. Nonzero on success.
  int Enumerate();
  // The first partition in table order of the recovery type (GPT
  // DE94BBA4-06D1-4D40-A16A-BFD50179D6AC, MBR 0x27); an empty one when none is.
  CKZPartition GetRecoveryPartition() const;
  void Close();

  LONGLONG Size = 0;
  LONGLONG TailThreshold = 1048576;  // 1 MiB

 private:
  unique_handle m_hDisk;
  DWORD m_dwDisk = 0;
  std::vector<PARTITION_INFORMATION_EX> m_partitions;
};
