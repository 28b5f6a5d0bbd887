// `quarn-host sequence`: a sample list run as a lab runs one.
//
// Everything is checked before anything moves: the list, every method it
// names (for the transport in use), every volume and every fault. Then the
// devices are opened once; a method is loaded when it differs from the
// last sample's; each sample is started with its vial and volume (its own
// folder holds what `run` writes); between samples the host waits for the
// instruments to be ready again. After a failed sample the instruments are
// stopped and closed: --on-error stop ends the sequence there and says
// where to resume, --on-error skip opens them again for the next sample.
//
// The sequence folder keeps journal.txt (host/sequence_journal.h), written
// as each sample starts and ends, from which --resume continues after the
// last sample that ended good; sequence.csv (rewritten whole after each
// sample, from the journal's record of every attempt), areas.csv (the
// peak tables of every sample's last attempt, one row per sample and
// compound, rewritten with it), report.html (the same areas as a page,
// each sample linking to its run's report.html, with the lab's results
// below; host/outputs/report.h) and sequence.svg.
//
// A list with standards or suitability injections has the lab's results
// worked out as it runs (host/running/calibration.h, suitability.h):
// each block of suitability injections is checked against the
// suitability file when the sequence reaches a row that is not one, and
// a failed check stops the sequence before the rows after it (the
// shutdown row still runs) unless --if-unsuitable continue; the
// calibration lines, the unknowns' concentrations and the bracketing
// standards' drift go into sequence.csv, calibration.csv and
// suitability.csv, rewritten with the tables.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/cli/commands.h"
#include "host/harness/simulators.h"
#include "host/inputs/acceptance_criteria.h"
#include "host/inputs/sample_list.h"
#include "host/inputs/tray.h"
#include "host/outputs/chromatogram.h"
#include "host/outputs/report.h"
#include "host/outputs/run_folder.h"
#include "host/outputs/sequence_chart.h"
#include "host/outputs/sequence_journal.h"
#include "host/running/calibration.h"
#include "host/running/device_set.h"
#include "host/running/run_setup.h"
#include "host/running/sample_run.h"
#include "host/running/sample_session.h"
#include "host/running/suitability.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"
#include "platform/inlet/inlet.h"

namespace host {

namespace {

constexpr const char* kSequenceFiles[] = {"sequence.csv",   "areas.csv",        "report.html",     "journal.txt",
                                          "sequence.svg",   "wire-trace.log",   "server-calls.log", "calibration.csv",
                                          "suitability.csv"};
// Memory is judged from this sample on, and may grow this much after it.
constexpr int kWarmUpSamples = 10;
constexpr long kFlatKb = 2048;

// One sample as it runs: a row of the list and one of its injections.
struct Planned {
  int number = 0;       // from 1, in the order the samples run
  int row = 0;          // the row of the list, from 1
  const SampleRow* sample = nullptr;
  int injection = 1;
  const CheckedMethod* method = nullptr;
  std::string folder;   // its folder's name in the sequence folder
};

// "007-std_2" (and "-inj2" for a second injection): sortable, and safe in
// any file system and shell.
std::string FolderName(int number, std::size_t count, const SampleRow& row, int injection) {
  const int width = std::max(3, static_cast<int>(std::to_string(count).size()));
  std::string name = std::to_string(number);
  name.insert(0, static_cast<std::size_t>(std::max(0, width - static_cast<int>(name.size()))), '0');
  name += '-';
  for (char c : row.name.substr(0, 60)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_';
    name += plain ? c : '_';
  }
  if (row.injections > 1) name += "-inj" + std::to_string(injection);
  return name;
}

// The cells of one CSV line as peaks.csv writes it (a cell in double
// quotes may hold commas and doubled quotes).
std::vector<std::string> CsvCells(const std::string& line) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      cells.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.emplace_back();
    } else {
      cells.back() += c;
    }
  }
  return cells;
}

// A link to a file in a folder of the sequence's, every byte but a
// file name's plain ones percent-encoded.
std::string RelativeLink(const std::string& folder, const char* file) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string link;
  for (const char c : folder) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_';
    if (plain) {
      link += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      link += {'%', kHex[byte >> 4], kHex[byte & 0xF]};
    }
  }
  return link + "/" + file;
}

std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

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
  // Each sample folder's areas, (compound, mAU·s; NaN not measured) in
  // order of retention, from the sample's end or its peak table; and
  // whether it holds a report.html.
  std::map<std::string, std::vector<std::pair<std::string, double>>> m_areas;
  const std::vector<std::pair<std::string, double>>& Areas(const std::string& folder);
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
  std::map<std::string, std::vector<MeasuredPeak>> m_parsedPeaks;  // by sample folder
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

bool Sequence::CheckList() {
  m_list = ReadSampleList(m_listPath);
  std::size_t problems = m_list.problems.size();
  for (const std::string& problem : m_list.problems) std::fprintf(stderr, "%s\n", problem.c_str());
  std::size_t warnings = 0;
  if (SimulatorPresent()) {
    // LIST.tray.toml beside the list, else tray.toml there.
    const std::string name = m_listPath.filename().string();
    const std::filesystem::path beside = MethodTrayFile(m_listPath, name.substr(0, name.find('.')));
    if (m_o.tray || !beside.empty()) m_tray = ReadTray(m_o.tray.value_or(beside));
    for (const std::string& problem : TrayCompoundProblems(m_tray)) m_tray.problems.push_back(problem);
  }
  for (const std::string& problem : m_tray.problems) std::fprintf(stderr, "%s\n", problem.c_str());
  problems += m_tray.problems.size();
  for (const SampleRow& row : m_list.rows) {
    if (row.contents.empty() || !m_tray.problems.empty() || m_tray.samples.contains(row.contents)) continue;
    std::fprintf(stderr, "%s: line %d: contents: %s\n", EscapeControls(m_listPath.string()).c_str(), row.line,
                 (m_tray.file.empty() ? "there is no tray file (tray.toml beside the list, or --tray) to describe \"" +
                                            EscapeControls(row.contents) + "\""
                                      : "there is no sample description \"" + EscapeControls(row.contents) + "\" in " +
                                            EscapeControls(m_tray.file.string()))
                     .c_str());
    ++problems;
  }
  problems += CheckLab();
  for (const SampleRow& row : m_list.rows) {
    if (row.methodPath.empty()) continue;  // a shutdown without a method
    auto& method = m_methods[row.methodPath];
    if (!method) {
      method = std::make_unique<CheckedMethod>();
      const std::string why = LoadCheckedMethod(row.methodPath.string(), m_transport, *method, stderr, m_ui, m_o.solvents);
      if (!why.empty()) {
        std::fprintf(stderr, "%s: line %d: %s\n", EscapeControls(m_listPath.string()).c_str(), row.line,
                     EscapeControls(why, true).c_str());
        ++problems;
        method->path.clear();
        continue;
      }
      warnings += method->warnings.size();
      m_prints[method.get()] = FileFingerprint(row.methodPath);
    }
    if (method->path.empty() || row.action != RowAction::kInject) continue;
    if (const std::string why = VolumeRefusal(row.volumeUl, m_transport); !why.empty()) {
      std::fprintf(stderr, "%s: line %d: volume: the %s transport %s\n", EscapeControls(m_listPath.string()).c_str(),
                   row.line, TransportName(m_transport), why.c_str());
      ++problems;
    }
  }
  if (problems > 0 || (m_o.strict && warnings > 0)) {
    m_ui.Failure("the sample list " + m_listPath.string() + " cannot run as written (" +
                 (problems > 0 ? std::to_string(problems) + " problem" + (problems == 1 ? "" : "s")
                               : std::to_string(warnings) + " warning" + (warnings == 1 ? "" : "s") + ", --strict") +
                 " above); nothing was run");
    return false;
  }
  std::size_t count = 0;
  for (const SampleRow& row : m_list.rows) count += static_cast<std::size_t>(row.injections);
  int row = 0;
  for (const SampleRow& sample : m_list.rows) {
    ++row;
    for (int i = 1; i <= sample.injections; ++i) {
      const int number = static_cast<int>(m_planned.size()) + 1;
      m_planned.push_back(Planned{number, row, &sample, i,
                                  sample.methodPath.empty() ? nullptr : m_methods[sample.methodPath].get(),
                                  FolderName(number, count, sample, i)});
    }
  }
  // The blocks of suitability injections: runs of them in the order they run.
  for (std::size_t i = 0; m_lab && i < m_planned.size(); ++i) {
    const SampleRow& planned = *m_planned[i].sample;
    if (planned.action != RowAction::kInject || planned.type != SampleType::kSuitability) continue;
    if (!m_blocks.empty() && m_blocks.back().last + 1 == i) m_blocks.back().last = i;
    else m_blocks.push_back({i, i});
  }
  return true;
}

// What a list with standards or suitability injections needs: a sample
// description for each (a standard's with its concentrations), and for
// suitability injections the criteria, whose compounds their
// descriptions name. The number of problems, each printed.
std::size_t Sequence::CheckLab() {
  int standardLine = 0, suitabilityLine = 0;
  for (const SampleRow& row : m_list.rows) {
    if (row.action != RowAction::kInject) continue;
    if (row.type == SampleType::kStandard && standardLine == 0) standardLine = row.line;
    if (row.type == SampleType::kSuitability && suitabilityLine == 0) suitabilityLine = row.line;
  }
  m_lab = standardLine > 0 || suitabilityLine > 0;
  const std::string list = EscapeControls(m_listPath.string());
  if (!m_lab) {
    if (m_o.suitability) {
      m_ui.Note("--suitability " + EscapeControls(m_o.suitability->string()) + ": the list " + list +
                " has no standards and no suitability injections; the file is not used.");
    }
    return 0;
  }
  std::size_t problems = 0;
  const auto problem = [&](const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    ++problems;
  };
  if (const std::filesystem::path file = m_o.suitability.value_or(ListSuitabilityFile(m_listPath)); !file.empty()) {
    m_criteria = ReadAcceptanceCriteria(file);
    for (const std::string& text : m_criteria.problems) problem(text);
  }
  if (!SimulatorPresent()) {
    // The host's own data system acquires the detectors' signal: no peaks here.
    if (suitabilityLine > 0) {
      problem(list + ": line " + std::to_string(suitabilityLine) + ": type: the " + kRealInstrumentsText +
              ", and quarn-host records no chromatogram of real detectors, so it cannot check system suitability");
    } else {
      m_ui.Note("The " + std::string(kRealInstrumentsText) + "; quarn-host records no chromatogram of real " +
                "detectors, so the standards of " + list + " are not calibrated here.");
      m_lab = false;
    }
    return problems;
  }
  const std::string criteriaFile = EscapeControls(m_criteria.file.string());
  if (suitabilityLine > 0 && m_criteria.file.empty()) {
    problem(list + ": line " + std::to_string(suitabilityLine) +
            ": type: the list has suitability injections, and no suitability file gives their criteria (" +
            kSuitabilityFileName + " beside the list, or --suitability FILE; docs/host-program.md)");
  } else if (suitabilityLine > 0 && m_criteria.problems.empty() && m_criteria.suitability.empty()) {
    problem(criteriaFile + ": the file gives no suitability criteria ([resolution], [plates], [tailing], "
            "[area_rsd], [retention_rsd]), and the list has suitability injections (line " +
            std::to_string(suitabilityLine) + " of " + list + ")");
  }
  if (!m_tray.problems.empty()) return problems;  // the descriptions cannot be looked at
  for (const SampleRow& row : m_list.rows) {
    if (row.action != RowAction::kInject || (row.type != SampleType::kStandard && row.type != SampleType::kSuitability)) {
      continue;
    }
    const std::string where = list + ": line " + std::to_string(row.line) + ": ";
    const char* what = row.type == SampleType::kStandard ? "a standard" : "a suitability injection";
    const SampleDescription* description = m_tray.For(row.vial, row.contents);
    if (!description) {
      problem(where + what + " needs a sample description (what its vial holds, in mg/l): " +
              (m_tray.file.empty() ? std::string("there is no tray file (tray.toml beside the list, or --tray)")
                                   : EscapeControls(m_tray.file.string()) + " describes no vial " +
                                         std::to_string(row.vial)));
      continue;
    }
    if (description->compounds.empty()) {
      problem(where + what + "'s sample description \"" + EscapeControls(description->name) + "\" names no compound");
      continue;
    }
    if (row.type != SampleType::kSuitability) continue;
    for (const SuitabilityCriterion& c : m_criteria.suitability) {
      for (const std::string& compound : c.compounds) {
        bool named = false;
        for (const auto& [name, mgPerL] : description->compounds) {
          std::string lower = name;
          for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
          named = named || lower == compound;
        }
        if (named) continue;
        problem(criteriaFile + ": line " + std::to_string(c.line) + ": " + CriterionName(c.kind) + ": " +
                EscapeControls(compound) + " is not in the sample description \"" +
                EscapeControls(description->name) + "\" of the suitability injection on line " +
                std::to_string(row.line) + " of " + list);
      }
    }
  }
  return problems;
}

bool Sequence::CheckFaults() {
  for (const SampleFault& f : m_o.faults) {
    std::string why;
    if (!HasTransport(*f.fault.kind, m_transport)) {
      why = "the fault " + std::string(f.fault.kind->name) + " exists on the " + FaultTransports(*f.fault.kind) +
            " transport only, and this sequence uses the " + TransportName(m_transport) + " transport";
    } else if (f.sample > static_cast<int>(m_planned.size())) {
      why = "the list has " + std::to_string(m_planned.size()) + " samples";
    } else if (f.sample > 1 && !f.fault.minutes && !f.fault.kind->atSampleStart) {
      why = "this fault acts when the instruments are opened, which is before sample 1; give it for sample 1 or "
            "with @MINUTES";
    }
    if (!why.empty()) {
      m_ui.Failure("--fault " + std::to_string(f.sample) + ":" + f.fault.text + ": " + why);
      return false;
    }
  }
  return true;
}

// Continues after the last sample that ended good: the journal must match
// the list and methods as they are now; an unfinished or failed sample's
// folder after that point is kept under a new name and the sample runs again.
bool Sequence::Resume() {
  std::string error;
  const std::optional<JournalContents> journal = ReadJournal(*m_o.resume / "journal.txt", error);
  if (!journal) return Refuse("cannot resume: " + error);
  std::vector<std::string> changed;
  if (journal->listFingerprint != FileFingerprint(m_listPath)) changed.push_back("the sample list " + m_listPath.string());
  // Method files are the same files however the list was named: the
  // journal's paths and the list's are compared as the files they name.
  std::map<std::filesystem::path, std::string> started;  // the file -> its fingerprint at the start
  for (const auto& [path, fingerprint] : journal->methods) {
    std::error_code ec;
    started[std::filesystem::weakly_canonical(path, ec)] = fingerprint;
    if (fingerprint != FileFingerprint(path)) changed.push_back("the method file " + path);
  }
  for (const auto& [path, method] : m_methods) {
    std::error_code ec;
    if (!started.count(std::filesystem::weakly_canonical(path, ec))) {
      changed.push_back("the list names a new method file " + path.string());
    }
  }
  // The criteria a check is made against are as they were too.
  const std::filesystem::path criteria = m_lab ? m_criteria.file : std::filesystem::path();
  if (!journal->criteriaPath.empty() && journal->criteriaFingerprint != FileFingerprint(journal->criteriaPath)) {
    changed.push_back("the suitability file " + journal->criteriaPath);
  } else if (!criteria.empty()) {
    std::error_code ec;
    if (journal->criteriaPath.empty() ||
        std::filesystem::weakly_canonical(journal->criteriaPath, ec) != std::filesystem::weakly_canonical(criteria, ec)) {
      changed.push_back("the list is checked against another suitability file, " + criteria.string());
    }
  }
  if (!changed.empty()) {
    std::string text;
    for (const std::string& c : changed) text += (text.empty() ? "" : "; ") + c;
    return Refuse("cannot resume " + m_o.resume->string() + ": changed since the sequence started: " + text +
                ". Put them back as they were, or start a new sequence");
  }
  m_attempts = journal->attempts;
  const std::filesystem::path& dir = *m_o.resume;
  for (JournalSample& a : m_attempts) {
    const std::filesystem::path record = dir / a.folder / "experiment-record.txt";
    if (!a.hasEnded && !a.folder.empty()) {
      // A kill after the sample's record was written, before its end line:
      // the record (written last of its files) holds the result.
      std::ifstream in(record, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::size_t at = text.rfind("\nRun result: ");
      if (at == std::string::npos || text.back() != '\n') continue;
      a.hasEnded = true;
      const std::size_t from = at + std::strlen("\nRun result: ");
      a.outcome = text.substr(from, text.size() - from - 1);
      a.result = ResultOfOutcome(a.outcome);
      a.good = a.result == "good";
      a.ended = ClockTime();
      m_pendingLines.push_back({"end", std::to_string(a.number), a.result, a.folder, a.ended, "", a.outcome});
      m_ui.Note("Sample " + std::to_string(a.number) + " had ended (" + a.outcome + ") before the sequence stopped; " +
                "its result is taken from " + record.string());
    } else if (a.hasEnded && a.good && (a.folder.empty() || !std::filesystem::exists(record))) {
      // A journal belongs to its folder: a good sample whose folder is not
      // here (a journal copied from elsewhere, a folder removed) runs again.
      m_pendingLines.push_back({"kept", std::to_string(a.number), a.folder, ""});
      m_ui.Note("Sample " + std::to_string(a.number) + " ended good, but its folder " + (dir / a.folder).string() +
                " holds no record; it runs again");
      a.good = false;
      a.result = "failed";
      a.outcome = "its folder " + a.folder + " was missing when the sequence was resumed";
      a.folder.clear();
    }
  }
  // A shutdown that ran after a failure is not where the sequence got to.
  int lastGood = 0;
  for (const JournalSample& a : m_attempts) {
    const bool shutdown = a.number >= 1 && a.number <= static_cast<int>(m_planned.size()) &&
                          m_planned[static_cast<std::size_t>(a.number - 1)].sample->action == RowAction::kShutdown;
    if (a.hasEnded && a.good && !shutdown) lastGood = std::max(lastGood, a.number);
  }
  m_first = static_cast<std::size_t>(lastGood);
  // A sequence that a failed suitability check stopped goes on with that
  // block of suitability injections run again (the column changed, say),
  // not past it.
  for (std::size_t b = 0; b < m_blocks.size() && !m_o.continueUnsuitable; ++b) {
    if (m_blocks[b].last + 1 != m_first || m_first >= m_planned.size()) continue;
    const SuitabilityResult result = CheckBlock(b);
    if (result.passed) continue;
    m_first = m_blocks[b].first;
    m_ui.Note("The system suitability of samples " + std::to_string(result.first) + " to " +
              std::to_string(result.last) + " failed (" + SuitabilityText(result) +
              "); its suitability injections run again.");
  }
  return true;
}

bool Sequence::PrepareFolder() {
  const std::string stem = m_listPath.stem().string();
  if (!m_folder.Prepare(m_o.resume ? m_o.resume : m_o.out, stem, kSequenceFiles, m_o.force, m_o.resume.has_value(),
                        m_ui)) {
    return false;
  }
  const std::filesystem::path& dir = m_folder.Path();
  if (!m_journal.Open(dir / "journal.txt", !m_o.resume)) return Refuse("cannot write " + (dir / "journal.txt").string());
  bool written = true;
  for (const std::vector<std::string>& line : m_pendingLines) written = written && m_journal.Write(line);
  if (!m_o.resume) {
    std::vector<std::vector<std::string>> header{{"list", m_listPath.string(), FileFingerprint(m_listPath)},
                                                 {"transport", TransportName(m_transport)}};
    for (const auto& [path, method] : m_methods) header.push_back({"method", path.string(), FileFingerprint(path)});
    if (m_lab && !m_criteria.file.empty()) {
      header.push_back({"criteria", m_criteria.file.string(), FileFingerprint(m_criteria.file)});
    }
    written = m_journal.Begin(header);
  }
  // The folders of samples that run again are set aside, kept as they were.
  for (std::size_t i = m_first; i < m_planned.size() && written; ++i) {
    const std::filesystem::path folder = dir / m_planned[i].folder;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(folder, ec))) {
      // A kill between a start line and its folder leaves an attempt with
      // no folder: journaled as such, so its row never names the folder
      // the sample's next attempt makes.
      for (JournalSample& a : m_attempts) {
        if (a.number != m_planned[i].number || a.folder != m_planned[i].folder) continue;
        a.folder.clear();
        written = written && m_journal.Write({"kept", std::to_string(a.number), m_planned[i].folder, ""});
      }
      continue;
    }
    // Named by how it ended: cut short, failed, or a good shutdown that
    // ran after a failure and runs again at the end.
    std::string kind = ".interrupted";
    for (const JournalSample& a : m_attempts) {
      if (a.number != m_planned[i].number) continue;
      kind = !a.hasEnded || a.result == "interrupted" ? ".interrupted" : a.good ? ".earlier" : ".failed";
    }
    std::string aside = m_planned[i].folder + kind;
    for (int n = 2; std::filesystem::exists(dir / aside, ec); ++n) {
      aside = m_planned[i].folder + kind + "-" + std::to_string(n);
    }
    // Journaled before the folder moves: a kill in between leaves a kept
    // line whose move the next resume makes, never a move the journal lacks.
    written = m_journal.Write({"kept", std::to_string(m_planned[i].number), m_planned[i].folder, aside});
    if (!written) break;
    std::filesystem::rename(folder, dir / aside, ec);
    if (ec) return Refuse("cannot set aside " + folder.string() + ": " + ec.message());
    for (JournalSample& a : m_attempts) {
      if (a.number == m_planned[i].number && a.folder == m_planned[i].folder) a.folder = aside;
    }
    m_ui.Note("Sample " + std::to_string(m_planned[i].number) + " runs again; its earlier folder is kept as " +
              (dir / aside).string());
  }
  if (!written) return Refuse("cannot write " + (dir / "journal.txt").string());
  m_trace = RunTrace(m_transport);
  if (m_o.trace && !m_trace.Start(dir, m_o.resume.has_value())) return Refuse("cannot write the trace in " + dir.string());
  return true;
}

// The run time of the samples after `p`, minutes.
double Sequence::FollowingMinutes(const Planned& p) const {
  double minutes = 0;
  for (std::size_t i = static_cast<std::size_t>(p.number); i < m_planned.size(); ++i) {
    const SampleRow& row = *m_planned[i].sample;
    if (row.action == RowAction::kEquilibrate) minutes += row.minutes;
    else if (row.action != RowAction::kShutdown) minutes += m_planned[i].method->method.GetRunLength();
  }
  return minutes;
}

std::string Sequence::MethodAsItIs(const Planned& p, std::string& failure) {
  if (!p.method) return "";
  std::ifstream in(p.method->path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string print = in ? TextFingerprint(bytes) : "missing";
  if (print == m_prints[p.method]) return bytes;
  const std::string file = EscapeControls(p.method->path);
  CheckedMethod fresh;
  std::string why = LoadCheckedMethod(p.method->path, m_transport, fresh, stderr, m_ui, m_o.solvents);
  if (why.empty() && m_o.strict && !fresh.warnings.empty()) why = fresh.warnings.front() + " (--strict)";
  if (!why.empty()) {
    failure = "the method file " + file + " changed since the sequence was checked and no longer passes the check: " +
              OneLineText(EscapeControls(why));
    return bytes;
  }
  m_ui.Note("The method file " + file + " changed since the sequence was checked; it passes the check and runs as it is now.");
  CheckedMethod& method = *m_methods[p.sample->methodPath];
  method = std::move(fresh);
  m_prints[&method] = print;
  m_session->Reload();  // loaded again, as it is now
  if (!m_journal.Write({"method", method.path, print})) m_recordFailed = true;
  return bytes;
}

bool Sequence::RunSample(const Planned& p) {
  const std::filesystem::path folder = m_folder.Path() / p.folder;
  std::string methodFailure;
  const std::string methodBytes = MethodAsItIs(p, methodFailure);
  static const CheckedMethod kNoMethod;  // a shutdown's without one
  const CheckedMethod& method = p.method ? *p.method : kNoMethod;
  SamplePlan plan = PlanSample(method, m_transport, m_o.simulated, m_o.ready);
  plan.action = p.sample->action;
  // The devices load and start the copy in the sample's folder: the bytes
  // checked, whatever happens to the file meanwhile.
  const std::filesystem::path copy = folder / ("method-" + std::filesystem::path(method.path).filename().string());
  if (p.method) plan.deviceMethodPath = copy.string();
  plan.minutes = p.sample->minutes;
  plan.vial = p.sample->vial;
  plan.volumeUl = p.sample->volumeUl;
  plan.sampleName = p.sample->name;
  plan.sample = m_tray.For(p.sample->vial, p.sample->contents);
  if (!m_tray.file.empty()) {
    plan.sampleSource = m_tray.file.filename().string() +
                        (p.sample->contents.empty() ? "" : ", named on line " + std::to_string(p.sample->line) +
                                                               " of " + m_listPath.filename().string());
  }
  plan.methodChanged = !m_lastMethod.empty() && m_lastMethod != method.path;
  plan.pumpLeftOn = m_session->IsOpen();
  if (p.method) m_lastMethod = method.path;
  for (const SampleFault& f : m_o.faults) {
    if (f.sample == p.number) plan.faults.push_back(f.fault);
  }
  m_ui.Note("Sample " + std::to_string(p.number) + " of " + std::to_string(m_planned.size()) + ": " +
            EscapeControls(p.sample->name) + (p.sample->injections > 1 ? ", injection " + std::to_string(p.injection) : "") +
            " (row " + std::to_string(p.row) + "), " +
            (p.sample->action == RowAction::kInject
                 ? "vial " + std::to_string(p.sample->vial) + ", " + VolumeText(p.sample->volumeUl) + " \u00b5l"
                 : std::string(RowActionName(p.sample->action)) +
                       (p.sample->action == RowAction::kEquilibrate ? " " + Fixed(p.sample->minutes, 1) + " min" : "")) +
            (p.sample->method.empty() ? "" : ", " + EscapeControls(p.sample->method)));
  SampleRun sample(plan, folder, m_ui,
                   SampleDisplay{m_o.virtualTime, m_o.speed, false,
                                 std::to_string(p.number) + "/" + std::to_string(m_planned.size()) + "  ",
                                 FollowingMinutes(p), m_session->IsOpen() ? "re-equilibrating" : "waiting"});
  JournalSample attempt;
  attempt.number = p.number;
  attempt.folder = p.folder;
  attempt.started = ClockTime();
  // The start is journaled before the folder exists, so that no folder
  // is ever there that the journal (and so sequence.csv) does not list.
  // It is on the disk before anything is injected.
  const bool journaled = m_journal.Write({"start", std::to_string(p.number), p.folder, attempt.started});
  // Made here, never taken over: something already at the name (a link
  // planted there) is refused, not written through.
  std::error_code ec;
  const bool made = journaled && std::filesystem::create_directory(folder, ec);
  bool copyFailed = false;
  if (!journaled) {
    sample.Failed("could not write " + (m_folder.Path() / "journal.txt").string());
  } else if (!made) {
    sample.Failed("cannot create the sample folder " + folder.string() +
                  (ec ? ": " + ec.message() : ": something is already there"));
  } else if (const std::string why = sample.OpenFiles(); !why.empty()) {
    sample.Failed(why);
  } else if (!methodFailure.empty()) {
    sample.Failed(methodFailure);
  } else if (const std::string error = p.method ? WriteFileWhole(copy, methodBytes) : ""; !error.empty()) {
    copyFailed = true;
    sample.Failed("could not write the copy of the method in " + folder.string() + ": " + error);
  } else {
    m_session->Run(sample, method);
    if (p.sample->action == RowAction::kShutdown && p.method) m_session->KeepPumpWhenClosed();
  }
  const SampleResult r = sample.Finish(m_session->Devices());
  attempt.hasEnded = true;
  attempt.good = r.verdict.good && !r.writeFailed;
  attempt.result = attempt.good                         ? "good"
                   : StopSignal() != 0                   ? "interrupted"
                   : r.verdict.notReady && !r.writeFailed ? "not-ready"
                                                          : "failed";
  attempt.ended = ClockTime();
  attempt.peakBar = r.peakBar ? Fixed(*r.peakBar, 1) : "";
  attempt.outcome = r.verdict.outcome + (r.writeFailed ? "; a file of the sample could not be written" : "");
  if (r.atInjection) {
    const auto reading = [](double value) { return std::isnan(value) ? std::string() : Fixed(value, 1); };
    attempt.injectedMinutes = Fixed(r.injectedClockMinutes, 3);
    attempt.injectedBar = reading(r.atInjection->pressure);
    attempt.injectedOvenC = reading(r.atInjection->ovenTemperature);
  }
  attempt.waitedMinutes = Fixed(r.waitedMinutes, 2);
  attempt.equilibratedMl = Fixed(r.equilibratedMl, 2);
  m_attempts.push_back(attempt);
  m_peakTables[p.folder] = r.peaks.empty() ? "" : PeaksCsv(r.peaks).substr(PeaksCsv({}).size());
  std::vector<std::pair<std::string, double>>& areas = m_areas[p.folder];
  areas.clear();
  for (const MeasuredPeak& peak : r.peaks) areas.emplace_back(peak.compound, peak.areaMauS.value_or(NAN));
  m_reports[p.folder] = std::find(r.written.begin(), r.written.end(), "report.html") != r.written.end();
  m_parsedPeaks.erase(p.folder);
  const bool ended = journaled && m_journal.Write({"end", std::to_string(p.number), attempt.result, p.folder,
                                                   attempt.ended, attempt.peakBar, attempt.outcome,
                                                   attempt.injectedMinutes, attempt.injectedBar, attempt.injectedOvenC,
                                                   attempt.waitedMinutes, attempt.equilibratedMl});
  if (!ended || !made || r.writeFailed || copyFailed) {
    // What cannot be recorded is not run: under every policy the
    // sequence stops here, rather than inject samples with no record.
    m_recordFailed = true;
    attempt.good = false;
    m_ui.Failure("could not write the records of sample " + std::to_string(p.number) + " in " +
                 m_folder.Path().string() + " (is the disk full?); the sequence stops");
  }
  WriteTables(&p);
  if (m_tableFailed) m_recordFailed = true;
  if (!attempt.good) {
    const std::string& message = r.verdict.message.empty() ? r.verdict.outcome : r.verdict.message;
    m_ui.Failure("sample " + std::to_string(p.number) + " (" + EscapeControls(p.sample->name) + ") " +
                 message.substr(message.rfind("the run ", 0) == 0 ? 8 : 0));
    // Stopped and closed: a trip or an error is not carried into the next
    // sample, which opens the instruments afresh.
    m_session->Close();
  }
  if (m_o.memoryCheck || p.number % 100 == 0) {
    const long kb = ResidentKb();
    if (p.number == static_cast<int>(m_first) + kWarmUpSamples) m_warmKb = kb;
    if (m_warmKb > 0 && p.number > static_cast<int>(m_first) + kWarmUpSamples) {
      m_growthKb = std::max(m_growthKb, kb - m_warmKb);
    }
  }
  return attempt.good;
}

// ---- The lab's results ----

std::vector<LabInjection> Sequence::LabInjections() {
  std::map<int, const JournalSample*> last;
  for (const JournalSample& a : m_attempts) last[a.number] = &a;
  std::vector<LabInjection> injections;
  for (const Planned& p : m_planned) {
    const SampleRow& row = *p.sample;
    if (row.action != RowAction::kInject) continue;
    LabInjection i;
    i.number = p.number;
    i.sample = row.name;
    i.method = row.method;
    i.type = row.type;
    i.level = row.level;
    if (const SampleDescription* description = m_tray.For(row.vial, row.contents)) {
      for (const auto& [compound, mgPerL] : description->compounds) {
        std::string lower = compound;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        i.contents.emplace_back(lower, mgPerL);
      }
    }
    const auto found = last.find(p.number);
    if (found != last.end() && found->second->hasEnded) {
      const JournalSample& a = *found->second;
      i.ended = true;
      if (a.good && !a.folder.empty()) {
        auto parsed = m_parsedPeaks.find(a.folder);
        if (parsed == m_parsedPeaks.end()) {
          std::vector<MeasuredPeak> peaks = ReadPeakRows(PeakTable(a.folder));
          for (MeasuredPeak& peak : peaks) {
            for (char& c : peak.compound) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
          }
          parsed = m_parsedPeaks.emplace(a.folder, std::move(peaks)).first;
        }
        i.peaks = parsed->second;
        i.measured = !i.peaks.empty();
      }
    }
    injections.push_back(std::move(i));
  }
  return injections;
}

SuitabilityResult Sequence::CheckBlock(std::size_t block) {
  const std::vector<LabInjection> all = LabInjections();
  const int first = m_planned[m_blocks[block].first].number, last = m_planned[m_blocks[block].last].number;
  std::vector<LabInjection> own;
  for (const LabInjection& i : all) {
    if (i.number >= first && i.number <= last) own.push_back(i);
  }
  return CheckSuitability(m_criteria.suitability, own);
}

void Sequence::RecallChecks() {
  for (std::size_t b = 0; b < m_blocks.size(); ++b) {
    if (m_blocks[b].last + 1 < m_first || m_first >= m_planned.size()) m_checked[b] = CheckBlock(b);
  }
}

bool Sequence::CheckSuitabilityBefore(std::size_t i) {
  for (std::size_t b = 0; b < m_blocks.size(); ++b) {
    if (m_blocks[b].last + 1 != i || m_checked.contains(b)) continue;
    const SuitabilityResult result = CheckBlock(b);
    m_checked[b] = result;
    const std::string which = "samples " + std::to_string(result.first) + " to " + std::to_string(result.last);
    m_ui.Note("System suitability of " + which + " (" + std::to_string(result.injections) +
              " injections with results), against " + EscapeControls(m_criteria.file.string()) + ":");
    std::string all;
    for (const CriterionResult& r : result.criteria) {
      m_ui.Note("  " + CriterionText(r) + ": " + (r.passed ? "pass" : "FAIL"));
      all += (all.empty() ? "" : "; ") + CriterionText(r) + ": " + (r.passed ? "pass" : "fail");
    }
    if (!m_journal.Write({"suitability", std::to_string(result.first), std::to_string(result.last),
                          result.passed ? "pass" : "fail", all})) {
      m_recordFailed = true;
    }
    if (m_ui.ShowsJson()) {
      nlohmann::ordered_json j;
      j["suitability"]["first"] = result.first;
      j["suitability"]["last"] = result.last;
      j["suitability"]["injections"] = result.injections;
      j["suitability"]["result"] = result.passed ? "pass" : "fail";
      nlohmann::ordered_json criteria = nlohmann::ordered_json::array();
      for (const CriterionResult& r : result.criteria) {
        nlohmann::ordered_json c;
        c["criterion"] = CriterionName(r.kind);
        c["subject"] = r.subject;
        c[CriterionIsMinimum(r.kind) ? "min" : "max"] = r.limit;
        c["measured"] = r.measured ? nlohmann::ordered_json(std::stod(MeasuredText(r))) : nlohmann::ordered_json();
        c["result"] = r.passed ? "pass" : "fail";
        if (!r.unmeasured.empty()) c["note"] = r.unmeasured;
        criteria.push_back(c);
      }
      j["suitability"]["criteria"] = criteria;
      m_ui.JsonObject(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
    if (result.passed) {
      m_ui.Note("The system suitability of " + which + " passes.");
    } else if (m_o.continueUnsuitable) {
      m_ui.Failure("the system suitability of " + which + " failed: " + SuitabilityText(result).substr(6) +
                   "; the sequence goes on (--if-unsuitable continue), and sequence.csv marks the samples after it");
    } else {
      StopUnsuitable(i, b);
      return false;
    }
    WriteTables(nullptr);
  }
  return true;
}

// The rows from `i` on do not run; the list's shutdown row does.
void Sequence::StopUnsuitable(std::size_t i, std::size_t block) {
  m_unsuitable = block;
  const SuitabilityResult& result = m_checked[block];
  const std::string reason = "not run: the system suitability of samples " + std::to_string(result.first) + " to " +
                             std::to_string(result.last) + " failed: " + SuitabilityText(result).substr(6);
  m_ui.Failure("the system suitability of samples " + std::to_string(result.first) + " to " +
               std::to_string(result.last) + " failed: " + SuitabilityText(result).substr(6) +
               "; the sequence stops before the rows after it");
  const Planned& last = m_planned.back();
  const bool shutdown = last.sample->action == RowAction::kShutdown;
  for (std::size_t k = i; k < m_planned.size() && !(shutdown && k + 1 == m_planned.size()); ++k) {
    m_notRun.push_back({m_attempts.size(), k, reason});
    if (!m_ui.ShowsJson()) continue;
    const Planned& p = m_planned[k];
    nlohmann::ordered_json row;
    row["number"] = p.number;
    row["row"] = p.row;
    row["sample"] = p.sample->name;
    row["method"] = p.sample->method;
    row["result"] = "not run";
    row["reason"] = reason;
    m_ui.JsonObject(row.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
  WriteTables(nullptr);
  if (shutdown && i < m_planned.size()) {
    m_ui.Note("The sequence stops; its last row shuts the instruments down.");
    RunSample(last);
  }
}

void Sequence::ShowCalibration(std::size_t i) {
  const Planned& p = m_planned[i];
  if (p.sample->action != RowAction::kInject || p.sample->type != SampleType::kUnknown) return;
  for (std::size_t k = 0; k < i; ++k) {
    const SampleRow& row = *m_planned[k].sample;
    if (row.action == RowAction::kInject && row.type == SampleType::kUnknown && row.method == p.sample->method) return;
  }
  m_calibration = Calibrate(LabInjections(), m_criteria.bracketDriftPercent);
  for (const CalibrationLine& line : m_calibration.lines) {
    if (line.method != p.sample->method) continue;
    m_ui.Note("Calibration of " + line.compound + " on " + EscapeControls(line.method) + ": " + LineText(line));
  }
}

void Sequence::ShowBracket(const Planned& p) {
  if (p.sample->action != RowAction::kInject || p.sample->type != SampleType::kStandard) return;
  // The unknowns it closes carry its mark.
  for (auto it = m_planned.rbegin(); it != m_planned.rend(); ++it) {
    if (it->number >= p.number) continue;
    const SampleRow& row = *it->sample;
    if (row.method != p.sample->method || row.action != RowAction::kInject) continue;
    if (row.type == SampleType::kStandard) return;
    if (row.type != SampleType::kUnknown) continue;
    const auto found = m_calibration.injections.find(it->number);
    if (found == m_calibration.injections.end() || found->second.bracket.empty()) return;
    const std::string& mark = found->second.bracket;
    const std::string text = "Bracketing standard " + EscapeControls(p.sample->name) + " (sample " +
                             std::to_string(p.number) + "): " + mark;
    if (mark.rfind("within", 0) == 0) {
      m_ui.Note(text);
    } else {
      m_ui.Failure(text + "; sequence.csv marks the unknowns it brackets");
    }
    return;
  }
}

// The suitability cell of a planned sample: the last of a block has its
// check; an injection after a failed check says so.
std::string Sequence::SuitabilityCell(std::size_t planned) const {
  std::string cell;
  for (const auto& [b, result] : m_checked) {
    if (m_blocks[b].last == planned) return SuitabilityText(result);
    if (m_blocks[b].last < planned && m_planned[planned].sample->action == RowAction::kInject) {
      cell = result.passed ? "" : "after the failed suitability check of samples " + std::to_string(result.first) +
                                      " to " + std::to_string(result.last);
    }
  }
  return cell;
}

void Sequence::WriteLabFiles() {
  const std::filesystem::path& dir = m_folder.Path();
  if (!m_calibration.lines.empty()) {
    const std::string csv = CalibrationCsv(m_calibration);
    if (csv != m_calibrationCsv) {
      if (const std::string error = WriteFileWhole(dir / "calibration.csv", csv); !error.empty()) {
        m_ui.Failure("could not write " + (dir / "calibration.csv").string() + ": " + error);
        m_tableFailed = true;
      } else {
        m_calibrationCsv = csv;
      }
    }
  }
  if (!m_blocks.empty()) {
    std::vector<SuitabilityResult> results;
    for (const auto& [b, result] : m_checked) results.push_back(result);
    const std::string csv = SuitabilityCsv(results);
    if (csv != m_suitabilityCsv) {
      if (const std::string error = WriteFileWhole(dir / "suitability.csv", csv); !error.empty()) {
        m_ui.Failure("could not write " + (dir / "suitability.csv").string() + ": " + error);
        m_tableFailed = true;
      } else {
        m_suitabilityCsv = csv;
      }
    }
  }
}

// sequence.csv (and a JSON line per sample with --json), from every
// attempt in the order they ran; written whole and then put in place, so
// that a kill leaves the last complete table. Not synced to the disk: the
// journal is, and a resume writes the table anew from it.
void Sequence::WriteTables(const Planned* justEnded) {
  // The lab's columns at the end: what each injection is, its suitability
  // check or the failed one it ran after, its bracketing standard's mark,
  // and a concentration column per calibrated compound.
  if (m_lab) m_calibration = Calibrate(LabInjections(), m_criteria.bracketDriftPercent);
  std::string csv =
      "number,row,sample,method,vial,volume_ul,injection,folder,start,end,result,reason,peak_bar,injected_clock_min,"
      "bar_at_injection,oven_c_at_injection,waited_min,equilibrated_ml,action,note,type,level,suitability,bracket";
  for (const std::string& compound : m_calibration.compounds) csv += "," + CsvCell(compound + "_mg_l");
  csv += "\n";
  std::map<int, const JournalSample*> latest;
  for (const JournalSample& a : m_attempts) latest[a.number] = &a;
  // The cells after `note` of planned sample `p`, whose attempt `a` is its last (or, for a row not run, none).
  const auto labCells = [&](const Planned& p, bool lastAttempt, nlohmann::ordered_json* j) {
    const bool injects = p.sample->action == RowAction::kInject;
    const std::string suitability = SuitabilityCell(static_cast<std::size_t>(p.number - 1));
    const auto found = lastAttempt ? m_calibration.injections.find(p.number) : m_calibration.injections.end();
    const InjectionQuantities* q = found == m_calibration.injections.end() ? nullptr : &found->second;
    std::string cells = "," + std::string(injects ? SampleTypeName(p.sample->type) : "") + "," +
                        CsvCell(p.sample->level) + "," + CsvCell(suitability) + "," + CsvCell(q ? q->bracket : "");
    nlohmann::ordered_json concentrations = nlohmann::ordered_json::object();
    for (const std::string& compound : m_calibration.compounds) {
      const auto c = q ? q->concentrations.find(compound) : std::map<std::string, double>::const_iterator();
      const bool has = q && c != q->concentrations.end();
      cells += "," + (has ? Fixed(c->second, 3) : std::string());
      if (has) concentrations[compound] = std::stod(Fixed(c->second, 3));
    }
    if (j) {
      (*j)["type"] = injects ? nlohmann::ordered_json(SampleTypeName(p.sample->type)) : nlohmann::ordered_json();
      (*j)["level"] = p.sample->level.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(p.sample->level);
      (*j)["suitability"] = suitability.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(suitability);
      (*j)["bracket"] = !q || q->bracket.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(q->bracket);
      if (!m_calibration.compounds.empty()) (*j)["concentrations_mg_l"] = concentrations;
    }
    return cells;
  };
  // The rows that did not run, where the sequence stopped.
  const auto notRunRows = [&](std::size_t attempts) {
    for (const NotRun& n : m_notRun) {
      if (n.afterAttempts != attempts) continue;
      const Planned& p = m_planned[n.planned];
      const bool injects = p.sample->action == RowAction::kInject;
      csv += std::to_string(p.number) + "," + std::to_string(p.row) + "," + CsvCell(p.sample->name) + "," +
             CsvCell(p.sample->method) + "," + (injects ? std::to_string(p.sample->vial) : "") + "," +
             (injects ? VolumeText(p.sample->volumeUl) : "") + "," + std::to_string(p.injection) +
             ",,,,not run," + CsvCell(n.reason) + ",,,,,,," + RowActionName(p.sample->action) + "," +
             CsvCell(p.sample->note) + labCells(p, false, nullptr) + "\n";
    }
  };
  for (std::size_t index = 0; index < m_attempts.size(); ++index) {
    if (!m_notRun.empty()) notRunRows(index);
    const JournalSample& a = m_attempts[index];
    if (a.number < 1 || a.number > static_cast<int>(m_planned.size())) continue;
    const Planned& p = m_planned[static_cast<std::size_t>(a.number - 1)];
    const bool injects = p.sample->action == RowAction::kInject;
    const std::string result = !a.hasEnded || a.result == "interrupted" ? "interrupted"
                               : a.good                                  ? "good"
                               : a.result == "not-ready"                 ? "not ready"
                                                                         : "failed";
    const std::string reason = a.hasEnded ? (a.good ? "" : a.outcome)
                                          : "the sequence stopped while this sample ran";
    const bool json = justEnded == &p && &a == &m_attempts.back() && m_ui.ShowsJson();
    nlohmann::ordered_json j;
    const std::string lab = labCells(p, latest[a.number] == &a, json ? &j : nullptr);
    csv += std::to_string(p.number) + "," + std::to_string(p.row) + "," + CsvCell(p.sample->name) + "," +
           CsvCell(p.sample->method) + "," + (injects ? std::to_string(p.sample->vial) : "") + "," +
           (injects ? VolumeText(p.sample->volumeUl) : "") + "," +
           std::to_string(p.injection) + "," + CsvCell(a.folder) + "," + a.started + "," + a.ended + "," + result +
           "," + CsvCell(reason) + "," + a.peakBar + "," + a.injectedMinutes + "," + a.injectedBar + "," +
           a.injectedOvenC + "," + a.waitedMinutes + "," + a.equilibratedMl + "," + RowActionName(p.sample->action) + "," +
           CsvCell(p.sample->note) + lab + "\n";
    if (json) {
      nlohmann::ordered_json row;
      row["number"] = p.number;
      row["row"] = p.row;
      row["sample"] = p.sample->name;
      row["method"] = p.sample->method;
      row["vial"] = p.sample->vial;
      row["volume_ul"] = p.sample->volumeUl;
      row["injection"] = p.injection;
      row["folder"] = a.folder;
      row["start"] = a.started;
      row["end"] = a.ended;
      row["result"] = result;
      row["reason"] = reason;
      row["peak_bar"] = a.peakBar.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(std::stod(a.peakBar));
      for (auto& [key, value] : j.items()) row[key] = value;
      m_ui.JsonObject(row.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
  }
  if (!m_notRun.empty()) notRunRows(m_attempts.size());
  const std::filesystem::path file = m_folder.Path() / "sequence.csv";
  if (const std::string error = WriteFileWhole(file, csv); !error.empty()) {
    m_ui.Failure("could not write " + file.string() + ": " + error);
    m_tableFailed = true;
  }
  if (m_lab) WriteLabFiles();
  // The peak tables of every sample's last attempt.
  const std::map<int, const JournalSample*>& last = latest;
  std::string areas = "number,sample," + PeaksCsv({});
  bool any = false;
  for (const auto& [number, a] : last) {
    if (number < 1 || number > static_cast<int>(m_planned.size()) || !a->hasEnded) continue;
    const std::string prefix =
        std::to_string(number) + "," + CsvCell(m_planned[static_cast<std::size_t>(number - 1)].sample->name) + ",";
    const std::string& table = PeakTable(a->folder);
    for (std::size_t from = 0, end; from < table.size(); from = end + 1) {
      end = table.find('\n', from);
      if (end == std::string::npos) end = table.size();
      areas += prefix + table.substr(from, end - from) + "\n";
      any = true;
    }
  }
  WriteReport(last);
  if (!any) return;
  const std::filesystem::path areasFile = m_folder.Path() / "areas.csv";
  if (const std::string error = WriteFileWhole(areasFile, areas); !error.empty()) {
    m_ui.Failure("could not write " + areasFile.string() + ": " + error);
    m_tableFailed = true;
  }
}

const std::vector<std::pair<std::string, double>>& Sequence::Areas(const std::string& folder) {
  const auto found = m_areas.find(folder);
  if (found != m_areas.end()) return found->second;
  std::vector<std::pair<std::string, double>>& areas = m_areas[folder];
  const std::string& table = PeakTable(folder);
  for (std::size_t from = 0, end; from < table.size(); from = end + 1) {
    end = table.find('\n', from);
    if (end == std::string::npos) end = table.size();
    // peak,compound,retention_min,width_min,height_mau,area_mau_s,...
    const std::vector<std::string> cells = CsvCells(table.substr(from, end - from));
    if (cells.size() < 6) continue;
    char* stop = nullptr;
    const double area = std::strtod(cells[5].c_str(), &stop);
    areas.emplace_back(cells[1], !cells[5].empty() && *stop == '\0' ? area : NAN);
  }
  return areas;
}

bool Sequence::HasReport(const std::string& folder) {
  const auto found = m_reports.find(folder);
  if (found != m_reports.end()) return found->second;
  std::error_code ec;
  return m_reports[folder] = !folder.empty() && std::filesystem::is_regular_file(m_folder.Path() / folder / "report.html", ec);
}

// The page of the sequence: its samples' areas, each linking to its run's
// page. The calibration and suitability sections are left empty here.
void Sequence::WriteReport(const std::map<int, const JournalSample*>& last) {
  SequenceReport report;
  report.title = "Sequence " + m_listPath.filename().string();
  int good = 0, ended = 0;
  for (const auto& [number, a] : last) ended += a->hasEnded ? 1 : 0, good += a->hasEnded && a->good ? 1 : 0;
  const std::filesystem::path& dir = m_folder.Path();
  report.subtitle = (dir.has_filename() ? dir.filename() : dir.parent_path().filename()).string() + " \u2014 " +
                    std::to_string(ended) + " of " +
                    std::to_string(m_planned.size()) + " samples ended, " + std::to_string(good) + " good; " +
                    TransportName(m_transport) + " transport; " + NowText(false);
  std::map<std::string, std::size_t> column;
  for (const auto& [number, a] : last) {
    if (number < 1 || number > static_cast<int>(m_planned.size())) continue;
    const SampleRow& row = *m_planned[static_cast<std::size_t>(number - 1)].sample;
    SequenceReportRow r;
    r.number = number;
    const Planned& planned = m_planned[static_cast<std::size_t>(number - 1)];
    r.sample = row.name + (row.injections > 1 ? ", injection " + std::to_string(planned.injection) : "");
    r.type = RowActionName(row.action);
    r.result = !a->hasEnded || a->result == "interrupted" ? "interrupted"
               : a->good                                  ? "good"
               : a->result == "not-ready"                 ? "not ready"
                                                          : "failed";
    if (HasReport(a->folder)) r.link = RelativeLink(a->folder, "report.html");
    if (a->hasEnded) {
      for (const auto& [compound, area] : Areas(a->folder)) {
        const auto [at, added] = column.try_emplace(compound, report.compounds.size());
        if (added) report.compounds.push_back(compound);
        if (r.areas.size() <= at->second) r.areas.resize(at->second + 1, NAN);
        r.areas[at->second] = area;
      }
    }
    report.rows.push_back(std::move(r));
  }
  const std::filesystem::path file = m_folder.Path() / "report.html";
  if (const std::string error = WriteFileWhole(file, RenderSequenceReport(report)); !error.empty()) {
    m_ui.Failure("could not write " + file.string() + ": " + error);
    m_tableFailed = true;
  }
}

const std::string& Sequence::PeakTable(const std::string& folder) {
  const auto found = m_peakTables.find(folder);
  if (found != m_peakTables.end()) return found->second;
  std::string& table = m_peakTables[folder];
  std::ifstream in(Dir() / folder / "peaks.csv", std::ios::binary);
  std::string line;
  if (!std::getline(in, line)) return table;  // no table, or only its header
  while (std::getline(in, line)) table += line + "\n";
  return table;
}

// sequence.svg: the last attempt of every sample that ran.
bool Sequence::WriteChart() {
  const std::filesystem::path& dir = m_folder.Path();
  std::vector<SequenceChartSample> chart;
  std::map<int, const JournalSample*> last;
  for (const JournalSample& a : m_attempts) last[a.number] = &a;
  for (const auto& [number, a] : last) {
    if (number < 1 || number > static_cast<int>(m_planned.size())) continue;
    const SampleRow& row = *m_planned[static_cast<std::size_t>(number - 1)].sample;
    chart.push_back({number, row.name, row.method, a->hasEnded && a->good, dir / a->folder / "status.csv"});
  }
  const std::string svg = RenderSequenceSvg("Sequence " + m_listPath.filename().string(), chart);
  if (const std::string error = WriteFileWhole(dir / "sequence.svg", svg); !error.empty()) {
    m_ui.Failure("could not write " + (dir / "sequence.svg").string() + ": " + error);
    return false;
  }
  return true;
}

int Sequence::Finish() {
  m_session->Close();
  const std::filesystem::path& dir = m_folder.Path();
  bool writeFailed = !WriteChart() || m_tableFailed;
  if (m_o.trace && !m_trace.Stop(m_ui)) writeFailed = true;
  std::map<int, const JournalSample*> last;
  for (const JournalSample& a : m_attempts) last[a.number] = &a;
  int good = 0;
  for (const auto& [number, a] : last) good += a->hasEnded && a->good ? 1 : 0;
  const int total = static_cast<int>(m_planned.size());
  if (StopSignal() != 0) {
    m_ui.Failure("the sequence was interrupted; the instruments were stopped. " + std::to_string(good) + " of " +
                 std::to_string(total) + " samples have ended good. Resume with: quarn-host sequence " +
                 m_listPath.string() + " --resume " + dir.string());
    return StopExitCode();
  }
  if (m_stoppedAt) {
    m_ui.Failure("the sequence stopped after sample " + std::to_string(m_stoppedAt->number) + " of " +
                 std::to_string(total) + " (row " + std::to_string(m_stoppedAt->row) + ", " +
                 EscapeControls(m_stoppedAt->sample->name) + ") failed; the instruments were stopped. When the cause " +
                 "is fixed, resume from sample " + std::to_string(m_stoppedAt->number) + " with: quarn-host sequence " +
                 m_listPath.string() + " --resume " + dir.string());
    return 1;
  }
  if (m_unsuitable) {
    const SuitabilityResult& r = m_checked[*m_unsuitable];
    m_ui.Failure("the sequence stopped after sample " + std::to_string(r.last) + " of " + std::to_string(total) +
                 ": the system suitability of samples " + std::to_string(r.first) + " to " + std::to_string(r.last) +
                 " failed (" + SuitabilityText(r).substr(6) + "); the instruments were stopped. When the cause is "
                 "fixed, resume with: quarn-host sequence " + m_listPath.string() + " --resume " + dir.string() +
                 " (the suitability injections run again)");
    return 1;
  }
  std::string memory;
  if (m_warmKb > 0) {
    memory = "; resident memory after sample " + std::to_string(m_first + kWarmUpSamples) + ": " +
             std::to_string(m_warmKb) + " kB, at most " + (m_growthKb >= 0 ? "+" : "") + std::to_string(m_growthKb) +
             " kB later";
  }
  m_ui.Note("The sequence has ended: " + std::to_string(good) + " of " + std::to_string(total) + " samples good" +
            memory + ". Files in " + dir.string() + ": sequence.csv, report.html, sequence.svg, journal.txt" +
            (m_calibrationCsv.empty() ? "" : ", calibration.csv") + (m_suitabilityCsv.empty() ? "" : ", suitability.csv") +
            (m_o.trace ? std::string(", ") + m_trace.FileName() : "") + " and a folder per sample.");
  if (good < total) return m_ui.Fail(std::to_string(total - good) + " of " + std::to_string(total) + " samples failed; sequence.csv says why");
  for (const auto& [b, r] : m_checked) {
    if (r.passed) continue;
    return m_ui.Fail("the system suitability of samples " + std::to_string(r.first) + " to " + std::to_string(r.last) +
                     " failed (" + SuitabilityText(r).substr(6) + "); the samples after it ran (--if-unsuitable "
                     "continue), and sequence.csv marks them");
  }
  if (m_o.memoryCheck && m_warmKb > 0 && m_growthKb > kFlatKb) {
    return m_ui.Fail("resident memory grew " + std::to_string(m_growthKb) + " kB after sample " +
                std::to_string(m_first + kWarmUpSamples) + " (at most " + std::to_string(kFlatKb) + " kB allowed)");
  }
  return writeFailed ? 1 : 0;
}

int Sequence::Run() {
  // A resumed sequence goes on on the transport it started with.
  std::optional<Transport> asked = m_o.transport;
  if (m_o.resume) {
    std::string error;
    const std::optional<JournalContents> journal = ReadJournal(*m_o.resume / "journal.txt", error);
    if (!journal) return m_ui.Fail("cannot resume: " + error);
    const Transport started = journal->transport == "server" ? Transport::kServer : Transport::kDirect;
    if (asked && *asked != started) {
      return m_ui.Fail("cannot resume on the " + std::string(TransportName(*asked)) + " transport: the sequence in " +
                  m_o.resume->string() + " started on the " + TransportName(started) + " transport");
    }
    asked = started;
  }
  if (const std::string why = TakeTransport(asked, m_transport); !why.empty()) return m_ui.Fail(why);
  m_session = std::make_unique<SampleSession>(m_transport, m_o.simulated, m_ui, true);
  m_listPath = m_o.list;
  if (!CheckList() || !CheckFaults()) return 1;
  if (m_o.resume && !Resume()) return 1;
  if (m_first >= m_planned.size()) {
    // A kill after the last end was journaled, before its row was written,
    // leaves the table behind the journal: the summaries are written anew.
    if (!PrepareFolder()) return 1;
    m_ui.Note("Every sample of " + m_listPath.string() + " has run in " + m_folder.Path().string() +
              "; nothing is left to run.");
    RecallChecks();
    WriteTables(nullptr);
    return Finish();
  }
  if (!PrepareFolder()) return 1;
  UseRunClock(m_o.virtualTime, m_o.speed, m_transport, m_o.keepSimulatorLogs);
  m_ui.Note("Sequence folder: " + m_folder.Path().string());
  if (m_o.mode == OutputMode::kJson) {
    std::fprintf(stderr, "quarn-host: sequence folder: %s\n", EscapeControls(m_folder.Path().string()).c_str());
  }
  m_ui.Note("Running " + std::to_string(m_planned.size() - m_first) + " of " + std::to_string(m_planned.size()) +
            " samples of " + EscapeControls(m_listPath.string()) + " on the " + TransportName(m_transport) +
            " transport" + (m_o.resume ? " (as it started)" : m_o.transport ? " (--transport)" : " (the transport setting)") +
            ", on error: " +
            (m_o.skipFailed ? "skip the sample" : "stop") + ".");
  RecallChecks();
  WriteTables(nullptr);
  // What cannot be recorded is not run, from the first sample on.
  if (m_tableFailed) return m_ui.Fail("nothing was run: the sequence's records cannot be written in " + m_folder.Path().string());
  bool finished = true;
  for (std::size_t i = m_first; i < m_planned.size(); ++i) {
    if (m_lab && !CheckSuitabilityBefore(i)) {
      finished = false;
      break;
    }
    if (m_lab) ShowCalibration(i);
    const bool good = RunSample(m_planned[i]);
    if (m_lab && good) ShowBracket(m_planned[i]);
    if (StopSignal() != 0) {
      finished = false;
      break;
    }
    if (!good && (!m_o.skipFailed || m_recordFailed)) {
      m_stoppedAt = &m_planned[i];
      // The list's shutdown row runs when the sequence stops on a failure too.
      const Planned& last = m_planned.back();
      if (&last != m_stoppedAt && last.sample->action == RowAction::kShutdown) {
        m_ui.Note("The sequence stops; its last row shuts the instruments down.");
        RunSample(last);
      }
      finished = false;
      break;
    }
  }
  // A block of suitability injections at the end of the list is checked too.
  if (m_lab && finished) CheckSuitabilityBefore(m_planned.size());
  return Finish();
}

}  // namespace

int SequenceCommand(const SequenceOptions& options, TerminalUi& ui) {
  ClearStop();
  return Sequence(options, ui).Run();
}

}  // namespace host
