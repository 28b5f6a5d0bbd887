// A host-UI sink that records every call as one line of text, for tests.
//
// Lines: "MessageBox 0x30: <text>", "Progress open: <text>",
// "Progress 17: <text>" (or "Progress 100" with no text),
// "Progress close", "Flash on: <prefix>|<text>", "Flash off".
// Installs itself on construction and uninstalls on destruction. Each line
// can also go to a log the test keeps of other calls (CopyLinesTo).
#pragma once

#include <string>
#include <vector>

#include "platform/inlet/host_ui.h"

namespace testing_support {

class RecordingHostUi final : public platform::HostUi {
 public:
  RecordingHostUi() { platform::InstallHostUi(this); }
  ~RecordingHostUi() override { platform::InstallHostUi(nullptr); }
  RecordingHostUi(const RecordingHostUi&) = delete;
  RecordingHostUi& operator=(const RecordingHostUi&) = delete;

  int MessageBox(const CString& text, UINT style) override;
  void ProgressOpen(const CString& text) override;
  void ProgressStep(int percent, const char* text) override;
  void ProgressClose() override;
  void FlashStatusText(const char* prefix, const char* text, int on) override;

  const std::vector<std::string>& Lines() const { return m_lines; }
  std::vector<std::string> MessageBoxes() const;
  int OpenProgressDisplays() const { return m_open; }
  void Clear() { m_lines.clear(); }
  void CopyLinesTo(std::vector<std::string>* log) { m_copy = log; }

 private:
  void Add(const std::string& line) {
    m_lines.push_back(line);
    if (m_copy) m_copy->push_back(line);
  }
  std::vector<std::string> m_lines;
  std::vector<std::string>* m_copy = nullptr;
  int m_open = 0;
};

}  // namespace testing_support
