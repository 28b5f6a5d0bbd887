#include "host/cli/sequence.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/cli/commands.h"
#include "host/inputs/acceptance_criteria.h"
#include "host/inputs/sample_list.h"
#include "host/outputs/chromatogram.h"
#include "host/outputs/report.h"
#include "host/outputs/run_folder.h"
#include "host/outputs/sequence_chart.h"
#include "host/outputs/sequence_journal.h"
#include "host/running/calibration.h"
#include "host/running/suitability.h"
#include "host/system/host_system.h"
#include "host/text/display_text.h"
#include "host/text/number_text.h"

namespace host {

namespace {

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

// What became of an attempt, as the tables write it.
std::string ResultText(const JournalSample& a) {
  return !a.hasEnded || a.result == "interrupted" ? "interrupted"
         : a.good                                  ? "good"
         : a.result == "not-ready"                 ? "not ready"
                                                   : "failed";
}

}  // namespace

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
  for (const std::string& compound : m_calibration.compounds) csv += "," + CsvQuoted(compound + "_mg_l");
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
                        CsvQuoted(p.sample->level) + "," + CsvQuoted(suitability) + "," + CsvQuoted(q ? q->bracket : "");
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
      csv += std::to_string(p.number) + "," + std::to_string(p.row) + "," + CsvQuoted(p.sample->name) + "," +
             CsvQuoted(p.sample->method) + "," + (injects ? std::to_string(p.sample->vial) : "") + "," +
             (injects ? VolumeText(p.sample->volumeUl) : "") + "," + std::to_string(p.injection) +
             ",,,,not run," + CsvQuoted(n.reason) + ",,,,,,," + RowActionName(p.sample->action) + "," +
             CsvQuoted(p.sample->note) + labCells(p, false, nullptr) + "\n";
    }
  };
  for (std::size_t index = 0; index < m_attempts.size(); ++index) {
    if (!m_notRun.empty()) notRunRows(index);
    const JournalSample& a = m_attempts[index];
    if (a.number < 1 || a.number > static_cast<int>(m_planned.size())) continue;
    const Planned& p = m_planned[static_cast<std::size_t>(a.number - 1)];
    const bool injects = p.sample->action == RowAction::kInject;
    const std::string result = ResultText(a);
    const std::string reason = a.hasEnded ? (a.good ? "" : a.outcome)
                                          : "the sequence stopped while this sample ran";
    const bool json = justEnded == &p && &a == &m_attempts.back() && m_ui.ShowsJson();
    nlohmann::ordered_json j;
    const std::string lab = labCells(p, latest[a.number] == &a, json ? &j : nullptr);
    csv += std::to_string(p.number) + "," + std::to_string(p.row) + "," + CsvQuoted(p.sample->name) + "," +
           CsvQuoted(p.sample->method) + "," + (injects ? std::to_string(p.sample->vial) : "") + "," +
           (injects ? VolumeText(p.sample->volumeUl) : "") + "," +
           std::to_string(p.injection) + "," + CsvQuoted(a.folder) + "," + a.started + "," + a.ended + "," + result +
           "," + CsvQuoted(reason) + "," + a.peakBar + "," + a.injectedMinutes + "," + a.injectedBar + "," +
           a.injectedOvenC + "," + a.waitedMinutes + "," + a.equilibratedMl + "," + RowActionName(p.sample->action) + "," +
           CsvQuoted(p.sample->note) + lab + "\n";
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
        std::to_string(number) + "," + CsvQuoted(m_planned[static_cast<std::size_t>(number - 1)].sample->name) + ",";
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

const std::vector<MeasuredPeak>& Sequence::Peaks(const std::string& folder) {
  const auto found = m_peaks.find(folder);
  if (found != m_peaks.end()) return found->second;
  return m_peaks[folder] = ReadPeakRows(PeakTable(folder));
}

bool Sequence::HasReport(const std::string& folder) {
  const auto found = m_reports.find(folder);
  if (found != m_reports.end()) return found->second;
  std::error_code ec;
  return m_reports[folder] = !folder.empty() && std::filesystem::is_regular_file(m_folder.Path() / folder / "report.html", ec);
}

// The page of the sequence: its samples' areas, each linking to its run's
// page, and for a list with standards or suitability injections the
// concentrations, the calibration lines and the suitability checks.
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
  // A compound's column, by its name as the peak tables write it; the
  // calibration's names are in lower case.
  std::map<std::string, std::size_t> column;
  const auto columnOf = [&](const std::string& compound) {
    std::string lower = compound;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto [at, added] = column.try_emplace(lower, report.compounds.size());
    if (added) report.compounds.push_back(compound);
    return at->second;
  };
  const auto put = [](std::vector<double>& cells, std::size_t at, double value) {
    if (cells.size() <= at) cells.resize(at + 1, NAN);
    cells[at] = value;
  };
  const auto rowOf = [&](const Planned& planned) {
    const SampleRow& row = *planned.sample;
    SequenceReportRow r;
    r.number = planned.number;
    r.sample = row.name + (row.injections > 1 ? ", injection " + std::to_string(planned.injection) : "");
    r.type = row.action == RowAction::kInject ? SampleTypeName(row.type) : RowActionName(row.action);
    return r;
  };
  std::vector<std::pair<int, SequenceReportRow>> rows;
  for (const auto& [number, a] : last) {
    if (number < 1 || number > static_cast<int>(m_planned.size())) continue;
    SequenceReportRow r = rowOf(m_planned[static_cast<std::size_t>(number - 1)]);
    r.result = ResultText(*a);
    if (HasReport(a->folder)) r.link = RelativeLink(a->folder, "report.html");
    if (a->hasEnded) {
      for (const MeasuredPeak& peak : Peaks(a->folder)) put(r.areas, columnOf(peak.compound), peak.areaMauS.value_or(NAN));
    }
    if (const auto q = m_calibration.injections.find(number); q != m_calibration.injections.end()) {
      for (const auto& [compound, mgPerL] : q->second.concentrations) put(r.quantities, columnOf(compound), mgPerL);
      if (q->second.bracket.rfind("within", 0) != 0) r.mark = q->second.bracket;
    }
    if (r.mark.empty()) r.mark = SuitabilityCell(static_cast<std::size_t>(number - 1));
    // The last injection of a block carries its check: the section below
    // lists the criteria.
    if (r.mark.rfind("pass", 0) == 0) r.mark.clear();
    if (r.mark.rfind("fail", 0) == 0) r.mark = "the suitability check of its block failed";
    rows.emplace_back(number, std::move(r));
  }
  // The rows a failed suitability check kept from running.
  for (const NotRun& n : m_notRun) {
    SequenceReportRow r = rowOf(m_planned[n.planned]);
    r.result = "not run";
    r.mark = "stopped by the failed suitability check";
    rows.emplace_back(r.number, std::move(r));
  }
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& [number, r] : rows) report.rows.push_back(std::move(r));
  for (const CalibrationLine& line : m_calibration.lines) {
    if (!line.fit) continue;
    ReportedLine shown;
    shown.compound = m_calibration.lines.size() > 1 && line.method != m_calibration.lines.front().method
                         ? line.compound + " (" + line.method + ")"
                         : line.compound;
    shown.slope = line.fit->slope;
    shown.intercept = line.fit->intercept;
    shown.r2 = line.fit->r2;
    for (const CalibrationPoint& point : line.points) {
      shown.points.push_back({point.concentration, point.area});
      shown.residuals.push_back(point.Residual());
    }
    report.calibrations.push_back(std::move(shown));
  }
  for (const auto& [b, result] : m_checked) {
    const std::string samples = " (samples " + std::to_string(result.first) + "\u2013" + std::to_string(result.last) + ")";
    for (const CriterionResult& c : result.criteria) {
      const std::string unit = CriterionUnit(c.kind);
      std::string label = CriterionLabel(c.kind);
      label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
      report.suitability.push_back({label + " of " + c.subject + samples,
                                    (CriterionIsMinimum(c.kind) ? "\u2265 " : "\u2264 ") + LimitText(c) + unit,
                                    c.measured ? MeasuredText(c) + unit : "not measured: " + c.unmeasured, c.passed});
    }
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

}  // namespace host
