#include "host/cli/sequence.h"

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/cli/commands.h"
#include "host/inputs/acceptance_criteria.h"
#include "host/inputs/sample_list.h"
#include "host/inputs/tray.h"
#include "host/outputs/run_folder.h"
#include "host/outputs/sequence_journal.h"
#include "host/running/calibration.h"
#include "host/running/suitability.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"

namespace host {

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
        i.peaks = Peaks(a.folder);
        for (MeasuredPeak& peak : i.peaks) {
          for (char& c : peak.compound) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
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

}  // namespace host
