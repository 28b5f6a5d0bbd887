// `quarn-host run`: a method end to end, as the host drives the devices.
//
// The sequence: build the five device objects (the transport setting
// decides their back-ends), InitialiseComms and Initialise each, load the
// method into the pump, the autosampler and the UV detector, start the
// sample with its vial and volume, poll every device until the run ends,
// stop, close and destroy. Every poll's merged reading goes to the
// terminal, status.csv (as it comes) and (with --json) standard output;
// the run folder gets the experiment record, the status picture and the
// solvent monitor document as well.
//
// The plug-in does not report every trouble on every transport, so the
// host watches the readings itself: a run that ends before its length, a
// sample that was never injected, a signal that stops the run and a file
// that could not be written each change the exit code and are written in
// the record, the last row of status.csv and the chart.
//
// Faults given with --fault (host/faults.h) are injected into the
// simulators before opening or at their time after the sample start; a
// run one of them hit is never reported as a success, and its result
// names them.
#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "host/commands.h"
#include "host/config_keys.h"
#include "host/host_system.h"
#include "host/run_log.h"
#include "host/svg_chart.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"
#include "sim/fault_schedule.h"
#include "sim/simulated_network.h"
#include "sim/simulated_server.h"

namespace host {

namespace {

// The signal that asked the run to stop (0: none yet).
std::atomic<int> g_stopSignal{0};

// How the UV detector is introduced to the host: kind 1, number 1.
constexpr int kUVDetectorKind = 1;
constexpr int kUVDetectorNumber = 1;
// The host polls every device once a second.
constexpr std::int64_t kPollPeriodMs = 1000;
// How long the host waits for the instruments to become ready (the oven to
// reach its temperature) before it injects anyway.
constexpr double kReadyTimeoutMinutes = 15.0;
// A run that has not started this long after the sample start has failed.
constexpr double kStartTimeoutMinutes = 3.0;
// A run whose last reported run time is this much short of its length
// ended early (the polls come about a second apart).
constexpr double kEarlyEndMinutes = 3.0 / 60;
// A last pressure reading within this share of a limit counts as having
// reached it: the pumps check their limits ten times between two polls.
constexpr double kLimitShare = 0.05;

// The files a run leaves; a folder holding any of them holds a run.
constexpr const char* kRunFiles[] = {"experiment-record.txt", "status.csv", "status.svg", "solvent-monitor.xml",
                                     "logbook.txt", "wire-trace.log", "server-calls.log"};
constexpr const char* kLockFile = ".quarn-run.lock";

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

std::string Fixed(double value, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
  return buf;
}

// The local date and time, for run folder names ("20261205-213000") and
// for the texts of a run ("2026-12-05 21:30").
enum class TimeText { kFolder, kReadable };
std::string Now(TimeText kind) {
  const std::time_t t = std::time(nullptr);
  const std::tm tm = LocalTime(t);
  char buf[64];
  if (kind == TimeText::kFolder) {
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  } else {
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  }
  return buf;
}

// The run folder, held for one run: created (or, with --out, taken) and
// locked, so that no second run writes into it while this one does.
class RunFolder {
 public:
  ~RunFolder() {
    if (!m_lock || !m_lock->Locked()) return;
    std::error_code ec;
    std::filesystem::remove(m_path / kLockFile, ec);
  }
  const std::filesystem::path& Path() const { return m_path; }

  bool Prepare(const RunOptions& o, const std::string& stem, TerminalUi& ui) {
    std::error_code ec;
    if (o.out) {
      m_path = *o.out;
      std::filesystem::create_directories(m_path, ec);
    } else {
      // create_directory claims a name that no other run has taken.
      std::filesystem::create_directories("runs", ec);
      // The method's name, cut to leave the folder name well within what
      // a file system allows (not inside a UTF-8 character).
      std::string name = stem.substr(0, 100);
      while (name.size() < stem.size() && !name.empty() &&
             (static_cast<unsigned char>(stem[name.size()]) & 0xC0) == 0x80) {
        name.pop_back();
      }
      const std::string base = Now(TimeText::kFolder) + "-" + name;
      m_path = std::filesystem::path("runs") / base;
      for (int n = 2; !ec && !std::filesystem::create_directory(m_path, ec); ++n) {
        m_path = std::filesystem::path("runs") / (base + "-" + std::to_string(n));
      }
    }
    if (ec || !std::filesystem::is_directory(m_path)) {
      ui.Failure("cannot create the output folder " + m_path.string() + (ec ? ": " + ec.message() : ""));
      return false;
    }
    m_lock = std::make_unique<TryLockFile>(m_path / kLockFile);
    if (!m_lock->Error().empty()) {
      ui.Failure("cannot write to the output folder " + m_path.string() + ": " + m_lock->Error());
      return false;
    }
    if (!m_lock->Locked()) {
      ui.Failure("another run is writing into " + m_path.string() + "; give another --out folder");
      return false;
    }
    std::string held;
    for (const char* name : kRunFiles) {
      if (std::filesystem::exists(std::filesystem::symlink_status(m_path / name, ec))) {
        held += (held.empty() ? "" : ", ") + std::string(name);
      }
    }
    if (!held.empty() && !o.force) {
      ui.Failure("the folder " + m_path.string() + " already holds the files of a run (" + held +
                 "); give a new --out folder, or add --force to replace them");
      return false;
    }
    // A folder (or anything but a file) where a run file goes is found now,
    // before anything is injected, not when the file is written.
    for (const char* name : kRunFiles) {
      const auto status = std::filesystem::symlink_status(m_path / name, ec);
      if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        ui.Failure((m_path / name).string() + " is " +
                   (std::filesystem::is_directory(status) ? "a folder" : "not an ordinary file") +
                   ", where the run writes its file; remove it or give another --out folder");
        return false;
      }
    }
    for (const char* name : kRunFiles) {
      // Replaced as a whole: the wire trace would otherwise be appended to.
      if (!std::filesystem::is_directory(m_path / name, ec)) std::filesystem::remove(m_path / name, ec);
    }
    return true;
  }

 private:
  std::filesystem::path m_path;
  std::unique_ptr<TryLockFile> m_lock;
};

// The devices of one run, built and destroyed in the host's order.
struct Devices {
  // The autosampler is built first: its back-end's existence tells the
  // network open that an autosampler is configured.
  CQuarnControlAutoSampler sampler;
  CQuarnControlPump pump;
  CQuarnControlUVDetector uv{kUVDetectorKind, kUVDetectorNumber};
  CQuarnControlPDADetector pda;
  CQuarnControlOven oven;

  // One status poll of every device, as the host takes it: the pump's own
  // reading in `pumpReading` (it reports for every unit on the direct network)
  // and the flags of all five merged in `merged`. False when the pump gave
  // no reading. Polls start at most once a second of clock time: a
  // back-end whose status read takes that second itself (the direct pump)
  // is not slowed, one that answers at once is not polled in a spin.
  bool ReadAll(CInletSystemStatus& pumpReading, CInletSystemStatus& merged) {
    platform::Clock& clock = platform::Clock::Get();
    if (const std::int64_t wait = nextPollMs - clock.NowMs(); wait > 0) clock.SleepMs(wait);
    nextPollMs = clock.NowMs() + kPollPeriodMs;
    CInletSystemStatus others[4];
    // A value the pump could not read keeps this: no reading, not a zero.
    constexpr float kUnread = std::numeric_limits<float>::quiet_NaN();
    for (float* value : {&pumpReading.GetFlow(), &pumpReading.GetHighPressure(), &pumpReading.GetPercentA(),
                         &pumpReading.GetPercentB(), &pumpReading.GetPercentC(), &pumpReading.GetPercentD(),
                         &pumpReading.GetTemperatureLeft()}) {
      *value = kUnread;
    }
    const int ok = pump.ReadStatus(pumpReading);
    sampler.ReadStatus(others[0]);
    uv.ReadStatus(others[1]);
    pda.ReadStatus(others[2]);
    oven.ReadStatus(others[3]);
    merged = pumpReading;
    for (auto& other : others) AddDeviceReading(merged, other);
    return ok != 0;
  }
  std::int64_t nextPollMs = 0;

  int AnyMethodRunning() {
    return pump.MethodRunning() | sampler.MethodRunning() | uv.MethodRunning() | pda.MethodRunning() |
           oven.MethodRunning();
  }
};

class RunSession {
 public:
  RunSession(const RunOptions& o, TerminalUi& ui) : m_o(o), m_ui(ui) {}
  int Run();

 private:
  int Fail(const std::string& text) {
    m_ui.Failure(text);
    return 1;
  }
  // A failure of the run itself: its text goes into the result as well.
  int FailRun(const std::string& text) {
    if (m_failure.empty()) m_failure = text;
    return Fail(text);
  }
  bool StopRequested() {
    if (m_ui.OutputClosed()) RequestStop(kOutputClosed);
    return g_stopSignal.load() != 0;
  }
  bool OpenAll();
  bool LoadAll();
  void StartRecord();
  void RecordMethodReports();
  bool Poll(double clockMinutes, bool waiting);
  bool WaitUntilReady();
  std::string LimitCause(const PollRow& row) const;
  std::string NoInjectionReason() const;
  int PollUntilTheEnd();
  std::string EarlyEndCause() const;
  int UpperLimitAt(double minutes) const;
  void Log(const std::string& text) { m_logbook.Add(platform::Clock::Get().NowMs(), text); }
  void StopAndClose();
  void WriteFile(const char* name, const std::string& text);
  void FinishFiles(const std::string& outcome);
  bool StartTrace(bool viaServer, const std::filesystem::path& path);
  void InjectFaults(bool atSampleStart);
  void JudgeFaults(int& result, std::string& outcome);
  bool StopTrace(bool viaServer);

  const RunOptions& m_o;
  TerminalUi& m_ui;
  std::string m_methodName;
  QuarnMethod m_method;
  int m_vial = 1;
  double m_volumeUl = 0;
  double m_runLength = 0;
  RunFolder m_folder;
  std::unique_ptr<Devices> m_devices;
  std::ofstream m_csv;
  // The last poll's row waits here for the next one, so that the run's
  // outcome can be written on the last row of status.csv.
  std::optional<PollRow> m_pendingCsv;
  ChartData m_chart;
  std::optional<PollRow> m_last;  // the last poll
  std::optional<PollRow> m_lastRunning;  // the last poll that saw the run
  double m_runTime = 0;  // the longest run time reported
  bool m_samplerSeen = false;  // the autosampler reported its sequence
  bool m_injected = false;     // ... and the run clock started after it
  bool m_sampleStarted = false;  // the autosampler was asked to start the sample
  int m_polls = 0;               // polls taken, waiting ones included
  // What ended the run while it waited for the instruments to be ready.
  std::string m_waitFailure;
  // What failed, when the run failed for a reason of its own.
  std::string m_failure;
  bool m_loaded = false;  // the instruments are open and the method loaded
  Logbook m_logbook;
  CGenericExpRecord m_record;
  CInletSystemStatus m_lastPump;
  std::vector<std::string> m_written;
  bool m_writeFailed = false;
  bool m_closed = false;
  std::shared_ptr<std::ofstream> m_serverTrace;  // the server path's trace while it is written
  Transport m_transport = Transport::kDirect;
  // Per fault of the options: the schedule's number of a fault injected
  // at a clock time; 0 for one injected before opening; -1 not yet.
  std::vector<int> m_faultIds;
  // When the run was over and the instruments began to close: a fault due
  // after it did not hit the run.
  std::int64_t m_runOverMs = INT64_MAX;
};

// Before opening (`atSampleStart` false): the faults there from the start.
// At the sample start: the events without a time, and every fault with
// one, at its clock time.
void RunSession::InjectFaults(bool atSampleStart) {
  const std::int64_t nowMs = platform::Clock::Get().NowMs();
  for (std::size_t i = 0; i < m_o.faults.size(); ++i) {
    const Fault& fault = m_o.faults[i];
    const bool later = fault.minutes || fault.kind->atSampleStart;
    if (later != atSampleStart) continue;
    if (!later) {
      InjectFault(fault, m_transport);
      m_faultIds[i] = 0;
      continue;
    }
    const auto atMs = nowMs + static_cast<std::int64_t>(std::llround(fault.minutes.value_or(0.0) * 60000.0));
    m_faultIds[i] = sim::FaultSchedule::Get().At(atMs, [fault, t = m_transport] { InjectFault(fault, t); });
  }
}

// A run that an injected fault hit is never a success; every result names
// the faults that hit it.
void RunSession::JudgeFaults(int& result, std::string& outcome) {
  std::string hit;
  for (std::size_t i = 0; i < m_o.faults.size(); ++i) {
    const int id = m_faultIds[i];
    const std::optional<std::int64_t> ranAt = id > 0 ? sim::FaultSchedule::Get().RanAt(id) : std::nullopt;
    if (id == 0 || (ranAt && *ranAt <= m_runOverMs)) {
      hit += (hit.empty() ? "" : ", ") + m_o.faults[i].text;
    } else {
      m_ui.Note("The fault " + m_o.faults[i].text + " did not hit the run: the run was over before it was due.");
    }
  }
  if (hit.empty()) return;
  if (outcome.empty()) {
    outcome = "completed, " + Fixed(m_runTime, 1) + " of " + Fixed(m_runLength, 1) +
              " min, but hit by the injected fault " + hit + ": not a valid run";
    result = Fail("the run " + outcome);
    return;
  }
  outcome += "; injected fault: " + hit;
}

bool RunSession::OpenAll() {
  Devices& d = *m_devices;
  m_ui.Note("Opening communications with the instruments...");
  // The pump opens the network; the others join it.
  for (auto* step : {+[](Devices& x) { return x.sampler.InitialiseComms(); },
                     +[](Devices& x) { return x.pump.InitialiseComms(); },
                     +[](Devices& x) { return x.uv.InitialiseComms(); },
                     +[](Devices& x) { return x.pda.InitialiseComms(); },
                     +[](Devices& x) { return x.oven.InitialiseComms(); },
                     +[](Devices& x) { return x.sampler.Initialise(), 1; },
                     +[](Devices& x) { return x.pump.Initialise(), 1; },
                     +[](Devices& x) { return x.uv.Initialise(), 1; },
                     +[](Devices& x) { return x.pda.Initialise(), 1; },
                     +[](Devices& x) { return x.oven.Initialise(), 1; }}) {
    if (StopRequested()) return false;
    if (!step(d)) {
      FailRun("a device could not open communications; check the instruments and the transport setting");
      return false;
    }
  }
  return true;
}

bool RunSession::LoadAll() {
  Devices& d = *m_devices;
  const CString name(m_methodName.c_str());
  m_ui.Note("Loading method " + EscapeControls(m_methodName) + "...");
  struct Load {
    int (*load)(Devices&, const CString&);
    const char* what;
  };
  for (const Load& step : {Load{+[](Devices& x, const CString& n) { return x.pump.LoadMethod(n); }, "pump"},
                           Load{+[](Devices& x, const CString& n) { return x.sampler.LoadMethod(n); }, "autosampler"},
                           Load{+[](Devices& x, const CString& n) { return x.uv.LoadMethod(n); }, "UV detector"}}) {
    if (StopRequested()) return false;
    if (!step.load(d, name)) {
      FailRun(std::string("the ") + step.what + " did not accept the method " + EscapeControls(m_methodName));
      return false;
    }
  }
  return true;
}

// The record's first lines: what is injected and when. Written whatever
// happens next.
void RunSession::StartRecord() {
  std::string head = "Experiment record: method " + EscapeControls(m_methodName) + ", vial " + std::to_string(m_vial) +
                     ", injection " + Fixed(m_volumeUl, 2) + " \u00b5l, " + TransportName(m_transport) + " transport, " +
                     Now(TimeText::kReadable) + "\n";
  const SamplerInitialCons& cons = m_method.GetSamplerInitialCons();
  if (cons.VialNumber() != m_vial || Fixed(cons.InjectionVolume(), 2) != Fixed(m_volumeUl, 2)) {
    head += "Given on the command line: vial " + std::to_string(m_vial) + ", " + Fixed(m_volumeUl, 2) +
            " \u00b5l; the autosampler method below names vial " + std::to_string(cons.VialNumber()) + ", " +
            Fixed(cons.InjectionVolume(), 2) + " \u00b5l.\n";
  }
  m_record.AppendText((head + "\n").c_str());
}

// Each device's report of the method, once the devices are open. The
// injection block and the result follow at the end.
void RunSession::RecordMethodReports() {
  Devices& d = *m_devices;
  const CString name(m_methodName.c_str());
  d.pump.WriteExpRecord(&m_record, name);
  d.sampler.WriteExpRecord(&m_record, name);
  d.uv.WriteExpRecord(&m_record, name);
  d.pda.WriteExpRecord(&m_record, name);
  d.oven.WriteExpRecord(&m_record, name);
}

// One poll of every device, recorded: status.csv, the chart (not the
// waiting polls), the logbook's events, the terminal and the JSON rows.
bool RunSession::Poll(double clockMinutes, bool waiting) {
  Devices& d = *m_devices;
  CInletSystemStatus pump;
  CInletSystemStatus merged;
  const bool ok = d.ReadAll(pump, merged);
  const int running = d.AnyMethodRunning();
  if (!ok) return false;
  m_lastPump = pump;
  PollRow row = RowFromRecords(pump, merged);
  row.poll = ++m_polls;
  row.clockMinutes = clockMinutes;
  row.methodRunning = running;
  row.waiting = waiting;
  if (!waiting) {
    if (row.injecting) m_samplerSeen = true;
    if (row.running && row.elapsedMinutes > 0) {
      m_injected = m_injected || m_samplerSeen;
      m_runTime = std::max(m_runTime, row.elapsedMinutes);
    }
    if (row.running || row.methodRunning) m_lastRunning = row;
  }
  if (m_pendingCsv && m_csv) {
    m_csv << CsvRow(*m_pendingCsv) << ",\n";
    // Flushed at each poll for whoever watches the file; in virtual time
    // nobody can, and a flush a poll would cost more than the poll.
    if (!m_o.virtualTime || m_polls % 1000 == 0) m_csv.flush();
  }
  m_pendingCsv = row;
  if (!waiting) m_chart.Add(row);
  for (const std::string& event : PollEvents(m_last ? &*m_last : nullptr, row)) Log(event);
  const bool milestone = !m_last || IsMilestone(*m_last, row);
  m_last = row;
  m_ui.Reasons(row.notReady ? row.notReadyText : "", row.error ? row.errorText : "");
  if (m_ui.ShowsStatusLine(milestone) && waiting) {
    m_ui.StatusLine("  waiting " + Fixed(clockMinutes, 1) + " min  " + StatusLineText(row), milestone);
  } else if (m_ui.ShowsStatusLine(milestone)) {
    // Once the run is over the node's run clock reads 0 again; the bar
    // keeps where the run got to.
    const double progress = row.running || row.methodRunning ? row.elapsedMinutes : m_runTime;
    const std::optional<double> speed = m_o.virtualTime ? std::nullopt : std::optional<double>(m_o.speed);
    m_ui.StatusLine("  " + RunProgress(progress, m_runLength, speed, 20) + "  " + StatusLineText(row), milestone);
  }
  if (m_ui.ShowsJson()) m_ui.JsonObject(JsonRow(row));
  return true;
}

// Like the real host, inject only when no device reports not-ready (the
// column oven at its temperature). The column equilibrates at the
// method's initial conditions meanwhile, so the waiting polls are
// recorded and judged like the run's: a trip, an error or a pump that
// gives no status ends the run here (m_waitFailure says why). False when
// the run ends before the injection.
bool RunSession::WaitUntilReady() {
  Devices& d = *m_devices;
  d.pump.SwitchPump(On);
  Log("the pump was switched on at the method's initial conditions; waiting for the instruments to be ready");
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  bool announced = false;
  bool pumpSeenOn = false;
  std::optional<PollRow> lastOn;  // the last poll with the pump on
  while (!StopRequested()) {
    const double minutes = (platform::Clock::Get().NowMs() - startMs) / 60000.0;
    if (!Poll(minutes, true)) {
      m_waitFailure = "the pump gave no status: communications are not open";
      return false;
    }
    const PollRow& row = *m_last;
    if (row.error) {
      m_waitFailure = "the instruments report: " + OneLineText(Utf8FromWindows1252(row.errorText));
      return false;
    }
    if (row.pumpOn) {
      pumpSeenOn = true;
      lastOn = row;
    } else if (pumpSeenOn) {
      const std::string cause = LimitCause(*lastOn);
      m_waitFailure = "the pump stopped" + (cause.empty() ? std::string() : ": " + cause);
      return false;
    }
    if (!row.notReady) return true;
    if (!announced) m_ui.Note("Waiting for the instruments to be ready...");
    announced = true;
    if (minutes > kReadyTimeoutMinutes) {
      m_ui.Note("The instruments are still not ready after 15 minutes; injecting anyway.");
      Log("still not ready after 15 minutes; injecting anyway");
      return true;
    }
  }
  return false;
}

// The pressure limit in force `minutes` into the run: the method's, or
// on the server transport the last gradient step's that sets one (the
// direct transport sends only the method's).
int RunSession::UpperLimitAt(double minutes) const {
  int limit = m_method.GetPumpInitialCons().MaxPressure();
  if (m_transport == Transport::kDirect) return limit;
  const PumpGradient& gradient = m_method.GetPumpGradient();
  for (int i = 0; i < gradient.GetCount(); ++i) {
    const GradTimeTableEntry* step = gradient.TableEntry(i);
    if (step->Time() <= minutes && step->Pressure() > 0) limit = step->Pressure();
  }
  return limit;
}

// The pressure limit a reading reached (within a share: the pumps check
// their limits ten times between two polls); empty when none.
std::string RunSession::LimitCause(const PollRow& r) const {
  const int upper = UpperLimitAt(r.waiting ? 0.0 : r.elapsedMinutes);
  const int lower = m_method.GetPumpInitialCons().MinPressure();
  if (upper > 0 && r.pressure >= upper * (1 - kLimitShare)) {
    return "pressure reached its limit of " + std::to_string(upper) + " bar (" + Fixed(r.pressure, 1) +
           " bar at the last reading)";
  }
  if (lower > 0 && r.pressure <= lower * (1 + kLimitShare)) {
    return "pressure fell to its lower limit of " + std::to_string(lower) + " bar (" + Fixed(r.pressure, 1) +
           " bar at the last reading)";
  }
  return "";
}

// What the last polls show about a run that ended early.
std::string RunSession::EarlyEndCause() const {
  std::vector<std::string> seen;
  if (m_lastRunning) {
    if (std::string cause = LimitCause(*m_lastRunning); !cause.empty()) seen.push_back(std::move(cause));
  }
  if (m_last && m_last->flow == 0 && m_method.GetPumpInitialCons().Flow() > 0) {
    seen.push_back("flow dropped to 0");
  }
  if (m_last && m_last->error) {
    seen.push_back("the instruments report: " + Utf8FromWindows1252(OneLineText(m_last->errorText)));
  }
  if (seen.empty()) return "the instruments stopped it";
  std::string text;
  for (const std::string& s : seen) text += (text.empty() ? "" : ", ") + s;
  return text;
}

// Why the record has no injection block.
std::string RunSession::NoInjectionReason() const {
  if (const int signal = g_stopSignal.load(); signal != 0) {
    return std::string("the run was interrupted (") + SignalName(signal) + ") " +
           (m_samplerSeen ? "during the injection sequence" : "before the injection");
  }
  if (!m_sampleStarted) return "the run ended before the sample was started";
  if (m_samplerSeen) return "the autosampler began its injection sequence, but the run did not start after it";
  return "the autosampler did not report an injection sequence";
}

// Polls from the sample start until the run ends; the exit code.
int RunSession::PollUntilTheEnd() {
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  bool started = false;
  double runStartMinutes = -1.0;  // the first poll that saw the run
  for (;;) {
    if (StopRequested()) return 0;  // Run() reports the stop
    const double minutes = (platform::Clock::Get().NowMs() - startMs) / 60000.0;
    if (!Poll(minutes, false)) return FailRun("the pump gave no status: communications are not open");
    const PollRow& row = *m_last;
    if (row.running || row.methodRunning) started = true;
    if (row.running && runStartMinutes < 0.0) runStartMinutes = minutes;
    if (started && !row.running && !row.methodRunning) return 0;
    if (!started && minutes > kStartTimeoutMinutes) {
      return FailRun("the run did not start within 3 minutes of the sample start");
    }
    // The margin counts from the run's start (while it was never seen
    // running, from the latest it could have started).
    const double from = runStartMinutes >= 0.0 ? runStartMinutes : kStartTimeoutMinutes;
    if (minutes - from > m_runLength + kRunEndMarginMinutes) {
      return FailRun("the run did not end within " + Fixed(kRunEndMarginMinutes, 0) +
                  " min after the method's run length of " + Fixed(m_runLength, 1) + " min; stopping it");
    }
  }
}

void RunSession::StopAndClose() {
  if (m_closed || !m_devices) return;
  m_closed = true;
  m_runOverMs = platform::Clock::Get().NowMs();
  Devices& d = *m_devices;
  d.pump.StopMethod();
  d.sampler.StopMethod();
  d.uv.StopMethod();
  d.pump.CloseDownComms();
  d.sampler.CloseDownComms();
  d.uv.CloseDownComms();
  d.pda.CloseDownComms();
  d.oven.CloseDownComms();
}

bool RunSession::StartTrace(bool viaServer, const std::filesystem::path& path) {
  if (!viaServer) {
    // The plug-in traces the session it opens next to the file the
    // environment names; the file is made here so that a folder it cannot
    // be written in is found before the run.
    if (!std::ofstream(path, std::ios::app)) return false;
    SetEnvironment("QUARN_WIRE_TRACE", path.string());
    return true;
  }
  auto file = std::make_shared<std::ofstream>(path, std::ios::trunc);
  if (!*file) return false;
  m_serverTrace = file;
  sim::SimulatedServer::Get().SetTraceSink([file](const std::string& line) { *file << line << '\n'; });
  return true;
}

// Whether the trace file is whole.
bool RunSession::StopTrace(bool viaServer) {
  if (!viaServer) {
    SetEnvironment("QUARN_WIRE_TRACE", "");
    return std::filesystem::exists(m_folder.Path() / "wire-trace.log");
  }
  sim::SimulatedServer::Get().SetTraceSink(nullptr);
  if (!m_serverTrace) return false;
  m_serverTrace->close();
  const bool whole = static_cast<bool>(*m_serverTrace);
  m_serverTrace.reset();
  if (!whole) {
    m_ui.Failure("could not write all of " + (m_folder.Path() / "server-calls.log").string());
    m_writeFailed = true;
  }
  return whole;
}

void RunSession::WriteFile(const char* name, const std::string& text) {
  const std::filesystem::path path = m_folder.Path() / name;
  errno = 0;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    m_ui.Failure("could not write " + path.string() + (errno ? std::string(": ") + std::strerror(errno) : ""));
    m_writeFailed = true;
    return;
  }
  m_written.push_back(name);
}

// The record, the last row of status.csv, the chart and the solvent
// document; `outcome` says how the run ended when not as planned.
void RunSession::FinishFiles(const std::string& outcome) {
  const std::string result = outcome.empty() ? "completed, " + Fixed(m_runTime, 1) + " of " +
                                                   Fixed(m_runLength, 1) + " min"
                                             : outcome;
  if (m_devices && m_injected) {
    m_devices->sampler.WriteInjectionVolume(&m_record, static_cast<float>(m_volumeUl));
  }
  if (!m_injected) m_record.AppendText(("\nNo injection: " + NoInjectionReason() + ".\n").c_str());
  m_record.AppendText(("\nRun result: " + result + "\n").c_str());
  WriteFile("experiment-record.txt", RecordTextAsUtf8(m_record.Text()));

  if (m_csv.is_open()) {
    if (m_pendingCsv) m_csv << CsvRow(*m_pendingCsv) << "," << CsvQuoted(outcome) << '\n';
    errno = 0;
    m_csv.close();
    if (m_csv) {
      m_written.push_back("status.csv");
    } else {
      m_ui.Failure("could not write all of " + (m_folder.Path() / "status.csv").string() +
                   (errno ? std::string(": ") + std::strerror(errno) : " (is the disk full?)"));
      m_writeFailed = true;
    }
  }

  ChartInfo info;
  // The method's title is single-byte text; a file name is UTF-8.
  info.title = m_method.Title().IsEmpty() ? "Method " + m_methodName : Utf8FromWindows1252(m_method.Title().str());
  info.subtitle = std::filesystem::path(m_methodName).filename().string() + " \u2014 vial " + std::to_string(m_vial) +
                  ", injection " + Fixed(m_volumeUl, 2) + " \u00b5l, " + std::to_string(m_chart.Rows()) + " polls, " +
                  Now(TimeText::kReadable);
  info.outcome = outcome;
  if (m_method.GetPumpInitialCons().OvenInUse()) info.ovenSetPoint = m_method.GetPumpInitialCons().OvenTemperature();
  WriteFile("status.svg", RenderStatusSvg(m_chart, info));
  if (m_devices) {
    CString document;
    m_devices->pump.FormatSolventMonitorUpdate(m_lastPump, document, "QuarnControl Pump");
    WriteFile("solvent-monitor.xml", document.str() + "\n");
  }
}

int RunSession::Run() {
  // One transport for the whole run, whatever other processes write to
  // the setting meanwhile: the one asked for, else the setting's now. It
  // is held for this process; the settings file is not written.
  if (const std::string problem = SettingsProblem(); !problem.empty()) {
    return Fail("the settings cannot be used, so nothing was run: " + problem);
  }
  m_transport = m_o.transport.value_or(ConfiguredTransport());
  HoldTransport(m_transport);
  const bool viaServer = m_transport == Transport::kServer;
  // A fault the transport does not have: refused before anything is read
  // or changed.
  for (const Fault& fault : m_o.faults) {
    if (HasTransport(*fault.kind, m_transport)) continue;
    m_ui.Failure("--fault " + fault.text + ": the fault " + fault.kind->name + " exists on the " +
                 FaultTransports(*fault.kind) + " transport only, and this run uses the " +
                 TransportName(m_transport) + " transport (--transport or the transport setting)");
    return 2;
  }
  m_faultIds.assign(m_o.faults.size(), -1);
  // The method: checked here first, so that a broken file is one clear
  // error before any instrument is touched.
  std::string note;
  const std::string path = ResolveMethodPath(m_o.method, &note);
  if (!note.empty()) m_ui.Note("Note: " + note);
  MethodFileProblems problems;
  MethodKeyLines lines;
  std::error_code ec;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)) &&
      !std::filesystem::exists(path, ec) && !ec) {
    return Fail("the method file " + EscapeControls(path) + " is a link to " +
                EscapeControls(std::filesystem::read_symlink(path, ec).string()) + ", which does not exist");
  }
  if (!std::filesystem::exists(path, ec) && !ec) {
    return Fail("unknown method '" + m_o.method + "': there is no file " + path +
                " (give a method file path, or a name from " + GetMethodsDir().str() + ")");
  }
  if (!LoadMethodFile(path, m_method, problems, &lines)) {
    std::string text = DescribeMethodFileProblems(path.c_str(), problems).str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    // A file that could not be read is not a broken one.
    const bool read = std::any_of(problems.begin(), problems.end(), [](const auto& p) { return p.line > 0; });
    return Fail(std::string(read ? "the method file is broken:\n" : "the method file cannot be used:\n") +
                RecordTextAsUtf8(text));
  }
  m_methodName = path;
  const std::string stem = std::filesystem::path(path).filename().string().substr(
      0, std::filesystem::path(path).filename().string().find('.'));
  // Without --vial and --volume the method's own autosampler values hold.
  m_vial = m_o.vial.value_or(m_method.GetSamplerInitialCons().VialNumber());
  m_volumeUl = m_o.volumeUl.value_or(m_method.GetSamplerInitialCons().InjectionVolume());
  m_runLength = m_method.GetRunLength();

  // What the transport will round, ignore or refuse, before anything runs.
  std::size_t refused = 0;
  PrintMethodWarnings(path, m_method, lines, m_transport, stderr, &refused);
  if (refused > 0) {
    return Fail("the method would not run as written on the " + std::string(TransportName(m_transport)) +
                " transport (the errors above); nothing was run");
  }
  if (const std::string why = VolumeRefusal(m_volumeUl, m_transport); m_o.volumeUl && !why.empty()) {
    return Fail("--volume: the " + std::string(TransportName(m_transport)) + " transport " + why);
  }

  // The simulated bottles hold what the method's [solvents] names.
  const SolventSelection& solvents = m_method.GetSolventSelection();
  const std::array<std::string, 3> labels{solvents.Name(0).str(), solvents.Name(1).str(), solvents.Name(2).str()};
  if (viaServer) {
    sim::SimulatedServer::Register();
    sim::SimulatedServer::Get().FillBottles(labels);
  } else {
    sim::SimulatedNetwork::Get().FillBottles(labels);
  }

  if (!m_folder.Prepare(m_o, stem, m_ui)) return 1;
  const std::filesystem::path& dir = m_folder.Path();
  // The trace: the plug-in's own on the network; on the server path, the
  // calls the simulated server received and the events it sent.
  const char* const traceName = viaServer ? "server-calls.log" : "wire-trace.log";
  if (m_o.trace && !StartTrace(viaServer, dir / traceName)) {
    return Fail("cannot write the trace to " + (dir / traceName).string());
  }
  m_csv.open(dir / "status.csv", std::ios::trunc);
  if (!m_csv) return Fail("cannot write " + (dir / "status.csv").string());
  m_csv << CsvHeader() << ",note\n";
  if (!m_logbook.Open(dir / "logbook.txt")) return Fail("cannot write " + (dir / "logbook.txt").string());
  m_ui.SetLog([this](const std::string& text) { Log(text); });

  // Simulated instruments run in virtual time; with --speed it is paced
  // to wall time, so that no poll is skipped however fast it goes.
  if (m_o.virtualTime) {
    platform::Clock::Get().UseVirtual();
  } else {
    platform::Clock::Get().UsePacedVirtual(m_o.speed);
  }
  // The simulators' test logs would grow with every poll of a long run.
  sim::SimulatedNetwork::Get().SetKeepLogs(false);
  if (viaServer) sim::SimulatedServer::Get().SetKeepLogs(false);
  m_ui.Note("Run folder: " + dir.string());
  if (m_o.mode == OutputMode::kJson) std::fprintf(stderr, "quarn-host: run folder: %s\n", EscapeControls(dir.string()).c_str());
  const std::string transportText = std::string("the ") + TransportName(m_transport) + " transport" +
                                    (m_o.transport ? " (--transport)" : " (the transport setting)");
  m_ui.Note("Running " + EscapeControls(m_methodName) + " on " + transportText + ".");

  int result = 0;
  std::string outcome;
  std::string failure;  // what communications reported, when they failed
  try {
    m_devices = std::make_unique<Devices>();
    StartRecord();
    InjectFaults(false);
    if (!OpenAll() || !LoadAll()) {
      result = 1;
    } else {
      m_loaded = true;
      RecordMethodReports();
      if (!WaitUntilReady()) {
        if (!m_waitFailure.empty()) result = Fail("the run failed before the injection: " + m_waitFailure);
      } else {
        m_ui.Note("Injecting " + Fixed(m_volumeUl, 2) + " \u00b5l from vial " + std::to_string(m_vial) +
                  "; the method runs " + Fixed(m_runLength, 1) + " min.");
        m_sampleStarted = true;
        InjectFaults(true);
        CAutoSampler::StartMethodParams params{std::to_string(m_vial).c_str(), static_cast<float>(m_volumeUl)};
        if (!m_devices->sampler.StartMethod(CString(m_methodName.c_str()), params)) {
          result = FailRun("the autosampler did not start the sample");
        } else {
          result = PollUntilTheEnd();
        }
      }
    }
    StopAndClose();
  } catch (const CCommunicationsException& e) {
    // Once the instruments are open and loaded, what the plug-in throws is
    // an instrument's own error (a pump over its limit), not a link that
    // failed; the plug-in's text is kept as it is.
    const std::string text = Utf8FromWindows1252(OneLineText(e.GetErrorMessage().str()));
    const std::string limit = m_loaded && m_last ? LimitCause(*m_last) : "";
    failure = !m_loaded ? "communications failed: " + text
                        : "the instruments reported: " + text + (limit.empty() ? "" : " (" + limit + ")");
    m_ui.Failure(failure);
    result = 1;
    try {
      StopAndClose();
    } catch (const CCommunicationsException&) {
      // The link is gone; closing is as far as it can go.
    }
  }
  if (const int signal = g_stopSignal.load(); signal != 0) {
    // A stop asked for while opening or loading ends the run as well.
    result = 128 + signal;
    outcome = "interrupted at " + Fixed(m_runTime, 1) + " of " + Fixed(m_runLength, 1) + " min (" +
              SignalName(signal) + ")";
    m_ui.Failure("the run was " + outcome + "; the instruments were stopped");
  } else if (!m_waitFailure.empty()) {
    outcome = "failed before the injection: " + m_waitFailure;
  } else if (result == 0 && m_runTime < m_runLength - kEarlyEndMinutes) {
    outcome = "ended at " + Fixed(m_runTime, 1) + " of " + Fixed(m_runLength, 1) + " min: " + EarlyEndCause() +
              (m_injected ? "" : "; no sample was injected");
    result = Fail("the run " + outcome);
  } else if (result == 0 && !m_injected) {
    outcome = "no injection: " + NoInjectionReason();
    result = Fail("the run had " + outcome);
  } else if (result != 0) {
    if (failure.empty()) failure = m_failure;
    outcome = "failed at " + Fixed(m_runTime, 1) + " of " + Fixed(m_runLength, 1) + " min" +
              (failure.empty() ? "" : ": " + failure);
  } else {
    m_ui.Note("The run has ended: " + Fixed(m_runTime, 1) + " of " + Fixed(m_runLength, 1) + " min.");
  }
  JudgeFaults(result, outcome);
  FinishFiles(outcome);
  Log("run result: " + (outcome.empty() ? "completed, " + Fixed(m_runTime, 1) + " of " + Fixed(m_runLength, 1) + " min"
                                        : outcome));
  m_devices.reset();
  if (m_o.trace && StopTrace(viaServer)) m_written.push_back(traceName);
  m_ui.SetLog(nullptr);
  if (m_logbook.Close()) {
    m_written.push_back("logbook.txt");
  } else {
    m_ui.Failure("could not write all of " + (dir / "logbook.txt").string());
    m_writeFailed = true;
  }
  if (m_writeFailed && result == 0) result = 1;
  if (m_o.mode == OutputMode::kNormal) {
    std::string list;
    for (const std::string& name : m_written) list += (list.empty() ? "" : ", ") + name;
    m_ui.Note("Files in " + dir.string() + ": " + (list.empty() ? "none" : list));
  }
  return result;
}

}  // namespace

void RequestStop(int signal) {
  int none = 0;
  g_stopSignal.compare_exchange_strong(none, signal);
}

int RunMethodCommand(const RunOptions& options, TerminalUi& ui) {
  g_stopSignal.store(0);
  RunSession session(options, ui);
  const int result = session.Run();
  ui.SetLog(nullptr);
  return result;
}

}  // namespace host
