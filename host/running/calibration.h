// Quantities from a sequence's standards: per method and compound, the
// least-squares line area = slope x concentration + intercept over the
// calibration block (the method's standards that the list runs before its
// first unknown), the concentrations of every injection read back from
// it, and each bracketing standard (a standard after an unknown) compared
// with it: when its area is further from the line's prediction than the
// limit, the unknowns since the method's previous standard are marked.
//
// The concentrations of a standard are what its sample description says
// (mg/l); the areas are the peak tables' (mAU s). An injection without
// results (not run yet, failed) is left out, so the results grow as the
// sequence runs and are worked out again whole each time.
// Pure functions; any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/running/lab_injection.h"

namespace host {

// The least-squares line through (x, y); nullopt with fewer than two
// distinct x. r2 is 1 - SSres / SStot (1 when every y is the same).
struct LineFit {
  double slope = 0.0, intercept = 0.0, r2 = 1.0;
};
std::optional<LineFit> FitLine(const std::vector<double>& x, const std::vector<double>& y);

struct CalibrationPoint {
  int number = 0;
  std::string sample, level;
  double concentration = 0.0;  // mg/l, as the description says
  double area = 0.0;           // mAU s, measured
  double predicted = 0.0;      // by the line (0 without one)
  double Residual() const { return area - predicted; }
  double ResidualPercent() const { return predicted != 0.0 ? (area - predicted) / predicted * 100.0 : 0.0; }
};

// A bracketing standard against the line.
struct BracketPoint {
  CalibrationPoint point;  // its residual is the drift
  bool within = true;      // |drift| at most the limit
};

struct CalibrationLine {
  std::string method, compound;
  std::vector<CalibrationPoint> points;     // the calibration block's, in the order they ran
  std::optional<LineFit> fit;               // nullopt: `problem` says why
  std::string problem;
  std::vector<BracketPoint> brackets;

  // The concentration of an area, mg/l; nullopt without a line.
  std::optional<double> ConcentrationOf(double area) const;
};

// What the results say of one injection.
struct InjectionQuantities {
  // compound -> mg/l from its method's line, for each compound with a
  // line whose peak the injection measured.
  std::map<std::string, double> concentrations;
  // An unknown's mark from the bracketing standard after it: "" while
  // none has run, "within 2 % (cal-3b, sample 16)" or
  // "drift caffeine +3.4 % (limit 2 %; cal-3b, sample 16)".
  std::string bracket;
};

struct CalibrationResults {
  double driftLimitPercent = 2.0;
  std::vector<CalibrationLine> lines;            // by method in the list's order, then compound by name
  std::map<int, InjectionQuantities> injections; // by number
  // The compounds with a line, by name: the columns of concentrations.
  std::vector<std::string> compounds;
};

// `injections`: every injection of the list in the order it runs (those
// without results too: the list, not what has run, says which standards
// belong to the calibration block).
CalibrationResults Calibrate(const std::vector<LabInjection>& injections, double driftLimitPercent);

// calibration.csv: a row per point of every line and per bracketing
// standard, the line's figures on each: method, compound, slope,
// intercept, r2, points, role (calibration or bracket), number, sample,
// level, concentration_mg_l, area_mau_s, predicted_mau_s, residual_mau_s,
// residual_percent, within_limit (a bracket's: yes or no), note (why a
// compound has no line). A compound with no point yet has one row with
// its note.
std::string CalibrationCsv(const CalibrationResults& results);

// "area = 28.81 x mg/l + 0.05, r2 0.99998, 5 points" or the problem.
std::string LineText(const CalibrationLine& line);

}  // namespace host
