#include "support/test_support.h"

#include "platform/sim/sim_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace support {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "rplayout-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Files made read-only by a test must not stop the clean-up.
  for (auto it = fs::recursive_directory_iterator(m_path, ec); !ec && it != fs::end(it); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(m_path, ec);
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), folder).string()] = ReadBytes(entry.path());
    else if (entry.is_directory())
      files[fs::relative(entry.path(), folder).string() + "/"] = "";
  }
  return files;
}

std::u16string U16(const std::string& utf8) { return sim::FromUtf8(utf8); }
std::string Utf8(const std::u16string& text) { return sim::ToUtf8(text); }

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string LogBytes(const std::vector<std::u16string>& lines) {
  std::string bytes = "\xFF\xFE";
  for (const auto& line : lines) bytes += Utf16Le(line + u"\r\n");
  return bytes;
}

std::vector<std::string> LogLines(const std::string& bytes) {
  std::u16string text;
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find(u"\r\n", start)) != std::u16string::npos; start = pos + 2)
    lines.push_back(Utf8(text.substr(start, pos - start)));
  if (start < text.size()) lines.push_back(Utf8(text.substr(start)) + "<no line end>");
  return lines;
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) envStrings.push_back(entry);
  }
  for (const auto& [name, value] : env) envStrings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, outPipe[0]);
  posix_spawn_file_actions_addclose(&actions, errPipe[0]);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ProcessResult result;
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    result.err = "cannot start " + argv[0];
    return result;
  }
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

void InstallMachine(const std::string& json, const fs::path& baseDir,
                    std::vector<std::u16string> arguments) {
  auto parsed = sim::ParseMachine(json, baseDir);
  if (auto* error = std::get_if<sim::LoadError>(&parsed)) {
    ADD_FAILURE() << "machine refused: " << error->key << ": " << error->message;
    return;
  }
  sim::Install(std::get<sim::Machine>(std::move(parsed)), std::move(arguments));
}

}  // namespace support

#include "support/sim_fixture.h"

namespace support {

std::string FindTool(const std::string& name) {
  for (const char* folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"}) {
    const std::string path = folder + name;
    if (::access(path.c_str(), X_OK) == 0) return path;
  }
  return name;
}

}  // namespace support
