#include "network/wire_trace.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/clock/clock.h"

namespace wire_trace_detail {
constinit std::atomic<std::FILE*> g_sink{nullptr};
}

namespace {

using wire_trace_detail::g_sink;

std::mutex g_sinkMutex;          // serialises lines and changes of the sink
std::FILE* g_ownedFile = nullptr;  // the file we opened, closed when replaced
thread_local const char* t_threadName = "host";

// The value of QUARN_WIRE_TRACE last applied (host's thread only).
std::string g_appliedEnvironment;

// The environment chooses the trace when the library loads.
[[maybe_unused]] const bool g_environmentApplied = [] {
  FollowWireTraceEnvironment();
  return true;
}();

void WriteLine(int flag, bool continuation, const char* text, std::size_t length) {
  // Long enough for the prefix and one full text buffer.
  char line[64 + TraceLine::kTextSize];
  const double seconds = static_cast<double>(platform::Clock::Get().NowMs()) / 1000.0;
  int n = std::snprintf(line, 64, "%10.3f %-4s %c %s", seconds, t_threadName, flag ? '*' : ' ',
                        continuation ? "    " : "");
  if (n < 0) return;
  std::size_t used = static_cast<std::size_t>(n) < 64 ? static_cast<std::size_t>(n) : 63;
  std::memcpy(line + used, text, length);
  used += length;
  line[used++] = '\n';
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (std::FILE* sink = g_sink.load(std::memory_order_relaxed)) {
    std::fwrite(line, 1, used, sink);
    std::fflush(sink);
  }
}

}  // namespace

bool SetWireTrace(const char* destination) {
  std::FILE* next = nullptr;
  bool owned = false;
  if (destination && *destination) {
    if (std::strcmp(destination, "stderr") == 0 || std::strcmp(destination, "-") == 0) {
      next = stderr;
    } else {
      next = std::fopen(destination, "a");
      owned = next != nullptr;
    }
  }
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  if (g_ownedFile) std::fclose(g_ownedFile);
  g_ownedFile = owned ? next : nullptr;
  g_sink.store(next, std::memory_order_relaxed);
  return next != nullptr || !(destination && *destination);
}

void FollowWireTraceEnvironment() {
  const char* destination = std::getenv("QUARN_WIRE_TRACE");
  const std::string now = destination ? destination : "";
  if (now == g_appliedEnvironment) return;
  g_appliedEnvironment = now;
  SetWireTrace(now.c_str());
}

void SetWireTraceThreadName(const char* name) { t_threadName = name ? name : "host"; }

void Trace(const char* text, int flag) {
  if (!WireTraceOn() || !text) return;
  TraceLine line;
  line.Add("%s", text);
  if (flag) line.Mark();
}

void TraceF(int flag, const char* format, ...) {
  if (!WireTraceOn()) return;
  char text[TraceLine::kTextSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Trace(text, flag);
}

void TraceLine::Add(const char* format, ...) {
  if (!m_bActive) return;
  char piece[kTextSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (n <= 0) return;
  std::size_t length = static_cast<std::size_t>(n) < sizeof piece ? static_cast<std::size_t>(n) : sizeof piece - 1;
  while (length > 0 && piece[length - 1] == '\n') --length;  // the line ends anyway
  Append(piece, length);
}

void TraceLine::AddText(std::string_view label, std::string_view text) {
  if (!m_bActive) return;
  char piece[kTextSize];
  std::size_t n = 0;
  auto put = [&](char c) {
    if (n < sizeof piece) piece[n++] = c;
  };
  for (char c : label) put(c);
  put('"');
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      put(static_cast<char>(c));
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      put('\\');
      put('x');
      put(kHex[c >> 4]);
      put(kHex[c & 0xF]);
    }
  }
  put('"');
  Append(piece, n);
}

void TraceLine::Append(const char* piece, std::size_t length) {
  const std::size_t room = kTextSize - 1;  // keeps the buffer a C string's size
  if (length > room) length = room;
  const std::size_t separator = m_nLength > 0 ? 1 : 0;
  if (m_nLength + separator + length > room) {
    Emit();
    m_bContinuation = true;
  }
  if (m_nLength > 0) m_szText[m_nLength++] = ' ';
  std::memcpy(m_szText + m_nLength, piece, length);
  m_nLength += length;
}

void TraceLine::Emit() {
  if (!m_bActive || m_nLength == 0) return;
  WriteLine(m_nFlag, m_bContinuation, m_szText, m_nLength);
  m_nLength = 0;
}
