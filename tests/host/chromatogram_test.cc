// A data system's reading of a detector signal: peaks of known shape,
// drawn into a signal, measured back.
#include "host/outputs/chromatogram.h"
#include "host/outputs/sequence_chart.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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

// The y coordinates a drawing's trace passes through (the numbers after
// each "M x" or "L x" of a path, or after each comma of a polyline).
std::set<std::string> TraceYs(const std::string& svg, const std::regex& point) {
  std::set<std::string> ys;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), point); it != std::sregex_iterator(); ++it) ys.insert((*it)[1]);
  return ys;
}

// A drawing keeps each pixel's lowest and highest reading, wherever in
// the pixel they come: one sample's spike on a flat trace is drawn.
TEST(ChromatogramTest, DrawingsKeepASpikeOfOneSample) {
  std::vector<double> signal(15000, 0.0);
  signal[7505] = 100.0;
  const std::string chromatogram = host::RenderChromatogramSvg(signal, kPeriod, {}, {});
  EXPECT_EQ(TraceYs(chromatogram, std::regex("[ML][0-9.]+ ([0-9.]+)")).size(), 2u);

  const auto status = std::filesystem::temp_directory_path() / "quarn-chart-spike-status.csv";
  {
    std::ofstream out(status);
    out << "poll,clock_min,elapsed_min,running,method_running,pump_on,injecting,flow_ml_min,pressure_bar\n";
    for (int i = 1; i <= 1000; ++i) out << i << "," << i / 60.0 << ",0,1,1,1,0,1.000," << (i == 505 ? 300 : 100) << ",,run\n";
  }
  const std::string sequence = host::RenderSequenceSvg("spike", {{1, "s", "m.toml", true, status}});
  std::filesystem::remove(status);
  EXPECT_EQ(TraceYs(sequence, std::regex(",([0-9.]+) ")).size(), 2u);
}

}  // namespace
