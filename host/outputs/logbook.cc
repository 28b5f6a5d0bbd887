#include "host/outputs/logbook.h"

#include <cstdio>
#include <ctime>

#include "host/system/host_system.h"
#include "host/text/display_text.h"

namespace host {

Logbook::~Logbook() {
  if (m_file) std::fclose(m_file);
}

bool Logbook::Open(const std::filesystem::path& file) {
  std::string error;
  m_file = CreateNewFile(file, error);
  return m_file != nullptr;
}

void Logbook::Add(std::int64_t clockMs, const std::string& text) {
  if (!m_file) return;
  if (m_startMs < 0) m_startMs = clockMs;
  const std::tm tm = LocalTime(std::time(nullptr));
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &tm);
  char clock[32];
  std::snprintf(clock, sizeof clock, "%+9.3f min", (clockMs - m_startMs) / 60000.0);
  const std::string line = std::string(when) + "  " + clock + "  " + EscapeControls(text) + '\n';
  // Handed to the system line by line: a kill leaves every line up to its instant.
  m_ok = std::fwrite(line.data(), 1, line.size(), m_file) == line.size() && std::fflush(m_file) == 0 && m_ok;
}

bool Logbook::Close() {
  if (!m_file) return false;
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  return closed && m_ok;
}

}  // namespace host
