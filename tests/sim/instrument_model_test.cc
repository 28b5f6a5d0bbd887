#include "sim/instrument_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using sim::Composition;
using sim::InstrumentModel;
using sim::Notice;
using sim::Program;
using sim::TimetableStep;

constexpr std::uint16_t kPump1 = 0x0101;

class InstrumentModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::uint16_t unit : {0x0101, 0x0102, 0x0103, 0x0401, 0x0501, 0x0601}) model.SetUnitPresent(unit, true);
  }
  // Advances in one step, returning what happened.
  std::vector<Notice> To(std::int64_t t) {
    std::vector<Notice> notices;
    model.AdvanceTo(t, notices);
    return notices;
  }
  static Program Isocratic(double flowUlMin, int upper = 400, int lower = 0) {
    Program p;
    p.pumps[0].flowUlMin = flowUlMin;
    p.pumps[0].composition = Composition{100, 0, 0};
    p.pumps[0].upperLimitBar = upper;
    p.pumps[0].lowerLimitBar = lower;
    return p;
  }
  static TimetableStep Step(std::int64_t t, double flow, Composition c) {
    TimetableStep step;
    step.timeMs = t;
    step.flowUlMin = flow;
    step.composition = c;
    return step;
  }
  InstrumentModel model;
};

struct ViscosityCase {
  const char* name;
  Composition composition;
  double columnC;
  double cP;
};

void PrintTo(const ViscosityCase& c, std::ostream* os) { *os << c.name; }

class ViscosityTest : public ::testing::TestWithParam<ViscosityCase> {};

TEST_P(ViscosityTest, FollowsTheMixtureAndTheColumnTemperature) {
  const ViscosityCase& c = GetParam();
  EXPECT_NEAR(InstrumentModel::ViscosityCp(c.composition, c.columnC), c.cP, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Mixtures, ViscosityTest,
    ::testing::Values(ViscosityCase{"Water", {100, 0, 0}, 25, 0.89}, ViscosityCase{"Methanol", {0, 100, 0}, 25, 0.54},
                      ViscosityCase{"Acetonitrile", {0, 0, 100}, 25, 0.34},
                      ViscosityCase{"WaterMethanolHalfAndHalf", {50, 50, 0}, 25, 1.60},
                      ViscosityCase{"WaterAcetonitrileHalfAndHalf", {50, 0, 50}, 25, 0.80},
                      ViscosityCase{"WarmWater", {100, 0, 0}, 40, 0.667},
                      ViscosityCase{"NoSolventCountsAsWater", {0, 0, 0}, 25, 0.89},
                      ViscosityCase{"NegativeShareIgnored", {150, -50, 0}, 25, 0.89}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(InstrumentModelTest, NodeStatesFollowPumpAndRun) {
  Program p = Isocratic(1000);
  p.runTimeS = 60;
  model.LoadProgram(p);
  EXPECT_EQ(model.ReadNode().state, 1u);
  model.PumpStart();
  EXPECT_EQ(model.ReadNode().state, 2u);
  EXPECT_EQ(model.ReadPump(0).flowUlMin, 1000.0);
  To(1000);
  model.StartRun();
  EXPECT_EQ(model.ReadNode().state, 3u);
  To(31000);
  EXPECT_EQ(model.ReadNode().elapsedMs, 30000);
  const auto notices = To(70000);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, Notice::Kind::kRunEnded);
  EXPECT_EQ(notices[0].atMs, 61000);
  EXPECT_EQ(model.ReadNode().state, 2u);
  EXPECT_EQ(model.ReadNode().elapsedMs, 0);
  model.PumpStop();
  EXPECT_EQ(model.ReadNode().state, 1u);
  EXPECT_EQ(model.ReadPump(0).flowUlMin, 0.0);
}

TEST_F(InstrumentModelTest, FlowAndCompositionRampBetweenSteps) {
  Program p = Isocratic(1000);
  p.timetable = {Step(60000, 2000, {50, 50, 0}), Step(120000, 2000, {0, 100, 0})};
  model.LoadProgram(p);
  model.StartRun();
  To(30000);
  EXPECT_DOUBLE_EQ(model.ReadPump(0).flowUlMin, 1500.0);
  EXPECT_DOUBLE_EQ(model.ReadNode().composition.a, 75.0);
  To(90000);
  EXPECT_DOUBLE_EQ(model.ReadPump(0).flowUlMin, 2000.0);
  EXPECT_DOUBLE_EQ(model.ReadNode().composition.b, 75.0);
  To(600000);
  EXPECT_DOUBLE_EQ(model.ReadNode().composition.b, 100.0);  // held after the last step
  model.StopRun();
  EXPECT_DOUBLE_EQ(model.ReadPump(0).flowUlMin, 1000.0);  // back to the initial conditions
}

TEST_F(InstrumentModelTest, TwoStepsAtOneTimeMakeAJump) {
  Program p = Isocratic(1000);
  p.timetable = {Step(60000, 1000, {100, 0, 0}), Step(60000, 3000, {100, 0, 0})};
  model.LoadProgram(p);
  model.StartRun();
  To(59999);
  EXPECT_DOUBLE_EQ(model.ReadPump(0).flowUlMin, 1000.0);
  To(60000);
  EXPECT_DOUBLE_EQ(model.ReadPump(0).flowUlMin, 3000.0);
}

TEST_F(InstrumentModelTest, AboveTheUpperLimitThePumpStopsWithTrouble) {
  model.LoadProgram(Isocratic(2000, 150));  // 196 bar
  model.PumpStart();
  const auto notices = To(1000);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, Notice::Kind::kUpperPressure);
  EXPECT_EQ(notices[0].unit, kPump1);
  EXPECT_EQ(notices[0].atMs, 100);  // the first check
  EXPECT_EQ(model.ReadNode().state, 1u);
  EXPECT_EQ(model.ReadPump(0).status, 0x8000u);
  model.ClearTrouble();
  EXPECT_EQ(model.ReadPump(0).status, 0u);
}

TEST_F(InstrumentModelTest, PressureTripTimeDoesNotDependOnHowTimeIsCut) {
  // Water to half methanol at 1 ml/min: 98 bar rising to 176 bar; the
  // mixture passes 150 bar at a fifth of methanol, 38.8 s into the run.
  Program p = Isocratic(1000, 150);
  p.timetable = {Step(0, 1000, {100, 0, 0}), Step(100000, 1000, {50, 50, 0})};
  std::int64_t tripAt[2] = {};
  for (int run = 0; run < 2; ++run) {
    InstrumentModel m;
    m.SetUnitPresent(kPump1, true);
    m.LoadProgram(p);
    m.StartRun();
    std::vector<Notice> notices;
    if (run == 0) {
      m.AdvanceTo(200000, notices);
    } else {
      for (std::int64_t t = 37; t <= 200000; t += 37) m.AdvanceTo(t, notices);
    }
    ASSERT_EQ(notices.size(), 1u);
    tripAt[run] = notices[0].atMs;
  }
  EXPECT_EQ(tripAt[0], tripAt[1]);
  EXPECT_EQ(tripAt[0], 38800);
}

TEST_F(InstrumentModelTest, BelowTheLowerLimitAfterTheGraceThePumpStops) {
  model.SetUnitPresent(0x0501, false);
  model.LoadProgram(Isocratic(1000, 400, 150));  // 98 bar
  model.PumpStart();
  const auto notices = To(10000);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, Notice::Kind::kLowerPressure);
  EXPECT_EQ(notices[0].atMs, InstrumentModel::kLowerLimitGraceMs);
}

TEST_F(InstrumentModelTest, OvenApproachesItsSetPointWithALag) {
  model.SetOven(true, 45);
  EXPECT_DOUBLE_EQ(model.ReadOven().temperatureC, 25.0);
  EXPECT_EQ(model.ReadOven().status, 1u);
  To(60000);  // one time constant
  EXPECT_NEAR(model.ReadOven().temperatureC, 45.0 - 20.0 * std::exp(-1.0), 1e-9);
  To(600000);
  EXPECT_NEAR(model.ReadOven().temperatureC, 45.0, 0.01);
  EXPECT_EQ(model.ReadOven().status, 2u);
  model.SetOven(false, 0);
  To(660000);
  EXPECT_NEAR(model.ReadOven().temperatureC, 25.0 + 20.0 * std::exp(-1.0), 0.01);
  EXPECT_EQ(model.ReadOven().status, 0u);
}

TEST_F(InstrumentModelTest, AutosamplerIsReadyAfterHomingUnlessSilent) {
  const auto notices = To(10000);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, Notice::Kind::kSamplerReady);
  EXPECT_EQ(notices[0].atMs, InstrumentModel::kHomingMs);
  EXPECT_EQ(model.ReadSampler().status, 0x0104u);

  InstrumentModel silent;
  silent.SetSamplerSilent(true);
  silent.SetUnitPresent(0x0501, true);
  std::vector<Notice> none;
  silent.AdvanceTo(100000, none);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(silent.ReadSampler().status, 0u);
}

TEST_F(InstrumentModelTest, InjectionSequenceStartsTheRunClock) {
  Program p = Isocratic(1000);
  p.vial = 12;
  p.injectVolumeNl = 5000;
  p.flushCount = 3;
  p.runTimeS = 600;
  model.LoadProgram(p);
  To(3000);  // ready at 2500
  model.StartRun();
  struct Expect {
    std::int64_t t;
    std::uint32_t status;
    std::int32_t elapsedMs;
  };
  // To the vial 3 s, drawing 2 s + 50 ms per ul, injecting 1 s, then
  // three flushes of 2 s; the run clock starts at the injection.
  const Expect timeline[] = {{3000, 0x0111, 0},     {5999, 0x0111, 0},    {6000, 0x0112, 0},
                             {8250, 0x0113, 0},     {9250, 0x0114, 0},    {15249, 0x0114, 5999},
                             {15250, 0x0124, 6000}, {609249, 0x0124, 599999}};
  for (const Expect& e : timeline) {
    const auto notices = To(e.t);
    EXPECT_EQ(model.ReadSampler().status, e.status) << e.t;
    EXPECT_EQ(model.ReadNode().elapsedMs, e.elapsedMs) << e.t;
    EXPECT_EQ(model.ReadNode().state, 3u) << e.t;
    if (e.t == 9250) {
      ASSERT_EQ(notices.size(), 1u);
      EXPECT_EQ(notices[0].kind, Notice::Kind::kInjected);
    }
  }
  EXPECT_EQ(model.ReadSampler().vial, 12);
  const auto end = To(700000);
  ASSERT_EQ(end.size(), 2u);
  EXPECT_EQ(end[0].kind, Notice::Kind::kRunEnded);
  EXPECT_EQ(end[1].kind, Notice::Kind::kSequenceDone);
  EXPECT_EQ(end[1].atMs, 609250);
  EXPECT_EQ(model.ReadSampler().status, 0x0104u);
}

TEST_F(InstrumentModelTest, SequenceAskedForWhileHomingWaitsForReady) {
  Program p = Isocratic(1000);
  p.vial = 1;
  model.LoadProgram(p);
  model.StartRun();  // at 0; ready at 2500
  To(5499);
  EXPECT_EQ(model.ReadSampler().status, 0x0111u);
  To(5500);
  EXPECT_EQ(model.ReadSampler().status, 0x0112u);
}

}  // namespace
