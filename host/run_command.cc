// `quarn-host run`: a method end to end, as the host drives the devices.
//
// The sequence: build the five device objects (the transport setting
// decides their back-ends), InitialiseComms and Initialise each, load the
// method into the pump, the autosampler and the UV detector, start the
// sample with its vial and volume, poll every device until the run ends,
// stop, close and destroy. Every poll's merged reading goes to the
// terminal, status.csv and (with --json) standard output; the run folder
// gets the experiment record, the status picture and the solvent monitor
// document as well.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "front/shared_routines.h"
#include "host/commands.h"
#include "host/run_log.h"
#include "host/svg_chart.h"
#include "network/wire_trace.h"
#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/method/method_file.h"
#include "platform/method/quarn_method.h"

namespace host {

namespace {

std::atomic<bool> g_stopRequested{false};

// How the UV detector is introduced to the host: kind 1, number 1.
constexpr int kUVDetectorKind = 1;
constexpr int kUVDetectorNumber = 1;
// How long the host waits for the instruments to become ready (the oven to
// reach its temperature) before it injects anyway.
constexpr double kReadyTimeoutMinutes = 15.0;
// A run that has not started this long after the sample start has failed.
constexpr double kStartTimeoutMinutes = 3.0;

// The local date and time, for run folder names ("20261205-213000") and
// for the texts of a run ("2026-12-05 21:30").
enum class TimeText { kFolder, kReadable };
std::string Now(TimeText kind) {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  if (kind == TimeText::kFolder) {
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  } else {
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  }
  return buf;
}

std::optional<std::filesystem::path> PrepareRunFolder(const RunOptions& o, const std::string& stem,
                                                      TerminalUi& ui) {
  std::filesystem::path dir;
  if (o.out) {
    dir = *o.out;
  } else {
    // The method's name, cut to leave the folder name well within what
    // a file system allows (not inside a UTF-8 character).
    std::string name = stem.substr(0, 100);
    while (name.size() < stem.size() && !name.empty() &&
           (static_cast<unsigned char>(stem[name.size()]) & 0xC0) == 0x80) {
      name.pop_back();
    }
    dir = std::filesystem::path("runs") / (Now(TimeText::kFolder) + "-" + name);
    std::error_code exists;
    for (int n = 2; std::filesystem::exists(dir, exists); ++n) {
      dir = std::filesystem::path("runs") / (Now(TimeText::kFolder) + "-" + name + "-" + std::to_string(n));
    }
  }
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !std::filesystem::is_directory(dir)) {
    ui.Failure("cannot create the output folder " + dir.string() + (ec ? ": " + ec.message() : ""));
    return std::nullopt;
  }
  const std::filesystem::path probe = dir / ".quarn-write-test";
  {
    errno = 0;
    std::ofstream test(probe);
    if (!test) {
      const int error = errno;
      ui.Failure("cannot write to the output folder " + dir.string() +
                 (error ? std::string(": ") + std::strerror(error) : ""));
      return std::nullopt;
    }
  }
  std::filesystem::remove(probe, ec);
  return dir;
}

bool WriteFile(const std::filesystem::path& path, const std::string& text, TerminalUi& ui) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    ui.Failure("could not write " + path.string());
    return false;
  }
  return true;
}

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
  // no reading.
  bool ReadAll(CInletSystemStatus& pumpReading, CInletSystemStatus& merged) {
    CInletSystemStatus others[4];
    const int ok = pump.ReadStatus(pumpReading);
    sampler.ReadStatus(others[0]);
    uv.ReadStatus(others[1]);
    pda.ReadStatus(others[2]);
    oven.ReadStatus(others[3]);
    merged = pumpReading;
    for (const auto& other : others) merged |= other;
    return ok != 0;
  }
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
  bool OpenAll();
  bool LoadAll();
  void WriteExperimentRecord();
  bool Poll(int poll, double clockMinutes);
  bool WaitUntilReady();
  void StopAndClose();
  void WriteRunFiles();

  const RunOptions& m_o;
  TerminalUi& m_ui;
  std::string m_methodName;
  QuarnMethod m_method;
  std::filesystem::path m_dir;
  std::unique_ptr<Devices> m_devices;
  std::ofstream m_csv;
  std::vector<PollRow> m_rows;
  CInletSystemStatus m_lastPump;
  bool m_closed = false;
};

bool RunSession::OpenAll() {
  Devices& d = *m_devices;
  m_ui.Note("Opening communications with the instruments...");
  // The pump opens the network; the others join it.
  for (auto* step : {+[](Devices& x) { return x.sampler.InitialiseComms(); },
                     +[](Devices& x) { return x.pump.InitialiseComms(); },
                     +[](Devices& x) { return x.uv.InitialiseComms(); },
                     +[](Devices& x) { return x.pda.InitialiseComms(); },
                     +[](Devices& x) { return x.oven.InitialiseComms(); }}) {
    if (!step(d)) {
      m_ui.Failure("a device could not open communications; check the instruments and the transport setting");
      return false;
    }
  }
  d.sampler.Initialise();
  d.pump.Initialise();
  d.uv.Initialise();
  d.pda.Initialise();
  d.oven.Initialise();
  return true;
}

bool RunSession::LoadAll() {
  Devices& d = *m_devices;
  const CString name(m_methodName.c_str());
  m_ui.Note("Loading method " + m_methodName + "...");
  if (!d.pump.LoadMethod(name)) {
    m_ui.Failure("the pump did not accept the method " + m_methodName);
    return false;
  }
  if (!d.sampler.LoadMethod(name)) {
    m_ui.Failure("the autosampler did not accept the method " + m_methodName);
    return false;
  }
  if (!d.uv.LoadMethod(name)) {
    m_ui.Failure("the UV detector did not accept the method " + m_methodName);
    return false;
  }
  return true;
}

void RunSession::WriteExperimentRecord() {
  Devices& d = *m_devices;
  const CString name(m_methodName.c_str());
  CGenericExpRecord record;
  record.AppendText(("Experiment record: method " + m_methodName + ", vial " + std::to_string(m_o.vial) + ", " +
                     Now(TimeText::kReadable) + "\n\n")
                        .c_str());
  d.pump.WriteExpRecord(&record, name);
  d.sampler.WriteExpRecord(&record, name);
  d.uv.WriteExpRecord(&record, name);
  d.pda.WriteExpRecord(&record, name);
  d.oven.WriteExpRecord(&record, name);
  d.sampler.WriteInjectionVolume(&record, static_cast<float>(m_o.volumeUl));
  WriteFile(m_dir / "experiment-record.txt", RecordTextAsUtf8(record.Text()), m_ui);
}

bool RunSession::Poll(int poll, double clockMinutes) {
  Devices& d = *m_devices;
  CInletSystemStatus pump;
  CInletSystemStatus merged;
  const bool ok = d.ReadAll(pump, merged);
  const int running = d.AnyMethodRunning();
  if (!ok) return false;
  m_lastPump = pump;
  PollRow row = RowFromRecords(pump, merged);
  row.poll = poll;
  row.clockMinutes = clockMinutes;
  row.methodRunning = running;
  m_rows.push_back(row);
  if (m_csv) {
    m_csv << CsvRow(row) << '\n';
    m_csv.flush();
  }
  m_ui.StatusLine(StatusLineText(row), m_rows.size() == 1 || IsMilestone(m_rows[m_rows.size() - 2], row));
  m_ui.JsonObject(JsonRow(row));
  return true;
}

// Like the real host, inject only when no device reports not-ready (the
// column oven at its temperature); these polls are shown, not recorded.
bool RunSession::WaitUntilReady() {
  Devices& d = *m_devices;
  // The column equilibrates at the method's initial conditions meanwhile.
  d.pump.SwitchPump(On);
  const std::int64_t startMs = platform::Clock::Get().NowMs();
  bool announced = false;
  while (!g_stopRequested.load()) {
    CInletSystemStatus pump;
    CInletSystemStatus merged;
    if (!d.ReadAll(pump, merged)) return true;  // nothing to wait for without a status
    if (!merged.GetNotReady()) return true;
    const double minutes = (platform::Clock::Get().NowMs() - startMs) / 60000.0;
    if (!announced) {
      m_ui.Note("Waiting for the instruments to be ready: " + Utf8FromWindows1252(OneLineText(pump.GetNotReadyInfo().str())));
      announced = true;
    }
    PollRow row = RowFromRecords(pump, merged);
    row.clockMinutes = minutes;
    m_ui.StatusLine(StatusLineText(row), static_cast<long>(minutes * 2) != static_cast<long>((minutes - 0.02) * 2));
    if (minutes > kReadyTimeoutMinutes) {
      m_ui.Note("\nThe instruments are still not ready after 15 minutes; injecting anyway.");
      return true;
    }
  }
  return false;
}

void RunSession::StopAndClose() {
  if (m_closed || !m_devices) return;
  m_closed = true;
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

void RunSession::WriteRunFiles() {
  ChartInfo info;
  // Chart texts are single-byte, like the method's own.
  info.title = m_method.Title().IsEmpty() ? "Method " + m_methodName : m_method.Title().str();
  char volume[32];
  std::snprintf(volume, sizeof volume, "%.2f", m_o.volumeUl);
  info.subtitle = std::filesystem::path(m_methodName).filename().string() + " \x97 vial " + std::to_string(m_o.vial) + ", injection " + volume + " \xB5l, " +
                  std::to_string(m_rows.size()) + " polls, " + Now(TimeText::kReadable);
  if (m_method.GetPumpInitialCons().OvenInUse()) info.ovenSetPoint = m_method.GetPumpInitialCons().OvenTemperature();
  WriteFile(m_dir / "status.svg", RenderStatusSvg(m_rows, info), m_ui);
  if (m_devices) {
    CString document;
    m_devices->pump.FormatSolventMonitorUpdate(m_lastPump, document, "QuarnControl Pump");
    WriteFile(m_dir / "solvent-monitor.xml", document.str() + "\n", m_ui);
  }
}

int RunSession::Run() {
  // The method: checked here first, so that a broken file is one clear
  // error before any instrument is touched.
  std::string note;
  const std::string path = ResolveMethodPath(m_o.method, &note);
  if (!note.empty()) m_ui.Note("Note: " + note);
  MethodFileProblems problems;
  MethodKeyLines lines;
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    return Fail("unknown method '" + m_o.method + "': there is no file " + path +
                " (give a method file path, or a name from " + GetMethodsDir().str() + ")");
  }
  if (!LoadMethodFile(path, m_method, problems, &lines)) {
    std::string text = DescribeMethodFileProblems(path.c_str(), problems).str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return Fail("the method file is broken:\n" + RecordTextAsUtf8(text));
  }
  m_methodName = path;
  const std::string stem = std::filesystem::path(path).filename().string().substr(
      0, std::filesystem::path(path).filename().string().find('.'));

  if (m_o.transport) WriteNetBoxCommsFlag(*m_o.transport == "server" ? 1 : 0);
  if (ReadNetBoxCommsFlag() != 0) {
    return Fail(
        "the instrument server transport is not available yet; run with --transport direct "
        "(or 'quarn-host config set transport direct')");
  }
  // What the transport will round, ignore or refuse, before anything runs.
  PrintMethodWarnings(path, m_method, lines, Transport::kDirect, stderr);

  const auto dir = PrepareRunFolder(m_o, stem, m_ui);
  if (!dir) return 1;
  m_dir = *dir;
  if (m_o.trace && !SetWireTrace((m_dir / "wire-trace.log").string().c_str())) {
    return Fail("cannot write the wire trace to " + (m_dir / "wire-trace.log").string());
  }
  m_csv.open(m_dir / "status.csv", std::ios::trunc);
  if (!m_csv) return Fail("cannot write " + (m_dir / "status.csv").string());
  m_csv << CsvHeader() << '\n';

  if (m_o.virtualTime) {
    platform::Clock::Get().UseVirtual();
  } else {
    platform::Clock::Get().UseScaled(m_o.speed);
  }
  m_ui.Note("Run folder: " + m_dir.string());

  int result = 0;
  try {
    m_devices = std::make_unique<Devices>();
    if (!OpenAll() || !LoadAll()) {
      result = 1;
    } else {
      WriteExperimentRecord();
      if (!WaitUntilReady()) {
        m_ui.Note("\nStopped by the user.");
        StopAndClose();
        WriteRunFiles();
        m_devices.reset();
        SetWireTrace(nullptr);
        return 130;
      }
      const double runLength = m_method.GetRunLength();
      char text[160];
      std::snprintf(text, sizeof text, "Injecting %.2f \u00b5l from vial %d; the method runs %.1f min.",
                    m_o.volumeUl, m_o.vial, runLength);
      m_ui.Note(text);
      CAutoSampler::StartMethodParams params{std::to_string(m_o.vial).c_str(), static_cast<float>(m_o.volumeUl)};
      if (!m_devices->sampler.StartMethod(CString(m_methodName.c_str()), params)) {
        result = Fail("the autosampler did not start the sample");
      } else {
        const std::int64_t startMs = platform::Clock::Get().NowMs();
        bool started = false;
        double runStartMinutes = -1.0;  // the first poll that saw the run
        for (int poll = 1;; ++poll) {
          if (g_stopRequested.load()) {
            m_ui.Note("\nStopped by the user.");
            result = 130;
            break;
          }
          const double minutes = (platform::Clock::Get().NowMs() - startMs) / 60000.0;
          if (!Poll(poll, minutes)) {
            result = Fail("the pump gave no status: communications are not open");
            break;
          }
          const PollRow& row = m_rows.back();
          if (row.running || row.methodRunning) started = true;
          if (row.running && runStartMinutes < 0.0) runStartMinutes = minutes;
          if (started && !row.running && !row.methodRunning) break;
          if (!started && minutes > kStartTimeoutMinutes) {
            result = Fail("the run did not start within 3 minutes of the sample start");
            break;
          }
          // The margin counts from the run's start (while it was never
          // seen running, from the latest it could have started).
          const double from = runStartMinutes >= 0.0 ? runStartMinutes : kStartTimeoutMinutes;
          if (minutes - from > runLength + kRunEndMarginMinutes) {
            char why[160];
            std::snprintf(why, sizeof why,
                          "the run did not end within %g min after the method's run length of %.1f min; stopping it",
                          kRunEndMarginMinutes, runLength);
            result = Fail(why);
            break;
          }
        }
        if (result == 0) m_ui.Note("\nThe run has ended.");
      }
    }
    StopAndClose();
  } catch (const CCommunicationsException& e) {
    m_ui.Failure("communications failed: " + e.GetErrorMessage().str());
    result = 1;
    try {
      StopAndClose();
    } catch (const CCommunicationsException&) {
      // The link is gone; closing is as far as it can go.
    }
  }
  WriteRunFiles();
  m_devices.reset();
  SetWireTrace(nullptr);
  m_csv.close();
  if (m_o.mode == OutputMode::kNormal) {
    m_ui.Note("Files in " + m_dir.string() + ": experiment-record.txt, status.csv, status.svg, solvent-monitor.xml" +
              (m_o.trace ? ", wire-trace.log" : ""));
  }
  return result;
}

}  // namespace

void RequestStop() { g_stopRequested.store(true); }

int RunMethodCommand(const RunOptions& options, TerminalUi& ui) {
  g_stopRequested.store(false);
  RunSession session(options, ui);
  return session.Run();
}

}  // namespace host
