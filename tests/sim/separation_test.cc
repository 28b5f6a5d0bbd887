// The simulated separation against the textbook: retention from the
// closed-form linear-solvent-strength results, plate counts from the van
// Deemter equation, and the way peaks move when the method changes. The
// expected values are worked out here from the compounds' parameters,
// independently of the simulator's step-by-step integration.
#include "sim/separation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sim/instrument_model.h"

namespace {

using sim::Composition;
using sim::DetectorRecording;
using sim::InstrumentModel;
using sim::Program;

constexpr double kPi = 3.14159265358979;

// The compounds' parameters as published for a C18 column (rounded; the
// library's sources: Snyder & Dolan, High-Performance Gradient Elution,
// 2007, for the model; Hansch, Leo & Hoekman 1995 for the order), in
// methanol/water at 25 C.
struct Lss {
  const char* name;
  double logKw, s;
};
constexpr Lss kCaffeine{"caffeine", 1.30, 3.5};
constexpr Lss kMethylparaben{"methylparaben", 2.60, 3.9};
constexpr Lss kPropylparaben{"propylparaben", 3.55, 4.3};

// A 150 x 4.6 mm, 5 um column with 0.65 of its volume liquid.
const sim::Column kColumn{150.0, 4.6, 5.0, 0.40, 0.0};
const double kColumnMl = 0.65 * kPi / 4.0 * 0.46 * 0.46 * 15.0;

class SeparationTest : public ::testing::Test {
 protected:
  // Runs `program` (1 ml/min, water in A, methanol in B) with the vial
  // holding `contents`, for `minutes` after the injection.
  // The pumps deliver the initial conditions for 30 min before the run,
  // so that the column is equilibrated and the oven at its set point.
  DetectorRecording Run(Program program, const sim::SampleContents& contents, double minutes, double dwellMl = 0.6) {
    model = InstrumentModel{};
    for (std::uint16_t unit : {0x0101, 0x0102, 0x0103, 0x0401, 0x0501, 0x0601}) model.SetUnitPresent(unit, true);
    model.SetHydraulics(sim::Hydraulics{kColumn, dwellMl, 10.0, 2.0});
    model.DegradeColumn(plateFactor);
    model.PlaceSample(1, contents);
    program.vial = 1;
    program.injectVolumeNl = 5000;
    program.systemCode = kSystemBinary;
    program.uvResponse = 0;  // fast: the detector's time constant does not widen the peaks
    model.LoadProgram(program);
    model.PumpStart();
    std::vector<sim::Notice> notices;
    model.AdvanceTo(1800000, notices);
    model.StartRun();
    std::int64_t injectedMs = -1;
    for (std::int64_t t = 1800000; injectedMs < 0; t += 100) {
      model.AdvanceTo(t, notices);
      for (const sim::Notice& n : notices) {
        if (n.kind == sim::Notice::Kind::kInjected) injectedMs = n.atMs;
      }
    }
    model.AdvanceTo(injectedMs + static_cast<std::int64_t>(minutes * 60000), notices);
    return model.Recording(0, 0);
  }
  static Program Isocratic(double percentB, double flowUlMin = 1000) {
    Program p;
    p.pumps[0] = {flowUlMin, Composition{100 - percentB, percentB, 0}, 400, {}};
    return p;
  }
  static Program Gradient(double fromB, double toB, double minutes, double flowUlMin = 1000) {
    Program p = Isocratic(fromB, flowUlMin);
    p.timetable.push_back({static_cast<std::int64_t>(minutes * 60000), 0x0101,
                           {flowUlMin, Composition{100 - toB, toB, 0}, {}, {}}});
    return p;
  }
  static double Apex(const DetectorRecording& r, const std::string& name) {
    for (const auto& peak : r.peaks) {
      if (peak.compound == name) return peak.apexMin;
    }
    ADD_FAILURE() << name << " did not elute";
    return 0.0;
  }
  static const sim::RecordedPeak& Peak(const DetectorRecording& r, const std::string& name) {
    for (const auto& peak : r.peaks) {
      if (peak.compound == name) return peak;
    }
    ADD_FAILURE() << name << " did not elute";
    return r.peaks.front();
  }
  InstrumentModel model;
  double plateFactor = 1.0;  // the column's plate height over its own
};

TEST_F(SeparationTest, TheLibraryHoldsThePublishedParameters) {
  for (const Lss& c : {kCaffeine, kMethylparaben, kPropylparaben}) {
    const sim::Compound* compound = sim::FindCompound(c.name);
    ASSERT_NE(compound, nullptr) << c.name;
    EXPECT_EQ(compound->logKw, c.logKw) << c.name;
    EXPECT_EQ(compound->sMethanol, c.s) << c.name;
  }
  EXPECT_GE(sim::CompoundLibrary().size(), 10u);
  EXPECT_EQ(sim::FindCompound("Acetaminophen"), sim::FindCompound("paracetamol"));
  EXPECT_EQ(sim::FindCompound("aspirin"), nullptr);
}

// Isocratic: t = t0 (1 + k), k = 10^(log kw - S phi).
TEST_F(SeparationTest, IsocraticRetentionIsTheClosedForm) {
  const DetectorRecording r = Run(Isocratic(30), {{"caffeine", 50}, {"methylparaben", 10}}, 50);
  for (const Lss& c : {kCaffeine, kMethylparaben}) {
    const double expected = kColumnMl / 1.0 * (1.0 + std::pow(10.0, c.logKw - c.s * 0.30));
    EXPECT_NEAR(Apex(r, c.name), expected, 0.02 * expected) << c.name;
  }
}

// A linear gradient delayed by the dwell volume: Snyder's
// t = (t0 / b) log10(2.3 k0 b (1 - tD / (t0 k0)) + 1) + t0 + tD,
// b = S dphi t0 / tG.
TEST_F(SeparationTest, GradientRetentionIsTheClosedFormWithTheDwellDelay) {
  for (const double dwellMl : {0.6, 1.5}) {
    const DetectorRecording r =
        Run(Gradient(20, 80, 20), {{"caffeine", 50}, {"methylparaben", 10}, {"propylparaben", 10}}, 25, dwellMl);
    for (const Lss& c : {kCaffeine, kMethylparaben, kPropylparaben}) {
      const double t0 = kColumnMl, tD = dwellMl, k0 = std::pow(10.0, c.logKw - c.s * 0.20);
      const double b = c.s * 0.60 * t0 / 20.0;
      const double expected = t0 / b * std::log10(2.3 * k0 * b * (1.0 - tD / (t0 * k0)) + 1.0) + t0 + tD;
      EXPECT_NEAR(Apex(r, c.name), expected, 0.02 * expected) << c.name << " with a dwell of " << dwellMl << " ml";
    }
  }
}

// A step from 20 to 60 % methanol at 3 min: the zone moves in the weak
// solvent until the step, delayed by the dwell volume, catches it.
TEST_F(SeparationTest, AStepIsCaughtUpWithWhereTheClosedFormSays) {
  Program p = Isocratic(20);
  p.timetable.push_back({3 * 60000, 0x0101, {1000.0, Composition{80, 20, 0}, {}, {}}});
  p.timetable.push_back({3 * 60000, 0x0101, {1000.0, Composition{40, 60, 0}, {}, {}}});
  const DetectorRecording r = Run(p, {{"methylparaben", 10}}, 20, 0.3);
  const double t0 = kColumnMl, k0 = std::pow(10.0, kMethylparaben.logKw - kMethylparaben.s * 0.2);
  const double k1 = std::pow(10.0, kMethylparaben.logKw - kMethylparaben.s * 0.6);
  const double caught = (3.0 + 0.3) * (1.0 + k0) / k0;
  const double expected = caught + (1.0 - caught / (t0 * (1.0 + k0))) * t0 * (1.0 + k1);
  EXPECT_NEAR(Apex(r, "methylparaben"), expected, 0.02 * expected);
}

// N = L / H with H from the van Deemter equation at the flow's linear
// velocity and the Wilke-Chang diffusion coefficient.
TEST_F(SeparationTest, PlateCountsAreTheVanDeemterValue) {
  for (const double flow : {0.5, 1.0, 2.0}) {
    const DetectorRecording r = Run(Isocratic(30, flow * 1000), {{"caffeine", 50}}, 30 / flow);
    const sim::RecordedPeak& peak = Peak(r, "caffeine");
    const double k = std::pow(10.0, kCaffeine.logKw - kCaffeine.s * 0.3);
    // Wilke-Chang in water/methanol 70:30 (association 2.6 and 1.9), Le Bas volume 203 cm3/mol.
    const double eta = sim::InstrumentModel::ViscosityCp(Composition{70, 30, 0}, 25.0);
    const double dm = 7.4e-8 * std::sqrt(0.7 * 2.6 * 18.02 + 0.3 * 1.9 * 32.04) * 298.15 / (eta * std::pow(203.0, 0.6)) * 1e-4;
    const double u = flow / 60e6 / (0.65 * kPi / 4.0 * 0.0046 * 0.0046);
    const double nu = u * 5e-6 / dm;
    const double share = k / (1 + k);
    const double h = 1.0 + 2.0 / nu + (0.05 + 0.07 * share * share) * nu;
    const double expected = 0.150 / (h * 5e-6);
    const double measured = std::pow(peak.apexMin / peak.sigmaMin, 2);
    EXPECT_NEAR(measured, expected, 0.10 * expected) << flow << " ml/min";
  }
}

// Warmer, the compounds are held less: k falls as van 't Hoff says, for a
// retention enthalpy of -12 kJ/mol (caffeine's).
TEST_F(SeparationTest, AWarmerColumnElutesEarlierAsVanTHoffSays) {
  double k[2];
  for (int i = 0; i < 2; ++i) {
    Program p = Isocratic(30);
    p.ovenTemperatureC = 30 + 20 * i;
    k[i] = Apex(Run(p, {{"caffeine", 50}}, 10), "caffeine") / kColumnMl - 1.0;
  }
  const double expected = std::exp(12.0 / 8.314e-3 * (1.0 / 323.15 - 1.0 / 303.15));
  EXPECT_NEAR(k[1] / k[0], expected, 0.03 * expected);
}

// Twice the dwell volume: a gradient's late peaks come later by the
// added dwell volume over the flow.
TEST_F(SeparationTest, MoreDwellVolumeDelaysTheGradientsPeaksByItsTime) {
  const auto at = [&](double dwellMl) { return Apex(Run(Gradient(20, 80, 20), {{"propylparaben", 10}}, 25, dwellMl), "propylparaben"); };
  EXPECT_NEAR(at(1.2) - at(0.6), 0.6, 0.06);
}

// Half the gradient time: the closed-form retention again, and peaks as
// narrow as the gradient's steepness says: sigma = G t0 (1 + ke) / N^0.5
// with ke = k0 / (2.3 k0 b + 1) and the compression factor G of Poppe,
// G^2 = (1 + p + p^2 / 3) / (1 + p)^2, p = 2.3 k0 b / (1 + k0).
TEST_F(SeparationTest, AShorterGradientGivesEarlierAndNarrowerPeaks) {
  double sigma[2];
  for (int i = 0; i < 2; ++i) {
    const double gradientMin = 20.0 / (1 + i);
    const sim::RecordedPeak peak = Peak(Run(Gradient(20, 80, gradientMin), {{"methylparaben", 10}}, 25), "methylparaben");
    const double t0 = kColumnMl, k0 = std::pow(10.0, kMethylparaben.logKw - kMethylparaben.s * 0.20);
    const double b = kMethylparaben.s * 0.60 * t0 / gradientMin;
    const double expected = t0 / b * std::log10(2.3 * k0 * b * (1.0 - 0.6 / (t0 * k0)) + 1.0) + t0 + 0.6;
    EXPECT_NEAR(peak.apexMin, expected, 0.02 * expected) << gradientMin << " min";
    const double ke = k0 / (2.3 * k0 * b + 1.0), p = 2.3 * k0 * b / (1.0 + k0);
    const double g = std::sqrt((1.0 + p + p * p / 3.0) / ((1.0 + p) * (1.0 + p)));
    // The plate count at ke, as in the van Deemter test (methylparaben:
    // Le Bas volume 160.5 cm3/mol) in the mobile phase it elutes in.
    const double phi = 0.2 + (std::log10(k0 / ke)) / kMethylparaben.s;
    const double eta = sim::InstrumentModel::ViscosityCp(Composition{100 - 100 * phi, 100 * phi, 0}, 25.0);
    const double dm = 7.4e-8 * std::sqrt((1 - phi) * 2.6 * 18.02 + phi * 1.9 * 32.04) * 298.15 / (eta * std::pow(160.5, 0.6)) * 1e-4;
    const double nu = 1.0 / 60e6 / (0.65 * kPi / 4.0 * 0.0046 * 0.0046) * 5e-6 / dm;
    const double share = ke / (1 + ke);
    const double plates = 0.150 / ((1.0 + 2.0 / nu + (0.05 + 0.07 * share * share) * nu) * 5e-6);
    const double expectedSigma = g * t0 * (1.0 + ke) / std::sqrt(plates);
    EXPECT_NEAR(peak.sigmaMin, expectedSigma, 0.10 * expectedSigma) << gradientMin << " min";
    sigma[i] = peak.sigmaMin;
  }
  EXPECT_LT(sigma[1], sigma[0]);
}

// The signal holds each peak's whole area, however narrow the peak: the
// front of a zone about to elute is drawn at each sample's time (held
// from the zones' last step, a narrow peak's rising edge lagged and lost
// some 5 % of its area, a wide one's less, so a column that lost its
// plates seemed to give larger areas). A column degraded tenfold gives a
// tenth of the plates and the same area.
TEST_F(SeparationTest, ThePeaksWholeAreaIsInTheSignalWhateverTheColumnsEfficiency) {
  double sigma[2];
  for (int i = 0; i < 2; ++i) {
    plateFactor = i == 0 ? 1.0 : 10.0;
    const DetectorRecording r = Run(Isocratic(30), {{"caffeine", 50}}, 10);
    const sim::RecordedPeak& peak = Peak(r, "caffeine");
    const auto at = [&](double minutes) { return static_cast<std::size_t>(minutes / DetectorRecording::kPeriodMin); };
    const std::size_t from = at(peak.apexMin - 6 * peak.sigmaMin), to = at(peak.apexMin + 6 * peak.sigmaMin);
    ASSERT_LT(to + 10, r.signalMau.size());
    double before = 0, after = 0, area = 0;
    for (std::size_t s = 0; s < 10; ++s) before += r.signalMau[from - 10 + s] / 10, after += r.signalMau[to + 1 + s] / 10;
    for (std::size_t s = from; s <= to; ++s) {
      const double base = before + (after - before) * static_cast<double>(s - from) / static_cast<double>(to - from);
      area += (r.signalMau[s] - base) * DetectorRecording::kPeriodMin * 60.0;
    }
    EXPECT_NEAR(area, peak.areaMauS, 0.005 * peak.areaMauS) << "plate height x" << plateFactor;
    sigma[i] = peak.sigmaMin;
  }
  EXPECT_NEAR(sigma[0] * sigma[0] / (sigma[1] * sigma[1]), 0.1, 0.02) << "a tenth of the plates";
}

// A gradient's own baseline: methanol absorbs at 220 nm (287 mAU per
// unit of share, 1 AU at its 205 nm cutoff falling e-fold every 12 nm),
// and the detector sees it only once it has passed the dwell volume and
// the column.
TEST_F(SeparationTest, TheGradientsBaselineRisesOnceItHasPassedTheColumn) {
  Program p = Gradient(20, 80, 20);
  p.uvWavelengthTenthsNm = 2200;
  const DetectorRecording r = Run(p, {}, 12);
  const auto at = [&](double minutes) { return r.signalMau[static_cast<std::size_t>(minutes * 600)]; };
  EXPECT_NEAR(at(2.0), 0.0, 0.5) << "not through the column yet";
  const double expected = 1000.0 * std::exp(-15.0 / 12.0) * 0.6 * (10.0 - 0.6 - kColumnMl) / 20.0;
  EXPECT_NEAR(at(10.0), expected, 0.05 * expected);
}

// The lamp switched off in a run: from then on the detector reads
// nothing (no number), and what eluted before stays recorded.
TEST_F(SeparationTest, WithTheLampOffTheDetectorReadsNothing) {
  const DetectorRecording before = Run(Isocratic(30), {{"uracil", 5}, {"caffeine", 50}}, 3.0);
  model.SetUv(std::nullopt, std::nullopt, false);
  std::vector<sim::Notice> notices;
  model.AdvanceTo(1800000 + 20 * 60000, notices);
  const DetectorRecording after = model.Recording(0, 0);
  ASSERT_GT(after.signalMau.size(), before.signalMau.size() + 100);
  for (std::size_t i = 0; i < before.signalMau.size(); ++i) ASSERT_FALSE(std::isnan(after.signalMau[i])) << i;
  for (std::size_t i = before.signalMau.size() + 1; i < after.signalMau.size(); ++i) {
    ASSERT_TRUE(std::isnan(after.signalMau[i])) << i;
  }
  ASSERT_EQ(before.peaks.size(), 1u);
  EXPECT_EQ(before.peaks[0].compound, "uracil");
  EXPECT_GT(*std::max_element(before.signalMau.begin(), before.signalMau.end()), 10.0) << "uracil's peak was drawn";
}

}  // namespace
