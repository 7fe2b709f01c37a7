// rplayout-profile-bench FILE COUNT: times the simulator's profile writer setting
// one key of the section "General" of FILE, COUNT times with alternating values
// (so that every write changes the file), and prints the mean microseconds per
// write.
#include "platform/sim/sim_machine.h"
#include "platform/windows_api.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: rplayout-profile-bench FILE COUNT\n", stderr);
    return 64;
  }
  const std::filesystem::path file = std::filesystem::absolute(argv[1]);
  const int count = std::atoi(argv[2]);
  sim::Machine machine;
  sim::Drive drive;
  drive.letter = u'Z';
  drive.files = file.parent_path();
  machine.drives[u'Z'] = drive;
  sim::Install(machine);
  const std::u16string path = u"Z:\\" + sim::FromUtf8(file.filename().string());
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    if (!WritePrivateProfileStringW(u"General", u"Disk_Size", i % 2 == 0 ? u"64424509440" : u"64424509441",
                                    path.c_str())) {
      std::fprintf(stderr, "write failed: %u\n", GetLastError());
      return 1;
    }
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
  }
  const auto elapsed = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start);
  std::printf("%.1f\n", elapsed.count() / count);
  return 0;
}
