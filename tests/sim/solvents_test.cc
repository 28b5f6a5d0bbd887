#include "sim/solvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "sim/instrument_model.h"

namespace {

using sim::Solvent;

// Each label and what channel A's bottle is read as: the bottle it names,
// "aqueous" for a buffer read as water, "" for a label the simulator does
// not know.
TEST(SolventLabelTest, NamesAbbreviationsAdditivesPremixesAndBuffersAreKnownOtherLabelsAreNot) {
  const std::pair<const char*, const char*> cases[] = {
      {"Water + 0.1 % formic acid", "water"},
      {"0.1 % TFA in water", "water"},
      {"MeOH, 10 mM ammonium formate", "methanol"},
      {"ACETONITRILE (HPLC grade)", "acetonitrile"},
      {"MeCN with 0.05 % TFA", "acetonitrile"},
      {"  THF\t", "tetrahydrofuran"},
      {"Isopropyl alcohol", "isopropanol"},
      {"2-Propanol", "isopropanol"},
      {"Water / methanol 70:30", "water/methanol 70:30"},
      {"Acetonitrile-water 50:50", "acetonitrile/water 50:50"},
      {"water:MeOH 1:1", "water/methanol 50:50"},
      {"MeCN/water 90:10, 10 mM ammonium formate", "acetonitrile/water 90:10"},
      {"water/MeCN/THF 40:30:30", "water/acetonitrile/tetrahydrofuran 40:30:30"},
      {"2-propanol-water (1:2) v/v", ""},
      {"2-propanol-water (1:2), v/v", "isopropanol/water 33.3:66.7"},
      {"Water/methanol 72.5 %:27.5 % (v/v)", "water/methanol 72.5:27.5"},
      {"0.1 % TFA in water/MeOH 95:5", "water/methanol 95:5"},
      {"water/methanol 100:0", "water"},
      {"30% methanol in water", "methanol/water 30:70"},
      {"5 % ACN in water", "acetonitrile/water 5:95"},
      {"0.1 % TFA in 10 % MeCN in water", "acetonitrile/water 10:90"},
      {"10 % THF in water/MeOH 1:1", "tetrahydrofuran/water/methanol 10:45:45"},
      {"10 % THF in water/MeOH/MeCN 1:1:1", ""},
      {"150 % MeOH in water", ""},
      {"30 methanol in water", "methanol/water 30:70"},
      {"0.1 % TFA in 150 % MeOH in water", ""},
      {"Waterproof", ""},
      {"TFA in water / methanol", ""},
      {"0.1 % TFA in methanol, filtered", ""},
      {"water/methanol 70:20:10", ""},
      {"water/methanol 0:0", ""},
      {"water/methanol 70:", ""},
      {"water/methanol .:30", ""},
      {"water/methanol/MeCN/THF 1:1:1:1", ""},
      {"Hexane", ""},
      {"0.1 % formic acid in ethanol", ""},
      {"Ethyl acetate", ""},
      {"buffer pH 3", "aqueous water"},
      {"20 mM KH2PO4 pH2.5", "aqueous water"},
      {"Milli-Q water", "aqueous water"},
      {"ammonium acetate 10mM", "aqueous water"},
      {"0.1% formic acid", "aqueous water"},
      {"Phosphate buffer", "aqueous water"},
      {"Water / buffer 70:30", "aqueous water"},
      {"", ""},
  };
  for (const auto& [label, name] : cases) {
    const sim::SimulatedBottle read = sim::ReadBottleLabels({label, "", ""})[0];
    const std::string bottle = sim::BottleName(read.bottle);
    const std::string got = read.reading == sim::LabelReading::kNamed     ? bottle
                            : read.reading == sim::LabelReading::kAqueous ? "aqueous " + bottle
                                                                          : "";
    EXPECT_EQ(got, name) << '"' << label << '"';
    EXPECT_EQ(sim::BottleFromLabel(label).has_value(), read.reading == sim::LabelReading::kNamed) << label;
  }
  // A label that names nothing known leaves its bottle's usual solvent.
  const auto read = sim::ReadBottleLabels({"THF", "Hexane", " "});
  EXPECT_EQ(read[0].bottle, sim::Bottle(Solvent::kTetrahydrofuran));
  EXPECT_EQ(read[1].bottle, sim::Bottle(Solvent::kMethanol));
  EXPECT_EQ(read[2].bottle, sim::Bottle(Solvent::kAcetonitrile));
  EXPECT_EQ(read[1].reading, sim::LabelReading::kGuessed);
  EXPECT_EQ(read[2].reading, sim::LabelReading::kUnnamed);
}

// A premix in one bottle is as viscous as the same mixture drawn from two
// bottles, whatever share of it the pump takes.
TEST(ViscosityTest, APremixSpreadsItsShareOverItsSolvents) {
  const sim::Bottles premix{*sim::BottleFromLabel("water/methanol 60:40"), Solvent::kWater, Solvent::kAcetonitrile};
  const sim::Bottles apart{Solvent::kWater, Solvent::kMethanol, Solvent::kAcetonitrile};
  EXPECT_NEAR(sim::MixtureViscosityCp(premix, {100, 0, 0}, 25), 1.63, 0.01);
  EXPECT_DOUBLE_EQ(sim::MixtureViscosityCp(premix, {0, 0, 0}, 30), sim::MixtureViscosityCp(apart, {60, 40, 0}, 30));
  EXPECT_DOUBLE_EQ(sim::MixtureViscosityCp(premix, {50, 30, 20}, 40),
                   sim::MixtureViscosityCp(apart, {60, 20, 20}, 40));
}

// Pure water, warmer water, no solvent at all and a negative share (both
// count as water in A).
TEST(ViscosityTest, FollowsTheColumnTemperatureAndTakesOnlyRealShares) {
  const struct {
    std::array<double, 4> shares;
    double columnC, cP;
  } cases[] = {{{100, 0, 0}, 25, 0.89}, {{100, 0, 0}, 40, 0.653}, {{0, 0, 0}, 25, 0.89}, {{150, -50, 0}, 25, 0.89}};
  for (const auto& c : cases) EXPECT_NEAR(sim::MixtureViscosityCp(sim::kDefaultBottles, c.shares, c.columnC), c.cP, 0.01);
}

// Water in bottle A, an organic solvent in B: the viscosity, and so the
// pressure, peaks where chromatographers know it to.
TEST(ViscosityPeakTest, WaterMixturesPeakWhereExpected) {
  const struct {
    Solvent organic;
    int fromPercent, toPercent;  // where the maximum lies, percent B
    double fromCp, toCp;         // how high it is at 25 degrees C
  } cases[] = {{Solvent::kAcetonitrile, 15, 22, 0.90, 1.02}, {Solvent::kMethanol, 40, 50, 1.50, 1.70},
               {Solvent::kTetrahydrofuran, 35, 45, 1.50, 1.80}, {Solvent::kIsopropanol, 55, 70, 2.70, 3.20}};
  for (const auto& c : cases) {
    double cP[101];
    for (int b = 0; b <= 100; ++b) {
      cP[b] = sim::MixtureViscosityCp({Solvent::kWater, c.organic, Solvent::kWater}, {100.0 - b, 1.0 * b, 0}, 25.0);
    }
    const auto peak = std::max_element(cP, cP + 101) - cP;
    EXPECT_TRUE(peak >= c.fromPercent && peak <= c.toPercent && cP[peak] >= c.fromCp && cP[peak] <= c.toCp)
        << sim::SolventName(c.organic) << ": " << cP[peak] << " cP at " << peak << " %";
  }
}

// A bottle at a column temperature, and its viscosity as published: water
// from the standard tables; the rest as recalled (rounded) from published
// studies of water-methanol and water-acetonitrile mixtures over 20 to
// 80 C (Billen, Desmet et al., J. Chromatogr. A, 2008) and the textbook
// tables (Snyder, Kirkland, Dolan). docs/simulator.md, What the bottles hold.
struct PublishedCase {
  const char* label;
  double celsius, cP;
};

class PublishedViscosityTest : public ::testing::TestWithParam<PublishedCase> {};

// The back-pressure of a column is proportional to the viscosity: the
// simulated one within 10 % of what the published viscosity gives.
TEST_P(PublishedViscosityTest, PressureIsWithinTenPercentOfThePublishedViscosity) {
  const PublishedCase& c = GetParam();
  const sim::Column column;
  const sim::Bottles bottles{*sim::BottleFromLabel(c.label), Solvent::kWater, Solvent::kWater};
  const double bar = sim::InstrumentModel::PressureBar(1000.0, {100, 0, 0}, c.celsius, bottles, column);
  const double published = sim::ResistanceBar(column) * c.cP;
  EXPECT_NEAR(bar, published, 0.10 * published) << bar / published;
}

INSTANTIATE_TEST_SUITE_P(
    WaterMethanolAcetonitrile, PublishedViscosityTest,
    ::testing::Values(PublishedCase{"water", 20, 1.002}, PublishedCase{"water", 60, 0.467},
                      PublishedCase{"water", 80, 0.355}, PublishedCase{"methanol", 60, 0.35},
                      PublishedCase{"acetonitrile", 60, 0.27}, PublishedCase{"methanol/water 50:50", 60, 0.82},
                      PublishedCase{"acetonitrile/water 50:50", 60, 0.47}));

}  // namespace
