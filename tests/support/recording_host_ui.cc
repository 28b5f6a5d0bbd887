#include "tests/support/recording_host_ui.h"

#include <cstdio>

namespace testing_support {

int RecordingHostUi::MessageBox(const CString& text, UINT style) {
  char head[32];
  std::snprintf(head, sizeof head, "MessageBox 0x%x: ", style);
  Add(head + text.str());
  return 1;
}

void RecordingHostUi::ProgressOpen(const CString& text) {
  ++m_open;
  Add("Progress open: " + text.str());
}

void RecordingHostUi::ProgressStep(int percent, const char* text) {
  Add("Progress " + std::to_string(percent) + (text ? std::string(": ") + text : ""));
}

void RecordingHostUi::ProgressClose() {
  --m_open;
  Add("Progress close");
}

void RecordingHostUi::FlashStatusText(const char* prefix, const char* text, int on) {
  if (!on && !prefix && !text) return Add("Flash off");
  Add(std::string(on ? "Flash on: " : "Flash 0: ") + (prefix ? prefix : "(null)") + "|" + (text ? text : "(null)"));
}

std::vector<std::string> RecordingHostUi::MessageBoxes() const {
  std::vector<std::string> boxes;
  for (const auto& line : m_lines) {
    if (line.rfind("MessageBox", 0) == 0) boxes.push_back(line);
  }
  return boxes;
}

}  // namespace testing_support
