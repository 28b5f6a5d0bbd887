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
#include "host/cli/sequence.h"

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

}  // namespace

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
  m_peaks.erase(p.folder);
  m_reports[p.folder] = std::find(r.written.begin(), r.written.end(), "report.html") != r.written.end();
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


int SequenceCommand(const SequenceOptions& options, TerminalUi& ui) {
  ClearStop();
  return Sequence(options, ui).Run();
}

}  // namespace host
