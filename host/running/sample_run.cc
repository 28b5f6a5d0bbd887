#include "host/running/sample_run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>
#include <deque>

#include "host/harness/simulated_column.h"
#include "host/harness/simulators.h"
#include "host/outputs/report.h"
#include "host/outputs/run_folder.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"

namespace host {

namespace {

// The signal that asked the run to stop (0: none yet).
std::atomic<int> g_stopSignal{0};

// A run that has not started this long after the sample start has failed.
constexpr double kStartTimeoutMinutes = 3.0;

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
#if defined(SIGHUP)
    case SIGHUP: return "SIGHUP";
#endif
#if defined(SIGXFSZ)
    case SIGXFSZ: return "SIGXFSZ: a file reached this process's size limit";
#endif
    case kOutputClosed: return "the output pipe was closed";
    default: return "a signal";
  }
}

double MinutesSince(std::int64_t startMs) { return (platform::Clock::Get().NowMs() - startMs) / 60000.0; }

}  // namespace

void RequestStop(int signal) {
  int none = 0;
  g_stopSignal.compare_exchange_strong(none, signal);
}
int StopSignal() { return g_stopSignal.load(); }
int StopExitCode() { return 128 + g_stopSignal.load(); }
void ClearStop() { g_stopSignal.store(0); }

SampleRun::SampleRun(const SamplePlan& plan, std::filesystem::path folder, TerminalUi& ui,
                     const SampleDisplay& display)
    : m_plan(plan), m_folder(std::move(folder)), m_ui(ui), m_display(display),
      m_limits(LimitsSent(*plan.method, plan.transport)), m_runLength(plan.action == RowAction::kEquilibrate ? plan.minutes
                  : plan.action == RowAction::kShutdown  ? 0.0
                                                         : plan.method->GetRunLength()),
      m_faultIds(plan.faults.size(), -1) {}

SampleRun::~SampleRun() {
  m_ui.SetLog(nullptr);
  if (m_csv) std::fclose(m_csv);
}

void SampleRun::WriteCsv(const std::string& line) {
  if (m_csv) m_csvOk = std::fwrite(line.data(), 1, line.size(), m_csv) == line.size() && m_csvOk;
}

std::string SampleRun::OpenFiles() {
  std::string error;
  m_csv = CreateNewFile(m_folder / "status.csv", error);
  if (!m_csv) return "cannot write " + (m_folder / "status.csv").string() + ": " + error;
  WriteCsv(CsvHeader() + ",note\n");
  if (!m_logbook.Open(m_folder / "logbook.txt")) return "cannot write " + (m_folder / "logbook.txt").string();
  m_filesOpened = true;
  m_ui.SetLog([this](const std::string& text) { Log(text); });
  for (const std::string& warning : m_plan.warnings) Log("method " + EscapeControls(m_plan.methodPath) + ": " + warning);
  // The bottles are among the warnings.
  Log(SimulatorPresent() ? "simulated: " + DescribeSimulatedPath(m_plan.simulatedPath)
                         : "the " + std::string(kRealInstrumentsText));
  return "";
}

void SampleRun::Log(const std::string& text) { m_logbook.Add(platform::Clock::Get().NowMs(), text); }

bool SampleRun::StopRequested() {
  if (m_ui.OutputClosed()) RequestStop(kOutputClosed);
  return g_stopSignal.load() != 0;
}

// Before opening: the faults there from the start. At the sample start:
// the events without a time, and every fault with one, at its clock time.
void SampleRun::InjectFaults(bool atSampleStart) {
  const std::int64_t nowMs = platform::Clock::Get().NowMs();
  for (std::size_t i = 0; i < m_plan.faults.size(); ++i) {
    const Fault& fault = m_plan.faults[i];
    const bool later = fault.minutes || fault.kind->atSampleStart;
    if (later != atSampleStart) continue;
    if (!later) {
      InjectFault(fault, m_plan.transport);
      m_faultIds[i] = 0;
      continue;
    }
    const auto atMs = nowMs + static_cast<std::int64_t>(std::llround(fault.minutes.value_or(0.0) * 60000.0));
    m_faultIds[i] = ScheduleFault(fault, m_plan.transport, atMs);
  }
}

void SampleRun::RecordReports(DeviceSet& devices) { devices.WriteReports(m_record, DeviceMethodPath()); }

void SampleRun::Failed(const std::string& text) {
  ServerLost();
  if (m_failed) return;
  m_failed = true;
  m_failure = text;
}

bool SampleRun::ServerLost() {
  if (!m_serverLost.empty()) return true;
  const std::string lost = SimulatedServerLost(m_plan.transport);
  if (lost.empty()) return false;
  m_serverLost = "the instrument server was lost: " + lost;
  Log(m_serverLost);
  return true;
}

// Once the instruments are open and loaded, what the plug-in throws is an
// instrument's own error (a pump over its limit), not a link that failed;
// the plug-in's text is kept as it is.
void SampleRun::CommunicationsFailed(const std::string& pluginText, bool loaded) {
  const std::string text = Utf8FromWindows1252(OneLineText(pluginText));
  const std::string limit = loaded && m_last ? LimitCause(*m_last, m_limits) : "";
  Failed(!loaded ? "communications failed: " + text
                 : "the instruments reported: " + text + (limit.empty() ? "" : " (" + limit + ")"));
}

void SampleRun::Over() { m_overMs = std::min(m_overMs, platform::Clock::Get().NowMs()); }

// One poll of every device, recorded: status.csv, the chart (not the
// waiting polls), the logbook's events, the terminal and the JSON rows.
bool SampleRun::Poll(DeviceSet& d, double clockMinutes, bool waiting, bool equilibrating) {
  CInletSystemStatus pump;
  CInletSystemStatus merged;
  int running = 0;
  // Every call to a lost server fails: the loops end on the first poll
  // after, with that as their cause.
  if (ServerLost() || !d.Poll(pump, merged, running)) return false;
  m_lastPump = pump;
  m_pumpRead = true;
  PollRow row = RowFromRecords(pump, merged);
  row.poll = ++m_polls;
  row.clockMinutes = clockMinutes;
  row.methodRunning = running;
  row.waiting = waiting;
  row.equilibrating = equilibrating;
  if (m_last && !std::isnan(row.pressure) && !std::isnan(m_last->pressure)) row.pressureRise = row.pressure - m_last->pressure;
  if (!waiting) {
    if (row.injecting) m_samplerSeen = true;
    if (row.running && row.elapsedMinutes > 0) {
      m_injected = m_injected || m_samplerSeen;
      m_runTime = std::max(m_runTime, row.elapsedMinutes);
    }
    if (row.running || row.methodRunning) m_lastRunning = row;
    if (row.pumpOn && row.flow > 0) m_lastFlowing = row;
    if (!std::isnan(row.pressure)) m_peakBar = std::max(m_peakBar.value_or(row.pressure), row.pressure);
  }
  if (m_pendingCsv && m_csv) {
    WriteCsv(CsvRow(*m_pendingCsv) + ",\n");
    // Handed to the system at each poll, so a kill leaves every row up to it.
    m_csvOk = std::fflush(m_csv) == 0 && m_csvOk;
  }
  m_pendingCsv = row;
  if (m_bDetector && m_injected) TakeDetectorSignal();
  if (!waiting) m_chart.Add(row);
  for (const std::string& event : PollEvents(m_last ? &*m_last : nullptr, row)) Log(event);
  const bool milestone = !m_last || IsMilestone(*m_last, row);
  m_last = row;
  m_ui.Reasons(row.notReady ? row.notReadyText : "", row.error ? row.errorText : "");
  if (m_ui.ShowsStatusLine(milestone)) {
    // Once the run is over the node's run clock reads 0 again; the bar
    // keeps where the run got to.
    const double progress = row.running || row.methodRunning ? row.elapsedMinutes : m_runTime;
    const std::optional<double> speed = m_display.virtualTime ? std::nullopt : std::optional(m_display.speed);
    std::string line = "  " + m_display.linePrefix;
    if (m_display.followingMinutes) {
      const double left = *m_display.followingMinutes + std::max(0.0, m_runLength - (waiting ? 0.0 : progress));
      line += "sequence " + DurationText(speed ? left / *speed : left) + (speed ? "" : " of run time") + " left  ";
    }
    if (waiting) {
      line += std::string(equilibrating ? "equilibrating" : m_display.waitingWord) + " " + Fixed(clockMinutes, 1) + " min  ";
    } else {
      line += RunProgress(progress, m_runLength, speed, 20) + "  ";
    }
    m_ui.StatusLine(line + StatusLineText(row), milestone);
  }
  if (m_display.pollJson && m_ui.ShowsJson()) m_ui.JsonObject(JsonRow(row));
  return true;
}

namespace {

// The pressure readings of the last kSteadyMinutes: steady when they span
// that long and moved at most kSteadyShare of their value, or kSteadyBar.
class PressureWindow {
 public:
  void Add(double minutes, double bar) {
    m_readings.emplace_back(minutes, bar);
    while (m_readings.size() > 1 && m_readings[1].first <= minutes - kSteadyMinutes) m_readings.pop_front();
  }
  bool Steady() const {
    const auto& [now, bar] = m_readings.back();
    if (std::isnan(bar)) return true;  // a pump that reads no pressure is not held back by it
    if (m_readings.front().first > now - kSteadyMinutes + 1e-9) return false;
    double lo = bar, hi = bar;
    for (const auto& [at, reading] : m_readings) lo = std::min(lo, reading), hi = std::max(hi, reading);
    return hi - lo <= std::max(kSteadyBar, kSteadyShare * hi);
  }

 private:
  std::deque<std::pair<double, double>> m_readings;  // (minutes, bar)
};

}  // namespace

std::string SampleRun::NotReadyNow(const PollRow& row, bool steady, double equilibrateMl, double deliveredMl) const {
  const PumpInitialCons& cons = m_plan.method->GetPumpInitialCons();
  std::string text;
  const auto add = [&text](const std::string& what) { text += (text.empty() ? "" : "; ") + what; };
  if (row.notReady) add(OneLineText(Utf8FromWindows1252(row.notReadyText)));
  // The server transport does not hold the run for the oven; the host
  // waits for it on both, closer than the direct transport's own rule.
  if (cons.OvenInUse() && !(std::fabs(row.ovenTemperature - cons.OvenTemperature()) <= kOvenToleranceC)) {
    add("oven " + Fixed(row.ovenTemperature, 1) + " \u00b0C, set " + Fixed(cons.OvenTemperature(), 1) + " \u00b0C");
  }
  const double flow = cons.Flow();
  if (!std::isnan(row.flow) && std::fabs(row.flow - flow) > std::max(flow * kFlowShare, 0.001)) {
    add("flow " + Fixed(row.flow, 3) + " ml/min, set " + Fixed(flow, 3) + " ml/min");
  } else if (!steady) {
    add("pressure not yet steady (" + Fixed(row.pressure, 1) + " bar)");
  }
  if (deliveredMl < equilibrateMl) {
    add("equilibrating, " + Fixed(deliveredMl, 2) + " of " + Fixed(equilibrateMl, 2) + " ml");
  }
  return text;
}

// Like the real host, inject only when the instruments are ready (see
// ReadyRules). The column equilibrates at the method's initial conditions
// meanwhile, so the waiting polls are recorded and judged like the run's:
// a trip, an error or a pump that gives no status ends the sample here.
bool SampleRun::WaitUntilReady(DeviceSet& d) {
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  if (m_plan.pumpLeftOn) {
    // Between samples the pump delivers the last method's flow; found off
    // now, it stopped while the method loaded (a limit the new method set).
    if (!Poll(d, 0.0, true)) {
      m_waitFailure = "the pump gave no status: communications are not open";
      return false;
    }
    if (!m_last->pumpOn) {
      m_waitFailure = "the pump stopped between samples, while the method was loaded (off at " +
                      Fixed(m_last->pressure, 1) + " bar at the first reading after the load" +
                      (m_limits.upper > 0 ? "; the method's limit is " + std::to_string(m_limits.upper) + " bar)" : ")");
      Log(m_waitFailure);
      return false;
    }
  }
  d.pump.SwitchPump(On);
  const double equilibrateMl =
      m_plan.methodChanged ? m_plan.ready.equilibrateVolumes * ColumnVolumeMl(m_plan.simulatedPath) : 0.0;
  Log(std::string("the pump was switched on at the method's initial conditions; ") +
      (equilibrateMl > 0 ? "equilibrating the column with " + Fixed(equilibrateMl, 2) + " ml (" +
                               Fixed(m_plan.ready.equilibrateVolumes, 1) + " column volumes) of them, then "
                         : "") +
      "waiting for the instruments to be ready");
  bool announced = false;
  std::optional<PollRow> lastOn;  // the last poll with the pump on
  bool restarted = false;
  PressureWindow pressures;
  double deliveredMl = 0;
  bool wasAtSet = false;  // the poll before found the flow at its set point
  while (!StopRequested()) {
    const double minutes = MinutesSince(startMs);
    if (!Poll(d, minutes, true, deliveredMl < equilibrateMl)) {
      m_waitFailure = "the pump gave no status: communications are not open";
      return false;
    }
    const PollRow& row = *m_last;
    if (row.error) {
      m_waitFailure = "the instruments report: " + OneLineText(Utf8FromWindows1252(row.errorText));
      return false;
    }
    if (row.pumpOn) {
      lastOn = row;
    } else if (lastOn) {
      // The last run's end may stop the pump after it was switched on
      // (its flow was already falling); switched on once more, then
      // any stop ends the sample.
      const std::string cause = LimitCause(*lastOn, m_limits);
      if (!cause.empty() || restarted) {
        m_waitFailure = "the pump stopped" + (cause.empty() ? std::string() : ": " + cause);
        return false;
      }
      restarted = true;
      lastOn.reset();
      Log("the pump stopped as the last run ended; switched on again");
      d.pump.SwitchPump(Off);  // lets the last run go, so that the switch-on starts the initial conditions
      d.pump.SwitchPump(On);
    }
    if (!row.pumpOn && !lastOn && !restarted && minutes >= 0.1) {
      // A pump left stopped by a trip keeps its flow set, and a switch-on
      // then does nothing: off first, then on starts the initial conditions.
      restarted = true;
      Log("the pump did not start; switched off and on again");
      d.pump.SwitchPump(Off);
      d.pump.SwitchPump(On);
    }
    // Delivered at the starting flow: counted from the second poll at it.
    const double flow = m_plan.method->GetPumpInitialCons().Flow();
    const bool atSet = row.pumpOn && (std::isnan(row.flow) || std::fabs(row.flow - flow) <= std::max(flow * kFlowShare, 0.001));
    if (atSet && wasAtSet) deliveredMl += (minutes - m_result.waitedMinutes) * (std::isnan(row.flow) ? flow : row.flow);
    wasAtSet = atSet;
    m_result.waitedMinutes = minutes;
    m_result.equilibratedMl = deliveredMl;
    pressures.Add(minutes, row.pressure);
    const std::string notReady = NotReadyNow(row, pressures.Steady(), equilibrateMl, deliveredMl);
    if (notReady.empty()) {
      Log("ready after " + Fixed(minutes, 2) + " min" +
          (equilibrateMl > 0 ? " (" + Fixed(deliveredMl, 2) + " ml at the starting conditions)" : ""));
      return true;
    }
    if (!announced) m_ui.Note("Waiting for the instruments to be ready...");
    announced = true;
    if (minutes > m_plan.ready.timeoutMinutes) {
      const std::string limit = Fixed(m_plan.ready.timeoutMinutes, 1) + " min";
      if (!m_plan.ready.injectWhenNotReady) {
        m_waitFailure = "the instruments were not ready after " + limit + " (" + notReady + ")";
        return false;
      }
      m_notReady = notReady;
      m_ui.Note("The instruments are still not ready after " + limit + " (" + notReady +
                "); injecting anyway (--if-not-ready inject): the sample will not count as good.");
      Log("still not ready after " + limit + " (" + notReady + "); injecting anyway");
      return true;
    }
  }
  return false;
}

bool SampleRun::StopFlow(DeviceSet& d, const std::string& why) {
  m_ui.Note(why);
  m_plan.pumpLeftOn = false;
  d.pump.SwitchPump(Off);
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  // The pumps ramp their flow down and the pressure follows within seconds;
  // two minutes is plenty for any column.
  while (!StopRequested()) {
    const double minutes = MinutesSince(startMs);
    if (!Poll(d, minutes, true)) return false;
    const PollRow& row = *m_last;
    const bool stopped = !(row.flow > 0) && !(row.pressure > kSteadyBar);
    if (stopped || minutes > 2.0) {
      Log("the flow stopped (" + Fixed(row.flow, 3) + " ml/min, " + Fixed(row.pressure, 1) + " bar)");
      return true;
    }
  }
  return false;
}

// Polls from the sample start until the run ends.
void SampleRun::PollUntilTheEnd(DeviceSet& d) {
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  bool started = false;
  double runStartMinutes = -1.0;  // the first poll that saw the run
  while (!StopRequested()) {
    const double minutes = MinutesSince(startMs);
    if (!Poll(d, minutes, false)) return Failed("the pump gave no status: communications are not open");
    const PollRow& row = *m_last;
    if (row.running || row.methodRunning) started = true;
    if (row.running && runStartMinutes < 0.0) runStartMinutes = minutes;
    if (started && !row.running && !row.methodRunning) return;
    if (!started && minutes > kStartTimeoutMinutes) {
      return Failed("the run did not start within 3 minutes of the sample start");
    }
    // The margin counts from the run's start (while it was never seen
    // running, from the latest it could have started).
    const double from = runStartMinutes >= 0.0 ? runStartMinutes : kStartTimeoutMinutes;
    if (minutes - from > m_runLength + kRunEndMarginMinutes) {
      return Failed("the run did not end within " + Fixed(kRunEndMarginMinutes, 0) + " min after the method's run length of " +
                    Fixed(m_runLength, 1) + " min; stopping it");
    }
  }
}

void SampleRun::Equilibrate(DeviceSet& d) {
  d.pump.SwitchPump(On);
  Log("the pump was switched on at the method's initial conditions; equilibrating for " + Fixed(m_runLength, 1) + " min");
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  std::optional<PollRow> lastOn;
  bool restarted = false;
  while (!StopRequested()) {
    const double minutes = MinutesSince(startMs);
    if (!Poll(d, minutes, true, true)) return Failed("the pump gave no status: communications are not open");
    const PollRow& row = *m_last;
    if (row.error) return Failed("the instruments report: " + OneLineText(Utf8FromWindows1252(row.errorText)));
    if (row.pumpOn) {
      lastOn = row;
    } else if (lastOn) {
      const std::string cause = LimitCause(*lastOn, m_limits);
      return Failed("the pump stopped" + (cause.empty() ? std::string() : ": " + cause));
    } else if (!restarted && minutes >= 0.1) {
      restarted = true;  // as before an injection: a pump left tripped starts again from off
      d.pump.SwitchPump(Off);
      d.pump.SwitchPump(On);
    }
    m_runTime = minutes;
    if (minutes >= m_runLength) {
      m_doneText = "equilibrated, " + Fixed(minutes, 1) + " min at the method's starting conditions";
      return;
    }
  }
}

void SampleRun::ShutDown(DeviceSet& d) {
  // With a method, its starting conditions are the standby flow.
  const bool standby = !m_plan.methodPath.empty();
  const std::string pump = standby ? "the pump at the method's " +
                                         Fixed(m_plan.method->GetPumpInitialCons().Flow(), 3) + " ml/min"
                                   : "the pump off";
  m_ui.Note("Shutting down: " + pump + ", the column oven and the UV lamp off.");
  d.pump.SwitchPump(standby ? On : Off);
  d.oven.SwitchOven(Off);
  d.uv.SwitchLamp(Off);
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  // Half a minute of polls records the instruments going to rest.
  while (!StopRequested() && MinutesSince(startMs) < kSteadyMinutes) {
    if (!Poll(d, MinutesSince(startMs), true)) return Failed("the pump gave no status: communications are not open");
  }
  m_doneText = "shut down: " + pump + ", the column oven and the UV lamp off";
}

namespace {

// A concentration as the tray file gives it, to a thousandth: "50", "0.25".
std::string ConcentrationText(double mgPerL) {
  std::string text = Fixed(mgPerL, 3);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

void SampleRun::Run(DeviceSet& d) {
  if (m_plan.action == RowAction::kEquilibrate) return Equilibrate(d);
  if (m_plan.action == RowAction::kShutdown) return ShutDown(d);
  if (m_plan.action == RowAction::kInject && SimulatorPresent()) {
    const std::string unplaced = PlaceSimulatedSample(m_plan.transport, m_plan.vial, m_plan.sample);
    m_bDetector = m_plan.sample != nullptr && unplaced.empty();
    if (!unplaced.empty()) {
      // The run itself finds out what is wrong with the simulators.
      m_noChromatogram = "the simulated vial could not be filled: " + EscapeControls(unplaced);
      Log("the simulated vial could not be filled, so no chromatogram is recorded: " + EscapeControls(unplaced));
    } else if (const SampleDescription* s = m_plan.sample) {
      std::string compounds;
      for (const auto& [name, mgPerL] : s->compounds) {
        compounds += (compounds.empty() ? "" : ", ") + EscapeControls(name) + " " + ConcentrationText(mgPerL) + " mg/l";
      }
      Log("vial " + std::to_string(m_plan.vial) + " holds \"" + EscapeControls(s->name) + "\" (" +
          EscapeControls(m_plan.sampleSource) + "): " + compounds);
    } else {
      m_noChromatogram = "vial " + std::to_string(m_plan.vial) + " has no sample description (" +
                         (m_plan.sampleSource.empty() ? std::string("no tray file")
                                                      : EscapeControls(m_plan.sampleSource)) +
                         "), so the simulated detector recorded a flat baseline";
      Log("vial " + std::to_string(m_plan.vial) + " has no sample description (" +
          (m_plan.sampleSource.empty() ? std::string("no tray file: tray.toml beside the method, or --tray")
                                       : EscapeControls(m_plan.sampleSource)) +
          "): the UV detector records a flat baseline, so no chromatogram is written");
    }
  }
  if (!WaitUntilReady(d)) return;
  m_result.atInjection = m_last;
  m_result.injectedClockMinutes = platform::Clock::Get().NowMs() / 60000.0;
  m_sampleStarted = true;
  if (m_plan.action == RowAction::kBlank) {
    // A blank run: the pump starts the method's run, and nothing is injected.
    m_ui.Note("Starting the method's run without an injection; it runs " + Fixed(m_runLength, 1) + " min.");
    InjectFaults(true);
    if (!d.pump.StartMethod(CString(DeviceMethodPath().c_str()))) return Failed("the pump did not start the run");
    return PollUntilTheEnd(d);
  }
  m_ui.Note("Injecting " + VolumeText(m_plan.volumeUl) + " \u00b5l from vial " + std::to_string(m_plan.vial) +
            "; the method runs " + Fixed(m_runLength, 1) + " min.");
  InjectFaults(true);
  if (!d.StartSample(DeviceMethodPath(), m_plan.vial, m_plan.volumeUl)) {
    return Failed("the autosampler did not start the sample");
  }
  PollUntilTheEnd(d);
}

void SampleRun::TakeDetectorSignal() {
  std::optional<DetectorData> data = TakeDetectorData(m_plan.transport, m_signal.size(), m_detectorPeaks.size());
  if (!data || !data->injected || data->firstSample != m_signal.size()) return;
  if (!m_chromatogram.IsOpen() && m_signal.empty()) {
    m_wavelengthNm = data->wavelengthNm;
    for (const std::string& name : data->unknown) Log("the simulator knows no compound \"" + EscapeControls(name) + "\"");
    if (!m_chromatogram.Open(m_folder / "chromatogram.csv", m_wavelengthNm)) {
      m_ui.Failure("cannot write " + (m_folder / "chromatogram.csv").string());
      m_result.writeFailed = true;
    }
  }
  m_chromatogram.Append(data->firstSample, data->samplesMau, kDetectorPeriodMin);
  m_signal.insert(m_signal.end(), data->samplesMau.begin(), data->samplesMau.end());
  for (DetectorPeak& peak : data->peaks) m_detectorPeaks.push_back(std::move(peak));
}

void SampleRun::WriteChromatogram(const std::string& title, const std::string& outcome) {
  std::vector<ExpectedPeak> expected;
  for (const DetectorPeak& p : m_detectorPeaks) expected.push_back({p.compound, p.apexMin, p.sigmaMin});
  m_result.peaks = MeasurePeaks(m_signal, kDetectorPeriodMin, expected);
  if (m_chromatogram.Close()) {
    m_result.written.push_back("chromatogram.csv");
  } else {
    m_ui.Failure("could not write all of " + (m_folder / "chromatogram.csv").string());
    m_result.writeFailed = true;
  }
  WriteFile("peaks.csv", PeaksCsv(m_result.peaks));
  std::vector<std::string> compounds;
  std::vector<std::vector<float>> spectra;
  for (const DetectorPeak& p : m_detectorPeaks) {
    compounds.push_back(p.compound);
    spectra.push_back(p.spectrum);
  }
  if (!compounds.empty()) WriteFile("spectra.csv", SpectraCsv(compounds, spectra, kSpectrumFromNm, kSpectrumStepNm));
  const std::string subtitle = "vial " + std::to_string(m_plan.vial) + ", " + VolumeText(m_plan.volumeUl) +
                               " \u00b5l of \"" + (m_plan.sample ? m_plan.sample->name : std::string()) + "\", UV " +
                               std::to_string(m_wavelengthNm) + " nm";
  WriteFile("chromatogram.svg",
            RenderChromatogramSvg(m_signal, kDetectorPeriodMin, m_result.peaks, {title, subtitle, m_wavelengthNm, outcome}));
  std::string found;
  for (const MeasuredPeak& p : m_result.peaks) {
    found += (found.empty() ? "" : ", ") + EscapeControls(p.compound) +
             (p.retentionMin ? " at " + Fixed(*p.retentionMin, 2) + " min" : " (not measured)");
  }
  Log("the UV detector recorded " + Fixed(static_cast<double>(m_signal.size()) * kDetectorPeriodMin, 1) + " min, " +
      std::to_string(m_result.peaks.size()) + (m_result.peaks.size() == 1 ? " peak" : " peaks") +
      (found.empty() ? "" : ": " + found));
}

void SampleRun::WriteReport(const RunVerdict& verdict, const std::optional<double>& ovenSetPoint) {
  RunReport report;
  const QuarnMethod& method = *m_plan.method;
  const SampleDescription* s = m_plan.sample;
  report.sample = !m_plan.sampleName.empty() ? m_plan.sampleName : s ? s->name : "";
  report.method = method.Title().IsEmpty() ? "" : Utf8FromWindows1252(method.Title().str());
  report.methodFile = m_plan.methodPath;
  const bool injects = m_plan.action == RowAction::kInject;
  if (injects) {
    report.vial = std::to_string(m_plan.vial);
    report.volume = VolumeText(m_plan.volumeUl) + " \u00b5l" + (m_injected ? "" : " planned, not injected");
  }
  report.action = RowActionName(m_plan.action);
  report.transport = TransportName(m_plan.transport);
  report.date = NowText(false);
  if (s && m_bDetector) {
    report.contents = s->name + ":";
    for (const auto& [name, mgPerL] : s->compounds) {
      report.contents += (report.contents.back() == ':' ? " " : ", ") + name + " " + ConcentrationText(mgPerL) + " mg/l";
    }
  }
  report.good = verdict.good;
  report.verdict = verdict.outcome;
  if (m_bDetector && m_injected && !m_signal.empty()) {
    report.signal = m_signal;
    report.periodMin = kDetectorPeriodMin;
    report.wavelengthNm = m_wavelengthNm;
    report.peaks = m_result.peaks;
  } else {
    report.noChromatogram = !injects                  ? std::string("a ") + RowActionName(m_plan.action) + " row injects nothing"
                            : !m_noChromatogram.empty() ? m_noChromatogram
                            : !SimulatorPresent()       ? std::string("the host reads no detector signal from the ") +
                                                              kRealInstrumentsText
                            : !m_injected               ? std::string("nothing was injected")
                                                        : std::string("the detector gave no signal");
  }
  report.traces = &m_chart;
  report.ovenSetPoint = ovenSetPoint;
  report.runLengthMin = m_runLength;
  WriteFile("report.html", RenderRunReport(report));
}

RunFacts SampleRun::Facts() const {
  RunFacts f;
  f.runLength = m_runLength;
  f.injectionPlanned = m_plan.action == RowAction::kInject;
  f.doneText = m_doneText;
  f.runTime = m_runTime;
  f.methodFlow = m_plan.method->GetPumpInitialCons().Flow();
  f.limits = m_limits;
  f.sampleStarted = m_sampleStarted;
  f.samplerSeen = m_samplerSeen;
  f.injected = m_injected;
  if (const int signal = g_stopSignal.load(); signal != 0) f.stopSignal = SignalName(signal);
  f.waitFailure = m_waitFailure;
  f.failed = m_failed;
  f.failure = m_failure;
  // A lost server explains every failure after it.
  if (!m_serverLost.empty()) {
    f.failed = true;
    f.failure = m_serverLost;
    if (!f.waitFailure.empty()) f.waitFailure = m_serverLost;
  }
  f.last = m_last;
  f.lastRunning = m_lastRunning;
  f.lastFlowing = m_lastFlowing;
  f.notReady = m_notReady;
  return f;
}

void SampleRun::WriteFile(const char* name, const std::string& text) {
  const std::filesystem::path path = m_folder / name;
  if (const std::string error = WriteFileWhole(path, text); !error.empty()) {
    m_ui.Failure("could not write " + path.string() + ": " + error);
    m_result.writeFailed = true;
    return;
  }
  m_result.written.push_back(name);
}

// The record: a first line that says what was injected (or that nothing
// was, and why), the devices' reports, the injection block and the result.
void SampleRun::WriteRecord(const RunVerdict& verdict) {
  const std::string volume = VolumeText(m_plan.volumeUl) + " \u00b5l";
  std::string head = "Experiment record: " +
                     (m_plan.sampleName.empty() ? "" : "sample " + EscapeControls(m_plan.sampleName) + ", ") +
                     (m_plan.methodPath.empty() ? "no method" : "method " + EscapeControls(m_plan.methodPath)) +
                     (m_plan.action == RowAction::kInject ? ", vial " + std::to_string(m_plan.vial) : "") +
                     // A trip or a kill between the autosampler's sequence and the run's start,
                     // or a run started without the sequence, leaves open whether the needle
                     // reached the vial.
                     (m_injected                            ? ", injection " + volume
                      : InjectionNotKnown(Facts())          ? ", injection not known (" + volume + " planned)"
                      : m_plan.action == RowAction::kInject ? ", no injection (" + volume + " planned)"
                                                            : std::string(", no injection (a ") +
                                                                  RowActionName(m_plan.action) + " row)") +
                     ", " +
                     TransportName(m_plan.transport) + " transport, " + NowText(false) + "\n";
  const SamplerInitialCons& cons = m_plan.method->GetSamplerInitialCons();
  if (m_plan.action == RowAction::kInject &&
      (cons.VialNumber() != m_plan.vial || VolumeText(cons.InjectionVolume()) != VolumeText(m_plan.volumeUl))) {
    head += std::string(m_plan.sampleName.empty() ? "Given on the command line" : "Given by the sample list") +
            ": vial " + std::to_string(m_plan.vial) + ", " + volume + "; the autosampler method below names vial " +
            std::to_string(cons.VialNumber()) + ", " + VolumeText(cons.InjectionVolume()) + " \u00b5l.\n";
  }
  std::string body = m_record.Text();
  if (!m_injected && m_plan.action == RowAction::kInject) {
    body += std::string(InjectionNotKnown(Facts()) ? "\nInjection not known: " : "\nNo injection: ") +
            NoInjectionReason(Facts()) + ".\n";
  }
  // Not the instruments' own report: what the simulators were set up with.
  if (SimulatorPresent()) {
    body += "\nSimulated instruments\n=====================\n  " + DescribeSimulatedPath(m_plan.simulatedPath) + "\n";
  } else {
    body += "\nInstruments\n===========\n  the " + std::string(kRealInstrumentsText) + "\n";
  }
  for (const std::string& bottle : m_plan.bottles) body += "  " + bottle + "\n";
  body += "\nRun result: " + verdict.outcome + "\n";
  WriteFile("experiment-record.txt", head + "\n" + RecordTextAsUtf8(body));
}

SampleResult SampleRun::Finish(DeviceSet* devices) {
  RunFacts facts = Facts();
  for (std::size_t i = 0; i < m_plan.faults.size(); ++i) {
    const int id = m_faultIds[i];
    const std::optional<std::int64_t> ranAt = id > 0 ? ScheduledFaultRanAt(id) : std::nullopt;
    if ((id == 0 || (ranAt && *ranAt <= m_overMs)) && !m_plan.faults[i].kind->spoilsRun) {
      // A state of the instruments, not a malfunction: the run is judged
      // as any other, and the record says what it ran with.
      if (m_filesOpened) {
        Log("the injected fault " + m_plan.faults[i].text + " acted on this run; it does not make the run invalid: " +
            "what it changes shows in the peaks");
      }
    } else if (id == 0 || (ranAt && *ranAt <= m_overMs)) {
      facts.faultsHit.push_back(m_plan.faults[i].text);
    } else if (id > 0) {
      CancelScheduledFault(id);
      m_ui.Note("The fault " + m_plan.faults[i].text + " did not hit the run: the run was over before it was due.");
    }
  }
  m_result.verdict = JudgeRun(facts);
  m_result.injected = m_injected;
  m_result.runTime = m_runTime;
  m_result.peakBar = m_peakBar;
  const RunVerdict& v = m_result.verdict;
  if (!m_filesOpened) return m_result;
  const std::string note = v.good ? "" : v.outcome;
  if (m_csv) {
    if (m_pendingCsv) WriteCsv(CsvRow(*m_pendingCsv) + "," + CsvQuoted(note) + '\n');
    errno = 0;
    const bool closed = std::fclose(m_csv) == 0 && m_csvOk;
    m_csv = nullptr;
    if (closed) {
      m_result.written.push_back("status.csv");
    } else {
      m_ui.Failure("could not write all of " + (m_folder / "status.csv").string() +
                   (errno ? std::string(": ") + std::strerror(errno) : " (is the disk full?)"));
      m_result.writeFailed = true;
    }
  }
  ChartInfo info;
  const QuarnMethod& method = *m_plan.method;
  // The method's title is single-byte text; a file name is UTF-8.
  info.title = (m_plan.sampleName.empty() ? "" : m_plan.sampleName + ": ") +
               (method.Title().IsEmpty() ? "Method " + m_plan.methodPath : Utf8FromWindows1252(method.Title().str()));
  // The wait before the injection is drawn as its length: the chart's clock starts at the sample start.
  const std::string waited =
      m_result.waitedMinutes <= 0
          ? ""
          : "waited " + Fixed(m_result.waitedMinutes, 1) + " min for readiness" +
                (m_result.equilibratedMl > 0 ? " (" + Fixed(m_result.equilibratedMl, 2) + " ml pumped)" : "") + ", ";
  info.subtitle = std::filesystem::path(m_plan.methodPath).filename().string() + " \u2014 " +
                  (m_plan.action == RowAction::kInject
                       ? "vial " + std::to_string(m_plan.vial) + ", injection " + VolumeText(m_plan.volumeUl) + " \u00b5l, "
                       : std::string("a ") + RowActionName(m_plan.action) + " row, ") +
                  waited + std::to_string(m_chart.Rows()) + " polls, " + NowText(false);
  info.outcome = note;
  if (method.GetPumpInitialCons().OvenInUse()) info.ovenSetPoint = method.GetPumpInitialCons().OvenTemperature();
  WriteFile("status.svg", RenderStatusSvg(m_chart, info));
  if (m_bDetector && m_injected) {
    TakeDetectorSignal();
    WriteChromatogram(info.title, note);
  }
  WriteReport(v, info.ovenSetPoint);
  if (devices) {
    CString document;
    devices->pump.FormatSolventMonitorUpdate(m_lastPump, document, "QuarnControl Pump");
    WriteFile("solvent-monitor.xml", document.str() + "\n");
  }
  Log("run result: " + v.outcome);
  if (m_logbook.Close()) {
    m_result.written.push_back("logbook.txt");
  } else {
    m_ui.Failure("could not write all of " + (m_folder / "logbook.txt").string());
    m_result.writeFailed = true;
  }
  // The record last: a folder whose record holds its result has every
  // file of the sample, which a resumed sequence relies on.
  if (devices && m_injected) devices->sampler.WriteInjectionVolume(&m_record, static_cast<float>(m_plan.volumeUl));
  WriteRecord(v);
  std::vector<std::string> inOrder;
  for (const char* name : RunFiles()) {
    if (std::find(m_result.written.begin(), m_result.written.end(), name) != m_result.written.end()) inOrder.push_back(name);
  }
  m_result.written = inOrder;
  return m_result;
}

}  // namespace host
