#include "front/quarn_control_pump.h"

#include <gtest/gtest.h>

#include "front/shared_routines.h"
#include "tests/front/front_test_world.h"

namespace {

using front_testing::FrontTest;
using front_testing::Timeline;

class PumpFrontTest : public FrontTest {};

const Timeline kFullDownload = {
    "ClearMethod",
    "Progress open: DownLoading Initial Conditions",
    "DownloadInitialConditions",
    "Progress 17: DownLoading Initial Events",
    "DownloadInitialEvents",
    "Progress 33: DownLoading Timetable",
    "DownloadTimetable",
    "Progress 66: DownLoading Events",
    "DownloadEvents",
    "Progress 100",
    "Sleep to 1000",
    "Progress close",
};

TEST_F(PumpFrontTest, LoadMethodRunsTheFourStagesInOrderWithOneMethodObject) {
  CQuarnControlPump pump;
  EXPECT_EQ(pump.LoadMethod("M1"), 1);
  EXPECT_EQ(timeline, kFullDownload);
  ASSERT_EQ(maker.pump->methodsSeen.size(), 4u);
  for (const QuarnMethod* m : maker.pump->methodsSeen) EXPECT_EQ(m, maker.pump->methodsSeen[0]);
  EXPECT_FLOAT_EQ(maker.pump->lastMethod.GetPumpInitialCons().StopTime(), 12.5f);
  EXPECT_EQ(platform::Clock::Get().NowMs(), 1000);
}

class PumpStageFailureTest : public FrontTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(PumpStageFailureTest, FirstFailingStageSkipsTheRestWhileTheDisplayRunsTo100) {
  CQuarnControlPump pump;
  maker.pump->results[GetParam()] = 0;
  EXPECT_EQ(pump.LoadMethod("M1"), 0);
  Timeline expected;
  bool failed = false;
  for (const std::string& line : kFullDownload) {
    const bool isStage = line.rfind("Download", 0) == 0;
    if (isStage && failed) continue;
    expected.push_back(line);
    if (line == GetParam()) failed = true;
  }
  EXPECT_EQ(timeline, expected);
}

INSTANTIATE_TEST_SUITE_P(Stages, PumpStageFailureTest,
                         ::testing::Values("DownloadInitialConditions", "DownloadInitialEvents", "DownloadTimetable",
                                           "DownloadEvents"));

TEST_F(PumpFrontTest, UnreadableMethodClearsButShowsNoDisplayAndDownloadsNothing) {
  CQuarnControlPump pump;
  EXPECT_EQ(pump.LoadMethod("Broken"), 0);
  EXPECT_EQ(timeline, (Timeline{"ClearMethod", BrokenMessage()}));
  EXPECT_EQ(pump.LoadMethod("Missing"), 0);
  EXPECT_EQ(timeline.size(), 4u);
  EXPECT_EQ(timeline[2], "ClearMethod");
}

TEST_F(PumpFrontTest, BackEndExceptionPassesThroughWithTheDisplayClosed) {
  CQuarnControlPump pump;
  maker.pump->throwFrom = "DownloadTimetable";
  EXPECT_THROW(pump.LoadMethod("M1"), CCommunicationsException);
  Timeline expected(kFullDownload.begin(), kFullDownload.begin() + 7);
  expected.push_back("Progress close");
  EXPECT_EQ(timeline, expected) << "no events stage, no pause";
  EXPECT_EQ(timelineUi.openDisplays, 0);
}

TEST_F(PumpFrontTest, NamedStartReadsTheFileAndStartsWhateverTheBackEndSays) {
  CQuarnControlPump pump;
  maker.pump->results["StartMethod"] = 0;
  EXPECT_EQ(pump.StartMethod("M1"), 1);
  EXPECT_EQ(pump.StartMethod(), 1);
  EXPECT_EQ(pump.StartMethod("Broken"), 0);
  EXPECT_EQ(timeline, (Timeline{"StartMethod", "StartMethod", BrokenMessage()}));
}

TEST_F(PumpFrontTest, StopEndsTheFlashingTextFirst) {
  CQuarnControlPump pump;
  maker.pump->results["StopMethod"] = 5;
  EXPECT_EQ(pump.StopMethod(), 5);
  EXPECT_EQ(timeline, (Timeline{"Flash off", "StopMethod"}));
}

TEST_F(PumpFrontTest, MethodLengthIsTheRunLength) {
  CQuarnControlPump pump;
  float length = -1.0f;
  EXPECT_EQ(pump.GetMethodLength("M1", length), 1);
  EXPECT_FLOAT_EQ(length, 12.5f);
  length = -1.0f;
  EXPECT_EQ(pump.GetMethodLength("Broken", length), 0);
  EXPECT_FLOAT_EQ(length, -1.0f);
}

TEST_F(PumpFrontTest, CallsAreForwardedWithTheirArgumentsAndAnswers) {
  CQuarnControlPump pump;
  maker.pump->results = {{"InitialiseComms", 11}, {"ReadStatus", 12}, {"SwitchPump 1", 13}, {"MethodRunning", 14}};
  CInletSystemStatus status;
  CString text = "unchanged";
  EXPECT_EQ(pump.InitialiseComms(), 11);
  EXPECT_EQ(pump.Initialise(), 1);
  EXPECT_EQ(pump.ReadStatus(status), 12);
  EXPECT_EQ(maker.pump->statusSeen, &status);
  EXPECT_EQ(pump.SwitchPump(On), 13);
  EXPECT_EQ(pump.MethodRunning(), 14);
  EXPECT_EQ(pump.CloseDownComms(), 1);
  EXPECT_EQ(pump.LoadMethod("M1", "other"), 1) << "the long form does nothing";
  EXPECT_EQ(pump.NotReady(text), 1);
  EXPECT_EQ(pump.Error(text), 1);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(pump.PumpOn(), 0);
  EXPECT_EQ(pump.PostRunning(), 0);
  EXPECT_EQ(pump.GenericOp(1, 2), 1);
  EXPECT_EQ(timeline, (Timeline{"InitialiseComms", "Initialise", "ReadStatus", "SwitchPump 1", "MethodRunning",
                                "CloseDownComms"}));
}

TEST_F(PumpFrontTest, WithoutABackEndEveryCallAnswersItsFixedValue) {
  maker.buildNothing = true;
  CQuarnControlPump pump;
  CInletSystemStatus status;
  CString text;
  float length = -1.0f;
  EXPECT_EQ(pump.InitialiseComms(), 0);
  EXPECT_EQ(pump.Initialise(), 1);
  EXPECT_EQ(pump.ReadStatus(status), 0);
  EXPECT_EQ(pump.SwitchPump(On), 0);
  EXPECT_EQ(pump.LoadMethod("M1"), 0);
  EXPECT_EQ(pump.StartMethod(), 0);
  EXPECT_EQ(pump.StartMethod("M1"), 0);
  EXPECT_EQ(pump.StopMethod(), 0);
  EXPECT_EQ(pump.CloseDownComms(), 1);
  EXPECT_EQ(pump.GetMethodLength("M1", length), 0);
  EXPECT_FLOAT_EQ(length, -1.0f);
  EXPECT_EQ(pump.MethodRunning(), 0);
  EXPECT_EQ(pump.NotReady(text), 1);
  EXPECT_EQ(pump.Error(text), 1);
  EXPECT_TRUE(timeline.empty()) << timeline[0];
}

TEST_F(PumpFrontTest, TheFlagChoosesTheFamilyAndTheBackEndDiesWithTheFront) {
  WriteNetBoxCommsFlag(1);
  {
    CQuarnControlPump pump;
  }
  WriteNetBoxCommsFlag(0);
  {
    CQuarnControlPump pump;
  }
  EXPECT_EQ(maker.families, (std::vector<BackendFamily>{BackendFamily::kServer, BackendFamily::kDirect}));
  EXPECT_EQ(timeline, (Timeline{"~Pump", "~Pump"}));
}

}  // namespace
