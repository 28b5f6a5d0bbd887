#include "host/text/display_text.h"

#include <algorithm>
#include <cstdio>

namespace host {

std::string EscapeControls(const std::string& text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 0x20 && u != 0x7F) || (keepLineBreaks && c == '\n')) {
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    }
  }
  return out;
}

std::string OneLineText(const std::string& text) {
  std::string r;
  for (char c : text) r += (c == '\n' || c == '\r') ? ' ' : c;
  while (r.find("  ") != std::string::npos) r.erase(r.find("  "), 1);
  while (!r.empty() && r.back() == ' ') r.pop_back();
  return r;
}

std::string RecordTextAsUtf8(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    // Control characters (from a file name) are shown, never sent.
    for (char c : platform::IsUtf8(line) ? line : Utf8FromWindows1252(line)) {
      const auto u = static_cast<unsigned char>(c);
      out += (u < 0x20 && c != '\t' && c != '\r') || u == 0x7F ? EscapeControls(std::string(1, c)) : std::string(1, c);
    }
    if (end < text.size()) out += '\n';
    start = end + 1;
  }
  return out;
}

}  // namespace host
