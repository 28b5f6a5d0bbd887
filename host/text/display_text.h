// Text as the host program shows it: the plug-in's single-byte texts made
// UTF-8, control characters made visible, several lines made one. Every
// output (the terminal, the logbook, the run files) and every input that
// echoes what a user typed goes through these, so that a name cannot drive
// a terminal or split a line anywhere.
// Pure functions; any thread.
#pragma once

#include <string>

#include "platform/inlet/text.h"

namespace host {

// The plug-in's single-byte (Windows-1252) text as UTF-8, for the
// terminal and the run files.
using platform::Utf8FromWindows1252;

// `text` (UTF-8) with every control character shown as an escape
// ("\x1B", "\n"), so that a name cannot drive a terminal or split a line;
// with `keepLineBreaks`, "\n" stays a line break.
std::string EscapeControls(const std::string& text, bool keepLineBreaks = false);

// A multi-line plug-in text on one line, without trailing blanks.
std::string OneLineText(const std::string& text);

// An experiment record as UTF-8: the plug-in's single-byte lines
// converted, lines that are UTF-8 already (a file name) kept, control
// characters other than tabs shown as escapes.
std::string RecordTextAsUtf8(const std::string& text);

}  // namespace host
