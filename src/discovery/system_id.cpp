// A volume's system ID, read from the first sector of its device.
#include "discovery/discovery.h"

#include "platform/handles.h"
#include "tracelog/tracelog.h"

#include <cstring>
#include <memory>

namespace {

constexpr int kNtfsIdOffset = 496;
constexpr int kOtherIdOffset = 3;
constexpr int kIdLength = 8;

// The boot sector is the first 512 bytes, but the read asks for 4,096 into a
// buffer aligned to 4,096: a volume on a disk with 4,096-byte sectors fails any
// shorter read, and the longer one is a whole number of sectors on both kinds.
constexpr DWORD kBootReadSize = 4096;
struct alignas(4096) SectorBuffer {
  BYTE bytes[kBootReadSize];
};

// The text of an ID field: up to its first zero byte, at most eight bytes, in the
// ANSI code page.
CString SystemIdText(const BYTE* field) {
  int length = 0;
  while (length < kIdLength && field[length] != 0) ++length;
  char narrow[kIdLength + 1] = {};
  std::memcpy(narrow, field, static_cast<std::size_t>(length));
  WCHAR wide[kIdLength + 1] = {};
  MultiByteToWideChar(CP_ACP, 0, narrow, length + 1, wide, length + 1);
  return CString(wide);
}

}  // namespace

CString GetSystemID(CString strDrive) {
  TraceScope scope(
      "class ATL::CStringT<unsigned short,class StrTraitMFC<unsigned short,class ATL::ChTraitsCRT<unsigned short> > > "
      "__cdecl GetSystemID(class ATL::CStringT<unsigned short,class StrTraitMFC<unsigned short,class "
      "ATL::ChTraitsCRT<unsigned short> > >)",
      "GetSystemID");
  CString strID;
  CString strDevice;
  strDevice.Format(_T("\\\\.\\%s"), strDrive.Left(2));
  const auto sector = std::make_unique<SectorBuffer>();  // cleared to zero

  unique_handle volume(CreateFileW(strDevice, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
  if (!volume.IsValid()) {
    LogMessage(Error, 215, _T("Cannot open handle on drive %s"), strDrive);
    return strID;
  }
  DWORD dwRead = 0;
  if (!ReadFile(volume.Get(), sector->bytes, kBootReadSize, &dwRead, nullptr)) {
    LogMessage(Error, 210, _T("Cannot read System ID from drive %s"), strDrive);
    return strID;
  }
  const int offset = IsNTFS(strDrive) ? kNtfsIdOffset : kOtherIdOffset;
  strID = SystemIdText(sector->bytes + offset);
  return strID;
}

int IsNTFS(CString strRoot) {
  TraceScope scope(
      "int __cdecl IsNTFS(class ATL::CStringT<unsigned short,class StrTraitMFC<unsigned short,class "
      "ATL::ChTraitsCRT<unsigned short> > >)",
      "IsNTFS");
  if (!strRoot.IsEmpty()) strRoot = CString(strRoot[0], 1) + _T(":\\");
  WCHAR szVolumeName[MAX_PATH];
  WCHAR szFileSystemName[MAX_PATH];
  DWORD dwMaxComponentLength = 0;
  DWORD dwFlags = 0;
  if (!GetVolumeInformationW(strRoot, szVolumeName, MAX_PATH, nullptr, &dwMaxComponentLength, &dwFlags,
                             szFileSystemName, MAX_PATH))
    return 1;
  return (dwFlags & FILE_PERSISTENT_ACLS) != 0 ? 1 : 0;
}
