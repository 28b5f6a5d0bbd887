#include "host/outputs/terminal_ui.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"

namespace host {

std::string ProgressBar(int percent, int width) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * width / 100;
  std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                    std::string(static_cast<size_t>(width - filled), '.') + "]";
  char pct[8];
  std::snprintf(pct, sizeof pct, " %3d%%", percent);
  return bar + pct;
}

std::string DurationText(double minutes) {
  if (minutes < 1) return Fixed(minutes * 60, 0) + " s";
  if (minutes < 120) return Fixed(minutes, 0) + " min";
  return Fixed(minutes / 60, 1) + " h";
}

std::string RunProgress(double elapsedMinutes, double lengthMinutes, std::optional<double> speed, int barWidth) {
  const double length = lengthMinutes > 0 ? lengthMinutes : 0;
  const double done = std::clamp(elapsedMinutes, 0.0, length);
  const int filled = length > 0 ? static_cast<int>(done / length * barWidth) : 0;
  char text[96];
  std::snprintf(text, sizeof text, "] %.1f/%.1f min", done, length);
  std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(barWidth - filled), '.') + text;
  if (speed && *speed > 0) {
    const long seconds = std::lround((length - done) * 60.0 / *speed);
    if (seconds < 60) {
      std::snprintf(text, sizeof text, ", %ld s left", seconds);
    } else if (seconds < 3600) {
      std::snprintf(text, sizeof text, ", %ld min %02ld s left", seconds / 60, seconds % 60);
    } else {
      std::snprintf(text, sizeof text, ", %ld h %02ld min left", seconds / 3600, seconds / 60 % 60);
    }
    line += text;
  }
  return line;
}

std::string FitToWidth(const std::string& text, int columns) {
  int seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // Count characters, not the continuation bytes of UTF-8.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++seen > columns) return text.substr(0, i);
  }
  return text;
}

TerminalUi::TerminalUi(OutputMode mode, std::FILE* out, std::FILE* err, bool interactive)
    : m_mode(mode), m_out(out), m_err(err), m_interactive(interactive) {}

void TerminalUi::EndInPlaceLine() {
  if (m_inPlaceLine) {
    std::fputc('\n', m_out);
    m_inPlaceLine = false;
  }
}

int TerminalUi::MessageBox(const CString& text, UINT style) {
  ++m_messages;
  EndInPlaceLine();
  std::FILE* to = m_mode == OutputMode::kJson ? m_err : m_out;
  const char* kind = (style & 0x30) == 0x30 ? "WARNING" : (style & 0x10) ? "ERROR" : "MESSAGE";
  // A message box may span lines; indent the continuation under the mark.
  std::string body;
  for (char c : Utf8FromWindows1252(text.str())) {
    body += c;
    if (c == '\n') body += "   | ";
  }
  while (!body.empty() && (body.back() == ' ' || body.back() == '|' || body.back() == '\n')) body.pop_back();
  std::fprintf(to, "\n  +-- %s from the plug-in\n   | %s\n  +--\n", kind, EscapeControls(body, true).c_str());
  std::fflush(to);
  if (m_log) m_log(std::string(kind) + " from the plug-in: " + OneLineText(Utf8FromWindows1252(text.str())));
  return 1;  // OK
}

void TerminalUi::DrawProgress() {
  if (m_mode != OutputMode::kNormal) return;
  const std::string line = "  " + ProgressBar(m_progressPercent, 30) + "  " + m_progressText;
  if (m_interactive) {
    std::fprintf(m_out, "\r%s\033[K", FitToWidth(line, Columns() - 1).c_str());
    m_inPlaceLine = true;
  } else {
    std::fprintf(m_out, "%s\n", line.c_str());
  }
  std::fflush(m_out);
}

void TerminalUi::ProgressOpen(const CString& text) {
  EndInPlaceLine();
  m_progressOpen = true;
  m_progressPercent = 0;
  m_progressText = EscapeControls(Utf8FromWindows1252(text.str()));
  // Trailing padding in progress titles carries no meaning on a terminal.
  while (!m_progressText.empty() && m_progressText.back() == ' ') m_progressText.pop_back();
  DrawProgress();
}

void TerminalUi::ProgressStep(int percent, const char* text) {
  m_progressPercent = percent;
  if (text) m_progressText = EscapeControls(Utf8FromWindows1252(text));
  DrawProgress();
}

void TerminalUi::ProgressClose() {
  m_progressOpen = false;
  EndInPlaceLine();
}

void TerminalUi::FlashStatusText(const char* prefix, const char* text, int on) {
  const std::string now =
      on ? EscapeControls(Utf8FromWindows1252(std::string(prefix ? prefix : "") + (text ? text : ""))) : std::string();
  if (now == m_flashing) return;
  m_flashing = now;
  if (m_mode != OutputMode::kNormal) return;
  EndInPlaceLine();
  if (on) {
    std::fprintf(m_out, "  >> %s\n", now.c_str());
  } else {
    std::fprintf(m_out, "  >> (status text cleared)\n");
  }
  std::fflush(m_out);
}

int TerminalUi::Columns() const {
  return TerminalColumns(m_out);
}

void TerminalUi::Reasons(const std::string& notReady, const std::string& error) {
  for (auto [now, was, label] : {std::tuple{&notReady, &m_notReady, "NOT READY: "},
                                 std::tuple{&error, &m_error, "ERROR: "}}) {
    if (*now == *was) continue;
    *was = *now;
    if (m_mode != OutputMode::kNormal || now->empty()) continue;
    EndInPlaceLine();
    std::fprintf(m_out, "  %s%s\n", label, EscapeControls(Utf8FromWindows1252(OneLineText(*now))).c_str());
  }
  std::fflush(m_out);
}

void TerminalUi::StatusLine(const std::string& line, bool milestone) {
  if (m_mode != OutputMode::kNormal) return;
  if (!m_interactive && !milestone) return;
  const std::string text = EscapeControls(line);
  if (m_interactive) {
    // One column short of the width: a line that fills it would make some
    // terminals wrap before the carriage return.
    std::fprintf(m_out, "\r%s\033[K", FitToWidth(text, Columns() - 1).c_str());
    m_inPlaceLine = true;
  } else {
    std::fprintf(m_out, "%s\n", text.c_str());
  }
  std::fflush(m_out);
}

void TerminalUi::JsonObject(const std::string& object) {
  if (m_mode != OutputMode::kJson) return;
  std::fprintf(m_out, "%s\n", object.c_str());
  std::fflush(m_out);
}

void TerminalUi::Note(const std::string& text) {
  if (m_log) m_log(text);
  if (m_mode != OutputMode::kNormal) return;
  EndInPlaceLine();
  std::fprintf(m_out, "%s\n", EscapeControls(text, true).c_str());
  std::fflush(m_out);
}

void TerminalUi::Failure(const std::string& text) {
  if (m_log) m_log("error: " + text);
  EndInPlaceLine();
  std::fprintf(m_err, "quarn-host: error: %s\n", EscapeControls(text, true).c_str());
  std::fflush(m_err);
}

}  // namespace host
