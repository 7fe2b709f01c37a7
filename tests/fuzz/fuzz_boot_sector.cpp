// Fuzzes the system ID reader with any boot sector and file-system flags. Beyond
// not crashing: the ID is the text of the field that the flags select, up to its
// first zero byte and at most eight bytes, through the ANSI code page, and no
// handle is left open.
#include "discovery/discovery.h"
#include "platform/sim/sim_machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {
std::string g_volume;

void InstallMachine(bool withFlags, DWORD flags) {
  sim::Machine m;
  sim::Drive d;
  d.letter = u'D';
  d.volume = g_volume;
  if (withFlags) d.fsFlags = flags;
  m.drives[u'D'] = d;
  sim::Install(m);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_volume = "/tmp/rplayout-fuzz-boot-" + std::to_string(::getpid()) + ".bin";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool withFlags = in.ConsumeBool();
  const DWORD flags = in.ConsumeIntegral<DWORD>();
  const std::string sector = in.ConsumeRemainingBytesAsString();
  {
    std::ofstream out(g_volume, std::ios::binary | std::ios::trunc);
    out << sector;
  }
  InstallMachine(withFlags, flags);
  const CString id = GetSystemID(_T("D:\\"));

  const std::size_t offset = (!withFlags || (flags & FILE_PERSISTENT_ACLS) != 0) ? 496 : 3;
  std::u16string expected;
  for (std::size_t i = 0; i < 8; ++i) {
    const unsigned char b = offset + i < sector.size() ? static_cast<unsigned char>(sector[offset + i]) : 0;
    if (b == 0) break;
    expected.push_back(sim::AnsiToWide(b));
  }
  if (id.Str() != expected || sim::Current().OpenHandleCount() != 0) std::abort();
  return 0;
}
