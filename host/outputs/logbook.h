// logbook.txt: a run's logbook, one line per event as it happens.
//
// Contract: a line is the local time, the instrument clock's minutes since
// the first line and the text, control characters escaped:
// "2026-12-06 20:01:02  +  0.250 min  the pump was switched on". Each line
// is handed to the system as it is added, so a kill leaves every line up
// to its instant. The file is made anew, never through a link or over a
// file already there.
// Thread safety: host's thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace host {

class Logbook {
 public:
  ~Logbook();
  // Makes the file anew (never through a link or over a file there).
  bool Open(const std::filesystem::path& file);
  // `text` is UTF-8; control characters are escaped.
  void Add(std::int64_t clockMs, const std::string& text);
  // Whether every line was written; nothing is written after.
  bool Close();

 private:
  std::FILE* m_file = nullptr;
  bool m_ok = true;
  std::int64_t m_startMs = -1;
};

}  // namespace host
