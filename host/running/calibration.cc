#include "host/running/calibration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "host/outputs/run_log.h"
#include "host/text/number_text.h"

namespace host {

namespace {

// `value` with `digits` significant digits, as a spreadsheet reads it.
std::string Significant(double value, int digits) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*g", digits, value);
  return text;
}

std::string Signed(double value, int decimals) { return (value >= 0.0 ? "+" : "") + Fixed(value, decimals); }

// "2 %" or "2.5 %".
std::string Percent(double value) { return Significant(value, 3) + " %"; }

}  // namespace

std::optional<LineFit> FitLine(const std::vector<double>& x, const std::vector<double>& y) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n < 2) return std::nullopt;
  double mx = 0.0, my = 0.0;
  for (std::size_t i = 0; i < n; ++i) mx += x[i], my += y[i];
  mx /= static_cast<double>(n);
  my /= static_cast<double>(n);
  double sxx = 0.0, sxy = 0.0, syy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sxx += (x[i] - mx) * (x[i] - mx);
    sxy += (x[i] - mx) * (y[i] - my);
    syy += (y[i] - my) * (y[i] - my);
  }
  if (!(sxx > 0.0)) return std::nullopt;
  LineFit fit;
  fit.slope = sxy / sxx;
  fit.intercept = my - fit.slope * mx;
  double ssRes = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double r = y[i] - (fit.slope * x[i] + fit.intercept);
    ssRes += r * r;
  }
  fit.r2 = syy > 0.0 ? 1.0 - ssRes / syy : 1.0;
  return fit;
}

std::optional<double> CalibrationLine::ConcentrationOf(double area) const {
  if (!fit || !(fit->slope > 0.0)) return std::nullopt;
  return (area - fit->intercept) / fit->slope;
}

std::string LineText(const CalibrationLine& line) {
  if (!line.fit) return line.problem;
  return "area = " + Significant(line.fit->slope, 6) + " x mg/l " + (line.fit->intercept < 0 ? "- " : "+ ") +
         Significant(std::fabs(line.fit->intercept), 4) + ", r2 " + Fixed(line.fit->r2, 7) + ", " +
         std::to_string(line.points.size()) + " points" + (line.problem.empty() ? "" : "; " + line.problem);
}

CalibrationResults Calibrate(const std::vector<LabInjection>& injections, double driftLimitPercent) {
  CalibrationResults results;
  results.driftLimitPercent = driftLimitPercent;
  std::vector<std::string> methods;
  for (const LabInjection& i : injections) {
    if (std::find(methods.begin(), methods.end(), i.method) == methods.end()) methods.push_back(i.method);
  }
  std::set<std::string> allCompounds;
  for (const std::string& method : methods) {
    std::vector<const LabInjection*> own;
    for (const LabInjection& i : injections) {
      if (i.method == method) own.push_back(&i);
    }
    // The calibration block: the standards before the method's first unknown.
    std::size_t firstUnknown = own.size();
    for (std::size_t k = 0; k < own.size(); ++k) {
      if (own[k]->type == SampleType::kUnknown) {
        firstUnknown = k;
        break;
      }
    }
    std::set<std::string> compounds;
    for (std::size_t k = 0; k < firstUnknown; ++k) {
      if (own[k]->type != SampleType::kStandard) continue;
      for (const auto& [compound, mgPerL] : own[k]->contents) compounds.insert(compound);
    }
    const std::size_t firstLine = results.lines.size();
    for (const std::string& compound : compounds) {
      allCompounds.insert(compound);
      CalibrationLine line;
      line.method = method;
      line.compound = compound;
      std::vector<double> x, y;
      for (std::size_t k = 0; k < firstUnknown; ++k) {
        const LabInjection& s = *own[k];
        if (s.type != SampleType::kStandard || !s.measured) continue;
        const double concentration = s.Concentration(compound);
        const MeasuredPeak* peak = s.Peak(compound);
        if (concentration < 0.0 || !peak || !peak->areaMauS) continue;
        line.points.push_back({s.number, s.sample, s.level, concentration, *peak->areaMauS, 0.0});
        x.push_back(concentration);
        y.push_back(*peak->areaMauS);
      }
      line.fit = FitLine(x, y);
      if (line.points.empty()) {
        line.problem = "no standard of the calibration block has a result yet";
      } else if (!line.fit) {
        line.problem = "the standards with results give one concentration only; a line needs two";
      } else if (!(line.fit->slope > 0.0)) {
        line.problem = "the line does not rise (slope " + Significant(line.fit->slope, 4) +
                       "): no concentration is read from it";
      }
      if (line.fit) {
        for (CalibrationPoint& point : line.points) point.predicted = line.fit->slope * point.concentration + line.fit->intercept;
      }
      results.lines.push_back(std::move(line));
    }
    const auto lineOf = [&](const std::string& compound) -> CalibrationLine* {
      for (std::size_t l = firstLine; l < results.lines.size(); ++l) {
        if (results.lines[l].compound == compound) return &results.lines[l];
      }
      return nullptr;
    };
    // Every injection's concentrations, from its method's lines.
    for (const LabInjection* i : own) {
      if (!i->measured) continue;
      for (const MeasuredPeak& peak : i->peaks) {
        const CalibrationLine* line = lineOf(peak.compound);
        if (!line || !peak.areaMauS) continue;
        if (const std::optional<double> c = line->ConcentrationOf(*peak.areaMauS)) {
          results.injections[i->number].concentrations[peak.compound] = *c;
        }
      }
    }
    // Bracketing standards against the lines; each marks the unknowns
    // since the method's previous standard.
    std::vector<int> pending;  // unknowns since the last standard
    for (std::size_t k = 0; k < own.size(); ++k) {
      const LabInjection& s = *own[k];
      if (s.type == SampleType::kUnknown) pending.push_back(s.number);
      if (s.type != SampleType::kStandard) continue;
      if (k < firstUnknown) {
        pending.clear();
        continue;
      }
      if (!s.ended) break;  // the rest has not run yet
      std::string mark;
      const std::string which = s.sample + ", sample " + std::to_string(s.number);
      if (!s.measured) {
        mark = "not checked: the bracketing standard (" + which + ") has no results";
      } else {
        std::string drifts, checked;
        for (const auto& [compound, mgPerL] : s.contents) {
          CalibrationLine* line = lineOf(compound);
          const MeasuredPeak* peak = s.Peak(compound);
          if (!line || !line->fit || !peak || !peak->areaMauS) continue;
          BracketPoint b;
          b.point = {s.number, s.sample, s.level, mgPerL, *peak->areaMauS,
                     line->fit->slope * mgPerL + line->fit->intercept};
          b.within = std::fabs(b.point.ResidualPercent()) <= driftLimitPercent;
          line->brackets.push_back(b);
          checked += (checked.empty() ? "" : ", ") + compound;
          if (!b.within) drifts += (drifts.empty() ? "" : ", ") + compound + " " + Signed(b.point.ResidualPercent(), 1) + " %";
        }
        mark = checked.empty()      ? "not checked: the bracketing standard (" + which + ") has no compound with a line"
               : drifts.empty()     ? "within " + Percent(driftLimitPercent) + " (" + which + ")"
                                    : "drift " + drifts + " (limit " + Percent(driftLimitPercent) + "; " + which + ")";
      }
      for (const int number : pending) results.injections[number].bracket = mark;
      pending.clear();
    }
  }
  results.compounds.assign(allCompounds.begin(), allCompounds.end());
  return results;
}

std::string CalibrationCsv(const CalibrationResults& results) {
  std::string csv =
      "method,compound,slope,intercept,r2,points,role,number,sample,level,concentration_mg_l,area_mau_s,"
      "predicted_mau_s,residual_mau_s,residual_percent,within_limit,note\n";
  for (const CalibrationLine& line : results.lines) {
    const std::string head = CsvQuoted(line.method) + "," + CsvQuoted(line.compound) + "," +
                             (line.fit ? Significant(line.fit->slope, 8) + "," + Significant(line.fit->intercept, 8) +
                                             "," + Fixed(line.fit->r2, 8)
                                       : std::string(",,")) +
                             "," + std::to_string(line.points.size()) + ",";
    const auto row = [&](const char* role, const CalibrationPoint& p, const std::string& within) {
      csv += head + role + "," + std::to_string(p.number) + "," + CsvQuoted(p.sample) + "," + CsvQuoted(p.level) + "," +
             Significant(p.concentration, 8) + "," + Fixed(p.area, 2) + "," +
             (line.fit ? Fixed(p.predicted, 2) + "," + Fixed(p.Residual(), 2) + "," + Fixed(p.ResidualPercent(), 2)
                       : std::string(",,")) +
             "," + within + "," + CsvQuoted(line.problem) + "\n";
    };
    if (line.points.empty()) csv += head + ",,,,,,,,,," + CsvQuoted(line.problem) + "\n";
    for (const CalibrationPoint& p : line.points) row("calibration", p, "");
    for (const BracketPoint& b : line.brackets) row("bracket", b.point, b.within ? "yes" : "no");
  }
  return csv;
}

}  // namespace host
