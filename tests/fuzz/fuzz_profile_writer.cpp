// Fuzzes the profile writer with any file bytes, section, key and value. Beyond
// not crashing: afterwards a reader finds the value under the section and key,
// and every byte outside the one line that the write changed is still there, in
// order.
#include "platform/sim/sim_machine.h"
#include "platform/sim/sim_profile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

std::u16string Ansi(const std::string& bytes) {
  std::u16string s;
  for (const char c : bytes) s.push_back(sim::AnsiToWide(static_cast<unsigned char>(c)));
  return s;
}

bool Blank(char16_t c) { return c == u' ' || c == u'\t'; }
std::u16string Trim(std::u16string s) {
  while (!s.empty() && Blank(s.back())) s.pop_back();
  std::size_t b = 0;
  while (b < s.size() && Blank(s[b])) ++b;
  return s.substr(b);
}
char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  return c;
}
bool Same(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

// The file's text and how it is encoded, as a reader sees it.
std::u16string Decode(const std::string& bytes, std::size_t& unit, std::size_t& start) {
  unit = 1;
  start = 0;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    unit = 2;
    start = 2;
    std::u16string s;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      s.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return s;
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    start = 3;
    return sim::FromUtf8(bytes.substr(3));
  }
  return Ansi(bytes);
}

// A reader of the file as Windows reads one: the first section of the name, then
// its first line "key=value" of the key; names without regard to case, both sides
// of "=" trimmed.
std::optional<std::u16string> Read(const std::string& bytes, const std::u16string& section,
                                   const std::u16string& key) {
  std::size_t unit, start;
  const std::u16string text = Decode(bytes, unit, start);
  bool inSection = false, seenSection = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(u'\n', pos);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    const std::u16string t = Trim(line);
    if (!t.empty() && t[0] == u'[') {
      if (inSection) return std::nullopt;  // the first section of the name has ended
      const std::size_t close = t.find(u']');
      inSection = !seenSection && Same(Trim(t.substr(1, close == std::u16string::npos ? std::u16string::npos : close - 1)),
                                       Trim(section));
      seenSection = seenSection || inSection;
      continue;
    }
    const std::size_t eq = line.find(u'=');
    if (inSection && eq != std::u16string::npos && Same(Trim(line.substr(0, eq)), Trim(key)))
      return Trim(line.substr(eq + 1));
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::u16string section = Ansi(in.ConsumeRandomLengthString(24));
  const std::u16string key = Ansi(in.ConsumeRandomLengthString(24));
  const std::u16string value = Ansi(in.ConsumeRandomLengthString(40));
  const std::string before = in.ConsumeRemainingBytesAsString();
  if (!sim::ValidProfileWrite(section, key, value)) return 0;
  std::size_t unit, start;
  const std::u16string text = Decode(before, unit, start);
  if (unit == 1 && start == 3 && sim::ToUtf8(text) != before.substr(3)) return 0;  // not UTF-8 after all
  if (unit == 1 && start == 3 && sim::FromUtf8(sim::ToUtf8(value)) != value) return 0;

  const std::string after = sim::ApplyProfileWrite(before, section, key, value);

  const auto read = Read(after, section, key);
  if (!read || *read != Trim(value)) std::abort();

  // What the write took away lies within one line of the old file.
  std::size_t p = 0;
  while (p < before.size() && p < after.size() && before[p] == after[p]) ++p;
  std::size_t q = 0;
  while (q < before.size() - p && q < after.size() - p && before[before.size() - 1 - q] == after[after.size() - 1 - q])
    ++q;
  const std::string removed = before.substr(p, before.size() - p - q);
  for (std::size_t i = 0; i < removed.size(); ++i) {
    if (removed[i] != '\n') continue;
    const std::size_t k = p + i;
    const bool lineEnd = unit == 1 || ((k - start) % 2 == 0 && k + 1 < before.size() && before[k + 1] == 0);
    if (lineEnd) std::abort();
  }
  return 0;
}
