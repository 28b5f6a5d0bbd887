// A data system's reading of a detector signal: peaks of known shape,
// drawn into a signal, measured back.
#include "host/outputs/chromatogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using host::ExpectedPeak;
using host::MeasurePeaks;

constexpr double kPeriod = 0.1 / 60.0;  // minutes
constexpr double kPi = 3.14159265358979;

// A signal of Gaussian peaks (apex min, sigma min, area mAU s) on a
// sloping baseline.
std::vector<double> Signal(double minutes, const std::vector<std::array<double, 3>>& peaks, double slope = 0.0) {
  std::vector<double> signal;
  for (double t = 0; t <= minutes; t += kPeriod) {
    double v = slope * t;
    for (const auto& [apex, sigma, area] : peaks) {
      v += area / (std::sqrt(2 * kPi) * sigma * 60) * std::exp(-0.5 * std::pow((t - apex) / sigma, 2));
    }
    signal.push_back(v);
  }
  return signal;
}

TEST(ChromatogramTest, AGaussianOnASlopeIsMeasuredAsDrawn) {
  const auto peaks = MeasurePeaks(Signal(10, {{4.0, 0.05, 1500.0}}, 3.0), kPeriod, {{"caffeine", 4.0, 0.05}});
  ASSERT_EQ(peaks.size(), 1u);
  const host::MeasuredPeak& p = peaks[0];
  EXPECT_NEAR(*p.retentionMin, 4.0, 0.001);
  EXPECT_NEAR(*p.widthMin, 2.3548 * 0.05, 0.001);  // width at half height of a Gaussian
  EXPECT_NEAR(*p.areaMauS, 1500.0, 1500.0 * 0.002);
  EXPECT_NEAR(*p.heightMau, 1500.0 / (std::sqrt(2 * kPi) * 3.0), 0.5);
  EXPECT_NEAR(*p.plates, 5.54 * std::pow(4.0 / (2.3548 * 0.05), 2), 100);
  EXPECT_FALSE(p.resolution);
}

// Two peaks that touch part at the valley between them; the resolution is
// the textbook's from their widths at half height.
TEST(ChromatogramTest, NeighboursPartAtTheValleyAndGiveTheirResolution) {
  const auto peaks =
      MeasurePeaks(Signal(10, {{5.2, 0.05, 800.0}, {5.0, 0.05, 1000.0}}), kPeriod, {{"b", 5.2, 0.05}, {"a", 5.0, 0.05}});
  ASSERT_EQ(peaks.size(), 2u);
  EXPECT_EQ(peaks[0].compound, "a");  // in order of retention
  EXPECT_NEAR(*peaks[1].resolution, 1.18 * 0.2 / (2 * 2.3548 * 0.05), 0.1);
  EXPECT_NEAR(*peaks[0].areaMauS + *peaks[1].areaMauS, 1800.0, 20.0);
  EXPECT_NEAR(*peaks[0].areaMauS, 1000.0, 40.0);
}

// Nothing read over a peak (the lamp off), or the signal ending before
// it: the peak is listed, its values empty.
TEST(ChromatogramTest, APeakNotReadIsListedWithoutValues) {
  std::vector<double> signal = Signal(5, {{2.0, 0.05, 500.0}});
  signal[static_cast<std::size_t>(2.0 / kPeriod)] = std::numeric_limits<double>::quiet_NaN();
  for (const ExpectedPeak& e : {ExpectedPeak{"lamp off", 2.0, 0.05}, ExpectedPeak{"later", 7.0, 0.05}}) {
    const auto peaks = MeasurePeaks(signal, kPeriod, {e});
    ASSERT_EQ(peaks.size(), 1u);
    EXPECT_EQ(peaks[0].compound, e.compound);
    EXPECT_FALSE(peaks[0].retentionMin || peaks[0].areaMauS || peaks[0].heightMau) << e.compound;
  }
  EXPECT_EQ(host::PeaksCsv(MeasurePeaks(signal, kPeriod, {{"lamp off", 2.0, 0.05}})),
            "peak,compound,retention_min,width_min,height_mau,area_mau_s,plates,resolution,tailing\n1,lamp off,,,,,,,\n");
}

}  // namespace
