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
  EXPECT_EQ(ui.OpenProgressDisplays(), 0);
}

TEST_F(UVFrontTest, BackEndDiesWithTheFront) {
  { CQuarnControlUVDetector uv(0, 1); }
  EXPECT_EQ(timeline, Timeline{"~UV"});
}

}  // namespace
