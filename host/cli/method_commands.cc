// `quarn-host method check|show` and `quarn-host status`.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/cli/commands.h"
#include "host/harness/simulated_column.h"
#include "host/harness/simulators.h"
#include "host/inputs/config_keys.h"
#include "host/inputs/settings.h"
#include "host/outputs/run_log.h"
#include "host/running/device_set.h"
#include "host/running/run_setup.h"
#include "host/running/sample_run.h"
#include "host/text/display_text.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"
#include "platform/win/registry.h"

namespace host {

int MethodCheckCommand(const std::vector<std::string>& files, std::optional<Transport> transport, bool strict,
                       TerminalUi& ui, const SolventLabels& solvents) {
  const Transport against = transport.value_or(ConfiguredTransport());
  std::size_t bad = 0;
  for (const auto& given : files) {
    std::string note;
    const std::string path = ResolveMethodPath(given, &note);
    if (!note.empty()) std::fprintf(stderr, "quarn-host: note: %s\n", note.c_str());
    QuarnMethod method;
    MethodFileProblems problems;
    MethodKeyLines lines;
    if (!LoadMethodFile(path, method, problems, &lines)) {
      ++bad;
      for (const auto& problem : problems) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), Utf8FromWindows1252(DescribeMethodFileProblem(problem)).c_str());
      }
      continue;
    }
    std::size_t errors = 0;
    const std::size_t warnings = PrintMethodWarnings(path, method, lines, against, stderr, &errors) - errors;
    // The [column] section and the bottles are for the simulators: checked
    // here, and what they will simulate is said.
    SolventLabels labels;
    const std::vector<SolventLine> solventLines = SimulatedSolvents(method, lines, solvents, against, labels);
    std::vector<std::string> columnProblems;
    const SimulatedPath simulated = ReadColumnSection(path, columnProblems);
    for (const std::string& problem : columnProblems) std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
    std::fflush(stderr);
    errors += columnProblems.size();
    if (columnProblems.empty() && simulated.column && SimulatorPresent()) {
      const int bar = static_cast<int>(std::lround(StartingPressureBar(method, simulated, labels, against)));
      std::printf("%s: simulated with a %s: about %d bar at the starting conditions\n", path.c_str(),
                  DescribeSimulatedPath(simulated).c_str(), bar);
      if (method.GetPumpInitialCons().MaxPressure() > 0 && bar > method.GetPumpInitialCons().MaxPressure()) {
        std::fprintf(stderr, "%s: warning: the simulated column reads about %d bar at the starting conditions, above "
                     "max_pressure (%d bar): the pump will stop as soon as it is up to pressure\n",
                     path.c_str(), bar, method.GetPumpInitialCons().MaxPressure());
      }
    }
    for (const SolventLine& line : solventLines) {
      std::FILE* to = line.warning ? stderr : stdout;
      std::fprintf(to, "%s: %s\n", path.c_str(), line.text.c_str());
      std::fflush(to);
    }
    if (errors > 0) {
      ++bad;
      std::printf("%s: failed, %zu error%s and %zu warning%s for the %s transport\n", path.c_str(), errors,
                  errors == 1 ? "" : "s", warnings, warnings == 1 ? "" : "s", TransportName(against));
    } else if (warnings == 0) {
      std::printf("%s: ok\n", path.c_str());
    } else {
      if (strict) ++bad;
      std::printf("%s: %s, %zu warning%s for the %s transport\n", path.c_str(),
                  strict ? "failed (--strict)" : "ok", warnings, warnings == 1 ? "" : "s", TransportName(against));
    }
    std::fflush(stdout);
  }
  if (bad) {
    ui.Failure(std::to_string(bad) + " of " + std::to_string(files.size()) + " method file" +
               (files.size() == 1 ? "" : "s") + " failed the check");
    return 1;
  }
  return 0;
}

int MethodShowCommand(const std::string& given, TerminalUi& ui) {
  std::string note;
  const std::string path = ResolveMethodPath(given, &note);
  if (!note.empty()) std::fprintf(stderr, "quarn-host: note: %s\n", note.c_str());
  QuarnMethod method;
  MethodFileProblems problems;
  if (!LoadMethodFile(path, method, problems)) {
    const std::string text = DescribeMethodFileProblems(path.c_str(), problems).str();
    ui.Failure("the method file is broken:\n" + RecordTextAsUtf8(text));
    return 1;
  }
  CGenericExpRecord record;
  for (const char* unit : {"PUMP", "AUTOSAMPLER", "UVDETECTOR"}) method.Print(&record, unit);
  const std::string text = RecordTextAsUtf8(record.Text());
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

int StatusCommand(TerminalUi& ui, OutputMode mode) {
  Transport transport = Transport::kDirect;
  if (const std::string why = TakeTransport(std::nullopt, transport); !why.empty()) {
    ui.Failure(why);
    return 1;
  }
  if (transport == Transport::kServer) RegisterSimulatedServer();
  platform::Clock::Get().UseScaled(100.0);
  try {
    DeviceSet devices;
    bool stopped = false;
    const std::string failed = devices.Open([] { return StopSignal() != 0; }, stopped);
    if (!failed.empty() || stopped) {
      ui.Failure(stopped ? "stopped while opening the instruments" : failed);
      return stopped ? StopExitCode() : 1;
    }
    CInletSystemStatus pump;
    CInletSystemStatus merged;
    int running = 0;
    if (!devices.Poll(pump, merged, running)) {
      ui.Failure("the pump gave no status");
      return 1;
    }
    PollRow row = RowFromRecords(pump, merged);
    row.poll = 1;
    row.methodRunning = running;
    if (mode == OutputMode::kJson) {
      std::printf("%s\n", JsonRow(row).c_str());
    } else {
      std::printf("%s\n", StatusLineText(row).c_str());
      std::fflush(stdout);
      ui.Reasons(row.notReady ? row.notReadyText : "", row.error ? row.errorText : "");
    }
    devices.Close();
  } catch (const CCommunicationsException& e) {
    ui.Failure("communications failed: " + Utf8FromWindows1252(OneLineText(e.GetErrorMessage().str())));
    return 1;
  }
  return 0;
}

}  // namespace host
