// report.html as the host writes it: the sections a page has (and those
// it leaves out), the values it shows, and texts from users' files that
// must never break it. The browser's side, that the page draws, is
// tests/host/report_browser_test.sh's.
#include "host/outputs/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/outputs/report_assets.h"

namespace {

using host::ReportedLine;
using host::MeasuredPeak;
using host::RunReport;
using host::SequenceReport;
using host::SequenceReportRow;
using host::ReportedCriterion;

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
// What a user's file may name a compound or a sample: markup, a script's
// end, quotes, a line break, a byte that is not UTF-8, a right-to-left
// override and letters of other scripts.
const std::string kHostile = "</script><script>alert(\"x\")</script> & <b>'\n\xff\xfe \u202e\u00e9\u4e2d";

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The page's data: the JSON between its <script type="application/json">
// tags, parsed.
nlohmann::json PageData(const std::string& html) {
  const std::string open = "<script type=\"application/json\" id=\"report-data\">";
  const std::size_t from = html.find(open);
  EXPECT_NE(from, std::string::npos);
  const std::size_t to = html.find("</script>", from);
  return nlohmann::json::parse(html.substr(from + open.size(), to - from - open.size()));
}

// The text of the section with `id`, "" when the page has none.
std::string Section(const std::string& html, const std::string& id) {
  const std::size_t from = html.find("<section id=\"" + id + "\"");
  if (from == std::string::npos) return "";
  return html.substr(from, html.find("</section>", from) - from);
}

SequenceReport Calibrated() {
  SequenceReport s;
  s.title = "Sequence assay.csv";
  s.subtitle = "20261205-101500-assay";
  s.compounds = {"caffeine", "theobromine"};
  s.rows = {SequenceReportRow{1, "std-1", "standard", "good", "001-std-1/report.html", {100.0, 20.0}, {}, ""},
            SequenceReportRow{2, "cola", "unknown", "good", "002-cola/report.html", {250.5, kNone}, {12.5, kNone},
                              "bracketing drift 3.1 %"}};
  s.calibrations = {ReportedLine{"caffeine", 19.9, 0.4, 0.99987, {{1, 20.1}, {5, 100.2}, {10, 199.0}}, {0.2, 0.3, -0.4}},
                    ReportedLine{"theobromine", 8.0, -0.25, 0.9991, {{1, 7.9}, {5, 39.6}}, {0.15, -0.15}}};
  s.suitability = {ReportedCriterion{"Resolution caffeine / theobromine", "\u2265 2.0", "5.76", true},
                   ReportedCriterion{"Tailing caffeine", "\u2264 1.5", "1.9", false}};
  return s;
}

TEST(ReportTest, TheEmbeddedLibrariesAreTheDebianFiles) {
  EXPECT_NE(host::JqueryScript().find("jQuery v3"), std::string_view::npos);
  // Debian's Flot bundles its plugins: the selection's event zooms the page.
  EXPECT_NE(host::FlotScript().find("plotselected"), std::string_view::npos);
  EXPECT_NE(host::ReportScript().find("data-peaks-drawn"), std::string_view::npos);
  EXPECT_NE(host::ReportStyle().find(".peak-label"), std::string_view::npos);
}

TEST(ReportTest, TextsAreEscapedForHtmlAndForJsonInsideAScript) {
  EXPECT_EQ(host::HtmlText("a<b>&\"c'\n\x01\x7f caf\u00e9 \u4e2d\U0001F600"),
            "a&lt;b&gt;&amp;&quot;c&#39;    caf\u00e9 \u4e2d\U0001F600");
  // Cut short, an overlong '/', a surrogate: each byte one U+FFFD.
  EXPECT_EQ(host::HtmlText("\xff|\xc3|\xc0\xaf|\xed\xa0\x80"), "\ufffd|\ufffd|\ufffd\ufffd|\ufffd\ufffd\ufffd");
  const std::string json = host::ScriptJsonString(kHostile + "\u2028\\");
  EXPECT_EQ(json.find('<'), std::string::npos);
  EXPECT_EQ(json.find('>'), std::string::npos);
  EXPECT_EQ(json.find('&'), std::string::npos);
  EXPECT_EQ(json.find("\u2028"), std::string::npos);
  const std::string back = nlohmann::json::parse(json).get<std::string>();
  EXPECT_EQ(back, "</script><script>alert(\"x\")</script> & <b>'\n\ufffd\ufffd \u202e\u00e9\u4e2d\u2028\\");
}

TEST(ReportTest, ASequencePageShowsItsCalibrationLinesAsChartsWithTheirPoints) {
  const std::string html = host::RenderSequenceReport(Calibrated());
  const std::string section = Section(html, "calibration-section");
  EXPECT_EQ(Count(section, "class=\"calibration\""), 2u);
  for (const char* text : {"<div id=\"calibration-1\" class=\"chart calibration-chart\">",
                           "area = 19.9000 \u00d7 c + 0.4000&emsp;r\u00b2 = 0.99987",
                           "area = 8.0000 \u00d7 c \u2212 0.2500",
                           // Each point with its residual.
                           "<tr><td>5.0000</td><td>100.20</td><td>0.30</td></tr>",
                           "<tr><td>5.0000</td><td>39.60</td><td>-0.15</td></tr>"}) {
    EXPECT_NE(section.find(text), std::string::npos) << text;
  }
  // The charts' data: points and line.
  EXPECT_EQ(PageData(html), nlohmann::json::parse(R"({"kind":"sequence","unit":"mg/l","calibrations":[
      {"compound":"caffeine","slope":19.9,"intercept":0.4,"points":[[1,20.1],[5,100.2],[10,199]]},
      {"compound":"theobromine","slope":8,"intercept":-0.25,"points":[[1,7.9],[5,39.6]]}]})"));
}

TEST(ReportTest, ASequencePageShowsEachSuitabilityCriterionPassedOrFailed) {
  const std::string section = Section(host::RenderSequenceReport(Calibrated()), "suitability-section");
  EXPECT_NE(section.find("<p class=\"verdict bad\">1 of 2 criteria met</p>"), std::string::npos);
  EXPECT_NE(section.find("<tr class=\"pass\"><td class=\"text name\"><bdi>Resolution caffeine / theobromine</bdi></td>"
                         "<td class=\"text\"><bdi>\u2265 2.0</bdi></td><td class=\"text\"><bdi>5.76</bdi></td>"
                         "<td class=\"text result\">\u2714 passed</td></tr>"),
            std::string::npos);
  EXPECT_NE(section.find("<tr class=\"fail\"><td class=\"text name\"><bdi>Tailing caffeine</bdi></td><td class=\"text\">"
                         "<bdi>\u2264 1.5</bdi></td><td class=\"text\"><bdi>1.9</bdi></td><td class=\"text result\">\u2716 failed"),
            std::string::npos);

  SequenceReport allMet = Calibrated();
  allMet.suitability.pop_back();
  EXPECT_NE(Section(host::RenderSequenceReport(allMet), "suitability-section")
                .find("<p class=\"verdict good\">1 of 1 criteria met</p>"),
            std::string::npos);
}

// What exists today: rows and areas; the sections without data are not
// on the page at all.
TEST(ReportTest, ASequencePageLeavesOutItsEmptySections) {
  SequenceReport s = Calibrated();
  const std::string full = host::RenderSequenceReport(s);
  EXPECT_NE(Section(full, "areas-section").find("<td>250.50</td><td></td><td class=\"text mark\">bracketing drift 3.1 %"),
            std::string::npos);  // NaN: an empty cell
  EXPECT_NE(Section(full, "quantities-section").find("<td>12.5000</td><td></td>"), std::string::npos);
  s.calibrations.clear();
  s.suitability.clear();
  for (SequenceReportRow& row : s.rows) row.quantities = {kNone, kNone};
  const std::string html = host::RenderSequenceReport(s);
  EXPECT_FALSE(Section(html, "areas-section").empty());
  EXPECT_EQ(html.find("calibration-section"), std::string::npos);
  EXPECT_EQ(html.find("suitability-section"), std::string::npos);
  EXPECT_EQ(html.find("quantities-section"), std::string::npos);
  EXPECT_EQ(PageData(html)["calibrations"].size(), 0u);
  // A row with no mark: no mark column.
  for (SequenceReportRow& row : s.rows) row.mark.clear();
  EXPECT_EQ(host::RenderSequenceReport(s).find(">Mark<"), std::string::npos);

  s.rows.clear();
  const std::string empty = host::RenderSequenceReport(s);
  EXPECT_EQ(empty.find("areas-section"), std::string::npos);
  EXPECT_NE(empty.find("No sample has ended yet."), std::string::npos);
}

RunReport Measured(const std::vector<double>& signal) {
  RunReport run;
  run.sample = "syrup-lot-2411";
  run.method = "Impurity profile";
  run.methodFile = "impurities.quarn900.toml";
  run.vial = "12";
  run.volume = "5.00 \u00b5l";
  run.action = "inject";
  run.good = true;
  run.verdict = "completed, 25.0 of 25.0 min";
  run.signal = signal;
  run.periodMin = 0.1 / 60;
  run.wavelengthNm = 220;
  run.peaks = {MeasuredPeak{"uracil", 0.654, 0.0151, 0.7249, 0.65, 10460.4, {}, 1.02},
               MeasuredPeak{"paracetamol", 2.6944, 0.03333, 467.63, 976.981, 36193.0, 49.7351, {}},
               MeasuredPeak{"lost", {}, {}, {}, {}, {}, {}, {}}};
  run.runLengthMin = 25;
  return run;
}

// The page's scripts are the only ones on it, whatever the names: every
// text is escaped in the HTML and in the data.
TEST(ReportTest, NamesFromUsersFilesCannotBreakThePages) {
  SequenceReport s = Calibrated();
  s.title = kHostile;
  s.compounds[0] = kHostile;
  s.rows[0].sample = kHostile;
  s.rows[0].mark = kHostile;
  s.calibrations[0].compound = kHostile;
  s.suitability[0].criterion = kHostile;
  s.quantityUnit = kHostile;
  const std::vector<double> signal(100, 1.0);
  const RunReport plainRun = Measured(signal);
  RunReport run = plainRun;
  run.sample = run.method = run.verdict = run.contents = run.peaks[0].compound = kHostile;
  // The same pages with plain names.
  const std::size_t plainOpen[] = {Count(host::RenderSequenceReport(Calibrated()), "<script"),
                                   Count(host::RenderRunReport(plainRun), "<script")};
  int page = 0;
  for (const std::string& html : {host::RenderSequenceReport(s), host::RenderRunReport(run)}) {
    // The data, jQuery, Flot and the page's own script: whatever the
    // libraries hold in their texts, the names add no script.
    EXPECT_EQ(Count(html, "</script>"), 4u);
    EXPECT_EQ(Count(html, "<script"), plainOpen[page++]);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_EQ(html.find("\xff"), std::string::npos);
    EXPECT_NE(html.find("&lt;/script&gt;&lt;script&gt;alert(&quot;x&quot;)"), std::string::npos);
    const nlohmann::json data = PageData(html);
    const std::string name = data.contains("peaks") ? data["peaks"][0]["compound"] : data["calibrations"][0]["compound"];
    EXPECT_EQ(name, "</script><script>alert(\"x\")</script> & <b>'\n\ufffd\ufffd \u202e\u00e9\u4e2d");
  }
}

// The peak table holds peaks.csv's values, as peaks.csv writes them; the
// chart labels each peak that has a retention time.
TEST(ReportTest, ARunPageTablesItsPeaksAsPeaksCsvHasThem) {
  const std::vector<double> signal{0.0, 1.5, kNone, -0.0004, 0.05, -12.3456, 1234.0};
  const std::string html = host::RenderRunReport(Measured(signal));
  const std::string table = Section(html, "peaks-section");
  EXPECT_NE(table.find("<bdi>paracetamol</bdi></td><td>2.694</td><td>0.0333</td><td>467.63</td><td>976.98</td>"
                       "<td>36193</td><td>49.74</td><td></td></tr>"),
            std::string::npos);
  EXPECT_NE(table.find("<bdi>lost</bdi></td><td></td><td></td><td></td><td></td><td></td><td></td><td></td></tr>"),
            std::string::npos);
  EXPECT_NE(html.find("<span id=\"peaks-drawn\">0</span> of 2 peaks labelled"), std::string::npos);
  EXPECT_NE(html.find("<body data-report=\"loading\" data-peaks-drawn=\"0\">"), std::string::npos);
  EXPECT_NE(html.find("<p class=\"verdict good\">"), std::string::npos);
  const nlohmann::json data = PageData(html);
  EXPECT_EQ(data["kind"], "run");
  EXPECT_EQ(data["chromatogram"]["wavelengthNm"], 220);
  const std::string mau = "\"mau\":[0,1.5,null,0,0.05,-12.346,1234]}";
  EXPECT_EQ(html.substr(html.find("\"mau\":["), mau.size()), mau);
  EXPECT_EQ(data["peaks"].size(), 3u);
  EXPECT_TRUE(data["peaks"][2]["rt"].is_null());
  EXPECT_EQ(data["traces"], nullptr);
}

// A poll a second: the pressure rising from 200 bar (the 31st reading
// failed), %B rising, the oven at 40 °C.
void Poll(host::ChartData& chart, int count) {
  for (int i = 0; i < count; ++i) {
    host::PollRow row;
    row.clockMinutes = i / 60.0;
    row.pressure = i == 30 ? kNone : 200 + i * 0.1;
    row.percentB = 5 + i * 0.05;
    row.ovenTemperature = 40;
    chart.Add(row);
  }
}

// A run with no chromatogram still has its page: its traces, and a line
// that says why there is no chromatogram.
TEST(ReportTest, ARunWithoutAChromatogramSaysSoAndDrawsItsTraces) {
  host::ChartData chart;
  Poll(chart, 120);
  RunReport run;
  run.sample = "blank";
  run.verdict = "failed at 2.0 of 25.0 min: the pump stopped";
  run.noChromatogram = "vial 3 has no sample description (tray.toml)";
  run.traces = &chart;
  run.ovenSetPoint = 40;
  const std::string html = host::RenderRunReport(run);
  EXPECT_NE(html.find("No chromatogram was recorded: vial 3 has no sample description (tray.toml)"), std::string::npos);
  EXPECT_EQ(html.find("id=\"chromatogram\""), std::string::npos);
  EXPECT_EQ(html.find("peaks-section"), std::string::npos);
  EXPECT_NE(html.find("<p class=\"verdict bad\">"), std::string::npos);
  EXPECT_NE(html.find("<div id=\"pressure\" class=\"chart trace\"></div>\n<div id=\"composition\" class=\"chart trace\">"
                      "</div>\n<div id=\"oven\" class=\"chart trace last\"></div>"),
            std::string::npos);
  const nlohmann::json data = PageData(html);
  EXPECT_EQ(data["chromatogram"], nullptr);
  EXPECT_EQ(data["traces"]["ovenSet"], 40);
  EXPECT_FALSE(data["traces"].contains("percentC"));
  // [t, v, ...], a failed reading null.
  const nlohmann::json& pressure = data["traces"]["pressure"];
  EXPECT_EQ(pressure[1], 200);
  EXPECT_EQ(pressure[3], 200.1);
  EXPECT_NE(std::find(pressure.begin(), pressure.end(), nullptr), pressure.end());
}

// A long run's page holds the lowest and highest sample of stretches of
// the signal, with their places, not every sample: every peak still shows.
TEST(ReportTest, ALongRunsPageHoldsEveryPeakInABoundedNumberOfPoints) {
  std::vector<double> signal(600000, 1.0);  // 1000 minutes
  signal[123456] = 99.5;                    // a spike one sample wide
  signal[200000] = kNone;
  const std::string html = host::RenderRunReport(Measured(signal));
  EXPECT_LT(html.size(), 1200u * 1024);
  const nlohmann::json data = PageData(html);
  const nlohmann::json& chromatogram = data["chromatogram"];
  EXPECT_EQ(chromatogram["samples"], 600000);
  ASSERT_TRUE(chromatogram.contains("index"));
  ASSERT_EQ(chromatogram["index"].size(), chromatogram["mau"].size());
  EXPECT_LE(chromatogram["mau"].size(), 30000u);
  const auto spike = std::find(chromatogram["mau"].begin(), chromatogram["mau"].end(), 99.5);
  ASSERT_NE(spike, chromatogram["mau"].end());
  EXPECT_EQ(chromatogram["index"][static_cast<std::size_t>(spike - chromatogram["mau"].begin())], 123456);
  // 50 minutes or less: every sample, no places.
  EXPECT_FALSE(PageData(host::RenderRunReport(Measured(std::vector<double>(30000, 1.0))))["chromatogram"].contains("index"));
}

// A 25-minute run's page, as a sequence writes 100 of them: a few
// milliseconds each, and well under a megabyte.
TEST(ReportTest, ARunPageIsQuickToMakeAndOfAReasonableSize) {
  std::vector<double> signal(15000);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = 50 * std::sin(static_cast<double>(i) / 300.0) + 0.123456;
  host::ChartData chart;
  Poll(chart, 1500);
  RunReport run = Measured(signal);
  run.traces = &chart;
  std::string html;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; ++i) html = host::RenderRunReport(run);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / 10;
  EXPECT_LT(html.size(), 600u * 1024);
  RecordProperty("render_ms", std::to_string(ms));
  // A generous bound for debug and sanitizer builds; a release build takes about a millisecond.
  EXPECT_LT(ms, 200.0);
}

// With QUARN_REPORT_SAMPLES=DIR, pages with what a sequence does not fill
// yet (calibration lines, suitability results) and hostile names, written
// there for a browser to open (tests/host/report_browser_test.sh).
TEST(ReportTest, SamplePagesForABrowser) {
  SequenceReport s = Calibrated();
  s.rows[0].sample = kHostile;
  s.compounds[1] = kHostile;
  s.calibrations[1].compound = kHostile;
  const std::string sequence = host::RenderSequenceReport(s);
  std::vector<double> signal(3000, 0.5);
  for (std::size_t i = 1000; i < 1100; ++i) signal[i] += 40 * std::exp(-0.5 * std::pow((i - 1050.0) / 12.0, 2));
  RunReport run = Measured(signal);
  run.sample = kHostile;
  run.peaks = {MeasuredPeak{kHostile, 1.75, 0.03, 40.0, 100.0, 5000.0, {}, {}}};
  const std::string page = host::RenderRunReport(run);
  // A 100-minute run: its page holds stretches' extremes (above).
  std::vector<double> longSignal(60000, 0.5);
  for (std::size_t i = 40000; i < 40200; ++i) longSignal[i] += 30 * std::exp(-0.5 * std::pow((i - 40100.0) / 15.0, 2));
  RunReport longRun = Measured(longSignal);
  longRun.peaks = {MeasuredPeak{"late", 40100 * 0.1 / 60, 0.06, 30.0, 100.0, 5000.0, {}, {}}};
  longRun.runLengthMin = 100;
  const std::string longPage = host::RenderRunReport(longRun);
  const char* dir = std::getenv("QUARN_REPORT_SAMPLES");
  if (!dir) return;
  std::ofstream(std::string(dir) + "/long-run-sample.html", std::ios::binary) << longPage;
  std::ofstream(std::string(dir) + "/sequence-sample.html", std::ios::binary) << sequence;
  std::ofstream(std::string(dir) + "/run-sample.html", std::ios::binary) << page;
}

}  // namespace
