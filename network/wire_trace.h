// The wire trace: the steps of the session open and every reply the
// instrument network sends, decoded, one readable line each, for an
// integrator debugging a network.
//
// Off by default; then a trace point costs one relaxed atomic load and
// formats nothing. It is switched
//  - by the environment variable QUARN_WIRE_TRACE: "stderr" or "-" for
//    standard error, otherwise a file path (appended to; a file that cannot
//    be opened leaves the trace off), empty or unset for off. It is read
//    when the library loads and again whenever the driver session opens,
//    and then applied only if it changed, so a host chooses the trace of
//    each session by setting the variable before it opens communications;
//  - by the library's own tests with SetWireTrace(destination), with the
//    same values.
// Each line: clock time in seconds, the thread ("host" or "recv", the
// receiving thread), a '*' on lines the program marks as important (trace
// flag 1), then the text. Replies read "Recv from <sender> -- <kind>"
// followed by their decoded fields. docs/wire-trace.md shows examples.
// Texts longer than one line continue on indented lines of their own; bytes
// that are not printable are shown as \xNN. Nothing depends on the trace.
// Thread safety: any thread; each line is written whole.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <string_view>

namespace wire_trace_detail {
extern std::atomic<std::FILE*> g_sink;
}

inline bool WireTraceOn() noexcept {
  return wire_trace_detail::g_sink.load(std::memory_order_relaxed) != nullptr;
}

// Switches the trace to `destination` or off. Returns false (and leaves the
// trace off) when the file cannot be opened.
bool SetWireTrace(const char* destination);

// Applies QUARN_WIRE_TRACE if it changed since it was last applied.
// Host's thread only.
void FollowWireTraceEnvironment();

// Names the calling thread in trace lines ("host" unless set).
void SetWireTraceThreadName(const char* name);

// One trace text with its flag (1 = important). A trailing newline ends
// the line as it would anyway.
void Trace(const char* text, int flag);
void TraceF(int flag, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A trace line built in pieces. Inactive (and free) when the trace was off
// at construction. The destructor writes what is left.
class TraceLine {
 public:
  static constexpr std::size_t kTextSize = 256;

  TraceLine() noexcept : m_bActive(WireTraceOn()) {}
  ~TraceLine() { Emit(); }
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;

  bool Active() const noexcept { return m_bActive; }

  // Appends one formatted piece, separated from the previous by a space.
  // A piece that does not fit ends the line and opens a continuation line.
  void Add(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Appends a text from the network, with unprintable bytes escaped.
  void AddText(std::string_view label, std::string_view text);
  // Marks the line as important (trace flag 1).
  void Mark() noexcept { m_nFlag = 1; }
  // Writes the line, if anything is in it, and starts an empty one.
  void Emit();

 private:
  void Append(const char* piece, std::size_t length);

  bool m_bActive;
  int m_nFlag = 0;
  bool m_bContinuation = false;
  std::size_t m_nLength = 0;
  char m_szText[kTextSize];
};
