#include "host/sample_run.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <ctime>

#include "host/commands.h"
#include "host/host_system.h"
#include "host/number_text.h"
#include "host/run_folder.h"
#include "host/simulated_column.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "sim/fault_schedule.h"

namespace host {

namespace {

// The signal that asked the run to stop (0: none yet).
std::atomic<int> g_stopSignal{0};

// How long the host waits for the instruments to become ready (the oven to
// reach its temperature) before it injects anyway.
constexpr double kReadyTimeoutMinutes = 30.0;
// A run that has not started this long after the sample start has failed.
constexpr double kStartTimeoutMinutes = 3.0;

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
#if defined(SIGHUP)
    case SIGHUP: return "SIGHUP";
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
      m_limits(LimitsSent(*plan.method, plan.transport)), m_runLength(plan.method->GetRunLength()),
      m_faultIds(plan.faults.size(), -1) {}

SampleRun::~SampleRun() { m_ui.SetLog(nullptr); }

std::string SampleRun::OpenFiles() {
  m_csv.open(m_folder / "status.csv", std::ios::trunc);
  if (!m_csv) return "cannot write " + (m_folder / "status.csv").string();
  m_csv << CsvHeader() << ",note\n";
  if (!m_logbook.Open(m_folder / "logbook.txt")) return "cannot write " + (m_folder / "logbook.txt").string();
  m_ui.SetLog([this](const std::string& text) { Log(text); });
  for (const std::string& warning : m_plan.warnings) Log("method " + EscapeControls(m_plan.methodPath) + ": " + warning);
  Log("simulated: " + DescribeHydraulics(m_plan.simulatedPath));  // the bottles are among the warnings
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
    m_faultIds[i] = sim::FaultSchedule::Get().At(atMs, [fault, t = m_plan.transport] { InjectFault(fault, t); });
  }
}

void SampleRun::RecordReports(DeviceSet& devices) { devices.WriteReports(m_record, m_plan.methodPath); }

void SampleRun::Failed(const std::string& text) {
  if (m_failed) return;
  m_failed = true;
  m_failure = text;
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
bool SampleRun::Poll(DeviceSet& d, double clockMinutes, bool waiting) {
  CInletSystemStatus pump;
  CInletSystemStatus merged;
  int running = 0;
  if (!d.Poll(pump, merged, running)) return false;
  m_lastPump = pump;
  m_pumpRead = true;
  PollRow row = RowFromRecords(pump, merged);
  row.poll = ++m_polls;
  row.clockMinutes = clockMinutes;
  row.methodRunning = running;
  row.waiting = waiting;
  if (m_last && !std::isnan(row.pressure) && !std::isnan(m_last->pressure)) row.pressureRise = row.pressure - m_last->pressure;
  if (!waiting) {
    if (row.injecting) m_samplerSeen = true;
    if (row.running && row.elapsedMinutes > 0) {
      m_injected = m_injected || m_samplerSeen;
      m_runTime = std::max(m_runTime, row.elapsedMinutes);
    }
    if (row.running || row.methodRunning) m_lastRunning = row;
    if (!std::isnan(row.pressure)) m_peakBar = std::max(m_peakBar.value_or(row.pressure), row.pressure);
  }
  if (m_pendingCsv && m_csv) {
    m_csv << CsvRow(*m_pendingCsv) << ",\n";
    // Flushed at each poll for whoever watches the file; in virtual time
    // nobody can, and a flush a poll would cost more than the poll.
    if (!m_display.virtualTime || m_polls % 1000 == 0) m_csv.flush();
  }
  m_pendingCsv = row;
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
      line += std::string(m_display.waitingWord) + " " + Fixed(clockMinutes, 1) + " min  ";
    } else {
      line += RunProgress(progress, m_runLength, speed, 20) + "  ";
    }
    m_ui.StatusLine(line + StatusLineText(row), milestone);
  }
  if (m_display.pollJson && m_ui.ShowsJson()) m_ui.JsonObject(JsonRow(row));
  return true;
}

// Like the real host, inject only when no device reports not-ready (the
// column oven at its temperature). The column equilibrates at the
// method's initial conditions meanwhile, so the waiting polls are
// recorded and judged like the run's: a trip, an error or a pump that
// gives no status ends the sample here.
bool SampleRun::WaitUntilReady(DeviceSet& d) {
  d.pump.SwitchPump(On);
  Log(std::string("the pump was switched on at the method's initial conditions; ") +
      (m_display.waitingWord == std::string("waiting") ? "waiting for the instruments to be ready"
                                                       : "re-equilibrating until the instruments are ready"));
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  bool announced = false;
  std::optional<PollRow> lastOn;  // the last poll with the pump on
  std::optional<double> oven;  // the method's oven set point
  if (m_plan.method && m_plan.method->GetPumpInitialCons().OvenInUse()) {
    oven = m_plan.method->GetPumpInitialCons().OvenTemperature();
  }
  while (!StopRequested()) {
    const double minutes = MinutesSince(startMs);
    if (!Poll(d, minutes, true)) {
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
      const std::string cause = LimitCause(*lastOn, m_limits);
      m_waitFailure = "the pump stopped" + (cause.empty() ? std::string() : ": " + cause);
      return false;
    }
    // The server transport does not hold the run for the oven; the host
    // waits for it as the direct transport does, within 5 % of its set point.
    const bool ovenOff = oven && std::fabs(row.ovenTemperature - *oven) > *oven * 0.05;
    if (!row.notReady && !ovenOff) return true;
    if (!announced) {
      m_ui.Note(row.notReady || !oven ? "Waiting for the instruments to be ready..."
                                      : "Waiting for the column oven to reach " + Fixed(*oven, 1) + " \u00b0C...");
    }
    announced = true;
    if (minutes > kReadyTimeoutMinutes) {
      m_ui.Note("The instruments are still not ready after 30 minutes; injecting anyway.");
      Log("still not ready after 30 minutes; injecting anyway");
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

void SampleRun::Run(DeviceSet& d) {
  if (!WaitUntilReady(d)) return;
  m_ui.Note("Injecting " + Fixed(m_plan.volumeUl, 2) + " \u00b5l from vial " + std::to_string(m_plan.vial) +
            "; the method runs " + Fixed(m_runLength, 1) + " min.");
  m_sampleStarted = true;
  InjectFaults(true);
  if (!d.StartSample(m_plan.methodPath, m_plan.vial, m_plan.volumeUl)) {
    return Failed("the autosampler did not start the sample");
  }
  PollUntilTheEnd(d);
}

RunFacts SampleRun::Facts() const {
  RunFacts f;
  f.runLength = m_runLength;
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
  f.last = m_last;
  f.lastRunning = m_lastRunning;
  return f;
}

void SampleRun::WriteFile(const char* name, const std::string& text) {
  const std::filesystem::path path = m_folder / name;
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    m_ui.Failure("could not write " + path.string() + (errno ? std::string(": ") + std::strerror(errno) : ""));
    m_result.writeFailed = true;
    return;
  }
  m_result.written.push_back(name);
}

// The record: a first line that says what was injected (or that nothing
// was, and why), the devices' reports, the injection block and the result.
void SampleRun::WriteRecord(const RunVerdict& verdict) {
  const std::string volume = Fixed(m_plan.volumeUl, 2) + " \u00b5l";
  std::string head = "Experiment record: " +
                     (m_plan.sampleName.empty() ? "" : "sample " + EscapeControls(m_plan.sampleName) + ", ") +
                     "method " + EscapeControls(m_plan.methodPath) + ", vial " + std::to_string(m_plan.vial) +
                     (m_injected ? ", injection " + volume : ", no injection (" + volume + " planned)") + ", " +
                     TransportName(m_plan.transport) + " transport, " + NowText(false) + "\n";
  const SamplerInitialCons& cons = m_plan.method->GetSamplerInitialCons();
  if (cons.VialNumber() != m_plan.vial || Fixed(cons.InjectionVolume(), 2) != Fixed(m_plan.volumeUl, 2)) {
    head += std::string(m_plan.sampleName.empty() ? "Given on the command line" : "Given by the sample list") +
            ": vial " + std::to_string(m_plan.vial) + ", " + volume + "; the autosampler method below names vial " +
            std::to_string(cons.VialNumber()) + ", " + Fixed(cons.InjectionVolume(), 2) + " \u00b5l.\n";
  }
  std::string body = m_record.Text();
  if (!m_injected) body += "\nNo injection: " + NoInjectionReason(Facts()) + ".\n";
  // Not the instruments' own report: what the simulators were set up with.
  body += "\nSimulated instruments\n=====================\n  " + DescribeHydraulics(m_plan.simulatedPath) + "\n";
  for (const std::string& bottle : m_plan.bottles) body += "  " + bottle + "\n";
  body += "\nRun result: " + verdict.outcome + "\n";
  WriteFile("experiment-record.txt", head + "\n" + RecordTextAsUtf8(body));
}

SampleResult SampleRun::Finish(DeviceSet* devices) {
  RunFacts facts = Facts();
  for (std::size_t i = 0; i < m_plan.faults.size(); ++i) {
    const int id = m_faultIds[i];
    const std::optional<std::int64_t> ranAt = id > 0 ? sim::FaultSchedule::Get().RanAt(id) : std::nullopt;
    if (id == 0 || (ranAt && *ranAt <= m_overMs)) {
      facts.faultsHit.push_back(m_plan.faults[i].text);
    } else if (id > 0) {
      sim::FaultSchedule::Get().Cancel(id);
      m_ui.Note("The fault " + m_plan.faults[i].text + " did not hit the run: the run was over before it was due.");
    }
  }
  m_result.verdict = JudgeRun(facts);
  m_result.injected = m_injected;
  m_result.runTime = m_runTime;
  m_result.peakBar = m_peakBar;
  const RunVerdict& v = m_result.verdict;
  if (devices && m_injected) devices->sampler.WriteInjectionVolume(&m_record, static_cast<float>(m_plan.volumeUl));
  WriteRecord(v);
  const std::string note = v.good ? "" : v.outcome;
  if (m_csv.is_open()) {
    if (m_pendingCsv) m_csv << CsvRow(*m_pendingCsv) << "," << CsvQuoted(note) << '\n';
    errno = 0;
    m_csv.close();
    if (m_csv) {
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
  info.subtitle = std::filesystem::path(m_plan.methodPath).filename().string() + " \u2014 vial " +
                  std::to_string(m_plan.vial) + ", injection " + Fixed(m_plan.volumeUl, 2) + " \u00b5l, " +
                  std::to_string(m_chart.Rows()) + " polls, " + NowText(false);
  info.outcome = note;
  if (method.GetPumpInitialCons().OvenInUse()) info.ovenSetPoint = method.GetPumpInitialCons().OvenTemperature();
  WriteFile("status.svg", RenderStatusSvg(m_chart, info));
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
  return m_result;
}

}  // namespace host
