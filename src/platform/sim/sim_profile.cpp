// The simulated profile writer: WritePrivateProfileStringW behaving as Windows'
// does for one key, but keeping every byte of the file it does not mean to change
// and replacing the file atomically (a temporary file beside it, flushed to disk,
// renamed over the old one), so that a crash leaves the old file or the new one.
#include "platform/sim/sim_profile.h"

#include "platform/sim/sim_machine.h"
#include "platform/windows_api.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

enum class Encoding { Ansi, Utf16Le, Utf8 };

struct Line {
  std::size_t begin = 0;       // first byte of the content
  std::size_t contentEnd = 0;  // first byte of the line end
  std::size_t end = 0;         // first byte after the line end
  std::u16string text;         // the content, decoded
};

bool Blank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trim(const std::u16string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && Blank(s[b])) ++b;
  while (e > b && Blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char WideToAnsi(char16_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (int b = 0x80; b <= 0x9F; ++b)
    if (AnsiToWide(static_cast<unsigned char>(b)) == c) return static_cast<char>(b);
  return '?';
}

class ProfileFile {
 public:
  explicit ProfileFile(const std::string& bytes) : m_bytes(bytes) {
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
      m_encoding = Encoding::Utf16Le;
      m_start = 2;
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      m_encoding = Encoding::Utf8;
      m_start = 3;
    }
    Split();
  }

  const std::vector<Line>& Lines() const { return m_lines; }
  const std::string& Bytes() const { return m_bytes; }

  std::string Encode(const std::u16string& text) const {
    std::string out;
    switch (m_encoding) {
      case Encoding::Ansi:
        for (const char16_t c : text) out.push_back(WideToAnsi(c));
        break;
      case Encoding::Utf8:
        out = ToUtf8(text);
        break;
      case Encoding::Utf16Le:
        for (const char16_t c : text) {
          out.push_back(static_cast<char>(c & 0xFF));
          out.push_back(static_cast<char>(c >> 8));
        }
        break;
    }
    return out;
  }

  // Where the file's text begins, after any byte order mark.
  std::size_t TextStart() const { return m_start; }

 private:
  std::size_t Unit() const { return m_encoding == Encoding::Utf16Le ? 2 : 1; }
  char16_t UnitAt(std::size_t pos) const {
    if (m_encoding == Encoding::Utf16Le)
      return static_cast<char16_t>(static_cast<unsigned char>(m_bytes[pos]) |
                                   (static_cast<unsigned char>(m_bytes[pos + 1]) << 8));
    return static_cast<char16_t>(static_cast<unsigned char>(m_bytes[pos]));
  }

  std::u16string Decode(std::size_t begin, std::size_t end) const {
    switch (m_encoding) {
      case Encoding::Ansi: {
        std::u16string s;
        for (std::size_t i = begin; i < end; ++i) s.push_back(AnsiToWide(static_cast<unsigned char>(m_bytes[i])));
        return s;
      }
      case Encoding::Utf8:
        return FromUtf8(m_bytes.substr(begin, end - begin));
      case Encoding::Utf16Le: {
        std::u16string s;
        for (std::size_t i = begin; i + 1 < end; i += 2) s.push_back(UnitAt(i));
        return s;
      }
    }
    return {};
  }

  void Split() {
    const std::size_t unit = Unit();
    std::size_t pos = m_start;
    // A UTF-16LE file of an odd length ends in a byte that is no part of any
    // character; it stays the file's last byte, after every line.
    const std::size_t limit = m_bytes.size() - (m_bytes.size() - m_start) % unit;
    while (pos < limit) {
      Line line;
      line.begin = pos;
      std::size_t i = pos;
      while (i + unit <= limit && UnitAt(i) != u'\n') i += unit;
      if (i + unit <= limit) {  // a line end
        line.end = i + unit;
        line.contentEnd = (i >= pos + unit && UnitAt(i - unit) == u'\r') ? i - unit : i;
      } else {  // the last line, with no line end (and perhaps an odd byte)
        line.end = limit;
        line.contentEnd = limit;
      }
      line.text = Decode(line.begin, line.contentEnd);
      m_lines.push_back(line);
      pos = line.end;
    }
  }

  std::string m_bytes;
  Encoding m_encoding = Encoding::Ansi;
  std::size_t m_start = 0;
  std::vector<Line> m_lines;
};

// A section header's name, if the line is one.
std::optional<std::u16string> SectionName(const std::u16string& text) {
  const std::u16string t = Trim(text);
  if (t.empty() || t[0] != u'[') return std::nullopt;
  const std::size_t close = t.find(u']');
  return Trim(t.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1));
}

// A key line's name, and where its value begins in the text.
std::optional<std::u16string> KeyName(const std::u16string& text, std::size_t* valueStart) {
  const std::size_t eq = text.find(u'=');
  if (eq == std::u16string::npos) return std::nullopt;
  std::size_t v = eq + 1;
  while (v < text.size() && Blank(text[v])) ++v;
  if (valueStart != nullptr) *valueStart = v;
  return Trim(text.substr(0, eq));
}

}  // namespace

bool ValidProfileWrite(const std::u16string& section, const std::optional<std::u16string>& key,
                       const std::optional<std::u16string>& value) {
  auto breaks = [](const std::u16string& s) { return s.find_first_of(u"\r\n") != std::u16string::npos; };
  if (breaks(section) || section.find(u']') != std::u16string::npos) return false;
  if (key && (breaks(*key) || key->find(u'=') != std::u16string::npos || Trim(*key).empty())) return false;
  if (key && !Trim(*key).empty() && Trim(*key)[0] == u'[') return false;
  if (value && breaks(*value)) return false;
  return true;
}

std::string ApplyProfileWrite(const std::string& bytes, const std::u16string& section,
                              const std::optional<std::u16string>& key,
                              const std::optional<std::u16string>& value) {
  const ProfileFile file(bytes);
  const std::vector<Line>& lines = file.Lines();
  const std::string crlf = file.Encode(u"\r\n");
  const std::u16string wantedSection = Trim(section);

  // The section: its header line and the lines of its body.
  std::size_t header = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(lines[i].text);
    if (name && EqualNoCase(*name, wantedSection)) {
      header = i;
      break;
    }
  }
  std::size_t bodyEnd = lines.size();
  if (header < lines.size()) {
    for (std::size_t i = header + 1; i < lines.size(); ++i)
      if (SectionName(lines[i].text)) {
        bodyEnd = i;
        break;
      }
  }

  if (!key) {  // remove the whole section
    if (header == lines.size()) return bytes;
    const std::size_t from = lines[header].begin;
    const std::size_t to = bodyEnd < lines.size() ? lines[bodyEnd].begin : bytes.size();
    return bytes.substr(0, from) + bytes.substr(to);
  }

  if (header == lines.size()) {  // a new section at the end of the file's text
    if (!value) return bytes;
    const std::size_t textEnd = lines.empty() ? file.TextStart() : lines.back().end;
    std::string added;
    if (!lines.empty() && lines.back().contentEnd == lines.back().end) added += crlf;
    added += file.Encode(u"[" + section + u"]") + crlf + file.Encode(*key + u"=" + *value) + crlf;
    return bytes.substr(0, textEnd) + added + bytes.substr(textEnd);
  }

  const std::u16string wantedKey = Trim(*key);
  for (std::size_t i = header + 1; i < bodyEnd; ++i) {
    std::size_t valueStart = 0;
    const auto name = KeyName(lines[i].text, &valueStart);
    if (!name || !EqualNoCase(*name, wantedKey)) continue;
    if (!value) return bytes.substr(0, lines[i].begin) + bytes.substr(lines[i].end);
    // The value is replaced in place; the key as the file spells it, the spacing
    // around "=", and the line end stay.
    const std::string replacement = file.Encode(lines[i].text.substr(0, valueStart) + *value);
    return bytes.substr(0, lines[i].begin) + replacement + bytes.substr(lines[i].contentEnd);
  }
  if (!value) return bytes;

  // A new key after the last line of the section that is not blank, so that blank
  // lines before the next section stay where they are.
  std::size_t after = header;
  for (std::size_t i = header + 1; i < bodyEnd; ++i)
    if (!Trim(lines[i].text).empty()) after = i;
  const Line& prev = lines[after];
  const std::string entry = file.Encode(*key + u"=" + *value);
  if (prev.contentEnd == prev.end)  // the file's last line, with no line end: it keeps having none
    return bytes.substr(0, prev.end) + crlf + entry + bytes.substr(prev.end);
  return bytes.substr(0, prev.end) + entry + crlf + bytes.substr(prev.end);
}

namespace {

std::optional<std::u16string> Optional(LPCWSTR s) {
  if (s == nullptr) return std::nullopt;
  return std::u16string(s);
}

DWORD ErrnoToWindows(int e) {
  switch (e) {
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOSPC: return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    default: return ERROR_IO_DEVICE;
  }
}

bool ReadAll(const fs::path& file, std::string& bytes, DWORD& error) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = ErrnoToWindows(errno);
    return false;
  }
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  const int readErrno = errno;
  ::close(fd);
  if (n < 0) error = ErrnoToWindows(readErrno);
  return n == 0;
}

// Replaces `target` by a file of `bytes`: written beside it, flushed, renamed over
// it, and the folder flushed. Each step may be failed by a test; a failure before
// the rename leaves the old file as it was and no temporary file.
DWORD ReplaceAtomically(const fs::path& target, const std::string& bytes, mode_t mode) {
  Runtime& rt = Current();
  const fs::path temp = target.parent_path() / (".~" + target.filename().string() + "." +
                                                std::to_string(::getpid()) + ".tmp");
  if (rt.FileOperationFails()) return rt.lastError;
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return ErrnoToWindows(errno);
  auto abandon = [&](DWORD error) {
    ::close(fd);
    ::unlink(temp.c_str());
    return error;
  };
  if (rt.FileOperationFails()) return abandon(rt.lastError);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) return abandon(ErrnoToWindows(errno));
    done += static_cast<std::size_t>(n);
  }
  if (rt.FileOperationFails()) return abandon(rt.lastError);
  if (::fsync(fd) != 0) return abandon(ErrnoToWindows(errno));
  ::fchmod(fd, mode);
  if (::close(fd) != 0) {
    ::unlink(temp.c_str());
    return ERROR_IO_DEVICE;
  }
  if (rt.FileOperationFails()) {
    ::unlink(temp.c_str());
    return rt.lastError;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    const DWORD error = ErrnoToWindows(errno);
    ::unlink(temp.c_str());
    return error;
  }
  // The rename itself is made durable by flushing the folder that holds it.
  if (rt.FileOperationFails()) return rt.lastError;
  const int dir = ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

}  // namespace

}  // namespace sim

BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString, LPCWSTR lpFileName) {
  sim::Runtime& rt = sim::Current();
  const std::u16string path = lpFileName == nullptr ? std::u16string() : std::u16string(lpFileName);
  rt.Record("WritePrivateProfileStringW " +
            (lpAppName == nullptr ? std::string("(null)") : sim::ToUtf8(lpAppName)) + " " +
            (lpKeyName == nullptr ? std::string("(null)") : sim::ToUtf8(lpKeyName)) + " " +
            (lpString == nullptr ? std::string("(null)") : sim::ToUtf8(lpString)));
  // Every write reaches the disk before it returns, so the flush form has nothing
  // left to do.
  if (lpAppName == nullptr && lpKeyName == nullptr && lpString == nullptr) return TRUE;
  if (lpAppName == nullptr) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);
  const std::u16string section = lpAppName;
  const auto key = sim::Optional(lpKeyName);
  const auto value = sim::Optional(lpString);
  if (!sim::ValidProfileWrite(section, key, value)) return sim::Fail(ERROR_INVALID_PARAMETER, FALSE);

  sim::ResolvedPath resolved;
  if (const DWORD error = sim::ResolveMachinePath(path, true, resolved); error != 0) return sim::Fail(error, FALSE);
  std::string bytes;
  mode_t mode = 0644;
  if (resolved.exists) {
    struct stat st{};
    if (::stat(resolved.hostPath.c_str(), &st) != 0) return sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    if (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return sim::Fail(ERROR_ACCESS_DENIED, FALSE);
    mode = st.st_mode & 07777;
    DWORD error = 0;
    if (rt.FileOperationFails()) return FALSE;
    if (!sim::ReadAll(resolved.hostPath, bytes, error)) return sim::Fail(error, FALSE);
  }
  const std::string updated = sim::ApplyProfileWrite(bytes, section, key, value);
  if (resolved.exists && updated == bytes) return TRUE;
  if (const DWORD error = sim::ReplaceAtomically(resolved.hostPath, updated, mode); error != 0)
    return sim::Fail(error, FALSE);
  return TRUE;
}
