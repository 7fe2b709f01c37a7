// The simulated profile writer's rule, apart from any file: the bytes of a profile
// file after one write. Every byte outside the line that the write changes, adds
// or removes stays as it was.
#pragma once

#include <optional>
#include <string>

namespace sim {

// Sets `key` of `section` to `value` in the file's bytes (`key` absent: removes
// the section; `value` absent: removes the key). A file that begins with the
// UTF-16LE byte order mark is UTF-16LE, one that begins with the UTF-8 byte order
// mark is UTF-8, any other is in the ANSI code page.
std::string ApplyProfileWrite(const std::string& file, const std::u16string& section,
                              const std::optional<std::u16string>& key,
                              const std::optional<std::u16string>& value);

// Whether a section, key or value can be written at all: none may hold a line
// break, a key no "=" and a section no "]".
bool ValidProfileWrite(const std::u16string& section, const std::optional<std::u16string>& key,
                       const std::optional<std::u16string>& value);

}  // namespace sim
