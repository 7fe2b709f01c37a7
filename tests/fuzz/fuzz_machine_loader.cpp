// Fuzzes the machine-file loader with any text. Beyond not crashing: a refusal
// always says what is wrong, and an accepted machine holds only what the format
// allows (letters A to Z, partitions that exist, known drive types).
#include "platform/sim/sim_machine.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  auto result = sim::ParseMachine(text, "/nonexistent-rplayout-fuzz");
  if (auto* error = std::get_if<sim::LoadError>(&result)) {
    if (error->message.empty()) std::abort();
    return 0;
  }
  const sim::Machine& m = std::get<sim::Machine>(result);
  if (m.module.empty()) std::abort();
  for (const auto& [letter, drive] : m.drives) {
    if (letter < u'A' || letter > u'Z' || drive.letter != letter || drive.type > 6 || drive.sectorSize == 0) std::abort();
    if (drive.disk) {
      auto disk = m.disks.find(*drive.disk);
      if (disk == m.disks.end() || !drive.partition || *drive.partition == 0 ||
          *drive.partition > disk->second.partitions.size())
        std::abort();
    }
  }
  return 0;
}
