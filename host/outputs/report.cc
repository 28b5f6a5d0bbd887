#include "host/outputs/report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "host/outputs/report_assets.h"
#include "host/text/number_text.h"
#include "platform/inlet/text.h"

namespace host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// The most detector samples a run's page holds: 50 minutes at 10 Hz.
constexpr std::size_t kMaxPageSamples = 30000;

// Calls `each` with every code point of `text` and the bytes it came
// from; a byte that starts no well-formed UTF-8 sequence (an overlong
// form, a surrogate, beyond U+10FFFF, cut short) is one U+FFFD.
template <class Each>
void ForEachCodePoint(const std::string& text, Each each) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t from = i;
    if (const std::optional<char32_t> cp = platform::DecodeUtf8(text, i)) {
      each(*cp, from, i - from);
    } else {
      each(kReplacement, from, 0);
    }
  }
}

// A number for the page's JSON: `decimals` decimals at most, trailing
// zeros dropped ("2.5", "40"); null for NaN and infinities; never "-0".
// A page holds thousands of samples: the fast fixed-notation writer
// prints them.
void AppendNumber(std::string& out, double value, int decimals) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  char buffer[400];
  const char* const end = WriteFixed(buffer, buffer + sizeof buffer, value, decimals);
  const char* last = end;
  if (decimals > 0) {
    while (last[-1] == '0') --last;
    if (last[-1] == '.') --last;
  }
  if (last - buffer == 2 && buffer[0] == '-' && buffer[1] == '0') {
    out += '0';
    return;
  }
  out.append(buffer, static_cast<std::size_t>(last - buffer));
}

// The same in HTML: as the files write it.
std::string Cell(double value, int decimals) { return std::isfinite(value) ? Fixed(value, decimals) : ""; }

// The licence of the libraries embedded in every page, which a copy of
// them carries with it.
constexpr char kLibraryLicence[] =
    "/*! Embedded below: jQuery 3 (Copyright OpenJS Foundation and other contributors) and Flot 4 with its plugins\n"
    " * (Copyright 2007-2013 IOLA and Ole Laursen), as Debian's libjs-jquery and libjs-jquery-flot ship them.\n"
    " * Both under the MIT licence:\n"
    " * Permission is hereby granted, free of charge, to any person obtaining a copy of this software and associated\n"
    " * documentation files (the \"Software\"), to deal in the Software without restriction, including without\n"
    " * limitation the rights to use, copy, modify, merge, publish, distribute, sublicense, and/or sell copies of the\n"
    " * Software, and to permit persons to whom the Software is furnished to do so, subject to the following\n"
    " * conditions: The above copyright notice and this permission notice shall be included in all copies or\n"
    " * substantial portions of the Software.\n"
    " * THE SOFTWARE IS PROVIDED \"AS IS\", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED\n"
    " * TO THE WARRANTIES OF MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL\n"
    " * THE AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION OF\n"
    " * CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER\n"
    " * DEALINGS IN THE SOFTWARE.\n"
    " */\n";

// <script> with one of the embedded files.
void AppendScript(std::string& html, std::string_view script, std::string_view before = {}) {
  html += "<script>";
  html += before;
  html += script;
  html += "</script>\n";
}

// The page's head and the start of its body; `title` as HTML already.
std::string PageStart(const std::string& title, bool charts) {
  std::string html;
  html.reserve(JqueryScript().size() + FlotScript().size() + ReportScript().size() + ReportStyle().size() + 200000);
  html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
          // Nothing from outside the file, even if a text got past the escaping.
          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src 'unsafe-inline'; "
          "style-src 'unsafe-inline'; img-src data:\">\n"
          "<meta name=\"generator\" content=\"QuarnControl quarn-host\">\n<title>";
  html += title;
  html += "</title>\n<style>\n";
  html += ReportStyle();
  html += "</style>\n</head>\n<body data-report=\"loading\"";
  if (charts) html += " data-peaks-drawn=\"0\"";
  html += ">\n<main>\n";
  return html;
}

void PageEnd(std::string& html, const std::string& json) {
  html += "<footer>Made by QuarnControl's quarn-host. The charts are drawn by Flot and jQuery (MIT licence), "
          "embedded in this file: it needs nothing else, and no network.</footer>\n</main>\n";
  html += "<script type=\"application/json\" id=\"report-data\">";
  html += json;
  html += "</script>\n";
  AppendScript(html, JqueryScript(), kLibraryLicence);
  AppendScript(html, FlotScript());
  AppendScript(html, ReportScript());
  html += "</body>\n</html>\n";
}

void AppendFact(std::string& html, const char* name, const std::string& value) {
  if (value.empty()) return;
  html += "<div><dt>";
  html += name;
  html += "</dt><dd>" + HtmlText(value) + "</dd></div>";
}

// The chart's series as [t, v, t, v, ...].
void AppendTrace(std::string& json, const char* name, const std::vector<ChartData::Point>& points, int decimals) {
  json += ",\"";
  json += name;
  json += "\":[";
  bool first = true;
  for (const ChartData::Point& p : points) {
    if (!first) json += ',';
    first = false;
    AppendNumber(json, p.minutes, 4);
    json += ',';
    AppendNumber(json, p.value, decimals);
  }
  json += ']';
}

bool Uses(const ChartData& data, ChartData::Channel channel) {
  const auto range = data.Range(channel);
  return range && range->second >= 0.1;
}

}  // namespace

std::string HtmlText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t cp, std::size_t at, std::size_t length) {
    switch (cp) {
      case '&': out += "&amp;"; return;
      case '<': out += "&lt;"; return;
      case '>': out += "&gt;"; return;
      case '"': out += "&quot;"; return;
      case '\'': out += "&#39;"; return;
      default: break;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      out += ' ';
    } else if (length == 0) {
      platform::AppendUtf8(out, kReplacement);
    } else {
      out.append(text, at, length);
    }
  });
  return out;
}

std::string ScriptJsonString(const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  ForEachCodePoint(text, [&](char32_t cp, std::size_t at, std::size_t length) {
    switch (cp) {
      case '"': out += "\\\""; return;
      case '\\': out += "\\\\"; return;
      case '\n': out += "\\n"; return;
      case '\t': out += "\\t"; return;
      case '\r': out += "\\r"; return;
      default: break;
    }
    if (cp < 0x20 || cp == '<' || cp == '>' || cp == '&' || cp == 0x2028 || cp == 0x2029) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 0xF];
    } else if (length == 0) {
      out += "\\ufffd";
    } else {
      out.append(text, at, length);
    }
  });
  return out + "\"";
}

std::string RenderRunReport(const RunReport& run) {
  const std::string heading = !run.sample.empty() ? run.sample : !run.method.empty() ? run.method : "Run";
  std::string html = PageStart(HtmlText(heading + " \u2014 run report"), true);

  // The heading.
  html += "<header>\n<h1><bdi>" + HtmlText(heading) + "</bdi></h1>\n";
  html += std::string("<p class=\"verdict ") + (run.good ? "good" : "bad") + "\"><span class=\"mark\">" +
          (run.good ? "\u2714" : "\u2716") + "</span> " + HtmlText(run.verdict) + "</p>\n<dl class=\"facts\">";
  if (heading != run.sample) AppendFact(html, "Sample", run.sample);
  AppendFact(html, "Method", run.method.empty() ? run.methodFile
                                                : run.method + (run.methodFile.empty() ? "" : " (" + run.methodFile + ")"));
  AppendFact(html, "Vial", run.vial);
  AppendFact(html, "Injection", run.volume);
  if (run.action != "inject") AppendFact(html, "Row", run.action);
  AppendFact(html, "Vial holds", run.contents);
  if (!run.signal.empty()) AppendFact(html, "Detector", "UV " + std::to_string(run.wavelengthNm) + " nm");
  AppendFact(html, "Transport", run.transport);
  AppendFact(html, "Date", run.date);
  html += "</dl>\n</header>\n";
  html += "<p id=\"report-status\" class=\"status\">Drawing the charts\u2026</p>\n"
          "<noscript><p class=\"status error\">The charts need JavaScript; the tables do not.</p></noscript>\n";

  // The chromatogram and its peaks.
  const bool chromatogram = !run.signal.empty();
  int labelled = 0;
  for (const MeasuredPeak& p : run.peaks) labelled += p.retentionMin ? 1 : 0;
  html += "<section id=\"chromatogram-section\">\n<h2>Chromatogram</h2>\n";
  if (chromatogram) {
    html += "<div class=\"toolbar\"><button type=\"button\" id=\"whole-run\">Whole run</button>"
            "<span class=\"hint\">Drag over a chart to zoom in (the chromatogram in time and absorbance, the traces "
            "in time); double-click a chart or press \u201cWhole run\u201d to see the whole run again.</span>"
            "<span id=\"cursor\" class=\"count\"></span><span class=\"count\"><span id=\"peaks-drawn\">0</span> of " +
            std::to_string(labelled) + " peaks labelled</span></div>\n"
            "<div id=\"chromatogram\" class=\"chart chromatogram\"></div>\n";
  } else {
    html += "<p class=\"no-chromatogram\">No chromatogram was recorded" +
            (run.noChromatogram.empty() ? std::string(".") : ": " + HtmlText(run.noChromatogram)) +
            "</p>\n<span id=\"peaks-drawn\" hidden>0</span>\n";
  }
  html += "</section>\n";
  if (!run.peaks.empty()) {
    html += "<section id=\"peaks-section\">\n<h2>Peaks</h2>\n<table class=\"peaks\">\n<thead><tr><th>Peak</th>"
            "<th class=\"text\">Compound</th><th>Retention<br><span class=\"unit\">min</span></th>"
            "<th>Width at \u00bd height<br><span class=\"unit\">min</span></th><th>Height<br><span class=\"unit\">mAU"
            "</span></th><th>Area<br><span class=\"unit\">mAU\u00b7s</span></th><th>Plates</th><th>Resolution</th>"
            "<th>Tailing</th></tr></thead>\n<tbody>\n";
    int number = 0;
    for (const MeasuredPeak& p : run.peaks) {
      html += "<tr><td>" + std::to_string(++number) + "</td><td class=\"text name\"><bdi>" + HtmlText(p.compound) +
              "</bdi></td>";
      for (const std::string& cell : PeakCells(p)) html += "<td>" + cell + "</td>";
      html += "</tr>\n";
    }
    html += "</tbody>\n</table>\n<p class=\"note\">As in peaks.csv: areas and heights above a straight baseline "
            "under each peak (drop lines between peaks that touch); an empty cell was not measured.</p>\n</section>\n";
  }

  // The pump and the oven.
  const bool traces = run.traces && run.traces->Rows() > 0;
  html += "<section id=\"traces-section\">\n<h2>Pump and oven</h2>\n";
  if (traces && !chromatogram) {
    html += "<div class=\"toolbar\"><button type=\"button\" id=\"whole-run\">Whole run</button><span class=\"hint\">"
            "Drag over a chart to zoom in; double-click a chart or press \u201cWhole run\u201d to see the whole run "
            "again.</span></div>\n";
  }
  if (traces) {
    html += "<div id=\"pressure\" class=\"chart trace\"></div>\n<div id=\"composition\" class=\"chart trace\"></div>\n"
            "<div id=\"oven\" class=\"chart trace last\"></div>\n";
  } else {
    html += "<p class=\"no-chromatogram\">No readings were taken after the sample start.</p>\n";
  }
  html += "</section>\n";

  // The data.
  std::string json = "{\"kind\":\"run\",\"runMinutes\":";
  AppendNumber(json, run.runLengthMin, 3);
  json += ",\"chromatogram\":";
  if (chromatogram) {
    json += "{\"periodMin\":";
    AppendNumber(json, run.periodMin, 12);
    json += ",\"wavelengthNm\":" + std::to_string(run.wavelengthNm) + ",\"samples\":" +
            std::to_string(run.signal.size()) + ",\"mau\":[";
    const std::size_t n = run.signal.size();
    if (n <= kMaxPageSamples) {
      // Every sample, the time its place in the array.
      json.reserve(json.size() + n * 8);
      for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) json += ',';
        AppendNumber(json, run.signal[i], 3);
      }
      json += "]}";
    } else {
      // A long run: the lowest and the highest sample of each of
      // kMaxPageSamples / 2 stretches, in the order they came, with their
      // places ("index"), so that every peak shows; chromatogram.csv has
      // every sample.
      const std::size_t per = (n + kMaxPageSamples / 2 - 1) / (kMaxPageSamples / 2);
      std::string index;
      bool first = true;
      const auto add = [&](std::size_t i) {
        if (!first) json += ',', index += ',';
        first = false;
        AppendNumber(json, run.signal[i], 3);
        index += std::to_string(i);
      };
      for (std::size_t from = 0; from < n; from += per) {
        const std::size_t to = std::min(n, from + per);
        std::size_t low = from, high = from;
        bool any = false;
        for (std::size_t i = from; i < to; ++i) {
          if (std::isnan(run.signal[i])) continue;
          if (!any || run.signal[i] < run.signal[low]) low = i;
          if (!any || run.signal[i] > run.signal[high]) high = i;
          any = true;
        }
        if (!any) {
          add(from);  // null: the line breaks where nothing was read
          continue;
        }
        add(std::min(low, high));
        if (low != high) add(std::max(low, high));
      }
      json += "],\"index\":[" + index + "]}";
    }
  } else {
    json += "null";
  }
  json += ",\"peaks\":[";
  bool first = true;
  for (const MeasuredPeak& p : run.peaks) {
    if (!first) json += ',';
    first = false;
    json += "{\"compound\":" + ScriptJsonString(p.compound) + ",\"rt\":";
    AppendNumber(json, p.retentionMin.value_or(NAN), 3);
    json += ",\"height\":";
    AppendNumber(json, p.heightMau.value_or(NAN), 2);
    json += ",\"area\":";
    AppendNumber(json, p.areaMauS.value_or(NAN), 2);
    json += '}';
  }
  json += "],\"traces\":";
  if (traces) {
    const ChartData& d = *run.traces;
    json += "{\"lastMinutes\":";
    AppendNumber(json, d.LastMinutes(), 4);
    AppendTrace(json, "pressure", d.Points(ChartData::kPressure), 1);
    AppendTrace(json, "percentB", d.Points(ChartData::kPercentB), 2);
    if (Uses(d, ChartData::kPercentC)) AppendTrace(json, "percentC", d.Points(ChartData::kPercentC), 2);
    if (Uses(d, ChartData::kPercentD)) AppendTrace(json, "percentD", d.Points(ChartData::kPercentD), 2);
    AppendTrace(json, "oven", d.Points(ChartData::kOven), 2);
    json += ",\"ovenSet\":";
    AppendNumber(json, run.ovenSetPoint.value_or(NAN), 2);
    json += '}';
  } else {
    json += "null";
  }
  json += '}';
  PageEnd(html, json);
  return html;
}

std::string RenderSequenceReport(const SequenceReport& sequence) {
  std::string html = PageStart(HtmlText(sequence.title + " \u2014 sequence report"), false);
  html += "<header>\n<h1><bdi>" + HtmlText(sequence.title) + "</bdi></h1>\n";
  if (!sequence.subtitle.empty()) html += "<p class=\"subtitle\">" + HtmlText(sequence.subtitle) + "</p>\n";
  html += "</header>\n<p id=\"report-status\" class=\"status\">Drawing the charts\u2026</p>\n";
  const std::string unit = HtmlText(sequence.quantityUnit);

  // A table of the rows with one value per compound, or nothing when no
  // row has any.
  const auto table = [&](const char* id, const std::string& title, const std::string& cellUnit, int decimals,
                         std::vector<double> SequenceReportRow::*values) {
    bool any = false;
    for (const SequenceReportRow& row : sequence.rows) {
      any = any || std::any_of((row.*values).begin(), (row.*values).end(), [](double v) { return std::isfinite(v); });
    }
    // The areas' table lists every row, with areas or not: it links the runs' pages.
    if (sequence.rows.empty() || (!any && std::string(id) != "areas")) return;
    bool marks = false, results = false;
    for (const SequenceReportRow& row : sequence.rows) marks = marks || !row.mark.empty(), results = results || !row.result.empty();
    html += std::string("<section id=\"") + id + "-section\">\n<h2>" + title + "</h2>\n";
    html += std::string("<div class=\"wide\"><table class=\"") + id + "\">\n<thead><tr><th>#</th><th class=\"text\">"
            "Sample</th><th class=\"text\">Type</th>";
    if (results) html += "<th class=\"text\">Result</th>";
    for (const std::string& compound : sequence.compounds) {
      html += "<th><bdi>" + HtmlText(compound) + "</bdi><br><span class=\"unit\">" + cellUnit + "</span></th>";
    }
    if (marks) html += "<th class=\"text\">Mark</th>";
    html += "</tr></thead>\n<tbody>\n";
    for (const SequenceReportRow& row : sequence.rows) {
      const bool bad = !row.result.empty() && row.result != "good";
      html += std::string("<tr") + (bad ? " class=\"bad\"" : "") + "><td>" + std::to_string(row.number) +
              "</td><td class=\"text name\">";
      if (!row.link.empty()) {
        html += "<a href=\"" + HtmlText(row.link) + "\"><bdi>" + HtmlText(row.sample) + "</bdi></a>";
      } else {
        html += "<bdi>" + HtmlText(row.sample) + "</bdi>";
      }
      html += "</td><td class=\"text\">" + HtmlText(row.type) + "</td>";
      if (results) html += "<td class=\"text\">" + HtmlText(row.result) + "</td>";
      for (std::size_t c = 0; c < sequence.compounds.size(); ++c) {
        html += "<td>" + (c < (row.*values).size() ? Cell((row.*values)[c], decimals) : std::string()) + "</td>";
      }
      if (marks) html += "<td class=\"text mark\">" + HtmlText(row.mark) + "</td>";
      html += "</tr>\n";
    }
    html += "</tbody>\n</table></div>\n</section>\n";
  };
  table("areas", "Peak areas", "mAU\u00b7s", 2, &SequenceReportRow::areas);
  html += sequence.rows.empty() ? "<p class=\"note\">No sample has ended yet.</p>\n"
                                : "<p class=\"note\">A sample's name opens its run's report. An empty cell: no peak "
                                  "of that compound was measured.</p>\n";
  table("quantities", "Quantities (" + unit + ")", unit, 4, &SequenceReportRow::quantities);

  if (!sequence.calibrations.empty()) {
    html += "<section id=\"calibration-section\">\n<h2>Calibration</h2>\n<div class=\"calibrations\">\n";
    for (std::size_t i = 0; i < sequence.calibrations.size(); ++i) {
      const ReportedLine& line = sequence.calibrations[i];
      html += "<div class=\"calibration\">\n<h3><bdi>" + HtmlText(line.compound) + "</bdi></h3>\n";
      html += "<p class=\"equation\">area = " + Fixed(line.slope, 4) + " \u00d7 c " +
              (line.intercept < 0 ? "\u2212 " : "+ ") + Fixed(std::fabs(line.intercept), 4) +
              "&emsp;r\u00b2 = " + Fixed(line.r2, 5) + "</p>\n";
      html += "<div id=\"calibration-" + std::to_string(i) + "\" class=\"chart calibration-chart\"></div>\n";
      html += "<table class=\"points\"><thead><tr><th>c<br><span class=\"unit\">" + unit +
              "</span></th><th>Area<br><span class=\"unit\">mAU\u00b7s</span></th><th>Residual<br><span "
              "class=\"unit\">mAU\u00b7s</span></th></tr></thead>\n<tbody>\n";
      for (std::size_t k = 0; k < line.points.size(); ++k) {
        html += "<tr><td>" + Cell(line.points[k].concentration, 4) + "</td><td>" + Cell(line.points[k].area, 2) +
                "</td><td>" + (k < line.residuals.size() ? Cell(line.residuals[k], 2) : std::string()) + "</td></tr>\n";
      }
      html += "</tbody></table>\n</div>\n";
    }
    html += "</div>\n</section>\n";
  }
  if (!sequence.suitability.empty()) {
    int passed = 0;
    for (const ReportedCriterion& s : sequence.suitability) passed += s.passed ? 1 : 0;
    html += "<section id=\"suitability-section\">\n<h2>System suitability</h2>\n<p class=\"verdict " +
            std::string(passed == static_cast<int>(sequence.suitability.size()) ? "good" : "bad") + "\">" +
            std::to_string(passed) + " of " + std::to_string(sequence.suitability.size()) +
            " criteria met</p>\n<table class=\"suitability\">\n<thead><tr><th class=\"text\">Criterion</th>"
            "<th class=\"text\">Limit</th><th class=\"text\">Measured</th><th class=\"text\">Result</th></tr></thead>\n"
            "<tbody>\n";
    for (const ReportedCriterion& s : sequence.suitability) {
      html += std::string("<tr class=\"") + (s.passed ? "pass" : "fail") + "\"><td class=\"text name\"><bdi>" +
              HtmlText(s.criterion) + "</bdi></td><td class=\"text\"><bdi>" + HtmlText(s.limit) +
              "</bdi></td><td class=\"text\"><bdi>" + HtmlText(s.measured) + "</bdi></td><td class=\"text result\">" +
              (s.passed ? "\u2714 passed" : "\u2716 failed") + "</td></tr>\n";
    }
    html += "</tbody>\n</table>\n</section>\n";
  }

  std::string json = "{\"kind\":\"sequence\",\"unit\":" + ScriptJsonString(sequence.quantityUnit) +
                     ",\"calibrations\":[";
  for (std::size_t i = 0; i < sequence.calibrations.size(); ++i) {
    const ReportedLine& line = sequence.calibrations[i];
    if (i > 0) json += ',';
    json += "{\"compound\":" + ScriptJsonString(line.compound) + ",\"slope\":";
    AppendNumber(json, line.slope, 8);
    json += ",\"intercept\":";
    AppendNumber(json, line.intercept, 8);
    json += ",\"points\":[";
    for (std::size_t k = 0; k < line.points.size(); ++k) {
      if (k > 0) json += ',';
      json += '[';
      AppendNumber(json, line.points[k].concentration, 6);
      json += ',';
      AppendNumber(json, line.points[k].area, 4);
      json += ']';
    }
    json += "]}";
  }
  json += "]}";
  PageEnd(html, json);
  return html;
}

}  // namespace host
