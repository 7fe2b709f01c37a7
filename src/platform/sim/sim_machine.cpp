// The machine file's loader and the running machine's state.
#include "platform/sim/sim_machine.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace sim {

namespace {

using nlohmann::json;

struct Refusal {
  std::string key;
  std::string message;
};

[[noreturn]] void Refuse(const std::string& key, const std::string& message) {
  throw Refusal{key, message};
}

void CheckKeys(const json& object, const std::string& where, const std::set<std::string>& known) {
  if (!object.is_object()) Refuse(where.empty() ? "(top level)" : where, "must be an object");
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (known.count(it.key()) == 0)
      Refuse(where.empty() ? it.key() : where + "." + it.key(), "is not a known key");
  }
}

std::uint64_t Unsigned(const json& value, const std::string& key, std::uint64_t max) {
  if (!value.is_number_integer() || (value.is_number_integer() && !value.is_number_unsigned() &&
                                     value.get<std::int64_t>() < 0))
    Refuse(key, "must be a whole number of 0 or more");
  const auto v = value.get<std::uint64_t>();
  if (v > max) Refuse(key, "is larger than " + std::to_string(max));
  return v;
}

std::string Text(const json& value, const std::string& key) {
  if (!value.is_string()) Refuse(key, "must be a string");
  return value.get<std::string>();
}

bool ParseGuid(const std::string& text, GUID& guid) {
  // 8-4-4-4-12 hexadecimal digits, with or without braces.
  std::string s = text;
  if (s.size() == 38 && s.front() == '{' && s.back() == '}') s = s.substr(1, 36);
  if (s.size() != 36) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : !std::isxdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  auto hex = [&](std::size_t pos, std::size_t n) {
    return static_cast<std::uint32_t>(std::stoul(s.substr(pos, n), nullptr, 16));
  };
  guid.Data1 = hex(0, 8);
  guid.Data2 = static_cast<std::uint16_t>(hex(9, 4));
  guid.Data3 = static_cast<std::uint16_t>(hex(14, 4));
  guid.Data4[0] = static_cast<std::uint8_t>(hex(19, 2));
  guid.Data4[1] = static_cast<std::uint8_t>(hex(21, 2));
  for (int k = 0; k < 6; ++k) guid.Data4[2 + k] = static_cast<std::uint8_t>(hex(24 + 2 * k, 2));
  return true;
}

fs::path HostPath(const json& value, const std::string& key, const fs::path& base, bool folder) {
  const fs::path p = fs::path(Text(value, key));
  const fs::path full = p.is_absolute() ? p : base / p;
  std::error_code ec;
  if (folder ? !fs::is_directory(full, ec) : !fs::is_regular_file(full, ec))
    Refuse(key, (folder ? "names no folder: " : "names no readable file: ") + full.string());
  return full;
}

std::map<std::string, DWORD> Failures(const json& value, const std::string& key,
                                      const std::set<std::string>& operations) {
  std::map<std::string, DWORD> fail;
  if (!value.is_object()) Refuse(key, "must be an object");
  for (auto it = value.begin(); it != value.end(); ++it) {
    const std::string k = key + "." + it.key();
    if (operations.count(it.key()) == 0) Refuse(k, "is not an operation that can be failed here");
    fail[it.key()] = static_cast<DWORD>(Unsigned(it.value(), k, 0xFFFFFFFFu));
  }
  return fail;
}

Drive ParseDrive(WCHAR letter, const json& j, const std::string& where, const fs::path& base) {
  CheckKeys(j, where,
            {"type", "files", "volume", "fs_flags", "extents", "sector_size", "disk", "partition",
             "guid", "fail"});
  Drive d;
  d.letter = letter;
  if (j.contains("type")) d.type = static_cast<UINT>(Unsigned(j["type"], where + ".type", 6));
  if (j.contains("files")) d.files = HostPath(j["files"], where + ".files", base, true);
  if (j.contains("volume")) d.volume = HostPath(j["volume"], where + ".volume", base, false);
  if (j.contains("fs_flags"))
    d.fsFlags = static_cast<DWORD>(Unsigned(j["fs_flags"], where + ".fs_flags", 0xFFFFFFFFu));
  if (j.contains("sector_size")) {
    d.sectorSize = static_cast<DWORD>(Unsigned(j["sector_size"], where + ".sector_size", 1u << 20));
    if (d.sectorSize == 0) Refuse(where + ".sector_size", "must be at least 1");
  }
  if (j.contains("extents")) {
    const json& list = j["extents"];
    if (!list.is_array()) Refuse(where + ".extents", "must be a list");
    std::vector<Extent> extents;
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string k = where + ".extents[" + std::to_string(i) + "]";
      CheckKeys(list[i], k, {"disk", "offset", "length"});
      for (const char* required : {"disk", "offset", "length"})
        if (!list[i].contains(required)) Refuse(k + "." + required, "is missing");
      Extent e;
      e.disk = static_cast<DWORD>(Unsigned(list[i]["disk"], k + ".disk", 0xFFFFFFFEu));
      e.offset = static_cast<std::int64_t>(Unsigned(list[i]["offset"], k + ".offset", INT64_MAX));
      e.length = static_cast<std::int64_t>(Unsigned(list[i]["length"], k + ".length", INT64_MAX));
      extents.push_back(e);
    }
    d.extents = extents;
  }
  if (j.contains("disk") != j.contains("partition"))
    Refuse(where + (j.contains("disk") ? ".partition" : ".disk"), "is missing (disk and partition go together)");
  if (j.contains("disk")) {
    if (d.extents) Refuse(where + ".disk", "cannot stand beside extents");
    d.disk = static_cast<DWORD>(Unsigned(j["disk"], where + ".disk", 0xFFFFFFFEu));
    d.partition = static_cast<DWORD>(Unsigned(j["partition"], where + ".partition", 0xFFFFFFFFu));
    if (*d.partition == 0) Refuse(where + ".partition", "counts from 1");
  }
  char defaultGuid[40];
  std::snprintf(defaultGuid, sizeof defaultGuid, "00000000-0000-0000-0000-0000000000%02X",
                static_cast<unsigned>(letter));
  d.guid = defaultGuid;
  if (j.contains("guid")) {
    GUID g;
    std::string text = Text(j["guid"], where + ".guid");
    if (!ParseGuid(text, g)) Refuse(where + ".guid", "must be a GUID such as 12345678-1234-1234-1234-123456789ABC");
    if (text.front() == '{') text = text.substr(1, 36);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    d.guid = text;
  }
  if (j.contains("fail"))
    d.fail = Failures(j["fail"], where + ".fail",
                      {"CreateFileW", "ReadFile", "GetVolumeInformationW", "DeviceIoControl"});
  return d;
}

Disk ParseDisk(const json& j, const std::string& where, const fs::path& base) {
  CheckKeys(j, where, {"size", "style", "partitions", "image", "fail"});
  Disk disk;
  if (j.contains("image")) {
    for (const char* other : {"size", "style", "partitions"})
      if (j.contains(other)) Refuse(where + "." + other, "cannot stand beside image");
    disk.image = HostPath(j["image"], where + ".image", base, false);
    std::string error;
    if (!ReadDiskImage(*disk.image, disk, error)) Refuse(where + ".image", error);
  } else {
    if (!j.contains("size")) Refuse(where + ".size", "is missing (required unless image)");
    disk.size = static_cast<std::int64_t>(Unsigned(j["size"], where + ".size", INT64_MAX));
  }
  if (j.contains("style")) {
    const std::string style = Text(j["style"], where + ".style");
    if (style != "gpt" && style != "mbr") Refuse(where + ".style", "must be \"gpt\" or \"mbr\"");
    disk.gpt = style == "gpt";
  }
  if (j.contains("partitions")) {
    const json& list = j["partitions"];
    if (!list.is_array()) Refuse(where + ".partitions", "must be a list");
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string k = where + ".partitions[" + std::to_string(i) + "]";
      CheckKeys(list[i], k, {"type", "offset", "length"});
      for (const char* required : {"type", "offset", "length"})
        if (!list[i].contains(required)) Refuse(k + "." + required, "is missing");
      Partition p;
      p.gpt = disk.gpt;
      const json& type = list[i]["type"];
      if (disk.gpt) {
        if (!type.is_string() || !ParseGuid(type.get<std::string>(), p.gptType))
          Refuse(k + ".type", "must be a GPT type GUID as text on a gpt disk");
      } else {
        p.mbrType = static_cast<BYTE>(Unsigned(type, k + ".type", 255));
      }
      p.offset = static_cast<std::int64_t>(Unsigned(list[i]["offset"], k + ".offset", INT64_MAX));
      p.length = static_cast<std::int64_t>(Unsigned(list[i]["length"], k + ".length", INT64_MAX));
      disk.partitions.push_back(p);
    }
  }
  if (j.contains("fail"))
    disk.fail = Failures(j["fail"], where + ".fail",
                         {"CreateFileW", "IOCTL_DISK_GET_LENGTH_INFO", "IOCTL_DISK_GET_DRIVE_LAYOUT_EX"});
  return disk;
}

Machine Parse(const json& top, const fs::path& base) {
  CheckKeys(top, "", {"module", "init_fails", "drives", "disks"});
  Machine m;
  if (top.contains("module")) {
    m.module = FromUtf8(Text(top["module"], "module"));
    if (m.module.empty()) Refuse("module", "must not be empty");
  }
  if (top.contains("init_fails")) {
    if (!top["init_fails"].is_boolean()) Refuse("init_fails", "must be true or false");
    m.initFails = top["init_fails"].get<bool>();
  }
  if (top.contains("disks")) {
    const json& disks = top["disks"];
    if (!disks.is_object()) Refuse("disks", "must be an object");
    for (auto it = disks.begin(); it != disks.end(); ++it) {
      const std::string& key = it.key();
      const std::string where = "disks." + key;
      const bool decimal = !key.empty() && key.size() <= 10 &&
                           key.find_first_not_of("0123456789") == std::string::npos &&
                           (key == "0" || key[0] != '0');
      if (!decimal || std::stoull(key) > 0xFFFFFFFEull)
        Refuse(where, "a disk is keyed by its number as decimal text");
      m.disks[static_cast<DWORD>(std::stoul(key))] = ParseDisk(it.value(), where, base);
    }
  }
  if (top.contains("drives")) {
    const json& drives = top["drives"];
    if (!drives.is_object()) Refuse("drives", "must be an object");
    for (auto it = drives.begin(); it != drives.end(); ++it) {
      const std::string& key = it.key();
      const std::string where = "drives." + key;
      if (key.size() != 1 || !std::isalpha(static_cast<unsigned char>(key[0])))
        Refuse(where, "a drive is keyed by one letter A to Z");
      const WCHAR letter = static_cast<WCHAR>(std::toupper(static_cast<unsigned char>(key[0])));
      if (m.drives.count(letter) != 0) Refuse(where, "names a drive letter given twice");
      Drive d = ParseDrive(letter, it.value(), where, base);
      if (d.disk) {
        auto disk = m.disks.find(*d.disk);
        if (disk == m.disks.end()) Refuse(where + ".disk", "names a disk that the machine does not have");
        if (*d.partition > disk->second.partitions.size())
          Refuse(where + ".partition", disk->second.raw
                                           ? "names a partition, but the disk's image holds no partition table "
                                             "that could be read"
                                           : "names a partition that the disk does not have");
        const Partition& p = disk->second.partitions[*d.partition - 1];
        if (disk->second.image && !d.fsFlags && !d.volume) {
          d.fsFlags = DetectFileSystemFlags(*disk->second.image, p.offset, p.length);
          d.fsFlagsFound = d.fsFlags.has_value();
        }
      }
      m.drives[letter] = std::move(d);
    }
  }
  return m;
}

}  // namespace

std::variant<Machine, LoadError> ParseMachine(const std::string& text, const fs::path& baseDir) {
  json top;
  try {
    top = json::parse(text);
  } catch (const json::exception& e) {
    return LoadError{"", std::string("is not JSON: ") + e.what()};
  }
  try {
    return Parse(top, baseDir);
  } catch (const Refusal& r) {
    return LoadError{r.key, r.message};
  } catch (const json::exception& e) {
    return LoadError{"", e.what()};
  }
}

std::optional<Machine> LoadMachineFile(const fs::path& file, std::string& errorLine) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    errorLine = file.string() + ": cannot be read";
    return std::nullopt;
  }
  std::error_code ec;
  const fs::path base = fs::absolute(file, ec).parent_path();
  auto result = ParseMachine(text.str(), base);
  if (auto* error = std::get_if<LoadError>(&result)) {
    errorLine = file.string() + ": " + (error->key.empty() ? "" : error->key + ": ") + error->message;
    return std::nullopt;
  }
  return std::get<Machine>(std::move(result));
}

const Drive* Runtime::FindDrive(WCHAR letter) const {
  if (letter >= u'a' && letter <= u'z') letter = static_cast<WCHAR>(letter - u'a' + u'A');
  auto it = m_machine.drives.find(letter);
  return it == m_machine.drives.end() ? nullptr : &it->second;
}

const Disk* Runtime::FindDisk(DWORD number) const {
  auto it = m_machine.disks.find(number);
  return it == m_machine.disks.end() ? nullptr : &it->second;
}

HANDLE Runtime::AddHandle(std::unique_ptr<OpenObject> object) {
  const HANDLE h = reinterpret_cast<HANDLE>(m_nextHandle);
  m_nextHandle += 4;
  m_handles[h] = std::move(object);
  return h;
}

OpenObject* Runtime::GetHandle(HANDLE h) const {
  auto it = m_handles.find(h);
  return it == m_handles.end() ? nullptr : it->second.get();
}

bool Runtime::CloseHandleObject(HANDLE h) { return m_handles.erase(h) != 0; }

void Runtime::Step() {
  if (++m_steps == m_killAt) ::raise(SIGKILL);
}

bool Runtime::FileOperationFails() {
  Step();
  ++m_fileOps;
  if (m_failFileOpAt > 0 && m_fileOps >= m_failFileOpAt) {
    lastError = m_failFileOpError;
    return true;
  }
  return false;
}

namespace {
std::unique_ptr<Runtime>& Slot() {
  static std::unique_ptr<Runtime> runtime;
  return runtime;
}
}  // namespace

Runtime& Current() {
  std::unique_ptr<Runtime>& runtime = Slot();
  if (!runtime) {
    const char* file = std::getenv(kMachineEnvVar);
    if (file == nullptr) {
      std::fputs("rplayout: no simulated machine; start the tool as: rplayout-sim MACHINE.json [ARG...]\n", stderr);
      std::_Exit(64);
    }
    std::string error;
    std::optional<Machine> machine = LoadMachineFile(file, error);
    if (!machine) {
      std::fprintf(stderr, "rplayout-sim: %s\n", error.c_str());
      std::_Exit(64);
    }
    runtime = std::make_unique<Runtime>(std::move(*machine));
    runtime->arguments = {runtime->GetMachine().module};
    if (const char* kill = std::getenv(kKillAtEnvVar)) runtime->KillAtStep(std::atoi(kill));
    runtime->commandLine = JoinCommandLine(runtime->arguments);
  }
  return *runtime;
}

void Install(Machine machine, std::vector<std::u16string> arguments) {
  if (arguments.empty()) arguments.push_back(machine.module);
  Slot() = std::make_unique<Runtime>(std::move(machine));
  Slot()->arguments = std::move(arguments);
  Slot()->commandLine = JoinCommandLine(Slot()->arguments);
}

void Uninstall() { Slot().reset(); }

std::optional<DWORD> ForcedFailure(const std::map<std::string, DWORD>& fail, const char* operation) {
  auto it = fail.find(operation);
  if (it == fail.end()) return std::nullopt;
  return it->second;
}

}  // namespace sim
