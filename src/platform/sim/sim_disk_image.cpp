// Disk images of the simulated machine: their size, partition table and the file
// systems in their partitions, read with libblkid rather than by a parser of our
// own.
#include "platform/sim/sim_machine.h"

#include <blkid/blkid.h>

#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

struct ProbeDeleter {
  void operator()(blkid_probe p) const { blkid_free_probe(p); }
};
using Probe = std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter>;

bool ParseGuidText(const char* text, GUID& guid) {
  unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
  if (text == nullptr ||
      std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d1, &d2, &d3, &b[0], &b[1], &b[2],
                  &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
    return false;
  guid.Data1 = d1;
  guid.Data2 = static_cast<std::uint16_t>(d2);
  guid.Data3 = static_cast<std::uint16_t>(d3);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<std::uint8_t>(b[i]);
  return true;
}

}  // namespace

bool ReadDiskImage(const fs::path& image, Disk& disk, std::string& error) {
  Probe probe(blkid_new_probe_from_filename(image.c_str()));
  if (!probe) {
    error = "cannot be read as a disk image: " + image.string();
    return false;
  }
  disk.size = static_cast<std::int64_t>(blkid_probe_get_size(probe.get()));
  disk.partitions.clear();
  disk.raw = true;
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
  if (blkid_do_fullprobe(probe.get()) < 0) return true;  // nothing recognised: a raw disk
  blkid_partlist list = blkid_probe_get_partitions(probe.get());
  if (list == nullptr) return true;
  blkid_parttable table = blkid_partlist_get_table(list);
  const char* type = table != nullptr ? blkid_parttable_get_type(table) : nullptr;
  if (type == nullptr) return true;
  disk.raw = false;
  disk.gpt = std::strcmp(type, "gpt") == 0;
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    blkid_partition part = blkid_partlist_get_partition(list, i);
    Partition p;
    p.gpt = disk.gpt;
    p.offset = static_cast<std::int64_t>(blkid_partition_get_start(part)) * 512;
    p.length = static_cast<std::int64_t>(blkid_partition_get_size(part)) * 512;
    if (disk.gpt) {
      if (!ParseGuidText(blkid_partition_get_type_string(part), p.gptType)) continue;
    } else {
      p.mbrType = static_cast<BYTE>(blkid_partition_get_type(part));
    }
    disk.partitions.push_back(p);
  }
  return true;
}

std::optional<DWORD> DetectFileSystemFlags(const fs::path& image, std::int64_t offset,
                                           std::int64_t length) {
  // Flags as Windows reports them for the two file systems: NTFS with persistent
  // ACLs, FAT without.
  constexpr DWORD kNtfsFlags = 0x00C700FF;
  constexpr DWORD kFatFlags = 0x00020006;
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  Probe probe(blkid_new_probe());
  std::optional<DWORD> flags;
  if (probe && blkid_probe_set_device(probe.get(), fd, offset, length) == 0) {
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE);
    const char* type = nullptr;
    if (blkid_do_safeprobe(probe.get()) == 0 &&
        blkid_probe_lookup_value(probe.get(), "TYPE", &type, nullptr) == 0 && type != nullptr) {
      if (std::strcmp(type, "ntfs") == 0) flags = kNtfsFlags;
      else if (std::strcmp(type, "vfat") == 0 || std::strcmp(type, "exfat") == 0) flags = kFatFlags;
    }
  }
  probe.reset();
  ::close(fd);
  return flags;
}

}  // namespace sim
