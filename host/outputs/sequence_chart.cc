#include "host/outputs/sequence_chart.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>
#include <tuple>

#include "host/outputs/svg_chart.h"

namespace host {

namespace {

constexpr double kWidth = 960, kLeft = 90, kRight = 40, kTop = 84;
constexpr double kTraceHeight = 320, kPeakHeight = 160, kGap = 70;
// The table of samples: one line each, in a monospaced font whose
// characters are about 0.6 of its size wide; a name or method longer than
// its column is cut (the whole text is the line's tooltip).
constexpr double kRowHeight = 15, kTableFontSize = 11;
constexpr double kNumberEnd = 40, kNameAt = 52, kMethodAt = 300, kResultAt = 640;
constexpr int kNameChars = 36, kMethodChars = 50;
// Each trace is cut into this many intervals, each drawn by its lowest
// and highest reading.
constexpr int kIntervals = 240;

struct Trace {
  std::vector<std::pair<float, float>> points;  // (minutes, bar): enough for a drawing, half the memory
  std::optional<double> peak;
};

std::string Num(double v, int decimals = 1) { return SvgNumber(v, decimals); }
std::string Xml(const std::string& text) { return SvgText(text); }

// "3 std-0.10 (impurities.toml)": a sample as a tooltip names it.
std::string Named(const SequenceChartSample& s) {
  return std::to_string(s.number) + " " + s.name + " (" + s.method + ")";
}

// `text` (UTF-8) cut to at most `chars` characters, the cut marked by an
// ellipsis: at its end, or at its start with `keepEnd` (a file name's end
// says the most).
std::string Cut(const std::string& text, int chars, bool keepEnd) {
  std::vector<std::size_t> starts;  // of each character
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  if (starts.size() <= static_cast<std::size_t>(chars)) return text;
  const auto keep = static_cast<std::size_t>(chars - 1);
  const std::string ellipsis = "\xE2\x80\xA6";
  return keepEnd ? ellipsis + text.substr(starts[starts.size() - keep]) : text.substr(0, starts[keep]) + ellipsis;
}

// The run's readings (not the waiting ones) of a status.csv: clock
// minutes and pressure, reduced to the extremes of each interval.
Trace ReadTrace(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);  // the header
  std::vector<std::pair<double, double>> all;
  while (std::getline(in, line)) {
    // clock_min is the second cell, pressure_bar the ninth; the texts come
    // after them, so plain commas split the numbers.
    // Only those two are read; the others are skipped to their comma.
    const char* at = line.data();
    const char* const end = at + line.size();
    double cells[9] = {};
    bool ok = true;
    for (int i = 0; i < 9 && ok; ++i) {
      if (i != 1 && i != 8) {
        const auto* comma = static_cast<const char*>(std::memchr(at, ',', static_cast<std::size_t>(end - at)));
        ok = comma != nullptr && comma != at;
        at = ok ? comma + 1 : end;
        continue;
      }
      const auto [next, error] = std::from_chars(at, end, cells[i]);
      ok = error == std::errc() && next != end && *next == ',';
      at = next + 1;
    }
    if (!ok || line.find(",waiting,") != std::string::npos || line.find(",equilibrating,") != std::string::npos) continue;
    all.emplace_back(cells[1], cells[8]);
  }
  Trace trace;
  if (all.empty()) return trace;
  const double span = std::max(all.back().first, 1e-9);
  std::vector<std::pair<int, int>> extremes(kIntervals, {-1, -1});
  for (int i = 0; i < static_cast<int>(all.size()); ++i) {
    const int k = std::clamp(static_cast<int>(all[i].first / span * (kIntervals - 1)), 0, kIntervals - 1);
    auto& [lo, hi] = extremes[k];
    if (lo < 0 || all[i].second < all[lo].second) lo = i;
    if (hi < 0 || all[i].second > all[hi].second) hi = i;
    trace.peak = std::max(trace.peak.value_or(all[i].second), all[i].second);
  }
  for (const auto& [lo, hi] : extremes) {
    if (lo < 0) continue;
    const auto add = [&](int i) {
      trace.points.emplace_back(static_cast<float>(all[i].first), static_cast<float>(all[i].second));
    };
    add(std::min(lo, hi));
    if (lo != hi) add(std::max(lo, hi));
  }
  return trace;
}

}  // namespace

std::string RenderSequenceSvg(const std::string& title, const std::vector<SequenceChartSample>& samples) {
  // Each trace is read once (at most 480 points are kept of it) for the
  // axes' ranges, and drawn from what was kept.
  double maxMinutes = 1, maxBar = 10;
  int good = 0;
  std::vector<Trace> traces;
  traces.reserve(samples.size());
  std::vector<std::optional<double>> peaks;
  for (const SequenceChartSample& s : samples) {
    const Trace& t = traces.emplace_back(ReadTrace(s.statusCsv));
    if (!t.points.empty()) maxMinutes = std::max(maxMinutes, static_cast<double>(t.points.back().first));
    maxBar = std::max(maxBar, t.peak.value_or(0));
    peaks.push_back(t.peak);
    good += s.good ? 1 : 0;
  }
  const std::vector<double> xTicks = NiceTicks(0, maxMinutes, 10);
  const std::vector<double> yTicks = NiceTicks(0, maxBar * 1.05, 6);
  const double xHi = std::max(maxMinutes, xTicks.empty() ? maxMinutes : xTicks.back());
  const double yHi = std::max(maxBar * 1.05, yTicks.empty() ? maxBar : yTicks.back());
  const double plotW = kWidth - kLeft - kRight;
  const double peakTop = kTop + kTraceHeight + kGap;
  const double tableTop = peakTop + kPeakHeight + 70;
  const double height = tableTop + kRowHeight * static_cast<double>(samples.size() + 1) + 20;
  const auto X = [&](double m) { return kLeft + m / xHi * plotW; };
  const auto Y = [&](double bar, double top, double h) { return top + h - bar / yHi * h; };

  std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Num(kWidth, 0) + "\" height=\"" +
                    Num(height, 0) + "\" viewBox=\"0 0 " + Num(kWidth, 0) + " " + Num(height, 0) +
                    "\" font-family=\"sans-serif\" font-size=\"12\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<text x=\"" + Num(kLeft, 0) + "\" y=\"28\" font-size=\"18\" font-weight=\"bold\">" + Xml(title) + "</text>\n";
  const int failed = static_cast<int>(samples.size()) - good;
  svg += "<text x=\"" + Num(kLeft, 0) + "\" y=\"50\">" + std::to_string(samples.size()) + " samples: " +
         std::to_string(good) + " good, " + std::to_string(failed) + " failed</text>\n";
  std::string failedNames;
  int named = 0;
  for (const SequenceChartSample& s : samples) {
    if (s.good || named >= 8) continue;
    failedNames += (named++ ? ", " : "") + std::to_string(s.number) + " " + s.name;
  }
  if (failed > named) failedNames += ", and " + std::to_string(failed - named) + " more";
  if (failed > 0) svg += "<text x=\"" + Num(kLeft, 0) + "\" y=\"70\" fill=\"#d62728\">failed: " + Xml(failedNames) + "</text>\n";

  // Axes and grids of both panels.
  for (const auto& [top, h, label] : {std::tuple{kTop, kTraceHeight, "pressure (bar)"},
                                      std::tuple{peakTop, kPeakHeight, "highest pressure (bar)"}}) {
    svg += "<rect x=\"" + Num(kLeft, 0) + "\" y=\"" + Num(top, 0) + "\" width=\"" + Num(plotW, 0) + "\" height=\"" +
           Num(h, 0) + "\" fill=\"none\" stroke=\"#999\"/>\n";
    for (double t : yTicks) {
      svg += "<line x1=\"" + Num(kLeft, 0) + "\" x2=\"" + Num(kLeft + plotW, 0) + "\" y1=\"" + Num(Y(t, top, h)) +
             "\" y2=\"" + Num(Y(t, top, h)) + "\" stroke=\"#eee\"/><text x=\"" + Num(kLeft - 6, 0) + "\" y=\"" +
             Num(Y(t, top, h) + 4) + "\" text-anchor=\"end\">" + Num(t, 0) + "</text>\n";
    }
    svg += "<text transform=\"translate(24," + Num(top + h / 2, 0) + ") rotate(-90)\" text-anchor=\"middle\">" +
           label + "</text>\n";
  }
  for (double t : xTicks) {
    svg += "<text x=\"" + Num(X(t)) + "\" y=\"" + Num(kTop + kTraceHeight + 16) + "\" text-anchor=\"middle\">" +
           Num(t, t == std::floor(t) ? 0 : 1) + "</text>\n";
  }
  svg += "<text x=\"" + Num(kLeft + plotW / 2, 0) + "\" y=\"" + Num(kTop + kTraceHeight + 34) +
         "\" text-anchor=\"middle\">minutes after the sample start</text>\n";

  // The traces: good ones first, so that a failed one is drawn on top.
  for (const bool drawGood : {true, false}) {
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const SequenceChartSample& s = samples[i];
      if (s.good != drawGood) continue;
      const Trace& t = traces[i];
      if (t.points.empty()) continue;
      svg += std::string("<polyline fill=\"none\" stroke=\"") + (s.good ? "#1f77b4\" stroke-opacity=\"0.35\"" : "#d62728\" stroke-width=\"1.5\"") +
             " points=\"";
      for (const auto& [m, bar] : t.points) {
        if (std::isnan(bar)) continue;
        svg += Num(X(m)) + "," + Num(Y(bar, kTop, kTraceHeight)) + " ";
      }
      svg += "\"><title>" + Xml(Named(s)) + "</title></polyline>\n";
    }
  }
  // Each sample's highest pressure.
  const double n = std::max<double>(1, static_cast<double>(samples.size()));
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (!peaks[i]) continue;
    const double x = kLeft + (static_cast<double>(i) + 0.5) / n * plotW;
    svg += "<circle cx=\"" + Num(x) + "\" cy=\"" + Num(Y(*peaks[i], peakTop, kPeakHeight)) + "\" r=\"" +
           (samples[i].good ? "2.5\" fill=\"#1f77b4\"" : "4\" fill=\"#d62728\"") + "><title>" +
           Xml(Named(samples[i])) + ": " + Num(*peaks[i]) + " bar</title></circle>\n";
  }
  for (double t : NiceTicks(1, std::max<double>(2, n), 10)) {
    if (t < 1 || t > n || t != std::floor(t)) continue;
    svg += "<text x=\"" + Num(kLeft + (t - 0.5) / n * plotW) + "\" y=\"" + Num(peakTop + kPeakHeight + 16) +
           "\" text-anchor=\"middle\">" + Num(t, 0) + "</text>\n";
  }
  svg += "<text x=\"" + Num(kLeft + plotW / 2, 0) + "\" y=\"" + Num(peakTop + kPeakHeight + 34) +
         "\" text-anchor=\"middle\">sample, in the order they ran (blue: good, red: failed), named below</text>\n";

  // The table of samples.
  const auto cell = [&](double at, double y, const std::string& text, const char* anchor = nullptr) {
    return "<text x=\"" + Num(kLeft + at, 0) + "\" y=\"" + Num(y) + "\"" +
           (anchor ? std::string(" text-anchor=\"") + anchor + "\"" : "") + ">" + text + "</text>";
  };
  svg += "<g font-family=\"monospace\" font-size=\"" + Num(kTableFontSize, 0) + "\">\n<g font-weight=\"bold\">" +
         cell(kNumberEnd, tableTop, "no.", "end") + cell(kNameAt, tableTop, "sample") +
         cell(kMethodAt, tableTop, "method") + cell(kResultAt, tableTop, "result") +
         cell(plotW, tableTop, "highest bar", "end") + "</g>\n";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const SequenceChartSample& s = samples[i];
    const double y = tableTop + kRowHeight * static_cast<double>(i + 1);
    const std::string name = Cut(s.name, kNameChars, false), method = Cut(s.method, kMethodChars, true);
    svg += std::string("<g") + (s.good ? "" : " fill=\"#d62728\"") + ">";
    if (name != s.name || method != s.method) svg += "<title>" + Xml(Named(s)) + "</title>";
    if (i % 2 == 0) {
      svg += "<rect x=\"" + Num(kLeft, 0) + "\" y=\"" + Num(y - kRowHeight + 4) + "\" width=\"" + Num(plotW, 0) +
             "\" height=\"" + Num(kRowHeight, 0) + "\" fill=\"#f2f2f2\"/>";
    }
    svg += cell(kNumberEnd, y, std::to_string(s.number), "end") + cell(kNameAt, y, Xml(name)) +
           cell(kMethodAt, y, Xml(method)) + cell(kResultAt, y, s.good ? "good" : "failed") +
           cell(plotW, y, peaks[i] ? Num(*peaks[i]) : "-", "end") + "</g>\n";
  }
  svg += "</g>\n</svg>\n";
  return svg;
}

}  // namespace host
