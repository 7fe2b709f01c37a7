// Fuzzes the disk-image reader with any image bytes, then has the disk library
// read the disk. Beyond not crashing: the disk's size is the image's, and the
// recovery partition that the library gives is empty or one of the disk's own
// partitions of the recovery type.
#include "disklib/kzdisk.h"
#include "platform/sim/sim_machine.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {
std::string g_image;
const GUID kRecovery = {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_image = "/tmp/rplayout-fuzz-disk-" + std::to_string(::getpid()) + ".img";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    std::ofstream out(g_image, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  sim::Disk disk;
  disk.image = g_image;
  std::string error;
  if (!sim::ReadDiskImage(g_image, disk, error)) return 0;
  if (disk.size != static_cast<std::int64_t>(size)) std::abort();

  sim::Machine m;
  m.disks[0] = disk;
  sim::Install(m);
  CKZDisk library;
  if (!library.Open(0) || library.Size != disk.size) std::abort();
  if (library.Enumerate()) {
    const CKZPartition p = library.GetRecoveryPartition();
    if (p.Length != 0) {
      bool found = false;
      for (const sim::Partition& q : disk.partitions) {
        const bool recovery = q.gpt ? std::memcmp(&q.gptType, &kRecovery, sizeof(GUID)) == 0 : q.mbrType == 0x27;
        found = found || (recovery && q.offset == p.Start && q.length == p.Length);
      }
      if (!found) std::abort();
    }
  }
  library.Close();
  if (sim::Current().OpenHandleCount() != 0) std::abort();
  return 0;
}
