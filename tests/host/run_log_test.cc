#include "host/outputs/run_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "host/outputs/svg_chart.h"
#include "host/outputs/terminal_ui.h"
#include "host/running/run_judge.h"
#include "host/text/display_text.h"
#include "tests/support/golden.h"

namespace {

using host::PollRow;

PollRow Sample() {
  PollRow r;
  r.poll = 3, r.clockMinutes = 2.5, r.elapsedMinutes = 2.25;
  r.running = r.methodRunning = r.pumpOn = r.lamp = r.notReady = 1;
  r.flow = 1.0, r.pressure = 142.26, r.percentA = 66.67, r.percentB = 33.33, r.ovenTemperature = 39.26;
  r.percentD = -1e-5;  // the server's remainder for a channel not in use: shown as 0, never drawn
  r.notReadyText = "The Oven is not ready.\nTarget oven temperature is 40.00";
  return r;
}

TEST(RunLogTest, CsvRowMatchesItsHeaderAndKeepsTextsOnOneLine) {
  const std::string header = host::CsvHeader(), row = host::CsvRow(Sample());
  EXPECT_EQ(row,
            "3,2.500,2.250,1,1,1,0,1.000,142.3,66.7,33.3,0.0,0.0,39.3,1,1,0,"
            "The Oven is not ready. Target oven temperature is 40.00,,run");
  EXPECT_EQ(std::count(header.begin(), header.end(), ','), std::count(row.begin(), row.end(), ','));
}

// The logbook's events: what changed from one poll to the next, texts
// on one line and in UTF-8; the first poll tells only what is on.
TEST(RunLogTest, PollEventsNameEachChange) {
  host::PollRow off, on = Sample();
  on.error = 1;
  on.errorText = "Pump over\npressure \xB0";
  EXPECT_EQ(host::PollEvents(nullptr, off), std::vector<std::string>{});
  EXPECT_EQ(host::PollEvents(&off, on),
            (std::vector<std::string>{"not ready: The Oven is not ready. Target oven temperature is 40.00",
                                      "error: Pump over pressure \u00b0", "pump on (1.000 ml/min, 142.3 bar)",
                                      "the run started", "UV lamp on"}));
  EXPECT_EQ(host::PollEvents(&on, off),
            (std::vector<std::string>{"ready", "the error cleared", "pump off (0.000 ml/min, 0.0 bar)",
                                      "the run ended at 2.25 min", "UV lamp off"}));
  EXPECT_EQ(host::PollEvents(&on, on), std::vector<std::string>{});
  PollRow restarted = on;
  restarted.elapsedMinutes = 0.5;
  EXPECT_EQ(host::PollEvents(&on, restarted),
            std::vector<std::string>{"the run restarted: its clock went back from 2.25 to 0.50 min"});
  EXPECT_EQ(host::EscapeControls("a\x1B[2Jb\n\t\x7F\u00e9"), "a\\x1B[2Jb\\n\\t\\x7F\u00e9");
}

TEST(RunLogTest, CsvAndJsonEscapeWhatTheyMust) {
  EXPECT_EQ(host::CsvField("a,b \"c\""), "\"a,b \"\"c\"\"\"");
  EXPECT_EQ(host::CsvField("plain"), "plain");
  EXPECT_EQ(host::OneLineText("a\r\n  b \n"), "a b");
  EXPECT_EQ(host::JsonString("q\"\\\n\x01\xB0\x80"), "\"q\\\"\\\\\\n\\u0001\xC2\xB0\xE2\x82\xAC\"");
}

TEST(RunLogTest, JsonRowIsOneObjectWithEveryField) {
  const std::string json = host::JsonRow(Sample());
  EXPECT_TRUE(json.starts_with('{') && json.ends_with('}') && json.find('\n') == std::string::npos) << json;
  for (const char* key : {"\"poll\":3", "\"elapsed_min\":2.25", "\"percent\":[66.7,33.3,0.0,0.0]", "\"oven_c\":39.3",
                          "\"pressure_bar\":142.3", "\"not_ready_text\":\"The Oven is not ready.\\nTarget",
                          "\"phase\":\"run\""}) {
    EXPECT_NE(json.find(key), std::string::npos) << key;
  }
}

// A log keeps the status line of every change of state and of every new
// clock minute, not the polls in between.
TEST(RunLogTest, MilestonesAreChangesOfStateAndNewMinutes) {
  const PollRow before = Sample();
  for (int PollRow::*flag : {&PollRow::running, &PollRow::methodRunning, &PollRow::injecting, &PollRow::pumpOn,
                             &PollRow::notReady, &PollRow::error}) {
    PollRow after = before;
    after.*flag ^= 1;
    EXPECT_TRUE(host::IsMilestone(before, after));
  }
  PollRow after = before;
  after.clockMinutes = 2.99, after.flow = 0.5, after.lamp = 0;
  EXPECT_FALSE(host::IsMilestone(before, after));
  after.clockMinutes = 3.0;
  EXPECT_TRUE(host::IsMilestone(before, after));
}

TEST(RunLogTest, StatusLineNamesTheStateButLeavesTheReasonsToTheirOwnLine) {
  EXPECT_EQ(host::StatusLineText(Sample()),
            "RUNNING  1.000 ml/min  142.3 bar  A/B/C/D 66.7/33.3/0.0/0.0%  oven 39 \u00b0C  lamp on  NOT READY");
}

TEST(RunLogTest, RunProgressShowsRunTimeOfLengthAndTimeLeftAtTheSpeed) {
  EXPECT_EQ(host::RunProgress(12.0, 25.0, 60.0, 14), "[######........] 12.0/25.0 min, 13 s left");
  EXPECT_EQ(host::RunProgress(0.0, 25.0, 1.0, 4), "[....] 0.0/25.0 min, 25 min 00 s left");
  EXPECT_EQ(host::RunProgress(30.0, 600.0, 1.0, 4), "[....] 30.0/600.0 min, 9 h 30 min left");
  EXPECT_EQ(host::RunProgress(99.0, 25.0, std::nullopt, 4), "[####] 25.0/25.0 min");
  EXPECT_EQ(host::RunProgress(1.0, 0.0, std::nullopt, 4), "[....] 0.0/0.0 min");
  EXPECT_EQ(host::DurationText(0.99) + ", " + host::DurationText(119.4) + ", " + host::DurationText(150),
            "59 s, 119 min, 2.5 h");
  EXPECT_EQ(host::FitToWidth("oven 40 \xC2\xB0" "C now", 9), "oven 40 \xC2\xB0");
  EXPECT_EQ(host::FitToWidth("short", 9), "short");
}

// 10000 minutes polled every second: the chart keeps every extreme, small.
TEST(SvgChartTest, LongRunIsReducedButKeepsItsPeaks) {
  host::ChartData data;
  PollRow r = Sample();
  for (int i = 0; i < 600000; ++i) {
    r.clockMinutes = i / 60.0;
    r.pressure = i == 345678 ? 390.0 : (i == 0 ? 2.0 : 100.0 + i % 7);
    data.Add(r);
  }
  const auto points = data.Points(host::ChartData::kPressure);
  EXPECT_LE(points.size(), 2000u);
  EXPECT_EQ(data.Range(host::ChartData::kPressure), std::make_pair(2.0, 390.0));
  EXPECT_TRUE(std::any_of(points.begin(), points.end(), [](auto& p) { return p.minutes == 345678 / 60.0; }));
  const std::string svg = host::RenderStatusSvg(data, {"t", "s", std::nullopt, "interrupted at 5.0 of 10000.0 min"});
  EXPECT_LT(svg.size(), 1000000u);
  EXPECT_NE(svg.find(">interrupted at 5.0 of 10000.0 min</text>"), std::string::npos);
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
    r.clockMinutes = i * 0.5, r.percentB = 5 + i * 4.5, r.percentA = 100 - r.percentB, r.pressure = 120 + i;
    r.percentC = i == 20 ? 0.1 : 0.0;  // used once: drawn
    rows.push_back(r);
  }
  const std::string svg = host::RenderStatusSvg(rows, {"Gradient <A&B>", "vial 12, 5.00 \u00b5l", 40.0, ""});
  for (const char* part : {"Pressure (bar)", "Composition (%)", "Flow (ml/min)", "Oven (\xC2\xB0" "C)",
                           "Time since sample start (min)", ">%B<", ">Set point 40.0<", "Gradient &lt;A&amp;B&gt;",
                           "5.00 \xC2\xB5l", "<polyline"}) {
    EXPECT_NE(svg.find(part), std::string::npos) << part;
  }
  EXPECT_TRUE(svg.find(">%C<") != std::string::npos && svg.find(">%D<") == std::string::npos) << "unused: not drawn";
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  // The drawing itself, element by element.
  testing_support::ExpectMatchesGolden(svg, "host/golden/status-chart.svg");
}

TEST(SvgChartTest, EmptyAndFlatRunsStillDraw) {
  EXPECT_NE(host::RenderStatusSvg(std::vector<PollRow>{}, {"t", "s", std::nullopt, ""}).find("No status was polled."), std::string::npos);
  PollRow flat;
  flat.flow = std::numeric_limits<double>::quiet_NaN();
  const std::string svg = host::RenderStatusSvg({flat, flat}, {"t", "s", std::nullopt, ""});
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

// A reading that failed is no reading: an empty cell, null in JSON, "--"
// on the live line, and a break in the chart's line.
TEST(SvgChartTest, FailedReadingsBreakTheLine) {
  std::vector<PollRow> rows(6, Sample());
  for (int i = 0; i < 6; ++i) rows[i].clockMinutes = i / 60.0;
  rows[2].pressure = rows[3].pressure = std::numeric_limits<double>::quiet_NaN();
  const std::string svg = host::RenderStatusSvg(rows, {"t", "s", std::nullopt, ""});
  const std::regex pressureLine("polyline fill=\"none\" stroke=\"#1f4e9c\"");
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(std::distance(std::sregex_iterator(svg.begin(), svg.end(), pressureLine), std::sregex_iterator()), 2);
  EXPECT_NE(host::CsvRow(rows[2]).find(",1.000,,66.7,"), std::string::npos);
  EXPECT_NE(host::JsonRow(rows[2]).find("\"pressure_bar\":null"), std::string::npos);
  EXPECT_NE(host::StatusLineText(rows[2]).find(" -- bar"), std::string::npos);
}

// On a terminal the progress bar is one line redrawn in place (shown here
// as <CR> ... <EL>), ended before anything else is printed; elsewhere a
// line each.
class TerminalUiTest : public ::testing::TestWithParam<bool> {};

TEST_P(TerminalUiTest, RendersProgressMessagesAndFlashingText) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    host::TerminalUi ui(host::OutputMode::kNormal, out, out, GetParam());
    ui.StatusLine("IDLE  0.000 ml/min", false);  // not a milestone: on a terminal only
    ui.ProgressOpen("AutoSampler              ");
    ui.ProgressStep(50, "UV Detector");
    ui.ProgressClose();
    ui.MessageBox("Quarn PUMP Communications.\n\nLink down", 0x30);
    ui.StatusLine("RUN  0.500 ml/min", false);
    ui.FlashStatusText("Running :- ", "Gradient", 1);
    ui.FlashStatusText("Running :- ", "Gradient", 1);  // unchanged: shown once
    ui.FlashStatusText(nullptr, nullptr, 0);
    for (const char* text : {"Oven\nnot ready", "Oven\nnot ready", "", "Oven\nnot ready"}) ui.Reasons(text, "");
    EXPECT_EQ(ui.MessageCount(), 1);
  }
  std::string text;
  std::rewind(out);
  for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
  std::fclose(out);
  for (auto [from, to] : {std::pair{"\r", "<CR>"}, std::pair{"\033[K", "<EL>"}}) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) text.replace(at, std::strlen(from), to);
  }
  // The flashing text shown once while unchanged; the reasons printed at
  // each change, never for an unchanged text.
  testing_support::ExpectMatchesGolden(text, GetParam() ? "host/golden/terminal-ui-in-place.txt" : "host/golden/terminal-ui.txt");
}
INSTANTIATE_TEST_SUITE_P(OnATerminalOrNot, TerminalUiTest, ::testing::Bool());

// No device's reason is lost in the merge, and one device's error is the
// poll's error (the record's own merge would need every device to agree).
TEST(RunLogTest, EveryDevicesReasonReachesTheMergedReading) {
  CInletSystemStatus merged, clean;  // the pump and a device: ready, no error
  CInletSystemStatus sampler, uv;
  sampler.GetNotReady() = sampler.GetError() = uv.GetNotReady() = 1;
  sampler.SetNotReadyInfo("Autosampler is locked.");
  sampler.SetErrorInfo("Autosampler has gone into fault status.");
  uv.SetNotReadyInfo("Network connections not initialised or not responding");
  host::AddDeviceReading(merged, clean);
  EXPECT_EQ(merged.GetError(), 0);
  for (CInletSystemStatus* device : {&sampler, &uv, &sampler}) host::AddDeviceReading(merged, *device);
  EXPECT_EQ(merged.GetNotReady(), 1);
  EXPECT_EQ(merged.GetNotReadyInfo(),
            CString("Autosampler is locked.\nNetwork connections not initialised or not responding"));
  EXPECT_EQ(merged.GetError(), 1);
  EXPECT_EQ(merged.GetErrorInfo(), CString("Autosampler has gone into fault status."));
}

}  // namespace

namespace {

// The judge: facts in, outcome out; the first cause that applies wins.
struct JudgeCase {
  const char* name;
  void (*facts)(host::RunFacts&);
  bool good;
  const char* outcome;
};

class RunJudgeTest : public testing::TestWithParam<JudgeCase> {};

TEST_P(RunJudgeTest, NamesTheCauseSeen) {
  host::RunFacts f;
  f.runLength = 10, f.runTime = 10, f.methodFlow = 1.0, f.limits.upper = 200, f.limits.lower = 10;
  f.sampleStarted = f.samplerSeen = f.injected = true;
  f.last = f.lastRunning = PollRow{};
  f.last->flow = f.lastRunning->flow = 1.0;
  f.last->pumpOn = f.lastRunning->pumpOn = 1;
  f.last->pressure = f.lastRunning->pressure = 100;
  GetParam().facts(f);
  const host::RunVerdict v = host::JudgeRun(f);
  EXPECT_EQ(v.good, GetParam().good);
  EXPECT_EQ(v.outcome, GetParam().outcome);
  EXPECT_EQ(v.message.empty(), GetParam().good);
  // A resumed sequence reads the result back from the outcome in a record.
  EXPECT_EQ(host::ResultOfOutcome(v.outcome),
            v.good ? "good" : v.notReady ? "not-ready" : f.stopSignal.empty() ? "failed" : "interrupted");
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RunJudgeTest,
    testing::Values(
        JudgeCase{"Completed", [](host::RunFacts&) {}, true, "completed, 10.0 of 10.0 min"},
        JudgeCase{"WithinTheLastPoll", [](host::RunFacts& f) { f.runTime = 9.96; }, true, "completed, 10.0 of 10.0 min"},
        JudgeCase{"Signal", [](host::RunFacts& f) { f.stopSignal = "SIGINT", f.runTime = 2; }, false,
                  "interrupted at 2.0 of 10.0 min (SIGINT)"},
        JudgeCase{"TripWhileWaiting", [](host::RunFacts& f) { f.waitFailure = "the pump stopped", f.failed = true; },
                  false, "failed before the injection: the pump stopped"},
        JudgeCase{"StepFailed", [](host::RunFacts& f) { f.failed = true, f.failure = "x", f.runTime = 0; }, false,
                  "failed at 0.0 of 10.0 min: x"},
        JudgeCase{"TripAfterTheSamplerBegan",
                  [](host::RunFacts& f) { f.failed = true, f.failure = "x", f.runTime = 0, f.injected = false; }, false,
                  "failed at 0.0 of 10.0 min: x; the autosampler had begun its injection sequence"},
        // A rise or fall of half a bar between polls is not named.
        JudgeCase{"UpperLimit",
                  [](host::RunFacts& f) {
                    f.runTime = 4, f.lastRunning->pressure = 191, f.lastRunning->pressureRise = 0.5, f.last->flow = 0;
                  },
                  false,
                  "ended at 4.0 of 10.0 min: pressure reached its limit of 200 bar (191.0 bar at the last reading), "
                  "flow dropped to 0"},
        // A gradient step's limit counts from its time, on the transport that sends it.
        JudgeCase{"StepLimit",
                  [](host::RunFacts& f) {
                    f.runTime = 4, f.limits.upperSteps = {{2.0, 300}}, f.lastRunning->elapsedMinutes = 3;
                    f.lastRunning->pressure = 191;
                  },
                  false, "ended at 4.0 of 10.0 min: the instruments stopped it"},
        // A lower limit of 1 bar counts as well.
        JudgeCase{"LowerLimit",
                  [](host::RunFacts& f) {
                    f.runTime = 4, f.limits.lower = 1, f.lastRunning->pressure = 1.0, f.lastRunning->pressureRise = -0.5;
                  },
                  false,
                  "ended at 4.0 of 10.0 min: pressure fell to its lower limit of 1 bar (1.0 bar at the last reading)"},
        // A pump its upper limit stopped reads its pressure falling to 0: no lower limit met.
        JudgeCase{"StoppedPumpIsNoLowerLimit",
                  [](host::RunFacts& f) {
                    f.runTime = 4, f.lastRunning->pressure = 0, f.lastRunning->pumpOn = 0, f.last->flow = 0;
                    f.lastFlowing = f.last, f.lastFlowing->flow = 1, f.lastFlowing->pressure = 199;
                  },
                  false, "ended at 4.0 of 10.0 min: pressure reached its limit of 200 bar (199.0 bar at the last reading), "
                         "flow dropped to 0"},
        JudgeCase{"ErrorText", [](host::RunFacts& f) { f.runTime = 4, f.last->error = 1, f.last->errorText = "Leak\n"; },
                  false, "ended at 4.0 of 10.0 min: the instruments report: Leak"},
        JudgeCase{"RunWithoutSequence", [](host::RunFacts& f) { f.injected = f.samplerSeen = false; }, false,
                  "injection not known: the run started, but the autosampler did not report an injection sequence"},
        JudgeCase{"EndedBeforeTheRun", [](host::RunFacts& f) { f.injected = f.samplerSeen = false, f.runTime = 0; },
                  false, "ended at 0.0 of 10.0 min: the instruments stopped it; no sample was injected"},
        JudgeCase{"SequenceWithoutRun", [](host::RunFacts& f) { f.injected = false; }, false,
                  "injection not known: the autosampler began its injection sequence, but the run did not start after it"},
        JudgeCase{"NotReady", [](host::RunFacts& f) { f.notReady = "oven 35.0 \u00b0C; flow 0.9"; }, false,
                  "completed, 10.0 of 10.0 min, but injected before the instruments were ready (oven 35.0 \u00b0C; flow 0.9)"},
        JudgeCase{"NotReadyAndHitByAFault", [](host::RunFacts& f) { f.notReady = "x", f.faultsHit = {"a"}; }, false,
                  "completed, 10.0 of 10.0 min, but injected before the instruments were ready (x), but hit by the "
                  "injected fault a: not a valid run"},
        JudgeCase{"FaultOnAGoodRun", [](host::RunFacts& f) { f.faultsHit = {"a", "b"}; }, false,
                  "completed, 10.0 of 10.0 min, but hit by the injected fault a, b: not a valid run"},
        JudgeCase{"FaultOnAFailedRun", [](host::RunFacts& f) { f.runTime = 0, f.failed = true, f.faultsHit = {"a"}; },
                  false, "failed at 0.0 of 10.0 min; injected fault: a"}),
    [](const testing::TestParamInfo<JudgeCase>& p) { return std::string(p.param.name); });

// A record's reason for a missing injection says the run started only
// when its clock did.
TEST(RunJudgeReasonTest, NamesARunStartOnlyWhenThereWasOne) {
  host::RunFacts f;
  f.sampleStarted = true;
  EXPECT_EQ(host::NoInjectionReason(f), "the autosampler did not report an injection sequence");
  f.runTime = 0.5;
  EXPECT_EQ(host::NoInjectionReason(f), "the run started, but the autosampler did not report an injection sequence");
}

}  // namespace
