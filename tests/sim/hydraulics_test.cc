#include "sim/hydraulics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

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
