#include "host/outputs/svg_chart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "host/text/number_text.h"

namespace host {

std::string SvgNumber(double v, int decimals) {
  // Thousands of numbers a chart: the same digits as printf's at a
  // fraction of the cost.
  char buf[400];  // the longest double in fixed notation, with its decimals
  return std::string(buf, WriteFixed(buf, buf + sizeof buf, v, decimals));
}

std::string SvgPageStart(double width, double height, double left, const std::string& title,
                         const std::string& subtitle, const std::string& outcome) {
  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + SvgNumber(width, 0) + "\" height=\"" +
                    SvgNumber(height, 0) + "\" viewBox=\"0 0 " + SvgNumber(width, 0) + " " + SvgNumber(height, 0) +
                    "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\">\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  svg += "<text x=\"" + SvgNumber(left, 0) + "\" y=\"30\" font-size=\"20\" font-weight=\"bold\" fill=\"#222\">" +
         SvgText(title) + "</text>\n";
  svg += "<text x=\"" + SvgNumber(left, 0) + "\" y=\"52\" font-size=\"13\" fill=\"#555\">" + SvgText(subtitle) +
         "</text>\n";
  if (!outcome.empty()) {
    svg += "<text x=\"" + SvgNumber(left, 0) + "\" y=\"72\" font-size=\"13\" font-weight=\"bold\" fill=\"#c0392b\">" +
           SvgText(outcome) + "</text>\n";
  }
  return svg;
}

std::string SvgText(const std::string& text) {
  std::string r;
  for (char c : text) {
    switch (c) {
      case '&': r += "&amp;"; break;
      case '<': r += "&lt;"; break;
      case '>': r += "&gt;"; break;
      case '"': r += "&quot;"; break;
      default:
        r += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
    }
  }
  return r;
}

namespace {

std::string Num(double v, int decimals = 1) { return SvgNumber(v, decimals); }
std::string Xml(const std::string& text) { return SvgText(text); }

constexpr double kWidth = 960;
constexpr double kLeft = 90;     // room for tick labels and the axis title
constexpr double kRight = 170;   // room for the legends
constexpr double kTop = 84;      // title, subtitle and outcome
constexpr double kPanel = 150;   // height of one panel
constexpr double kGap = 22;      // between panels
constexpr double kBottom = 60;   // time axis labels and title


int DecimalsFor(double step) {
  if (step >= 1) return 0;
  return std::clamp(static_cast<int>(std::ceil(-std::log10(step))), 0, 4);
}

struct Series {
  std::string name;
  std::string colour;
  ChartData::Channel channel;
  bool dashed = false;
};

struct Panel {
  std::string axisTitle;
  std::vector<Series> series;
  std::optional<double> fixedLo, fixedHi;
  std::optional<double> reference;  // a dashed horizontal line
  std::string referenceName;
  double minSpan = 0;  // the axis covers at least this much, so noise stays small
};

}  // namespace

std::vector<double> NiceTicks(double lo, double hi, int count) {
  std::vector<double> ticks;
  if (!(hi > lo) || count < 1 || !std::isfinite(lo) || !std::isfinite(hi)) return ticks;
  const double raw = (hi - lo) / count;
  const double mag = std::pow(10.0, std::floor(std::log10(raw)));
  double step = mag;
  for (double m : {1.0, 2.0, 5.0, 10.0, 20.0}) {
    step = m * mag;
    if ((hi - lo) / step <= count + 1) break;
  }
  for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step) {
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
    if (ticks.size() > 100) break;
  }
  return ticks;
}

ChartData::ChartData(int maxIntervals) : m_maxIntervals(std::max(2, maxIntervals)) {}

void ChartData::Add(const PollRow& row) {
  const double t = std::isfinite(row.clockMinutes) && row.clockMinutes > 0 ? row.clockMinutes : 0.0;
  ++m_rows;
  m_lastMinutes = std::max(m_lastMinutes, t);
  while (t / m_intervalMinutes >= m_maxIntervals) Merge();
  const auto index = static_cast<std::size_t>(t / m_intervalMinutes);
  if (m_intervals.size() <= index) m_intervals.resize(index + 1);
  const double values[kChannelCount] = {row.pressure, row.percentA, row.percentB,     row.percentC,
                                        row.percentD, row.flow,     row.ovenTemperature};
  for (int c = 0; c < kChannelCount; ++c) {
    Extremes& e = m_intervals[index][static_cast<std::size_t>(c)];
    if (!std::isfinite(values[c])) {
      e.failed = true;
      continue;
    }
    if (!e.any || values[c] < e.low.value) e.low = {t, values[c]};
    if (!e.any || values[c] > e.high.value) e.high = {t, values[c]};
    e.any = true;
  }
}

void ChartData::Merge() {
  m_intervalMinutes *= 2;
  std::vector<Interval> merged((m_intervals.size() + 1) / 2);
  for (std::size_t i = 0; i < m_intervals.size(); ++i) {
    for (std::size_t c = 0; c < kChannelCount; ++c) {
      const Extremes& from = m_intervals[i][c];
      Extremes& to = merged[i / 2][c];
      to.failed = to.failed || from.failed;
      if (!from.any) continue;
      if (!to.any || from.low.value < to.low.value) to.low = from.low;
      if (!to.any || from.high.value > to.high.value) to.high = from.high;
      to.any = true;
    }
  }
  m_intervals.swap(merged);
}

std::vector<ChartData::Point> ChartData::Points(Channel channel) const {
  std::vector<Point> points;
  for (const Interval& interval : m_intervals) {
    const Extremes& e = interval[static_cast<std::size_t>(channel)];
    if (!e.any) {
      if (e.failed && !points.empty() && !std::isnan(points.back().value)) {
        points.push_back({points.back().minutes, std::numeric_limits<double>::quiet_NaN()});
      }
      continue;
    }
    const bool lowFirst = e.low.minutes <= e.high.minutes;
    points.push_back(lowFirst ? e.low : e.high);
    if (e.low.minutes != e.high.minutes || e.low.value != e.high.value) points.push_back(lowFirst ? e.high : e.low);
  }
  return points;
}

std::optional<std::pair<double, double>> ChartData::Range(Channel channel) const {
  std::optional<std::pair<double, double>> range;
  for (const Interval& interval : m_intervals) {
    const Extremes& e = interval[static_cast<std::size_t>(channel)];
    if (!e.any) continue;
    if (!range) range.emplace(e.low.value, e.high.value);
    range->first = std::min(range->first, e.low.value);
    range->second = std::max(range->second, e.high.value);
  }
  return range;
}

std::string RenderStatusSvg(const std::vector<PollRow>& rows, const ChartInfo& info) {
  ChartData data;
  for (const PollRow& row : rows) data.Add(row);
  return RenderStatusSvg(data, info);
}

std::string RenderStatusSvg(const ChartData& data, const ChartInfo& info) {
  // A channel is drawn when it delivered a share that status.csv shows
  // (0.05 % rounds to 0.1): the server transport reports a channel the
  // method does not use as a remainder a few millionths from 0.
  const auto uses = [&](ChartData::Channel c) {
    const auto range = data.Range(c);
    return range && (std::fabs(range->first) >= 0.05 || std::fabs(range->second) >= 0.05);
  };
  const bool usesC = uses(ChartData::kPercentC);
  const bool usesD = uses(ChartData::kPercentD);

  std::vector<Panel> panels;
  panels.push_back({"Pressure (bar)", {{"Pressure", "#1f4e9c", ChartData::kPressure}},
                    0.0, std::nullopt, std::nullopt, ""});
  Panel composition{"Composition (%)", {{"%B", "#d9731a", ChartData::kPercentB}},
                    0.0, 100.0, std::nullopt, ""};
  if (usesC) composition.series.push_back({"%C", "#2e8b57", ChartData::kPercentC});
  if (usesD) composition.series.push_back({"%D", "#7b3fa0", ChartData::kPercentD});
  composition.series.push_back({"%A", "#8c8c8c", ChartData::kPercentA, true});
  panels.push_back(composition);
  panels.push_back({"Flow (ml/min)", {{"Flow", "#138d90", ChartData::kFlow}}, 0.0,
                    std::nullopt, std::nullopt, ""});
  panels.push_back({"Oven (\u00b0C)", {{"Oven temperature", "#c0392b", ChartData::kOven}},
                    std::nullopt, std::nullopt, info.ovenSetPoint, "Set point", 10.0});

  const double height = kTop + panels.size() * kPanel + (panels.size() - 1) * kGap + kBottom;
  const double plotW = kWidth - kLeft - kRight;

  double tMax = data.LastMinutes();
  if (tMax <= 0) tMax = 1;
  const std::vector<double> tTicks = NiceTicks(0, tMax, 8);
  if (!tTicks.empty()) tMax = std::max(tMax, tTicks.back());
  const auto X = [&](double t) { return kLeft + t / tMax * plotW; };

  std::string svg = SvgPageStart(kWidth, height, kLeft, info.title, info.subtitle, info.outcome);

  for (size_t p = 0; p < panels.size(); ++p) {
    const Panel& panel = panels[p];
    const double top = kTop + p * (kPanel + kGap);
    const double bottom = top + kPanel;

    double lo = panel.fixedLo.value_or(1e300);
    double hi = panel.fixedHi.value_or(-1e300);
    for (const auto& s : panel.series) {
      if (const auto range = data.Range(s.channel)) {
        if (!panel.fixedLo) lo = std::min(lo, range->first);
        if (!panel.fixedHi) hi = std::max(hi, range->second);
      }
    }
    if (panel.reference) {
      if (!panel.fixedLo) lo = std::min(lo, *panel.reference);
      if (!panel.fixedHi) hi = std::max(hi, *panel.reference);
    }
    if (lo > hi) {
      lo = 0;
      hi = 1;
    }
    if (hi - lo < panel.minSpan) {
      const double middle = (hi + lo) / 2;
      lo = panel.fixedLo ? lo : middle - panel.minSpan / 2;
      hi = lo + panel.minSpan;
    }
    if (hi - lo < 1e-9) {
      hi = lo + (std::fabs(lo) > 1 ? std::fabs(lo) * 0.1 : 1.0);
      if (!panel.fixedLo) lo -= (hi - lo) * 0.5;
    }
    if (!panel.fixedHi) hi += (hi - lo) * 0.08;  // headroom above the highest point
    const std::vector<double> yTicks = NiceTicks(lo, hi, 4);
    if (!panel.fixedHi && !yTicks.empty()) hi = std::max(hi, yTicks.back());
    if (!panel.fixedLo && !yTicks.empty()) lo = std::min(lo, yTicks.front());
    const auto Y = [&](double v) { return bottom - (v - lo) / (hi - lo) * kPanel; };

    svg += "<g>\n<rect x=\"" + Num(kLeft) + "\" y=\"" + Num(top) + "\" width=\"" + Num(plotW) + "\" height=\"" +
           Num(kPanel) + "\" fill=\"#fbfbfd\" stroke=\"#b8b8c0\"/>\n";
    const int yDec = yTicks.size() > 1 ? DecimalsFor(yTicks[1] - yTicks[0]) : 1;
    for (double v : yTicks) {
      if (v < lo - 1e-9 || v > hi + 1e-9) continue;
      const double y = Y(v);
      svg += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + plotW) + "\" y1=\"" + Num(y) + "\" y2=\"" +
             Num(y) + "\" stroke=\"#e3e3ea\"/>\n";
      svg += "<text x=\"" + Num(kLeft - 8) + "\" y=\"" + Num(y + 4) +
             "\" font-size=\"11\" fill=\"#444\" text-anchor=\"end\">" + Num(v, yDec) + "</text>\n";
    }
    for (double t : tTicks) {
      svg += "<line x1=\"" + Num(X(t)) + "\" x2=\"" + Num(X(t)) + "\" y1=\"" + Num(top) + "\" y2=\"" + Num(bottom) +
             "\" stroke=\"#eeeeF3\"/>\n";
    }
    svg += "<text transform=\"translate(" + Num(kLeft - 58) + "," + Num((top + bottom) / 2) +
           ") rotate(-90)\" font-size=\"12\" fill=\"#222\" text-anchor=\"middle\">" + Xml(panel.axisTitle) +
           "</text>\n";

    if (panel.reference) {
      const double y = Y(*panel.reference);
      svg += "<line x1=\"" + Num(kLeft) + "\" x2=\"" + Num(kLeft + plotW) + "\" y1=\"" + Num(y) + "\" y2=\"" +
             Num(y) + "\" stroke=\"#c0392b\" stroke-width=\"1.2\" stroke-dasharray=\"6 4\" opacity=\"0.7\"/>\n";
    }
    double legendY = top + 16;
    for (const auto& s : panel.series) {
      std::string points;
      const auto line = [&] {
        if (!points.empty()) {
          svg += "<polyline fill=\"none\" stroke=\"" + s.colour + "\" stroke-width=\"" + (s.dashed ? "1.2" : "2") +
                 "\" stroke-linejoin=\"round\"" + (s.dashed ? " stroke-dasharray=\"4 3\"" : "") + " points=\"" +
                 points + "\"/>\n";
        }
        points.clear();
      };
      for (const ChartData::Point& point : data.Points(s.channel)) {
        if (std::isnan(point.value)) {
          line();  // readings failed here: the line breaks
          continue;
        }
        points += Num(X(point.minutes), 2) + "," + Num(Y(std::clamp(point.value, lo, hi)), 2) + " ";
      }
      line();
      const double lx = kLeft + plotW + 14;
      svg += "<line x1=\"" + Num(lx) + "\" x2=\"" + Num(lx + 22) + "\" y1=\"" + Num(legendY - 4) + "\" y2=\"" +
             Num(legendY - 4) + "\" stroke=\"" + s.colour + "\" stroke-width=\"" + (s.dashed ? "1.2" : "2.5") +
             "\"" + (s.dashed ? " stroke-dasharray=\"4 3\"" : "") + "/>\n";
      svg += "<text x=\"" + Num(lx + 28) + "\" y=\"" + Num(legendY) + "\" font-size=\"12\" fill=\"#222\">" +
             Xml(s.name) + "</text>\n";
      legendY += 18;
    }
    if (panel.reference) {
      const double lx = kLeft + plotW + 14;
      svg += "<line x1=\"" + Num(lx) + "\" x2=\"" + Num(lx + 22) + "\" y1=\"" + Num(legendY - 4) + "\" y2=\"" +
             Num(legendY - 4) + "\" stroke=\"#c0392b\" stroke-dasharray=\"6 4\" opacity=\"0.7\"/>\n";
      svg += "<text x=\"" + Num(lx + 28) + "\" y=\"" + Num(legendY) + "\" font-size=\"12\" fill=\"#222\">" +
             Xml(panel.referenceName + " " + Num(*panel.reference, 1)) + "</text>\n";
    }
    svg += "</g>\n";
  }

  const double axisY = kTop + panels.size() * kPanel + (panels.size() - 1) * kGap;
  const int tDec = tTicks.size() > 1 ? DecimalsFor(tTicks[1] - tTicks[0]) : 0;
  for (double t : tTicks) {
    svg += "<line x1=\"" + Num(X(t)) + "\" x2=\"" + Num(X(t)) + "\" y1=\"" + Num(axisY) + "\" y2=\"" +
           Num(axisY + 5) + "\" stroke=\"#444\"/>\n";
    svg += "<text x=\"" + Num(X(t)) + "\" y=\"" + Num(axisY + 19) +
           "\" font-size=\"11\" fill=\"#444\" text-anchor=\"middle\">" + Num(t, tDec) + "</text>\n";
  }
  svg += "<text x=\"" + Num(kLeft + plotW / 2) + "\" y=\"" + Num(axisY + 42) +
         "\" font-size=\"13\" fill=\"#222\" text-anchor=\"middle\">Time since sample start (min)</text>\n";
  if (data.Rows() == 0) {
    svg += "<text x=\"" + Num(kLeft + plotW / 2) + "\" y=\"" + Num(kTop + kPanel / 2) +
           "\" font-size=\"14\" fill=\"#999\" text-anchor=\"middle\">No status was polled.</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace host
