#include "front/quarn_control_autosampler.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <tuple>

#include "tests/front/front_test_world.h"

namespace {

using front_testing::FrontTest;
using front_testing::Timeline;

class AutoSamplerFrontTest : public FrontTest {};

// Each sample start (the vial as text, as a number, or in the host's
// parameters) downloads the method with its vial and volume, flashes the
// method's name and starts, answering what the back-end's start answers.
TEST_F(AutoSamplerFrontTest, SampleStartsPatchVialAndVolumeThenFlashAndStart) {
  CQuarnControlAutoSampler sampler;
  CAutoSampler& host = sampler;
  maker.sampler->results["StartMethod"] = 7;
  const Timeline start = {"DownloadMethod", "Flash on: Running :- |M1", "StartMethod"};
  const std::function<int()> starts[] = {
      [&] { return sampler.StartMethod("M1", CString("12"), 5.0f); },
      [&] { return sampler.StartMethod("M1", 3, 2.0f); },
      [&] { return host.StartMethod("M1", CAutoSampler::StartMethodParams{"9", 2.5f}); }};
  for (auto [index, vial, volume] : {std::tuple{0, 12, 5.0f}, std::tuple{1, 3, 2.0f}, std::tuple{2, 9, 2.5f}}) {
    timeline.clear();
    EXPECT_EQ(starts[index](), 7) << index;
    EXPECT_EQ(timeline, start) << index;
    EXPECT_EQ(maker.sampler->lastMethod.GetSamplerInitialCons().VialNumber(), vial);
    EXPECT_FLOAT_EQ(maker.sampler->lastMethod.GetSamplerInitialCons().InjectionVolume(), volume);
  }
}

TEST_F(AutoSamplerFrontTest, SampleStartGoesOnWhenTheDownloadFails) {
  CQuarnControlAutoSampler sampler;
  maker.sampler->results["DownloadMethod"] = 0;
  EXPECT_EQ(sampler.StartMethod("M1", CString("3"), 1.0f), 1);
  EXPECT_EQ(timeline.back(), "StartMethod");
}

struct VialCase {
  const char* text;
  int vial;
};

class VialTextTest : public ::testing::TestWithParam<VialCase> {};

TEST_P(VialTextTest, ReadsLikeAtoi) {
  EXPECT_EQ(CQuarnControlAutoSampler::VialFromText(GetParam().text), GetParam().vial);
}

INSTANTIATE_TEST_SUITE_P(Texts, VialTextTest,
                         ::testing::Values(VialCase{"12", 12}, VialCase{"7a", 7}, VialCase{"", 0}, VialCase{"a7", 0},
                                           VialCase{"  42", 42}, VialCase{"+5", 5}, VialCase{"-3", -3},
                                           VialCase{"0012", 12}, VialCase{"99999999999", INT_MAX},
                                           VialCase{"-99999999999", INT_MIN}, VialCase{nullptr, 0}));

TEST_F(AutoSamplerFrontTest, NamedStartsKeepTheNameForTheFlashingText) {
  CQuarnControlAutoSampler sampler;
  EXPECT_EQ(sampler.StartMethod("M1"), 1);
  EXPECT_EQ(sampler.StartMethod("Broken"), 0);
  EXPECT_EQ(sampler.StartMethod("Broken", CString("1"), 1.0f), 0);
  EXPECT_EQ(sampler.StartMethod(), 1);
  EXPECT_EQ(timeline, (Timeline{"Flash on: Running :- |M1", "StartMethod", BrokenMessage(), BrokenMessage(),
                                "Flash on: Running :- |M1", "StartMethod"}));
}

struct EdgeCase {
  const char* name;
  std::vector<int> injecting;
  int flashOffs;
};

class InjectingEdgeTest : public FrontTest, public ::testing::WithParamInterface<EdgeCase> {};

TEST_P(InjectingEdgeTest, FlashingTextEndsOnTheFallingEdgeOnly) {
  CQuarnControlAutoSampler sampler;
  maker.sampler->injecting = GetParam().injecting;
  CInletSystemStatus status;
  for (size_t i = 0; i < GetParam().injecting.size(); ++i) EXPECT_EQ(sampler.ReadStatus(status), 1);
  EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "Flash off"), GetParam().flashOffs);
}

INSTANTIATE_TEST_SUITE_P(Polls, InjectingEdgeTest,
                         ::testing::Values(EdgeCase{"OneThenZero", {1, 0}, 1}, EdgeCase{"ZeroThenZero", {0, 0}, 0},
                                           EdgeCase{"FirstPollZero", {0}, 0}, EdgeCase{"RisingOnly", {0, 1, 1}, 0},
                                           EdgeCase{"TwoRuns", {1, 0, 0, 2, 0}, 2}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(AutoSamplerFrontTest, PollReadsStatusThenInjecting) {
  CQuarnControlAutoSampler sampler;
  maker.sampler->injecting = {1, 0};
  maker.sampler->results["ReadStatus"] = 3;
  CInletSystemStatus status;
  EXPECT_EQ(sampler.ReadStatus(status), 3);
  EXPECT_EQ(sampler.ReadStatus(status), 3);
  EXPECT_EQ(timeline, (Timeline{"ReadStatus", "Injecting", "ReadStatus", "Injecting", "Flash off"}));
}

TEST_F(AutoSamplerFrontTest, MethodRunningIsInjecting) {
  CQuarnControlAutoSampler sampler;
  maker.sampler->injecting = {1, 1, 0, 0};
  EXPECT_EQ(sampler.MethodRunning(), 1);
  EXPECT_EQ(sampler.Injecting(), 1);
  EXPECT_EQ(sampler.MethodRunning(), 0);
  EXPECT_EQ(sampler.Injecting(), 0);
}

TEST_F(AutoSamplerFrontTest, LoadMethodShowsItsDisplayOnlyForAReadableFile) {
  CQuarnControlAutoSampler sampler;
  maker.sampler->results["DownloadMethod"] = 0;
  EXPECT_EQ(sampler.LoadMethod("Broken"), 0);
  EXPECT_EQ(sampler.LoadMethod("M1", "ignored"), 0);
  EXPECT_EQ(timeline, (Timeline{BrokenMessage(), "Progress open: AutoSampler              ", "DownloadMethod",
                                "Progress 100", "Sleep to 1000", "Progress close"}));
  EXPECT_EQ(maker.sampler->lastMethod.GetSamplerInitialCons().VialNumber(), 4) << "the method's own vial";
}

TEST_F(AutoSamplerFrontTest, BackEndExceptionPassesThroughWithTheDisplayClosed) {
  CQuarnControlAutoSampler sampler;
  maker.sampler->throwFrom = "DownloadMethod";
  EXPECT_THROW(sampler.LoadMethod("M1"), CCommunicationsException);
  EXPECT_EQ(timeline.back(), "Progress close");
  EXPECT_EQ(ui.OpenProgressDisplays(), 0);
  EXPECT_THROW(sampler.StartMethod("M1", CString("2"), 1.0f), CCommunicationsException);
}

TEST_F(AutoSamplerFrontTest, DestructionDeletesTheBackEndThenEndsTheFlashingText) {
  { CQuarnControlAutoSampler sampler; }
  maker.buildNothing = true;
  { CQuarnControlAutoSampler sampler; }
  EXPECT_EQ(timeline, (Timeline{"~Sampler", "Flash off", "Flash off"}));
}

}  // namespace
