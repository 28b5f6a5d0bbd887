// What a data system makes of a detector's signal: the peaks measured on
// it (retention time, width at half height, height and area above a
// baseline drawn under each peak, plate count, resolution to the peak
// before), the chromatogram drawn with its peaks labelled, and the files
// a run folder keeps of it:
//   chromatogram.csv  time and absorbance, a row per sample, written as
//                     the samples come (ChromatogramFile)
//   peaks.csv         the peak table
//   spectra.csv       the PDA's spectrum at each peak's apex
//   chromatogram.svg  the picture
// Pure functions apart from ChromatogramFile; any thread.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace host {

// Where a peak is expected: its compound, apex and standard deviation
// (minutes), as the detector's peak list gives them.
struct ExpectedPeak {
  std::string compound;
  double apexMin = 0.0, sigmaMin = 0.0;
};

// A peak measured on the signal. A value that cannot be measured (the
// lamp was off over the peak, or the signal ends before it) is nullopt.
struct MeasuredPeak {
  std::string compound;
  std::optional<double> retentionMin;
  std::optional<double> widthMin;  // at half height
  std::optional<double> heightMau;
  std::optional<double> areaMauS;
  std::optional<double> plates;      // 5.54 (t / w)^2
  std::optional<double> resolution;  // 1.18 (t2 - t1) / (w1 + w2) to the peak before it
  // The USP tailing factor: the width at 5 % of the height over twice its
  // front half, (a + b) / 2a; 1 for a symmetric peak, above 1 for a tail.
  std::optional<double> tailing;
};

// Measures each expected peak on `signal` (mAU, one sample every
// `periodMin` from 0; NaN where nothing was read): the apex the highest
// sample near the expected one, refined by a parabola; the peak's extent
// 4 standard deviations each side, cut at the lowest point between it and
// a neighbour that reaches into it; the baseline a straight line under
// the peak, or under the group of peaks that touch (drop lines at the
// valleys). In order of retention.
std::vector<MeasuredPeak> MeasurePeaks(std::span<const double> signal, double periodMin,
                                       std::vector<ExpectedPeak> expected);

// The files' texts.
std::string PeaksCsv(const std::vector<MeasuredPeak>& peaks);
// A peak's numbers as peaks.csv writes them, from retention_min to
// tailing ("" for a value not measured).
std::array<std::string, 7> PeakCells(const MeasuredPeak& peak);
// The peaks of a peak table's rows as PeaksCsv writes them, without its
// header (values as written: rounded as the file has them). A row that
// does not read is left out; a table written before the tailing column
// was added reads with no tailing.
std::vector<MeasuredPeak> ReadPeakRows(const std::string& rows);
// `spectra` per peak, in `peaks` order: mAU from `fromNm` in `stepNm` steps.
std::string SpectraCsv(const std::vector<std::string>& compounds, const std::vector<std::vector<float>>& spectra,
                       int fromNm, int stepNm);

struct ChromatogramInfo {
  std::string title, subtitle;
  int wavelengthNm = 0;
  std::string outcome;  // how the run ended when not as planned (drawn in red)
};
std::string RenderChromatogramSvg(std::span<const double> signal, double periodMin,
                                  const std::vector<MeasuredPeak>& peaks, const ChromatogramInfo& info);

// chromatogram.csv as the samples come: each call's rows handed to the
// system at once, so a kill leaves every sample taken before it.
class ChromatogramFile {
 public:
  ChromatogramFile() = default;
  ~ChromatogramFile();
  ChromatogramFile(const ChromatogramFile&) = delete;
  ChromatogramFile& operator=(const ChromatogramFile&) = delete;

  // Creates the file with its header; false when it cannot.
  bool Open(const std::filesystem::path& file, int wavelengthNm);
  bool IsOpen() const { return m_file != nullptr; }
  // Samples from the run's `first` on (those before were written).
  void Append(std::size_t first, std::span<const double> samplesMau, double periodMin);
  // Whether every row was written.
  bool Close();

 private:
  std::FILE* m_file = nullptr;
  bool m_ok = true;
  std::string m_rows;  // the rows of one Append, its memory kept
};

}  // namespace host
