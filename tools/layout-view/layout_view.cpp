// rplayout-layout MACHINE.json [ZEZ.DAT]: draws each disk of a simulated machine
// to scale as text, one column per 1/64 of the disk: its partitions (the recovery
// partition marked), the space between them, and the range that ZEZ.DAT records
// for the recovery partition.
#include "platform/sim/sim_machine.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr int kColumns = 64;

bool IsRecovery(const sim::Partition& p) {
  const GUID r = {0xDE94BBA4, 0x06D1, 0x4D40, {0xA1, 0x6A, 0xBF, 0xD5, 0x01, 0x79, 0xD6, 0xAC}};
  return p.gpt ? std::memcmp(&p.gptType, &r, sizeof r) == 0 : p.mbrType == 0x27;
}

std::string Letters(const sim::Machine& m, DWORD disk, std::size_t index) {
  std::string letters;
  for (const auto& [letter, drive] : m.drives)
    if (drive.disk && *drive.disk == disk && drive.partition && *drive.partition == index + 1)
      letters += std::string(letters.empty() ? " (" : ", ") + static_cast<char>(letter) + ":";
  if (!letters.empty()) letters += ")";
  return letters;
}

long long Recorded(const std::string& zez, const std::string& key) {
  std::istringstream in(zez);
  std::string line;
  bool general = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') general = line == "[General]";
    if (general && line.rfind(key + "=", 0) == 0) return std::atoll(line.c_str() + key.size() + 1);
  }
  return -1;
}

int Column(long long offset, long long size) {
  if (size <= 0) return 0;
  const long double c = static_cast<long double>(offset) * kColumns / static_cast<long double>(size);
  return c < 0 ? 0 : c > kColumns ? kColumns : static_cast<int>(c + 0.5L);
}

std::string Size(long long bytes) {
  char text[64];
  if (bytes >= 1048576 && bytes % 1048576 == 0)
    std::snprintf(text, sizeof text, "%lld MiB", bytes / 1048576);
  else
    std::snprintf(text, sizeof text, "%lld bytes", bytes);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: rplayout-layout MACHINE.json [ZEZ.DAT]\n", stderr);
    return 64;
  }
  std::string error;
  const auto machine = sim::LoadMachineFile(argv[1], error);
  if (!machine) {
    std::fprintf(stderr, "rplayout-layout: %s\n", error.c_str());
    return 64;
  }
  std::string zez;
  if (argc > 2) {
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    zez = s.str();
  }
  for (const auto& [number, disk] : machine->disks) {
    std::printf("disk %u: %s (%lld bytes), %s\n", number, Size(disk.size).c_str(), static_cast<long long>(disk.size),
                disk.raw ? "no partition table" : disk.gpt ? "GPT" : "MBR");
    std::string bar(kColumns, '.');
    for (std::size_t i = 0; i < disk.partitions.size(); ++i) {
      const auto& p = disk.partitions[i];
      const int from = Column(p.offset, disk.size);
      int to = Column(p.offset + p.length, disk.size);
      if (to <= from) to = from + 1;
      const char fill = IsRecovery(p) ? 'R' : static_cast<char>('1' + i % 9);
      for (int c = from; c < to && c < kColumns; ++c) bar[static_cast<std::size_t>(c)] = fill;
    }
    std::printf("  |%s|\n", bar.c_str());
    const long long start = Recorded(zez, "Recovery_Partition_Start");
    const long long size = Recorded(zez, "Recovery_Partition_Size");
    if (start >= 0 && size > 0) {
      std::string marks(kColumns, ' ');
      for (int c = Column(start, disk.size); c < Column(start + size, disk.size) && c < kColumns; ++c)
        marks[static_cast<std::size_t>(c)] = '^';
      std::printf("   %s  recorded: %lld bytes from %lld\n", marks.c_str(), size, start);
    }
    for (std::size_t i = 0; i < disk.partitions.size(); ++i) {
      const auto& p = disk.partitions[i];
      const std::string letters = Letters(*machine, number, i);
      std::printf("  %c  partition %zu%s: %s at %lld, %lld bytes%s\n",
                  IsRecovery(p) ? 'R' : static_cast<char>('1' + i % 9), i + 1, letters.c_str(), Size(p.length).c_str(), static_cast<long long>(p.offset),
                  static_cast<long long>(p.length), IsRecovery(p) ? " (recovery)" : "");
    }
    std::printf("  .  not partitioned\n");
  }
  return 0;
}
