#include "front/quarn_control_detectors.h"

#include <gtest/gtest.h>

#include "tests/front/front_test_world.h"

namespace {

using front_testing::FrontTest;
using front_testing::Timeline;

class UVFrontTest : public FrontTest, public ::testing::WithParamInterface<int> {};

TEST_F(UVFrontTest, KeepsKindAndNumber) {
  CQuarnControlUVDetector uv(3, 2);
  EXPECT_EQ(uv.GetDetectorKind(), 3);
  EXPECT_EQ(uv.GetDetectorNumber(), 2);
}

TEST_P(UVFrontTest, LoadMethodStepsTo50BeforeAndTo100AfterWhateverTheDownloadSays) {
  CQuarnControlUVDetector uv(0, 1);
  maker.uv->results["DownloadMethod"] = GetParam();
  EXPECT_EQ(uv.LoadMethod("M1"), GetParam());
  EXPECT_EQ(timeline, (Timeline{"Progress open: AutoSampler              ", "Progress 50: UV Detector",
                                "DownloadMethod", "Progress 100", "Sleep to 1000", "Progress close"}));
}

INSTANTIATE_TEST_SUITE_P(Results, UVFrontTest, ::testing::Values(0, 1));

TEST_F(UVFrontTest, UnreadableMethodShowsNoDisplay) {
  CQuarnControlUVDetector uv(0, 1);
  EXPECT_EQ(uv.LoadMethod("Broken", "other"), 0);
  EXPECT_EQ(timeline, Timeline{BrokenMessage()});
}

TEST_F(UVFrontTest, BackEndExceptionPassesThroughWithTheDisplayClosed) {
  CQuarnControlUVDetector uv(0, 1);
  maker.uv->throwFrom = "DownloadMethod";
  EXPECT_THROW(uv.LoadMethod("M1"), CCommunicationsException);
  EXPECT_EQ(timeline.back(), "Progress close");
  EXPECT_EQ(timelineUi.openDisplays, 0);
}

TEST_F(UVFrontTest, StartsDoNothingAndOnlyStopReachesTheBackEnd) {
  CQuarnControlUVDetector uv(0, 1);
  maker.uv->results["StopMethod"] = 9;
  EXPECT_EQ(uv.StartMethod("M1"), 0);
  EXPECT_EQ(uv.StartMethod(), 0);
  EXPECT_EQ(uv.StopMethod(), 9);
  EXPECT_EQ(uv.FinishMethod(), 9);
  EXPECT_EQ(timeline, (Timeline{"StopMethod", "StopMethod"}));
}

TEST_F(UVFrontTest, ForwardedCallsAndFixedAnswers) {
  CQuarnControlUVDetector uv(0, 1);
  maker.uv->results = {{"InitialiseComms", 0}, {"ReadStatus", 4}, {"SwitchLamp 0", 5}};
  CInletSystemStatus status;
  CString text = "unchanged";
  EXPECT_EQ(uv.InitialiseComms(), 0);
  EXPECT_EQ(uv.Initialise(), 1);
  EXPECT_EQ(uv.ReadStatus(status), 4);
  EXPECT_EQ(uv.SwitchLamp(Off), 5);
  EXPECT_EQ(uv.CloseDownComms(), 1);
  EXPECT_EQ(uv.LampOn(), 0);
  EXPECT_EQ(uv.MethodRunning(), 0);
  EXPECT_EQ(uv.PostRunning(), 0);
  EXPECT_EQ(uv.NotReady(text), 1);
  EXPECT_EQ(uv.Error(text), 1);
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(timeline, (Timeline{"InitialiseComms", "Initialise", "ReadStatus", "SwitchLamp 0"}));
}

TEST_F(UVFrontTest, WithoutABackEndEveryCallAnswersItsFixedValue) {
  maker.buildNothing = true;
  CQuarnControlUVDetector uv(0, 1);
  CInletSystemStatus status;
  CString text;
  EXPECT_EQ(uv.InitialiseComms(), 0);
  EXPECT_EQ(uv.Initialise(), 1);
  EXPECT_EQ(uv.ReadStatus(status), 0);
  EXPECT_EQ(uv.SwitchLamp(On), 1);
  EXPECT_EQ(uv.LoadMethod("M1"), 0);
  EXPECT_EQ(uv.StopMethod(), 0);
  EXPECT_EQ(uv.CloseDownComms(), 0);
  EXPECT_EQ(uv.NotReady(text), 1);
  EXPECT_EQ(uv.Error(text), 1);
  EXPECT_TRUE(timeline.empty()) << timeline[0];
}

TEST_F(UVFrontTest, BackEndDiesWithTheFront) {
  { CQuarnControlUVDetector uv(0, 1); }
  EXPECT_EQ(timeline, Timeline{"~UV"});
}

// A record with every field set, to see that nothing is touched.
CInletSystemStatus FilledStatus() {
  CInletSystemStatus status;
  status.GetFlow() = 1.5f;
  status.GetHighPressure() = 120.0f;
  status.GetTemperatureLeft() = 40.0f;
  status.SetNotReadyInfo("warming up");
  status.GetRunning() = 1;
  status.GetLamp() = 1;
  return status;
}

TEST(PassiveFrontTest, DiodeArrayAcceptsEverythingAndTouchesNothing) {
  CQuarnControlPDADetector pda;
  CInletSystemStatus status = FilledStatus();
  CGenericExpRecord record;
  CString text = "unchanged";
  CString empty;
  EXPECT_EQ(pda.ReadStatus(status), 1);
  EXPECT_TRUE(status == FilledStatus());
  for (int answer : {pda.InitialiseComms(), pda.Initialise(), pda.GenericOp(1, 2), pda.StartMethod(),
                     pda.StopMethod(), pda.FinishMethod(), pda.CloseDownComms(), pda.EndDataAcquisition(),
                     pda.PreStartDataAcquisition(), pda.ReadData(), pda.ResetDataAcquisition(),
                     pda.TerminateDataAcquisition(), pda.SwitchLamp(On), pda.LoadMethod("M"), pda.LoadMethod("M", "x"),
                     pda.StartMethod("M"), pda.InitialiseNewDataAcquisition("a", "b"), pda.NotReady(text),
                     pda.Error(text)}) {
    EXPECT_EQ(answer, 1);
  }
  for (int answer : {pda.Balance(), pda.ReadBufferReady(), pda.WriteExpRecord(&record, "M"),
                     pda.WriteExpRecord(&record, "M", empty, eRunTypeSample), pda.LampOn(), pda.MethodRunning(),
                     pda.PostRunning()}) {
    EXPECT_EQ(answer, 0);
  }
  pda.InitialiseRawDataManager(nullptr);
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(record.Text().empty());
}

TEST(PassiveFrontTest, OvenAcceptsEverythingAndTouchesNothing) {
  CQuarnControlOven oven;
  CInletSystemStatus status = FilledStatus();
  CGenericExpRecord record;
  CString text = "unchanged";
  EXPECT_EQ(oven.ReadStatus(status), 1);
  EXPECT_TRUE(status == FilledStatus());
  for (int answer : {oven.InitialiseComms(), oven.Initialise(), oven.GenericOp(1, 2), oven.StartMethod(),
                     oven.StopMethod(), oven.CloseDownComms(), oven.SwitchOven(On), oven.LoadMethod("M"),
                     oven.StartMethod("M"), oven.NotReady(text), oven.Error(text)}) {
    EXPECT_EQ(answer, 1);
  }
  for (int answer : {oven.WriteExpRecord(&record, "M"), oven.OvenOn(), oven.MethodRunning(), oven.PostRunning()}) {
    EXPECT_EQ(answer, 0);
  }
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(record.Text().empty());
}

}  // namespace
