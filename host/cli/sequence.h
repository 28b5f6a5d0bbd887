// The sequence command's own pieces, shared by its files (no header for
// anything outside host/cli): the samples planned from a list, and the
// sequence that runs them. sequence_command.cc checks the list, resumes,
// runs the samples and finishes; sequence_lab.cc works out the lab's
// results (suitability, calibration, bracketing); sequence_tables.cc
// writes the tables, the page and the chart.
// One thread: the host's.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/cli/commands.h"
#include "host/inputs/acceptance_criteria.h"
#include "host/inputs/sample_list.h"
#include "host/inputs/tray.h"
#include "host/outputs/chromatogram.h"
#include "host/outputs/run_folder.h"
#include "host/outputs/sequence_journal.h"
#include "host/running/calibration.h"
#include "host/running/run_setup.h"
#include "host/running/sample_session.h"
#include "host/running/suitability.h"

namespace host {

// One sample as it runs: a row of the list and one of its injections.
struct Planned {
  int number = 0;       // from 1, in the order the samples run
  int row = 0;          // the row of the list, from 1
  const SampleRow* sample = nullptr;
  int injection = 1;
  const CheckedMethod* method = nullptr;
  std::string folder;   // its folder's name in the sequence folder
};

class Sequence {
 public:
  Sequence(const SequenceOptions& o, TerminalUi& ui) : m_o(o), m_ui(ui), m_trace(Transport::kDirect) {}
  int Run();

 private:
  bool Refuse(const std::string& text) {
    m_ui.Failure(text);
    return false;
  }
  bool CheckList();
  bool CheckFaults();
  bool Resume();
  bool PrepareFolder();
  bool RunSample(const Planned& p);
  // The method file's bytes now, checked again when they changed since the
  // check; `failure` says why the sample cannot run it.
  std::string MethodAsItIs(const Planned& p, std::string& failure);
  double FollowingMinutes(const Planned& p) const;
  void WriteTables(const Planned* justEnded);
  // report.html, from the last attempt of every sample.
  void WriteReport(const std::map<int, const JournalSample*>& last);
  bool WriteChart();
  int Finish();

  const SequenceOptions& m_o;
  TerminalUi& m_ui;
  Transport m_transport = Transport::kDirect;
  std::filesystem::path m_listPath;
  SampleList m_list;
  std::map<std::filesystem::path, std::unique_ptr<CheckedMethod>> m_methods;
  std::vector<Planned> m_planned;
  std::size_t m_first = 0;  // the index of the first sample to run
  RunFolder m_folder;
  Journal m_journal;
  RunTrace m_trace;
  std::vector<JournalSample> m_attempts;  // every attempt, earlier runs' included
  std::vector<std::vector<std::string>> m_pendingLines;
  std::map<const CheckedMethod*, std::string> m_prints;  // each method file's fingerprint as it was checked  // what a resume found, journaled once the folder is held
  std::unique_ptr<SampleSession> m_session;
  std::string m_lastMethod;  // the method of the last sample that ran, open devices or not
  bool m_recordFailed = false;  // a record of the sequence could not be written: it stops, whatever the policy
  const Planned* m_stoppedAt = nullptr;
  bool m_tableFailed = false;  // sequence.csv could not be written at least once
  std::string m_stopReason;
  long m_warmKb = 0, m_growthKb = 0;
  Tray m_tray;
  // Each sample folder's peak table without its header, as areas.csv
  // takes it: from the sample's end, or read from the folder (a resumed
  // sequence's earlier samples).
  std::map<std::string, std::string> m_peakTables;
  const std::string& PeakTable(const std::string& folder);
  // The same table read back, its values as written (so that a resumed
  // sequence's results are those of one run straight through).
  std::map<std::string, std::vector<MeasuredPeak>> m_peaks;
  const std::vector<MeasuredPeak>& Peaks(const std::string& folder);
  // Whether each sample folder holds a report.html.
  std::map<std::string, bool> m_reports;
  bool HasReport(const std::string& folder);

  // ---- The lab's results: a list with standards or suitability injections ----
  bool m_lab = false;
  AcceptanceCriteria m_criteria;
  // A block of suitability injections: planned indexes, first to last.
  struct Block {
    std::size_t first = 0, last = 0;
  };
  std::vector<Block> m_blocks;
  std::map<std::size_t, SuitabilityResult> m_checked;  // by block: the checks made
  std::optional<std::size_t> m_unsuitable;              // the block whose failed check stopped the sequence
  // Rows that did not run because a check stopped the sequence: shown in
  // sequence.csv after the first `afterAttempts` attempts.
  struct NotRun {
    std::size_t afterAttempts = 0;
    std::size_t planned = 0;
    std::string reason;
  };
  std::vector<NotRun> m_notRun;
  CalibrationResults m_calibration;  // as last worked out
  std::string m_calibrationCsv, m_suitabilityCsv;  // as last written
  // The folder a resumed sequence reads its earlier samples from.
  std::filesystem::path Dir() const { return m_o.resume ? *m_o.resume : m_folder.Path(); }
  std::size_t CheckLab();
  std::vector<LabInjection> LabInjections();
  SuitabilityResult CheckBlock(std::size_t block);
  // Before the planned sample `i` (m_planned.size(): after the last):
  // checks each block that ends just before it; false when a failed
  // check stops the sequence.
  bool CheckSuitabilityBefore(std::size_t i);
  void StopUnsuitable(std::size_t i, std::size_t block);
  // Before the first unknown of a method: its calibration lines.
  void ShowCalibration(std::size_t i);
  // After a bracketing standard: whether it held to the line.
  void ShowBracket(const Planned& p);
  void WriteLabFiles();
  // The checks an earlier start of a resumed sequence made, from its records.
  void RecallChecks();
  std::string SuitabilityCell(std::size_t planned) const;
};

}  // namespace host
