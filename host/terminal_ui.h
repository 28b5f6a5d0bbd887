// The host program's user interface in a terminal: the host-UI sink that
// the plug-in's message boxes, progress displays and flashing status texts
// reach, and the live status line of each poll.
//
// Output modes:
//  - normal: progress bars, marked message boxes, the flashing text, one
//    status line per poll (redrawn in place on a terminal);
//  - quiet:  message boxes and errors only;
//  - json:   standard output carries only the poll objects (one per line);
//            message boxes go to standard error.
// Everything shown is also kept in order (Transcript) for the run folder.
// Thread safety: host's thread only.
#pragma once

#include <cstdio>
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
  // place; in a log only milestones (a change of state, each minute) are
  // written.
  void StatusLine(const std::string& line, bool milestone);
  // One poll's object (json mode).
  void JsonObject(const std::string& object);
  // A note from the host program itself (UTF-8, not from the plug-in).
  void Note(const std::string& text);
  // An error the run ends with.
  void Failure(const std::string& text);

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
  int m_messages = 0;
};

// A progress bar: "[#######.............]  33%".
std::string ProgressBar(int percent, int width);

}  // namespace host
