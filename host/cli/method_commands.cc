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
#include "host/inputs/tray.h"
#include "host/outputs/run_log.h"
#include "host/running/device_set.h"
#include "host/running/run_setup.h"
#include "host/running/sample_run.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"
#include "platform/win/registry.h"

namespace host {

namespace {

// What the simulators predict for a method, said in `method check`: the
// pressure over the whole run (warm-up and dwell included) against the
// method's limit, and the peaks of the sample its vial holds. Returns the
// errors found (a tray file that cannot be used).
std::size_t SayPrediction(const std::string& path, const QuarnMethod& method, const SimulatedPath& simulated,
                          const SolventLabels& labels) {
  const std::filesystem::path trayFile = MethodTrayFile(path, std::filesystem::path(path).filename().string().substr(
                                                                  0, std::filesystem::path(path).filename().string().find('.')));
  Tray tray;
  if (!trayFile.empty()) tray = ReadTray(trayFile);
  for (const std::string& problem : TrayCompoundProblems(tray)) tray.problems.push_back(problem);
  for (const std::string& problem : tray.problems) std::fprintf(stderr, "%s\n", problem.c_str());
  const int vial = method.GetSamplerInitialCons().VialNumber();
  const SampleDescription* sample = tray.problems.empty() ? tray.For(vial) : nullptr;
  const std::optional<RunPrediction> p = PredictRun(method, simulated, labels, sample ? &sample->compounds : nullptr);
  if (!p) return tray.problems.size();
  const int limit = method.GetPumpInitialCons().MaxPressure();
  const std::string when = p->maxAtMin >= 0 ? "at " + Fixed(p->maxAtMin, 1) + " min of the run"
                                            : Fixed(-p->maxAtMin, 1) + " min before the injection, while the column warms";
  std::string line = path + ": predicted: the injection after " + Fixed(p->waitedMin, 1) +
                     " min with the pumps on (the oven from ambient); the pressure peaks at " +
                     std::to_string(std::lround(p->maxBar)) + " bar " + when;
  if (limit > 0 && p->maxBar > 0) {
    const double scale = limit / p->maxBar;
    line += "; the flows may go " + Fixed(scale, 2) + " times as high (" +
            Fixed(method.GetPumpInitialCons().Flow() * scale, 3) + " ml/min at the start) and stay under max_pressure (" +
            std::to_string(limit) + " bar)";
  }
  std::printf("%s\n", line.c_str());
  if (limit > 0 && p->maxBar > limit) {
    std::fprintf(stderr, "%s: warning: the predicted pressure reaches %ld bar %s, above max_pressure (%d bar): the "
                 "pump will stop there\n", path.c_str(), std::lround(p->maxBar), when.c_str(), limit);
  }
  if (!sample) {
    if (tray.problems.empty()) {
      std::printf("%s: vial %d has no sample description (%s): no peaks are predicted\n", path.c_str(), vial,
                  trayFile.empty() ? "no tray file beside the method" : trayFile.filename().string().c_str());
    }
    return tray.problems.size();
  }
  std::string peaks;
  const RunPrediction::Peak* worst = nullptr;
  double worstResolution = 0.0;
  for (std::size_t i = 0; i < p->peaks.size(); ++i) {
    const RunPrediction::Peak& peak = p->peaks[i];
    peaks += (peaks.empty() ? "" : ", ") + EscapeControls(peak.compound) + " " + Fixed(peak.apexMin, 2);
    if (i == 0) continue;
    const RunPrediction::Peak& before = p->peaks[i - 1];
    const double resolution = (peak.apexMin - before.apexMin) / (2.0 * (peak.sigmaMin + before.sigmaMin));
    if (!worst || resolution < worstResolution) worst = &peak, worstResolution = resolution;
  }
  std::string said = path + ": predicted peaks of vial " + std::to_string(vial) + " (\"" + EscapeControls(sample->name) +
                     "\", " + trayFile.filename().string() + "): " + (peaks.empty() ? "none elutes in the run" : peaks + " min");
  if (worst) {
    const RunPrediction::Peak& before = *(worst - 1);
    said += "; least resolved: " + EscapeControls(before.compound) + " and " + EscapeControls(worst->compound) +
            ", resolution " + Fixed(worstResolution, 1);
  }
  std::printf("%s\n", said.c_str());
  return 0;
}

}  // namespace

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
    if (columnProblems.empty() && SimulatorPresent()) {
      errors += SayPrediction(path, method, simulated, labels);
      std::fflush(stdout);
      std::fflush(stderr);
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
