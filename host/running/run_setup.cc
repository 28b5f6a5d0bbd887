#include "host/running/run_setup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "host/inputs/settings.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"

namespace host {

std::string TakeTransport(const std::optional<Transport>& asked, Transport& transport) {
  if (const std::string problem = SettingsProblem(); !problem.empty()) {
    return "the settings cannot be used, so nothing was run: " + problem;
  }
  transport = asked.value_or(ConfiguredTransport());
  HoldTransport(transport);
  return "";
}

std::string LoadCheckedMethod(const std::string& given, Transport transport, CheckedMethod& out,
                              std::FILE* warningsTo, TerminalUi& ui, const SolventLabels& solvents) {
  std::string note;
  const std::string path = ResolveMethodPath(given, &note);
  if (!note.empty()) ui.Note("Note: " + note);
  std::error_code ec;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)) && !std::filesystem::exists(path, ec) &&
      !ec) {
    return "the method file " + EscapeControls(path) + " is a link to " +
           EscapeControls(std::filesystem::read_symlink(path, ec).string()) + ", which does not exist";
  }
  if (!std::filesystem::exists(path, ec) && !ec) {
    return "unknown method '" + EscapeControls(given) + "': there is no file " + EscapeControls(path) +
           " (give a method file path, or a name from " + GetMethodsDir().str() + ")";
  }
  MethodFileProblems problems;
  MethodKeyLines lines;
  if (!LoadMethodFile(path, out.method, problems, &lines)) {
    const std::string text = DescribeMethodFileProblems(path.c_str(), problems).str();
    // A file that could not be read is not a broken one.
    const bool read = std::any_of(problems.begin(), problems.end(), [](const auto& p) { return p.line > 0; });
    return std::string(read ? "the method file is broken:\n" : "the method file cannot be used:\n") +
           RecordTextAsUtf8(text);
  }
  std::vector<std::string> columnProblems;
  out.simulated = ReadColumnSection(path, columnProblems);
  if (!columnProblems.empty()) {
    std::string text = "the method file's [column] section is wrong:";
    for (const std::string& problem : columnProblems) text += "\n" + path + ": " + problem;
    return text;
  }
  out.path = path;
  const std::string file = std::filesystem::path(path).filename().string();
  out.stem = file.substr(0, file.find('.'));
  std::size_t refused = 0;
  const std::vector<MethodWarning> found = TransportWarnings(out.method, lines, transport);
  for (const MethodWarning& warning : found) {
    out.warnings.push_back(DescribeMethodWarning(warning, transport));
    if (warningsTo) std::fprintf(warningsTo, "%s: %s\n", path.c_str(), out.warnings.back().c_str());
    refused += warning.refused ? 1 : 0;
  }
  for (const SolventLine& line : SimulatedSolvents(out.method, lines, solvents, transport, out.bottleLabels)) {
    out.solventLines.push_back(line.text);
    if (warningsTo && line.warning) std::fprintf(warningsTo, "%s: %s\n", path.c_str(), line.text.c_str());
  }
  if (warningsTo) std::fflush(warningsTo);
  if (refused > 0) {
    return std::string("the method would not run as written on the ") + TransportName(transport) +
           " transport (the errors above); nothing was run";
  }
  return "";
}

void UseRunClock(bool virtualTime, double speed, Transport transport, bool keepLogs) {
  // Real instruments answer in wall time, whatever was asked (the command
  // line refuses --virtual-time and --speed for them).
  if (!SimulatorPresent()) {
    platform::Clock::Get().UseReal();
    return;
  }
  // Paced virtual time with --speed, so that no poll is skipped however
  // fast it goes.
  if (virtualTime) {
    platform::Clock::Get().UseVirtual();
  } else {
    platform::Clock::Get().UsePacedVirtual(speed);
  }
  if (!keepLogs) QuietSimulatorLogs(transport);
}

const char* RunTrace::FileName() const {
  return m_transport == Transport::kServer ? "server-calls.log" : "wire-trace.log";
}

bool RunTrace::Start(const std::filesystem::path& folder, bool append) {
  m_path = folder / FileName();
  // Made anew, or gone on with by a resumed sequence; never reached
  // through a link planted at its name.
  std::string error;
  std::FILE* opened = append && std::filesystem::exists(m_path) ? OpenToAppend(m_path, error)
                                                                 : CreateNewFile(m_path, error);
  if (!opened) return false;
  if (m_transport == Transport::kDirect) {
    // The plug-in traces the session it opens into the file the
    // environment names; the file is made here so that a folder it cannot
    // be written in is found before the run.
    std::fclose(opened);
    SetEnvironment("QUARN_WIRE_TRACE", m_path.string());
    return true;
  }
  std::shared_ptr<std::FILE> file(opened, [](std::FILE* f) { std::fclose(f); });
  m_serverTrace = file;
  // Each line handed to the system as it comes, as the wire trace is: a
  // kill at any instant leaves every call and event up to it.
  TraceSimulatedServer([file](const std::string& line) {
    std::fputs((line + '\n').c_str(), file.get());
    std::fflush(file.get());
  });
  return true;
}

bool RunTrace::Stop(TerminalUi& ui) {
  if (m_transport == Transport::kDirect) {
    SetEnvironment("QUARN_WIRE_TRACE", "");
    return std::filesystem::exists(m_path);
  }
  TraceSimulatedServer(nullptr);
  if (!m_serverTrace) return false;
  const bool whole = std::ferror(m_serverTrace.get()) == 0 && std::fflush(m_serverTrace.get()) == 0;
  m_serverTrace.reset();
  if (!whole) ui.Failure("could not write all of " + m_path.string());
  return whole;
}

}  // namespace host
