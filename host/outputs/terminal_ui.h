// The host program's user interface in a terminal: the host-UI sink that
// the plug-in's message boxes, progress displays and flashing status texts
// reach, and the live status line of each poll.
//
// Output modes:
//  - normal: progress bars, marked message boxes, the flashing text, one
//    status line per poll (redrawn in place on a terminal, cut to the
//    terminal's width so that the carriage return reaches its start); a
//    not-ready or error text is printed once, on a line of its own, each
//    time it changes;
//  - quiet:  message boxes and errors only;
//  - json:   standard output carries only the poll objects (one per line);
//            message boxes go to standard error.
// Everything shown is also kept in order (Transcript) for the run folder.
// Thread safety: host's thread only.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/inlet/host_ui.h"

namespace host {

enum class OutputMode { kNormal, kQuiet, kJson };

class TerminalUi final : public platform::HostUi {
 public:
  TerminalUi(OutputMode mode, std::FILE* out, std::FILE* err, bool interactive);

  int MessageBox(const CString& text, UINT style) override;
  void ProgressOpen(const CString& text) override;
  void ProgressStep(int percent, const char* text) override;
  void ProgressClose() override;
  void FlashStatusText(const char* prefix, const char* text, int on) override;

  // One poll's line (normal mode). On a terminal every line is drawn in
  // place, cut to the width; in a log only milestones (a change of state,
  // each minute) are written.
  void StatusLine(const std::string& line, bool milestone);
  // Whether StatusLine would show a line; JsonObject, whether an object.
  // Polls come fast in virtual time: texts nobody sees are not made.
  bool ShowsStatusLine(bool milestone) const { return m_mode == OutputMode::kNormal && (m_interactive || milestone); }
  bool ShowsJson() const { return m_mode == OutputMode::kJson; }
  // The instruments' not-ready and error texts of a poll (empty: none);
  // each is printed when it changes (normal mode).
  void Reasons(const std::string& notReady, const std::string& error);
  // The terminal's width in columns (80 when it cannot be told).
  int Columns() const;
  // One poll's object (json mode).
  void JsonObject(const std::string& object);
  // A note from the host program itself (UTF-8, not from the plug-in).
  void Note(const std::string& text);
  // An error the run ends with.
  void Failure(const std::string& text);
  // Failure(text), and 1: the exit code of a command that failed.
  int Fail(const std::string& text) {
    Failure(text);
    return 1;
  }

  // True once standard output could not be written (a closed pipe).
  bool OutputClosed() const { return std::ferror(m_out) != 0; }

  // Where the plug-in's messages, the notes and the errors also go, one
  // line of UTF-8 each (the run's logbook); nullptr: nowhere.
  void SetLog(std::function<void(const std::string&)> log) { m_log = std::move(log); }

  int MessageCount() const { return m_messages; }
  const std::string& FlashingText() const { return m_flashing; }

 private:
  void EndInPlaceLine();
  void DrawProgress();

  OutputMode m_mode;
  std::FILE* m_out;
  std::FILE* m_err;
  bool m_interactive;
  bool m_inPlaceLine = false;  // the cursor sits after a line drawn with \r
  std::string m_progressText;
  int m_progressPercent = 0;
  bool m_progressOpen = false;
  std::string m_flashing;
  std::string m_notReady;
  std::string m_error;
  int m_messages = 0;
  std::function<void(const std::string&)> m_log;
};

// A progress bar: "[#######.............]  33%".
std::string ProgressBar(int percent, int width);

// A length of time, rounded to what a glance needs: "42 s", "12 min",
// "3.5 h".
std::string DurationText(double minutes);

// A run's progress: "[#######.......] 12.0/25.0 min, 13 s left", the
// time left in wall time at `speed` times real time; without a speed
// (virtual time) the time left is not shown.
std::string RunProgress(double elapsedMinutes, double lengthMinutes, std::optional<double> speed, int barWidth);

// `text` (UTF-8) cut to at most `columns` characters.
std::string FitToWidth(const std::string& text, int columns);

}  // namespace host
