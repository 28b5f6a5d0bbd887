#include "sim/instrument_model.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/transcript.h"

namespace {

using sim::Composition;
using sim::InstrumentModel;
using sim::Notice;
using sim::Program;
using sim::TimetableStep;
using testing::AllOf;
using testing::HasSubstr;

constexpr std::uint16_t kPump1 = 0x0101;

class InstrumentModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (std::uint16_t unit : {0x0101, 0x0102, 0x0103, 0x0401, 0x0501, 0x0601}) model.SetUnitPresent(unit, true);
  }
  void TearDown() override { transcript.ExpectMatchesGolden("sim"); }
  // Advances to `t` in one step, notes the notices on the way and the units
  // there, and gives the notices back.
  std::vector<std::string> At(std::int64_t t) {
    std::vector<Notice> notices;
    model.AdvanceTo(t, notices);
    static const char* const kKinds[] = {"sampler ready", "upper pressure", "lower pressure", "injected",
                                         "run ended",     "sequence done",  "output switched", "valve turned"};
    std::vector<std::string> texts;
    for (const Notice& n : notices) {
      texts.push_back(std::string("notice: ") + kKinds[static_cast<int>(n.kind)] + " from " + Hex(n.unit) + " at " +
                      std::to_string(n.atMs) + " ms");
    }
    m_notices = texts;
    transcript.Note(("at " + std::to_string(t) + " ms").c_str(), [&] { return Units(); });
    return texts;
  }
  std::uint32_t Node() const { return model.ReadNode().state; }
  static std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
  }
  std::string Units() {
    const auto node = model.ReadNode();
    const auto pump = model.ReadPump(0);
    const auto oven = model.ReadOven();
    const auto sampler = model.ReadSampler();
    char text[240];
    std::snprintf(text, sizeof text,
                  "node %u at %d ms; pump %s %.1f ul/min %.1f bar; A/B/C %.2f/%.2f/%.2f; oven %u %.3f C; sampler %s vial %d",
                  node.state, node.elapsedMs, Hex(pump.status).c_str(), pump.flowUlMin, pump.pressureBar, node.composition.a,
                  node.composition.b, node.composition.c, oven.status, oven.temperatureC, Hex(sampler.status).c_str(),
                  sampler.vial);
    return text;
  }
  static Program Isocratic(double flowUlMin, int upper = 400, int lower = 0) {
    Program p;
    p.pumps[0] = {flowUlMin, Composition{100, 0, 0}, upper, lower};
    return p;
  }
  static TimetableStep Step(std::int64_t t, double flow, Composition c) { return {t, kPump1, {flow, c, {}, {}}}; }
  InstrumentModel model;
  std::vector<std::string> m_notices;
  testing_support::Transcript transcript{[this] { return std::exchange(m_notices, {}); }, false};
};

// Each test's transcript is in golden/InstrumentModelTest/.
TEST_F(InstrumentModelTest, NodeStatesFollowPumpAndRun) {
  Program p = Isocratic(1000);
  p.runTimeS = 60;
  NOTE(model.LoadProgram(p));
  NOTE(Units());
  NOTE(model.PumpStart());
  At(1000);
  EXPECT_EQ(Node(), 2u);  // pump on
  NOTE(model.StartRun());
  At(31000);
  EXPECT_EQ(Node(), 3u);
  EXPECT_EQ(model.ReadNode().elapsedMs, 30000);
  EXPECT_THAT(At(70000), testing::Contains("notice: run ended from 0x0000 at 61000 ms"));
  EXPECT_EQ(Node(), 2u);
  NOTE(model.PumpStop());
  EXPECT_EQ(Node(), 1u);
  NOTE(Units());
}

TEST_F(InstrumentModelTest, FlowAndCompositionRampBetweenSteps) {
  Program p = Isocratic(1000);
  p.timetable = {Step(60000, 2000, {50, 50, 0}), Step(120000, 2000, {0, 100, 0})};
  model.LoadProgram(p);
  NOTE(model.StartRun());
  At(30000);
  EXPECT_THAT(Units(), AllOf(HasSubstr(" 1500.0 ul/min"), HasSubstr("A/B/C 75.00/25.00/")));
  At(90000);
  EXPECT_THAT(Units(), AllOf(HasSubstr(" 2000.0 ul/min"), HasSubstr("A/B/C 25.00/75.00/")));
  At(600000);  // held after the last step
  EXPECT_THAT(Units(), AllOf(HasSubstr(" 2000.0 ul/min"), HasSubstr("A/B/C 0.00/100.00/")));
  NOTE(model.StopRun());
  NOTE(Units());  // back to the initial conditions
  EXPECT_EQ(model.ReadNode().composition.b, 0.0);
}

TEST_F(InstrumentModelTest, TwoStepsAtOneTimeMakeAJump) {
  Program p = Isocratic(1000);
  p.timetable = {Step(60000, 1000, {100, 0, 0}), Step(60000, 3000, {100, 0, 0})};
  model.LoadProgram(p);
  NOTE(model.StartRun());
  At(59999);
  EXPECT_EQ(model.ReadPump(0).setFlowUlMin, 1000.0);
  At(60000);
  EXPECT_EQ(model.ReadPump(0).setFlowUlMin, 3000.0);
}

TEST_F(InstrumentModelTest, AboveTheUpperLimitThePumpStopsWithTrouble) {
  model.LoadProgram(Isocratic(2000, 150));  // 196 bar once the flow has ramped up
  NOTE(model.PumpStart());
  At(9000);  // the flow ramps at 10 ml/min per minute; the pressure follows
  At(11000);  // stopped at once; the pressure decays
  EXPECT_THAT(At(20000), testing::ElementsAre("notice: upper pressure from 0x0101 at 11200 ms"));
  EXPECT_EQ(model.ReadPump(0).status, 0x8000u);
  NOTE(model.ClearTrouble());
  NOTE(Units());
  EXPECT_EQ(model.ReadPump(0).status, 0u);
}

TEST_F(InstrumentModelTest, PressureTripTimeDoesNotDependOnHowTimeIsCut) {
  // Water to half methanol at 1 ml/min: 98 bar rising to 176 bar. The
  // mixture reaches the column a dwell volume (0.6 ml, 36 s) after it
  // leaves the pumps; the pressure passes 150 bar once the column (2.7 ml)
  // holds enough of it, and follows 2 s behind.
  Program p = Isocratic(1000, 150);
  p.timetable = {Step(0, 1000, {100, 0, 0}), Step(100000, 1000, {50, 50, 0})};
  std::int64_t tripAt[2] = {};
  for (int run = 0; run < 2; ++run) {
    InstrumentModel m;
    m.SetUnitPresent(kPump1, true);
    m.LoadProgram(p);
    m.StartRun();
    std::vector<Notice> notices;  // in one step, then in steps of 37 ms
    for (std::int64_t t = run == 0 ? 200000 : 37; t <= 200000; t += 37) m.AdvanceTo(t, notices);
    ASSERT_EQ(notices.size(), 1u);
    tripAt[run] = notices[0].atMs;
  }
  EXPECT_EQ(tripAt[0], tripAt[1]);
  EXPECT_EQ(tripAt[0], 168500);
}

TEST_F(InstrumentModelTest, BelowTheLowerLimitAfterTheGraceThePumpStops) {
  model.SetUnitPresent(0x0501, false);
  model.LoadProgram(Isocratic(1000, 400, 150));  // 98 bar
  NOTE(model.PumpStart());
  EXPECT_THAT(At(10000), testing::IsEmpty());  // the flow took 6 s to ramp up; 5 s more of grace
  EXPECT_THAT(At(12000), testing::ElementsAre("notice: lower pressure from 0x0101 at 11000 ms"));
  EXPECT_EQ(model.ReadPump(0).status, 0x8000u);
}

// Heating at 2.5 C a minute, then approaching the set point with a
// 2-minute time constant; cooling slower. It cannot cool below the room,
// nor heat past 80 C.
TEST_F(InstrumentModelTest, OvenApproachesItsSetPointWithALag) {
  NOTE(model.SetOven(true, 45));
  NOTE(Units());
  At(60000);
  EXPECT_DOUBLE_EQ(model.ReadOven().temperatureC, 27.5);
  At(600000);
  EXPECT_NEAR(model.ReadOven().temperatureC, 44.323, 0.001);
  NOTE(model.SetOven(false, 0));
  At(660000);
  EXPECT_NEAR(model.ReadOven().temperatureC, 42.823, 0.001);
  std::int64_t t = 660000;
  for (const auto& [setPoint, settles] : {std::pair{15, 25.0}, {95, 80.0}}) {
    model.SetOven(true, setPoint);
    At(t += 7200000);
    EXPECT_NEAR(model.ReadOven().temperatureC, settles, 0.01);
    EXPECT_EQ(model.ReadOven().status, 1u);  // never at its set point
  }
}

TEST_F(InstrumentModelTest, AutosamplerIsReadyAfterHomingUnlessSilent) {
  EXPECT_THAT(At(10000), testing::ElementsAre("notice: sampler ready from 0x0501 at 2500 ms"));
  NOTE(model.SetUnitPresent(0x0401, false));  // another unit going does not make it home again
  NOTE(Units());
  EXPECT_EQ(model.ReadSampler().status, 0x0104u);
  model = InstrumentModel();
  NOTE(model.SetSamplerSilent(true));
  NOTE(model.SetUnitPresent(0x0501, true));
  EXPECT_THAT(At(100000), testing::IsEmpty());
  EXPECT_EQ(model.ReadSampler().status, 0u);
}

// To the vial 3 s, drawing 2 s + 50 ms per ul, injecting 1 s, then three
// flushes of 2 s; the run clock starts at the injection.
TEST_F(InstrumentModelTest, InjectionSequenceStartsTheRunClock) {
  Program p = Isocratic(1000);
  p.vial = 12;
  p.injectVolumeNl = 5000;
  p.flushCount = 3;
  p.runTimeS = 600;
  model.LoadProgram(p);
  At(3000);  // ready at 2500
  NOTE(model.StartRun());
  std::vector<std::string> notices;
  for (std::int64_t t : {3000, 5999, 6000, 8250, 9250, 15249, 15250, 609249, 700000}) {
    for (std::string& n : At(t)) notices.push_back(n);
    EXPECT_TRUE(t != 15250 || model.ReadNode().elapsedMs == 6000) << "the run clock did not start at the injection";
  }
  EXPECT_THAT(notices, testing::ElementsAre("notice: injected from 0x0501 at 9250 ms",
                                            "notice: run ended from 0x0000 at 609250 ms",
                                            "notice: sequence done from 0x0501 at 609250 ms"));
}

TEST_F(InstrumentModelTest, SequenceAskedForWhileHomingWaitsForReady) {
  Program p = Isocratic(1000);
  p.vial = 1;
  model.LoadProgram(p);
  NOTE(model.StartRun());  // at 0; ready at 2500
  At(5499);
  At(5500);
  NOTE(model.SetUnitPresent(0x0501, false));  // taken away, it forgets the sequence: nothing is injected
  At(20000);
  EXPECT_EQ(model.ReadNode().elapsedMs, 0);
}

// A virtual sleep passes over the steps before NextNoticeDue: no notice may
// fall due before the time it gave, whether the pressure creeps or jumps
// towards a limit as the flow steps up or down, the oven cools or warms,
// the line blocks or a viscous mixture fills the column. Water alone
// (all but the last case) makes the bounds on the viscosity exact, so
// that the pressure's approach alone decides how near they come.
TEST(InstrumentModelNoticeTest, NoNoticeFallsDueBeforeTheTimeNextNoticeDueGave) {
  enum Case { kFlowUp, kFlowDown, kCooling, kWarming, kBlocked, kViscousMixture, kCases };
  using sim::Solvent;
  int upperTrips = 0, lowerTrips = 0;
  for (int run = 0; run < kCases * 3 * 3 * 2; ++run) {
    const auto c = static_cast<Case>(run % kCases);
    const double timeS = std::array{0.0, 2.0, 8.0}[run / kCases % 3];
    const double upper = std::array{0.0, 1.05, 1.3}[run / kCases / 3 % 3];
    const double lower = std::array{0.0, 0.9}[run / kCases / 9];
    InstrumentModel m;
    m.SetUnitPresent(kPump1, true);
    sim::Hydraulics h;
    h.pressureTimeS = timeS;
    h.flowRampMlMin2 = timeS == 2.0 ? 0.0 : 10.0;
    if (run % 2) h.column = sim::Column{100.0, 2.1, 1.8, 0.4, 20.0};
    m.SetHydraulics(h);
    const Solvent organic = c == kViscousMixture ? Solvent::kIsopropanol : Solvent::kWater;
    const sim::Bottles bottles{Solvent::kWater, organic, organic, Solvent::kWater};
    m.SetBottles(bottles);
    // The oven at its set point before the run.
    const int ovenC = c == kCooling ? 80 : c == kWarming ? 30 : 40;
    m.SetOven(true, ovenC);
    std::vector<Notice> notices;
    const std::int64_t start = 1800000;
    m.AdvanceTo(start, notices);
    // Limits around the pressure at the start.
    const double flow = 500.0;
    const Composition weak{100, 0, 0}, strong{30, 70, 0};
    const double bar = InstrumentModel::PressureBar(flow, weak, ovenC, bottles, h.column);
    Program p;
    p.pumps[0] = {flow, weak, static_cast<int>(bar * upper), static_cast<int>(bar * lower)};
    const double stepFlow = c == kFlowUp ? flow * 1.5 : c == kFlowDown ? flow * 0.3 : flow;
    // Held, then a jump at 2 min.
    p.timetable = {{0, kPump1, {flow, weak, {}, {}}},
                   {120000, kPump1, {flow, weak, {}, {}}},
                   {120000, kPump1, {stepFlow, c == kViscousMixture ? strong : weak, {}, {}}}};
    m.LoadProgram(p);
    m.StartRun();
    std::int64_t passable = 0;  // no notice before this time
    for (std::int64_t t = start; t <= start + 300000; t += 100) {
      notices.clear();
      m.AdvanceTo(t, notices);
      for (const Notice& n : notices) {
        EXPECT_GE(n.atMs, passable) << "case " << c << ", " << timeS << " s, limits " << upper << " " << lower;
        upperTrips += n.kind == Notice::Kind::kUpperPressure;
        lowerTrips += n.kind == Notice::Kind::kLowerPressure;
      }
      if (t == start + 60000) {
        passable = 0;  // a call on the model: what it said before no longer holds
        if (c == kCooling) m.SetOven(false, 0);
        if (c == kWarming) m.SetOven(true, 80);
        if (c == kBlocked) m.BlockLine();
      }
      passable = std::max(passable, m.NextNoticeDue());
    }
  }
  EXPECT_GE(upperTrips, 20);
  EXPECT_GE(lowerTrips, 10);
}

}  // namespace
