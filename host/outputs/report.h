// report.html: the page a browser opens on a run folder or a sequence
// folder. One self-contained file that works offline: its style, its
// scripts (jQuery and Flot from Debian's libjs-jquery and
// libjs-jquery-flot, and the page's own host/outputs/report.js, all
// embedded at build time: host/outputs/report_assets.h) and its data are
// inside it, and nothing is loaded from anywhere else.
//
// A run's page: a heading (sample, method, vial, volume, the run's
// result), the chromatogram with each measured peak labelled (compound
// and retention time), the peak table (peaks.csv's values), and the
// pressure, composition and oven temperature on one time axis. Dragging
// over a chart zooms (the chromatogram in time and absorbance, a trace in
// time), every chart following the time range; a double click, or the
// "Whole run" button, shows the whole run again.
// A sequence's page: the areas of every sample (rows) and compound
// (columns), each sample linking to its run's page; and, when given, the
// quantities, the calibration lines (a chart of the points and the fitted
// line each, with the residuals) and the system suitability results. An
// empty section is left out.
//
// The numbers go into the page as JSON inside <script
// type="application/json">, with '<', '>' and '&' written as \u003c ...
// so that no text ends the script; every text in the HTML is escaped.
// Texts are UTF-8; a byte that is not is shown as U+FFFD, and control
// characters as blanks, so no name can break the page.
// When its scripts have run the page's <body> carries data-report="ready"
// (or "error", with the error shown on the page) and, on a run's page,
// data-peaks-drawn: the number of peaks labelled on the chromatogram (also
// the text of the element #peaks-drawn).
// Pure functions; any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/outputs/chromatogram.h"
#include "host/outputs/svg_chart.h"

namespace host {

// One run, as its page shows it. Texts UTF-8.
struct RunReport {
  std::string sample;     // the sample's name (a sequence's), else what the vial holds; "" when neither
  std::string method;     // the method's title
  std::string methodFile; // as the command line or the list names it
  std::string vial;       // "12"; "" for a row that injects nothing
  std::string volume;     // "5.00 µl"; "" likewise
  std::string action;     // "inject", "blank", ...
  std::string transport;  // "direct", "server"
  std::string date;       // when the run ended, local time
  std::string contents;   // what the vial holds, as the tray file says: "syrup-lot-2411: uracil 2 mg/l, ..."
  bool good = false;
  std::string verdict;    // the run's result, as the record's last line
  // The chromatogram: the detector's samples (mAU, one every `periodMin`
  // from the injection; NaN where nothing was read), or none, and then
  // `noChromatogram` says why.
  std::span<const double> signal;
  double periodMin = 0;
  int wavelengthNm = 0;
  std::vector<MeasuredPeak> peaks;
  std::string noChromatogram;
  // The pump and oven (the polls after the sample start), and the oven's
  // set point when the method uses the oven.
  const ChartData* traces = nullptr;
  std::optional<double> ovenSetPoint;
  double runLengthMin = 0;  // the method's; the time axis reaches at least this far
};

std::string RenderRunReport(const RunReport& run);

// One row of a sequence's table: a sample's last attempt.
struct SequenceReportRow {
  int number = 0;
  std::string sample;      // its name in the list
  std::string type;        // the sample's type: "inject", "blank", ... (later: "standard", "unknown", ...)
  std::string result;      // "good", "failed", ...; "" not shown
  std::string link;        // its run page relative to the sequence folder ("001-std_1/report.html"); "" none
  std::vector<double> areas;       // mAU·s per compound of SequenceReport::compounds; NaN (or missing) = none
  std::vector<double> quantities;  // per compound, in SequenceReport::quantityUnit; NaN (or missing) = none
  std::string mark;        // a flag on the row, e.g. a bracketing drift; "" none
};

// A compound's calibration line: area = slope * concentration + intercept.
struct ReportedLine {
  std::string compound;
  double slope = 0, intercept = 0, r2 = 0;
  struct Point {
    double concentration = 0;
    double area = 0;
  };
  std::vector<Point> points;
  std::vector<double> residuals;  // per point: its area less the line's; missing ones not shown
};

// One criterion of the system suitability test.
struct ReportedCriterion {
  std::string criterion;  // "Resolution paracetamol / theophylline"
  std::string limit;      // "≥ 2.0"
  std::string measured;   // "5.76"
  bool passed = false;
};

struct SequenceReport {
  std::string title;                   // "Sequence sample-list.csv"
  std::string subtitle;                // folder, transport, date
  std::vector<std::string> compounds;  // the table's columns, in order
  std::vector<SequenceReportRow> rows;
  std::string quantityUnit = "mg/l";   // of the quantities and the calibrations' concentrations
  std::vector<ReportedLine> calibrations;
  std::vector<ReportedCriterion> suitability;
};

std::string RenderSequenceReport(const SequenceReport& sequence);

// `text` (UTF-8) for HTML text and attributes: markup escaped, a byte
// that is not UTF-8 as U+FFFD, control characters as blanks (exposed for
// tests).
std::string HtmlText(const std::string& text);
// `text` as a JSON string safe inside <script>: quoted, with '<', '>',
// '&', U+2028 and U+2029 escaped, invalid UTF-8 as U+FFFD (exposed for
// tests).
std::string ScriptJsonString(const std::string& text);

}  // namespace host
