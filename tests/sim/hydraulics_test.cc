#include "sim/hydraulics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

#include "sim/instrument_model.h"

namespace {

using sim::Solvent;

// A column at its usual flow, and what the textbook says it reads.
struct ColumnCase {
  double lengthMm, diameterMm, particleUm, flowMlMin;
  Solvent organic;  // bottle B; A holds water
  double percentB, celsius;
  double publishedCp;  // the mixture's viscosity from published tables
};

// The textbook relation for a column of fully porous particles:
// dP = phi eta L u / dp^2, u = F / (eps_T pi dc^2 / 4), with a flow
// resistance factor phi of 700 and a total porosity eps_T of 0.65.
double TextbookBar(const ColumnCase& c) {
  const double pi = 3.14159265358979;
  const double u = c.flowMlMin * 1e-6 / 60.0 / (0.65 * pi / 4.0 * std::pow(c.diameterMm * 1e-3, 2));
  return 700.0 * c.publishedCp * 1e-3 * c.lengthMm * 1e-3 * u / std::pow(c.particleUm * 1e-6, 2) / 1e5;
}

class ColumnPressureTest : public ::testing::TestWithParam<ColumnCase> {};

// Published viscosities: water 0.890 cP at 25 C, 0.797 at 30 C, 0.653 at
// 40 C; methanol 0.544 and acetonitrile 0.34 at 25 C; methanol-water
// 50:50 1.58 at 25 C and 1.18 at 40 C; acetonitrile-water 50:50 0.74 at
// 30 C and 0.60 at 40 C.
TEST_P(ColumnPressureTest, IsWithinFifteenPercentOfTheTextbook) {
  const ColumnCase& c = GetParam();
  sim::Column column;
  column.lengthMm = c.lengthMm, column.diameterMm = c.diameterMm, column.particleUm = c.particleUm;
  const double simulated = sim::InstrumentModel::PressureBar(
      c.flowMlMin * 1000.0, {100.0 - c.percentB, c.percentB, 0.0}, c.celsius,
      {Solvent::kWater, c.organic, Solvent::kAcetonitrile}, column);
  EXPECT_NEAR(simulated, TextbookBar(c), 0.15 * TextbookBar(c));
}

INSTANTIATE_TEST_SUITE_P(
    UsualColumns, ColumnPressureTest,
    ::testing::Values(ColumnCase{100, 2.1, 1.7, 0.5, Solvent::kAcetonitrile, 50, 40, 0.60},
                      ColumnCase{100, 2.1, 1.7, 0.4, Solvent::kAcetonitrile, 0, 40, 0.653},
                      ColumnCase{100, 2.1, 1.7, 0.3, Solvent::kMethanol, 50, 40, 1.18},
                      ColumnCase{150, 4.6, 5.0, 1.0, Solvent::kMethanol, 50, 25, 1.58},
                      ColumnCase{150, 4.6, 5.0, 1.0, Solvent::kAcetonitrile, 100, 25, 0.34},
                      ColumnCase{150, 4.6, 5.0, 1.5, Solvent::kAcetonitrile, 50, 30, 0.74},
                      ColumnCase{250, 4.6, 5.0, 1.0, Solvent::kAcetonitrile, 0, 30, 0.797},
                      ColumnCase{250, 4.6, 5.0, 1.0, Solvent::kMethanol, 100, 25, 0.544},
                      ColumnCase{250, 4.6, 5.0, 1.0, Solvent::kMethanol, 50, 25, 1.58}));

TEST(ColumnResistanceTest, WithoutAColumnTheFixedOneAndASystemAddsItsOwn) {
  EXPECT_EQ(sim::ResistanceBar(std::nullopt), 110.0);
  sim::Column column;
  const double bed = sim::ResistanceOf(column).columnBar;
  EXPECT_DOUBLE_EQ(sim::ResistanceBar(column), bed + 10.0);  // the usual system
  column.systemBar = 25.0;
  EXPECT_DOUBLE_EQ(sim::ResistanceBar(column), bed + 25.0);
  column.porosity = 0.35;  // a denser bed resists more
  EXPECT_GT(sim::ResistanceOf(column).columnBar, bed);
}

// A step from A to B at 10 ml delivered, 1 ml of dwell volume, read as
// the pumps deliver.
TEST(DwellLineTest, AStepArrivesADwellVolumeLateSmearedOverOne) {
  sim::DwellLine line(1.0);
  const sim::Composition a{100, 0, 0}, b{0, 100, 0};
  std::map<int, double> seen;  // percent B at the column by hundredths of a ml delivered
  for (int centilitres = 0; centilitres <= 1300; ++centilitres) {
    const double volume = centilitres / 100.0;
    const sim::Composition& now = centilitres <= 1000 ? a : b;
    line.Deliver(volume, now);
    seen[centilitres] = line.AtColumn(volume, now).b;
  }
  const std::pair<int, double> expected[] = {{1040, 0.0}, {1050, 0.0}, {1100, 50.0}, {1125, 75.0}, {1150, 100.0},
                                             {1300, 100.0}};
  for (const auto& [centilitres, percentB] : expected) EXPECT_NEAR(seen[centilitres], percentB, 1.5) << centilitres;
  // Without a dwell volume the column sees the pumps' composition.
  EXPECT_EQ(sim::DwellLine(0.0).AtColumn(5.0, b).b, 100.0);
}

// A methanol scouting gradient at 1 ml/min and 35 C (10 to 80 % methanol
// in 10 min, held 2 min, back to 10 % in 0.1 min) through a 4.6 x 150 mm,
// 3.5 um column behind 0.6 ml of dwell volume. Going back, the column
// fills with mixtures near the viscosity's peak while it still holds
// methanol-rich ones: the pressure rises by the mean over what the column
// holds, not by what is at its head. Worked out here by volume from the
// gradient itself.
TEST(ColumnContentsTest, AGradientsReturnReadsTheMeanViscosityOverTheColumn) {
  constexpr double kDwellMl = 0.6, kStepMl = 0.001, kCelsius = 35.0;
  const double columnMl = 3.14159265358979 / 4 * 4.6 * 4.6 * 150 * 0.65 / 1000;  // 1.62 ml of liquid
  const sim::Bottles bottles{Solvent::kWater, Solvent::kAcetonitrile, Solvent::kMethanol};
  const auto pumped = [](double minutes) {  // percent methanol leaving the pumps
    const double t = std::clamp(minutes, 0.0, 20.0);
    return t < 10 ? 10 + 7 * t : t < 12 ? 80 : t < 12.1 ? 80 - 700 * (t - 12) : 10;
  };
  // Independently: the dwell volume's window over what was pumped, by
  // volume (ml from 1 ml before the run on), then the column's mean.
  const double before = 1.5 * kDwellMl + columnMl + 1.0;
  const int steps = static_cast<int>(24.0 / kStepMl), window = static_cast<int>(kDwellMl / kStepMl);
  std::vector<double> pumpedSum{0.0}, headCp;  // the running sum of what was pumped
  for (int i = 0; i < steps; ++i) pumpedSum.push_back(pumpedSum.back() + pumped((i + 0.5) * kStepMl - before));
  for (int i = 0; i < steps; ++i) {
    const int from = std::max(0, i - 3 * window / 2), to = std::max(0, i - window / 2);
    const double methanol = from == to ? pumped(-before) : (pumpedSum[to] - pumpedSum[from]) / (to - from);
    headCp.push_back(sim::MixtureViscosityCp(bottles, {100 - methanol, 0, methanol}, kCelsius));
  }
  const auto bedCp = [&](double minutes) {
    const int to = static_cast<int>((minutes + before) / kStepMl), n = static_cast<int>(columnMl / kStepMl);
    double sum = 0;
    for (int i = to - n; i < to; ++i) sum += headCp[static_cast<std::size_t>(i)];
    return sum / n;
  };
  // The simulator, over the same run.
  sim::Column column;
  column.lengthMm = 150, column.diameterMm = 4.6, column.particleUm = 3.5, column.systemBar = 0;
  sim::InstrumentModel model;
  model.SetUnitPresent(0x0101, true);
  model.SetBottles(bottles);
  model.SetHydraulics({column, kDwellMl, 10.0, 2.0});
  sim::Program p;
  p.pumps[0] = {1000.0, sim::Composition{90, 0, 10}, 1000, 0};
  for (double t : {10.0, 12.0, 12.1, 20.0}) {
    const sim::Composition c{100 - pumped(t), 0, pumped(t)};
    p.timetable.push_back({std::llround(t * 60000), 0x0101, {1000.0, c, {}, {}}});
  }
  model.LoadProgram(p);
  model.SetOven(true, 35);
  model.PumpStart();
  std::vector<sim::Notice> notices;
  model.AdvanceTo(3600000, notices);  // warm, and full of the starting conditions
  model.StartRun();
  struct Peak {
    double minutes = 0, rise = 0;
  } simulated, expected;
  const double endBar = sim::ResistanceBar(column) * bedCp(20.0);
  for (double minutes = 12.0; minutes <= 20.0; minutes += 0.05) {
    model.AdvanceTo(3600000 + std::llround(minutes * 60000), notices);
    const double rise = model.ReadPump(0).pressureBar / endBar - 1, independent = bedCp(minutes) / bedCp(20.0) - 1;
    if (rise > simulated.rise) simulated = {minutes, rise};
    if (independent > expected.rise) expected = {minutes, independent};
  }
  ASSERT_TRUE(notices.empty());
  EXPECT_NEAR(model.ReadPump(0).pressureBar, endBar, 0.005 * endBar);
  EXPECT_NEAR(simulated.rise, expected.rise, 0.15 * expected.rise) << "the column's mean rises by " << expected.rise;
  EXPECT_NEAR(simulated.minutes, expected.minutes, 0.2);
}

// The column holds a gradient when the pumps stop; the oven then goes
// from 35 to 60 C. Started again, the pump reads what a column kept at
// 60 C all along reads: the bed is as viscous as its contents are at the
// oven's temperature, not at the one they entered at.
TEST(ColumnContentsTest, WhatTheColumnHoldsTakesTheOvensTemperature) {
  double bar[2] = {};
  for (int warmLate = 0; warmLate < 2; ++warmLate) {
    sim::Column column;
    sim::InstrumentModel model;
    model.SetUnitPresent(0x0101, true);
    model.SetHydraulics({column, 0.6, 10.0, 2.0});
    sim::Program p;
    p.pumps[0] = {1000.0, sim::Composition{90, 10, 0}, 1000, 0};
    p.timetable.push_back({600000, 0x0101, {1000.0, sim::Composition{20, 80, 0}, {}, {}}});
    model.LoadProgram(p);
    model.SetOven(true, warmLate ? 35 : 60);
    std::vector<sim::Notice> notices;
    model.PumpStart();
    model.AdvanceTo(60000, notices);
    model.StartRun();
    model.AdvanceTo(360000, notices);  // 5 min into the gradient
    model.PumpStop();
    if (warmLate) model.SetOven(true, 60);
    model.AdvanceTo(7200000, notices);
    model.PumpStart();
    model.AdvanceTo(7220000, notices);
    bar[warmLate] = model.ReadPump(0).pressureBar;
  }
  EXPECT_NEAR(bar[1], bar[0], 0.002 * bar[0]);
}

// Heating from 25 C: about 2.5 C a minute, then a slower approach; ready
// within 5 % of 40 C after more than 5 minutes. Cooling is slower still.
TEST(OvenCurveTest, HeatsForMinutesAndCoolsSlower) {
  EXPECT_NEAR(sim::OvenCurveC(25.0, 40.0, 60000.0), 27.5, 0.01);
  const double readyMs = sim::OvenReachMs(25.0, 40.0, 2.0);
  EXPECT_GT(readyMs, 5.0 * 60000.0);
  EXPECT_LT(readyMs, 7.0 * 60000.0);
  EXPECT_NEAR(sim::OvenCurveC(25.0, 40.0, readyMs), 38.0, 1e-6);
  EXPECT_NEAR(sim::OvenCurveC(25.0, 40.0, 60.0 * 60000.0), 40.0, 0.01);
  EXPECT_GT(sim::OvenReachMs(40.0, 25.0, 2.0), readyMs);
  EXPECT_NEAR(sim::OvenCurveC(40.0, 25.0, sim::OvenReachMs(40.0, 25.0, 2.0)), 27.0, 1e-6);
  EXPECT_EQ(sim::OvenReachMs(39.0, 40.0, 2.0), 0.0);
  // A small step goes straight into the approach.
  EXPECT_NEAR(sim::OvenReachMs(36.0, 40.0, 2.0), 120000.0 * std::log(2.0), 1.0);
}

}  // namespace
