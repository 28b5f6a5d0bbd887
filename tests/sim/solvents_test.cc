#include "sim/solvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

using sim::Solvent;

TEST(SolventLabelTest, NamesAndAbbreviationsWithOrWithoutAdditivesAreKnownPremixesAreNot) {
  const std::pair<const char*, std::optional<Solvent>> cases[] = {
      {"Water + 0.1 % formic acid", Solvent::kWater},    {"0.1 % TFA in water", Solvent::kWater},
      {"MeOH, 10 mM ammonium formate", Solvent::kMethanol}, {"ACETONITRILE (HPLC grade)", Solvent::kAcetonitrile},
      {"MeCN with 0.05 % TFA", Solvent::kAcetonitrile},   {"  THF", Solvent::kTetrahydrofuran},
      {"Isopropyl alcohol", Solvent::kIsopropanol},       {"2-Propanol", Solvent::kIsopropanol},
      {"Water / methanol 70:30", std::nullopt},           {"Acetonitrile-water 50:50", std::nullopt},
      {"Waterproof", std::nullopt},                       {"TFA in water / methanol", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [label, solvent] : cases) EXPECT_EQ(sim::SolventFromLabel(label), solvent) << '"' << label << '"';
  // A label that names no solvent leaves its bottle's usual one.
  EXPECT_EQ(sim::BottlesFromLabels({"THF", "Water / methanol 70:30", ""}),
            (sim::Bottles{Solvent::kTetrahydrofuran, Solvent::kMethanol, Solvent::kAcetonitrile}));
}

// Pure water, warmer water, no solvent at all and a negative share (both
// count as water in A).
TEST(ViscosityTest, FollowsTheColumnTemperatureAndTakesOnlyRealShares) {
  const struct {
    std::array<double, 3> shares;
    double columnC, cP;
  } cases[] = {{{100, 0, 0}, 25, 0.89}, {{100, 0, 0}, 40, 0.667}, {{0, 0, 0}, 25, 0.89}, {{150, -50, 0}, 25, 0.89}};
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

}  // namespace
