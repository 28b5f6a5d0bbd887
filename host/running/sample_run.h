// One sample on open devices, recorded and judged: the part of a run that
// `run` does once and `sequence` does for every row.
//
// In a sample folder: the experiment record, status.csv (every poll, the
// waiting ones marked, the outcome on the last row), status.svg,
// solvent-monitor.xml and logbook.txt. The steps:
//   OpenFiles -> (the caller opens and loads the devices) -> RecordReports
//   -> Run (waits for readiness with the pump at the initial conditions,
//   starts the sample with its vial and volume, polls until the run ends)
//   -> Finish (judges, writes the files).
// A failure of a step outside Run (opening, loading, communications) is
// given to Failed. The plug-in's CCommunicationsException passes through
// Run to the caller, which closes the devices and says Failed.
// Thread safety: host's thread only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "host/harness/faults.h"
#include "host/harness/simulated_column.h"
#include "host/harness/simulators.h"
#include "host/inputs/sample_list.h"
#include "host/inputs/tray.h"
#include "host/outputs/chromatogram.h"
#include "host/outputs/logbook.h"
#include "host/outputs/run_log.h"
#include "host/outputs/svg_chart.h"
#include "host/outputs/terminal_ui.h"
#include "host/running/device_set.h"
#include "host/running/run_judge.h"
#include "platform/method/quarn_method.h"

namespace host {

// What the sample is.
struct SamplePlan {
  std::string methodPath;             // as the list or the command line names it
  // The file the devices load and start, when not `methodPath`: the copy
  // in the sample's folder, so that what runs is what was checked.
  std::string deviceMethodPath;
  const QuarnMethod* method = nullptr;
  int vial = 1;
  double volumeUl = 0;
  Transport transport = Transport::kDirect;
  std::string sampleName;             // a sequence's sample name; "" for a single run
  std::vector<Fault> faults;          // injected into this sample
  std::vector<std::string> warnings;  // for the logbook: what the transport changes in the method, what the simulators use
  SimulatedPath simulatedPath;        // the simulators' column, dwell volume and pump dynamics
  std::vector<std::string> bottles;   // what each simulated bottle holds, a line each
  ReadyRules ready;
  RowAction action = RowAction::kInject;
  double minutes = 0;                 // an equilibration's length
  // The method differs from the last sample's: the column takes in its
  // starting conditions before the injection.
  bool methodChanged = false;
  // The last sample left the pump delivering: a pump found off after the
  // method load stopped while it loaded.
  bool pumpLeftOn = false;
  // What the vial holds, for the simulated instruments: a description of
  // the tray file (nullptr: none; it outlives the run) and where it was
  // found, as the logbook names it ("tray.toml", "tray.toml, sample list
  // line 4").
  const SampleDescription* sample = nullptr;
  std::string sampleSource;
};

// How it is shown.
struct SampleDisplay {
  bool virtualTime = false;
  double speed = 120.0;
  bool pollJson = true;               // one JSON object per poll (when the terminal is in JSON mode)
  std::string linePrefix;             // before the live line: "3/100  "
  // A sequence's run time after this sample, minutes: the live line then
  // shows the time left for the whole sequence.
  std::optional<double> followingMinutes;
  // What the polls before the sample start are: the first sample waits
  // for readiness, a later one re-equilibrates the column.
  const char* waitingWord = "waiting";
};

struct SampleResult {
  RunVerdict verdict;
  bool injected = false;
  double runTime = 0;
  std::optional<double> peakBar;      // the highest pressure read after the sample start
  double waitedMinutes = 0;           // from the method load to the injection
  double equilibratedMl = 0;          // delivered at the starting conditions after a method change
  std::optional<PollRow> atInjection; // the last reading before the sample start
  double injectedClockMinutes = 0;    // the instrument clock at the sample start
  std::vector<std::string> written;   // the files written whole
  bool writeFailed = false;
  std::vector<MeasuredPeak> peaks;    // measured on the simulated UV detector's signal
};

// Asks a running command to stop at its next step or poll, naming the
// signal that asked (SIGPIPE for a closed output). Safe in a signal
// handler; the first signal is the one reported.
void RequestStop(int signal);
// Exits 128 + the signal for a stop asked by one.
int StopExitCode();
// The signal that asked to stop, 0 when none.
int StopSignal();
void ClearStop();

class SampleRun {
 public:
  SampleRun(const SamplePlan& plan, std::filesystem::path folder, TerminalUi& ui, const SampleDisplay& display);
  ~SampleRun();
  SampleRun(const SampleRun&) = delete;
  SampleRun& operator=(const SampleRun&) = delete;

  // Opens status.csv and logbook.txt; "" or what could not be written.
  std::string OpenFiles();
  void Log(const std::string& text);
  // Injects the faults due now: before opening (`atSampleStart` false) or
  // at the sample start (with their times).
  void InjectFaults(bool atSampleStart);
  void RecordReports(DeviceSet& devices);
  // The method file the devices are given.
  const std::string& DeviceMethodPath() const {
    return m_plan.deviceMethodPath.empty() ? m_plan.methodPath : m_plan.deviceMethodPath;
  }
  // Switches the pump off and polls until the flow has stopped and the
  // pressure has fallen (a column is changed only without flow); false
  // when the pump gave no status.
  bool StopFlow(DeviceSet& devices, const std::string& why);
  // Waits, starts the sample, polls until the run ends, stops the methods
  // after a failure. May throw CCommunicationsException.
  void Run(DeviceSet& devices);
  // A step outside Run failed; `text` says what (the first one counts).
  void Failed(const std::string& text);
  // Whether the server the plug-in uses is gone; the first time it is
  // found so, the logbook says so and it becomes the run's cause.
  bool ServerLost();
  // The plug-in threw: its text, after the devices were open and loaded
  // or not.
  void CommunicationsFailed(const std::string& pluginText, bool loaded);
  // The instruments are being stopped: a fault due later did not hit.
  void Over();
  bool StopRequested();
  // Judges, writes the files (the solvent document from `devices`, when
  // given) and closes the logbook.
  SampleResult Finish(DeviceSet* devices);

 private:
  bool Poll(DeviceSet& d, double clockMinutes, bool waiting, bool equilibrating = false);
  // What keeps the instruments from being ready at `row`; "" when nothing.
  std::string NotReadyNow(const PollRow& row, bool steady, double equilibrateMl, double deliveredMl) const;
  bool WaitUntilReady(DeviceSet& d);
  // The rows that inject nothing: the starting conditions for the row's
  // minutes; the pump to standby (or off), the oven and the lamp off.
  void Equilibrate(DeviceSet& d);
  void ShutDown(DeviceSet& d);
  void PollUntilTheEnd(DeviceSet& d);
  void WriteFile(const char* name, const std::string& text);
  // Takes what the simulated detectors recorded since the last take and
  // writes the samples through to chromatogram.csv.
  void TakeDetectorSignal();
  // The peak table, spectra and picture of what the detectors recorded.
  void WriteChromatogram(const std::string& title, const std::string& outcome);
  // report.html: the run's page, from what is in memory.
  void WriteReport(const RunVerdict& verdict, const std::optional<double>& ovenSetPoint);
  void WriteCsv(const std::string& line);
  void WriteRecord(const RunVerdict& verdict);
  RunFacts Facts() const;

  SamplePlan m_plan;
  std::filesystem::path m_folder;
  TerminalUi& m_ui;
  SampleDisplay m_display;
  PressureLimits m_limits;
  double m_runLength = 0;
  std::FILE* m_csv = nullptr;  // status.csv, as the polls come
  bool m_csvOk = true;
  std::optional<PollRow> m_pendingCsv;  // the last row waits for the outcome
  ChartData m_chart;
  std::optional<PollRow> m_last;
  std::optional<PollRow> m_lastRunning;
  double m_runTime = 0;
  std::optional<double> m_peakBar;
  bool m_samplerSeen = false;
  bool m_injected = false;
  bool m_sampleStarted = false;
  int m_polls = 0;
  std::string m_waitFailure;
  std::string m_serverLost;  // "the instrument server was lost: ..." once found gone
  std::string m_notReady;
  std::string m_doneText;  // a row without a run: what it did  // injected after the readiness limit: what was not ready
  std::optional<PollRow> m_lastFlowing;
  bool m_filesOpened = false;  // the folder is this sample's own: its files go there
  bool m_failed = false;
  std::string m_failure;
  Logbook m_logbook;
  CGenericExpRecord m_record;
  CInletSystemStatus m_lastPump;
  bool m_pumpRead = false;
  SampleResult m_result;
  // What the simulated detectors recorded of this sample, as taken.
  bool m_bDetector = false;  // a description was placed: the run records a chromatogram
  std::string m_noChromatogram;  // why none is recorded, when known before the run
  ChromatogramFile m_chromatogram;
  std::vector<double> m_signal;
  std::vector<DetectorPeak> m_detectorPeaks;
  int m_wavelengthNm = 0;
  std::vector<int> m_faultIds;  // per fault: the schedule's id; 0 injected before opening; -1 not yet
  std::int64_t m_overMs = INT64_MAX;
};

}  // namespace host
