#include "host/run_log.h"

#include <gtest/gtest.h>

#include "host/svg_chart.h"
#include "host/terminal_ui.h"

namespace {

using host::PollRow;

PollRow Sample() {
  PollRow r;
  r.poll = 3;
  r.clockMinutes = 2.5;
  r.elapsedMinutes = 2.25;
  r.running = 1;
  r.methodRunning = 1;
  r.pumpOn = 1;
  r.flow = 1.0;
  r.pressure = 142.26;
  r.percentA = 60;
  r.percentB = 40;
  r.ovenTemperature = 39;
  r.lamp = 1;
  r.notReady = 1;
  r.notReadyText = "The Oven is not ready.\nTarget oven temperature is 40.00";
  return r;
}

TEST(RunLogTest, CsvRowMatchesItsHeaderAndKeepsTextsOnOneLine) {
  const std::string header = host::CsvHeader();
  const std::string row = host::CsvRow(Sample());
  EXPECT_EQ(row,
            "3,2.500,2.250,1,1,1,0,1.000,142.3,60.0,40.0,0.0,0.0,39.0,1,1,0,"
            "The Oven is not ready. Target oven temperature is 40.00,");
  EXPECT_EQ(std::count(header.begin(), header.end(), ','), std::count(row.begin(), row.end(), ','));
}

TEST(RunLogTest, CsvAndJsonEscapeWhatTheyMust) {
  EXPECT_EQ(host::CsvField("a,b \"c\""), "\"a,b \"\"c\"\"\"");
  EXPECT_EQ(host::CsvField("plain"), "plain");
  EXPECT_EQ(host::JsonString("q\"\\\n\x01\xB0\x80"), "\"q\\\"\\\\\\n\\u0001\xC2\xB0\xE2\x82\xAC\"");
}

TEST(RunLogTest, JsonRowIsOneObjectWithEveryField) {
  const std::string json = host::JsonRow(Sample());
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.back(), '}');
  EXPECT_EQ(json.find('\n'), std::string::npos);
  for (const char* key : {"\"poll\":3", "\"elapsed_min\":2.25", "\"percent\":[60.0,40.0,0.0,0.0]",
                          "\"pressure_bar\":142.3", "\"not_ready_text\":\"The Oven is not ready.\\nTarget"}) {
    EXPECT_NE(json.find(key), std::string::npos) << key;
  }
}

TEST(RunLogTest, StatusLineNamesStateAndReasons) {
  const std::string line = host::StatusLineText(Sample());
  EXPECT_NE(line.find("2.25 min  RUNNING  1.000 ml/min  142.3 bar  A/B/C/D 60.0/40.0/0.0/0.0%  oven 39 C  lamp on"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("NOT READY: The Oven is not ready. Target oven temperature is 40.00"), std::string::npos);
}

TEST(SvgChartTest, NiceTicksUseOneTwoFiveSteps) {
  EXPECT_EQ(host::NiceTicks(0, 10, 5), (std::vector<double>{0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(host::NiceTicks(0, 100, 4), (std::vector<double>{0, 20, 40, 60, 80, 100}));
  EXPECT_TRUE(host::NiceTicks(5, 5, 4).empty());
  EXPECT_TRUE(host::NiceTicks(0, std::numeric_limits<double>::infinity(), 4).empty());
}

TEST(SvgChartTest, ChartHasEveryPanelLegendAndEscapesTheTitle) {
  std::vector<PollRow> rows;
  for (int i = 0; i <= 20; ++i) {
    PollRow r = Sample();
    r.clockMinutes = i * 0.5;
    r.percentB = 5 + i * 4.5;
    r.percentA = 100 - r.percentB;
    r.pressure = 120 + i;
    rows.push_back(r);
  }
  const std::string svg = host::RenderStatusSvg(rows, {"Gradient <A&B>", "vial 12, 5.00 \xB5l", 40.0});
  for (const char* part : {"Pressure (bar)", "Composition (%)", "Flow (ml/min)", "Oven (\xC2\xB0" "C)",
                           "Time since sample start (min)", ">%B<", ">Set point 40.0<", "Gradient &lt;A&amp;B&gt;",
                           "5.00 \xC2\xB5l", "<polyline"}) {
    EXPECT_NE(svg.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(svg.find(">%C<"), std::string::npos) << "unused solvents are not drawn";
  EXPECT_EQ(svg.find("nan"), std::string::npos);
}

TEST(SvgChartTest, EmptyAndFlatRunsStillDraw) {
  EXPECT_NE(host::RenderStatusSvg({}, {"t", "s", std::nullopt}).find("No status was polled."), std::string::npos);
  PollRow flat;
  flat.flow = std::numeric_limits<double>::quiet_NaN();
  const std::string svg = host::RenderStatusSvg({flat, flat}, {"t", "s", std::nullopt});
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

TEST(TerminalUiTest, RendersProgressMessagesAndFlashingText) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  {
    host::TerminalUi ui(host::OutputMode::kNormal, out, out, false);
    ui.ProgressOpen("AutoSampler              ");
    ui.ProgressStep(50, "UV Detector");
    ui.ProgressClose();
    ui.MessageBox("Quarn PUMP Communications.\n\nLink down", 0x30);
    ui.FlashStatusText("Running :- ", "Gradient", 1);
    ui.FlashStatusText("Running :- ", "Gradient", 1);  // unchanged: shown once
    ui.FlashStatusText(nullptr, nullptr, 0);
    EXPECT_EQ(ui.MessageCount(), 1);
  }
  std::fclose(out);
  const std::string text(buffer, size);
  std::free(buffer);
  EXPECT_NE(text.find("[..............................]   0%  AutoSampler\n"), std::string::npos) << text;
  EXPECT_NE(text.find("[###############...............]  50%  UV Detector\n"), std::string::npos) << text;
  EXPECT_NE(text.find("+-- WARNING from the plug-in\n   | Quarn PUMP Communications.\n   | \n   | Link down\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find(">> Running :- Gradient"), text.rfind(">> Running :- Gradient"));
  EXPECT_NE(text.find(">> (status text cleared)"), std::string::npos);
}

}  // namespace
