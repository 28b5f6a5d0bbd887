// Bytes written out for a reader, and for golden files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testing_support {

// Bytes as a reader compares them: offset, then 16 bytes a line; a run of
// zero lines is one "*" line, as hexdump shows it.
inline std::string HexDump(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  bool skipping = false;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    const std::size_t end = std::min(at + 16, bytes.size());
    const bool zero = std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(end), [](auto b) { return b == 0; });
    if (zero && at > 0 && end < bytes.size()) {
      if (!skipping) text += "*\n";
      skipping = true;
      continue;
    }
    skipping = false;
    char line[80];
    int n = std::snprintf(line, sizeof line, "%04zx ", at);
    for (std::size_t i = at; i < end; ++i) n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), " %02x", bytes[i]);
    text += std::string(line) + "\n";
  }
  return text;
}

}  // namespace testing_support
