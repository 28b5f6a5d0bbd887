// The fronts' method reports in the experiment record.
#include <gtest/gtest.h>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "tests/front/front_test_world.h"

namespace {

using front_testing::FrontTest;
using front_testing::Timeline;

// Each front, with and without a back-end.
class ReportTest : public FrontTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    FrontTest::SetUp();
    maker.buildNothing = GetParam();
  }
};

TEST_P(ReportTest, EachFrontPrintsItsOwnUnitAndSendsNothing) {
  CQuarnControlPump pump;
  CQuarnControlAutoSampler sampler;
  CQuarnControlUVDetector uv(0, 1);
  CGenericExpRecord record;
  EXPECT_EQ(pump.WriteExpRecord(&record, "M1"), 1);
  EXPECT_EQ(record.Text(), ReportOfM1("PUMP"));
  record.Clear();
  EXPECT_EQ(sampler.WriteExpRecord(&record, "M1"), 1);
  EXPECT_EQ(record.Text(), ReportOfM1("AUTOSAMPLER"));
  record.Clear();
  CString unused;
  EXPECT_EQ(uv.WriteExpRecord(&record, "M1", unused, eRunTypeSample), 1) << "the long form forwards";
  EXPECT_EQ(record.Text(), ReportOfM1("UVDETECTOR"));
  EXPECT_EQ(ReportOfM1("AUTOSAMPLER").rfind("Autosampler Method\n", 0), 0u);
  EXPECT_TRUE(timeline.empty()) << timeline[0];
}

TEST_P(ReportTest, AnUnreadableMethodWritesNothing) {
  CQuarnControlPump pump;
  CQuarnControlAutoSampler sampler;
  CQuarnControlUVDetector uv(0, 1);
  CGenericExpRecord record;
  EXPECT_EQ(pump.WriteExpRecord(&record, "Broken"), 0);
  EXPECT_EQ(sampler.WriteExpRecord(&record, "Broken"), 0);
  EXPECT_EQ(uv.WriteExpRecord(&record, "Missing"), 0);
  EXPECT_TRUE(record.Text().empty());
  EXPECT_EQ(timeline.size(), 3u) << "one message per failed read";
}

INSTANTIATE_TEST_SUITE_P(BackEnd, ReportTest, ::testing::Values(false, true),
                         [](const auto& param_info) { return param_info.param ? "Without" : "With"; });

TEST_F(FrontTest, SampleRunRecordEndsWithTheInjectionBlock) {
  CQuarnControlAutoSampler sampler;
  CGenericExpRecord record;
  ASSERT_EQ(sampler.WriteExpRecord(&record, "M1"), 1);
  sampler.WriteInjectionVolume(&record, 2.0f);
  EXPECT_EQ(record.Text(), ReportOfM1("AUTOSAMPLER") +
                               "\nSample Run Injection Parameter\n\nInjection Volume (ul)   -   2.00\n");
}

}  // namespace
