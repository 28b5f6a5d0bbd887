#include "front/quarn_control_pump.h"

#include <gtest/gtest.h>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/shared_routines.h"
#include "tests/front/front_test_world.h"

namespace {

using front_testing::FrontTest;
using front_testing::Timeline;

class PumpFrontTest : public FrontTest {};

const Timeline kFullDownload = {
    "ClearMethod",
    "Progress open: DownLoading Initial Conditions", "DownloadInitialConditions",
    "Progress 17: DownLoading Initial Events", "DownloadInitialEvents",
    "Progress 33: DownLoading Timetable", "DownloadTimetable",
    "Progress 66: DownLoading Events", "DownloadEvents",
    "Progress 100", "Sleep to 1000", "Progress close"};

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
  EXPECT_EQ(ui.OpenProgressDisplays(), 0);
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

// The transport flag is read afresh by every front's constructor: any
// non-zero value chooses the server family; a missing one the direct.
TEST_F(PumpFrontTest, TheFlagChoosesTheFamilyAndTheBackEndDiesWithTheFront) {
  { CQuarnControlPump pump; }
  EXPECT_EQ(ReadNetBoxCommsFlag(), 0) << "the missing flag is written as 0";
  for (int flag : {7, -1, 0}) {
    WriteNetBoxCommsFlag(flag);
    CQuarnControlPump pump;
    CQuarnControlAutoSampler sampler;
    CQuarnControlUVDetector uv(0, 1);
  }
  const auto k = BackendFamily::kServer, d = BackendFamily::kDirect;
  EXPECT_EQ(maker.families, (std::vector<BackendFamily>{d, k, k, k, k, k, k, d, d, d}));
  EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "~Pump"), 4);
}

}  // namespace
