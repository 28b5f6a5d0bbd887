// status.svg: the run's pump and oven traces against time, the picture a
// chromatographer checks after a run.
//
// Four panels share one time axis: pressure (bar), composition (%B, and
// %C / %D when the method uses them), flow (ml/min) and oven temperature
// (degrees C, with the set point dashed when the oven is in use). Each
// panel has its own labelled axis, grid and legend.
// The chart keeps a bounded summary of the polls (ChartData), so that a
// run of any length draws in the same memory and to a file of about the
// same size.
// Thread safety: none; one thread at a time.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "host/outputs/run_log.h"

namespace host {

// The chart's texts, in UTF-8.
struct ChartInfo {
  std::string title;                   // e.g. the method name
  std::string subtitle;                // e.g. vial, volume, date
  std::optional<double> ovenSetPoint;  // degrees C, when the oven is used
  std::string outcome;                 // how the run ended, when not as planned (drawn in red)
};

// The values a chart draws, reduced as they come: the time axis is cut
// into at most `maxIntervals` equal intervals (each twice as long whenever
// the run outgrows them), and each interval keeps, for each value, its
// lowest and its highest reading with their times. Drawing those two
// points per interval shows every peak and dip that the picture's width
// can show.
class ChartData {
 public:
  enum Channel { kPressure, kPercentA, kPercentB, kPercentC, kPercentD, kFlow, kOven, kChannelCount };
  struct Point {
    double minutes = 0;
    double value = 0;
  };
  struct Extremes {
    Point low, high;
    bool any = false;
    bool failed = false;  // a reading failed here (not a number)
  };

  explicit ChartData(int maxIntervals = 1000);
  void Add(const PollRow& row);

  int Rows() const { return m_rows; }
  double LastMinutes() const { return m_lastMinutes; }
  // The readings of `channel` to draw, in time order (two per interval at
  // most); a point whose value is NaN breaks the line where readings
  // failed and nothing was read.
  std::vector<Point> Points(Channel channel) const;
  // The lowest and highest reading of `channel`; nullopt when it has none.
  std::optional<std::pair<double, double>> Range(Channel channel) const;

 private:
  using Interval = std::array<Extremes, kChannelCount>;
  void Merge();

  int m_maxIntervals;
  double m_intervalMinutes = 1.0 / 60;  // one poll a second fills one interval each
  std::vector<Interval> m_intervals;
  int m_rows = 0;
  double m_lastMinutes = 0;
};

std::string RenderStatusSvg(const ChartData& data, const ChartInfo& info);
std::string RenderStatusSvg(const std::vector<PollRow>& rows, const ChartInfo& info);

// A number with `decimals` decimals, as an SVG attribute or text.
std::string SvgNumber(double value, int decimals = 1);
// A UTF-8 text with markup escaped and control characters made blanks.
std::string SvgText(const std::string& text);

// The start of a chart's page: the <svg> element `width` by `height`, a
// white background, the title, the subtitle and (in red, when not empty)
// the outcome, at `left`.
std::string SvgPageStart(double width, double height, double left, const std::string& title,
                         const std::string& subtitle, const std::string& outcome);

// Tick positions between lo and hi at a 1-2-5 step giving about `count`
// ticks (exposed for tests).
std::vector<double> NiceTicks(double lo, double hi, int count);

}  // namespace host
