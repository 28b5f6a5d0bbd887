#include "host/outputs/chromatogram.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "host/outputs/run_log.h"
#include "host/outputs/svg_chart.h"
#include "host/text/number_text.h"

namespace host {

namespace {

// How far a peak reaches each side of its apex, and where its highest
// sample is looked for, in standard deviations.
constexpr double kPeakExtent = 4.0;
constexpr double kApexSearch = 2.0;
// How many samples each end of a baseline averages.
constexpr std::size_t kBaselineSamples = 5;

std::string Cell(const std::optional<double>& value, int decimals) {
  return value ? Fixed(*value, decimals) : "";
}

// The index of the lowest sample from `from` to `to` (inclusive).
std::size_t Lowest(std::span<const double> signal, std::size_t from, std::size_t to) {
  std::size_t lowest = from;
  for (std::size_t i = from; i <= to; ++i) {
    if (signal[i] < signal[lowest]) lowest = i;
  }
  return lowest;
}

}  // namespace

std::vector<MeasuredPeak> MeasurePeaks(std::span<const double> signal, double periodMin,
                                       std::vector<ExpectedPeak> expected) {
  std::stable_sort(expected.begin(), expected.end(),
                   [](const ExpectedPeak& a, const ExpectedPeak& b) { return a.apexMin < b.apexMin; });
  const auto n = static_cast<double>(signal.size());
  // The place of a time in the signal, as a sample index (not rounded).
  const auto at = [&](double minutes) { return minutes / periodMin; };
  const auto spread = [&](const ExpectedPeak& e) { return std::max(at(e.sigmaMin), 1.0); };
  // Each peak's extent in samples; neighbours that reach into each other
  // part at the lowest sample between their apexes, and share a baseline
  // drawn under the whole group (drop lines at the valleys).
  struct Extent {
    std::size_t lo = 0, hi = 0;
    bool measurable = false;
    std::size_t groupLo = 0, groupHi = 0;
  };
  std::vector<Extent> extents(expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const double center = at(expected[i].apexMin);
    if (signal.size() < 3 || center + 1.0 >= n) continue;
    Extent& x = extents[i];
    x.measurable = true;
    x.lo = static_cast<std::size_t>(std::clamp(std::floor(center - kPeakExtent * spread(expected[i])), 0.0, n - 1));
    x.hi = static_cast<std::size_t>(std::clamp(std::ceil(center + kPeakExtent * spread(expected[i])), 0.0, n - 1));
    if (i > 0 && extents[i - 1].measurable && extents[i - 1].hi > x.lo) {
      const auto before = static_cast<std::size_t>(std::max(0.0, at(expected[i - 1].apexMin)));
      const std::size_t valley = Lowest(signal, std::min(before, x.hi), std::max(before, static_cast<std::size_t>(center)));
      extents[i - 1].hi = valley;
      x.lo = valley;
    }
  }
  for (std::size_t i = 0; i < extents.size();) {
    std::size_t j = i;
    while (j + 1 < extents.size() && extents[j].measurable && extents[j + 1].measurable && extents[j].hi == extents[j + 1].lo) ++j;
    for (std::size_t k = i; k <= j; ++k) {
      extents[k].groupLo = extents[i].lo;
      extents[k].groupHi = extents[j].hi;
    }
    i = j + 1;
  }

  std::vector<MeasuredPeak> measured;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const ExpectedPeak& e = expected[i];
    const Extent& x = extents[i];
    MeasuredPeak peak{e.compound, {}, {}, {}, {}, {}, {}, {}};
    // The baseline's ends: the mean of a few samples outward from each
    // end of the group, so that noise does not tilt it.
    const std::size_t baseLo = x.groupLo - std::min<std::size_t>(x.groupLo, kBaselineSamples - 1);
    const std::size_t baseHi = std::min(signal.size() - 1, x.groupHi + kBaselineSamples - 1);
    const bool unread = x.measurable && std::any_of(signal.begin() + static_cast<std::ptrdiff_t>(baseLo),
                                                     signal.begin() + static_cast<std::ptrdiff_t>(baseHi) + 1,
                                                     [](double v) { return std::isnan(v); });
    if (!x.measurable || unread || x.hi < x.lo + 2) {
      measured.push_back(std::move(peak));
      continue;
    }
    const std::size_t lo = x.lo, hi = x.hi;
    const auto mean = [&](std::size_t from, std::size_t to) {
      double sum = 0.0;
      for (std::size_t s = from; s <= to; ++s) sum += signal[s];
      return sum / static_cast<double>(to - from + 1);
    };
    const double y0 = mean(baseLo, x.groupLo), y1 = mean(x.groupHi, baseHi);
    const double span = static_cast<double>(std::max<std::size_t>(x.groupHi - x.groupLo, 1));
    const auto above = [&](std::size_t s) {
      return signal[s] - (y0 + (y1 - y0) * static_cast<double>(s - x.groupLo) / span);
    };
    const double center = at(e.apexMin);
    const std::size_t searchLo = std::max(lo + 1, static_cast<std::size_t>(std::max(0.0, center - kApexSearch * spread(e))));
    const std::size_t searchHi = std::min(hi - 1, static_cast<std::size_t>(std::max(0.0, center + kApexSearch * spread(e))));
    std::size_t top = std::clamp(static_cast<std::size_t>(std::lround(center)), searchLo, std::max(searchLo, searchHi));
    for (std::size_t s = searchLo; s <= searchHi; ++s) {
      if (above(s) > above(top)) top = s;
    }
    // A parabola through the highest sample and its neighbours.
    const double left = above(top - 1), mid = above(top), right = above(top + 1);
    const double curve = left - 2.0 * mid + right;
    const double shift = curve < 0.0 ? std::clamp(0.5 * (left - right) / curve, -0.5, 0.5) : 0.0;
    const double height = mid - 0.25 * (left - right) * shift;
    peak.retentionMin = (static_cast<double>(top) + shift) * periodMin;
    peak.heightMau = height;
    double area = 0.0;
    for (std::size_t s = lo; s < hi; ++s) area += 0.5 * (above(s) + above(s + 1));
    peak.areaMauS = area * periodMin * 60.0;
    // Where the signal crosses half the height each side of the apex.
    std::optional<double> from, to;
    for (std::size_t s = top; s > lo; --s) {
      if (above(s - 1) <= height / 2) {
        from = static_cast<double>(s - 1) + (height / 2 - above(s - 1)) / (above(s) - above(s - 1));
        break;
      }
    }
    for (std::size_t s = top; s < hi; ++s) {
      if (above(s + 1) <= height / 2) {
        to = static_cast<double>(s) + (above(s) - height / 2) / (above(s) - above(s + 1));
        break;
      }
    }
    if (from && to && height > 0.0) {
      peak.widthMin = (*to - *from) * periodMin;
      peak.plates = 5.54 * std::pow(*peak.retentionMin / *peak.widthMin, 2);
    }
    // The tailing factor from where the signal crosses 5 % of the height
    // each side of the apex (within the peak's extent: a peak cut at a
    // valley above that has none).
    std::optional<double> front, back;
    const double twentieth = height * 0.05;
    for (std::size_t s = top; s > lo; --s) {
      if (above(s - 1) <= twentieth) {
        front = static_cast<double>(s - 1) + (twentieth - above(s - 1)) / (above(s) - above(s - 1));
        break;
      }
    }
    for (std::size_t s = top; s < hi; ++s) {
      if (above(s + 1) <= twentieth) {
        back = static_cast<double>(s) + (above(s) - twentieth) / (above(s) - above(s + 1));
        break;
      }
    }
    const double apex = static_cast<double>(top) + shift;
    if (front && back && height > 0.0 && apex > *front) {
      peak.tailing = (*back - *front) / (2.0 * (apex - *front));
    }
    if (!measured.empty() && measured.back().widthMin && peak.widthMin) {
      peak.resolution = 1.18 * (*peak.retentionMin - *measured.back().retentionMin) /
                        (*measured.back().widthMin + *peak.widthMin);
    }
    measured.push_back(std::move(peak));
  }
  return measured;
}

std::array<std::string, 7> PeakCells(const MeasuredPeak& p) {
  return {Cell(p.retentionMin, 3), Cell(p.widthMin, 4), Cell(p.heightMau, 2), Cell(p.areaMauS, 2),
          Cell(p.plates ? std::optional(std::round(*p.plates)) : std::nullopt, 0), Cell(p.resolution, 2),
          Cell(p.tailing, 2)};
}

std::string PeaksCsv(const std::vector<MeasuredPeak>& peaks) {
  std::string csv = "peak,compound,retention_min,width_min,height_mau,area_mau_s,plates,resolution,tailing\n";
  int number = 0;
  for (const MeasuredPeak& p : peaks) {
    csv += std::to_string(++number) + "," + CsvQuoted(p.compound);
    for (const std::string& cell : PeakCells(p)) csv += "," + cell;
    csv += "\n";
  }
  return csv;
}

std::vector<MeasuredPeak> ReadPeakRows(const std::string& rows) {
  std::vector<MeasuredPeak> peaks;
  for (std::size_t from = 0; from < rows.size();) {
    // One row's cells, a quoted cell's doubled quotes read as one.
    std::vector<std::string> cells(1);
    bool quoted = false;
    std::size_t i = from;
    for (; i < rows.size(); ++i) {
      const char c = rows[i];
      if (quoted) {
        if (c == '"' && i + 1 < rows.size() && rows[i + 1] == '"') {
          cells.back() += '"';
          ++i;
        } else if (c == '"') {
          quoted = false;
        } else {
          cells.back() += c;
        }
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        cells.emplace_back();
      } else if (c == '\n') {
        break;
      } else if (c != '\r') {
        cells.back() += c;
      }
    }
    from = i + 1;
    if (cells.size() < 8) continue;
    const auto number = [&](std::size_t at) -> std::optional<double> {
      if (at >= cells.size() || cells[at].empty()) return std::nullopt;
      double value = 0.0;
      const char* begin = cells[at].data();
      const auto [end, ec] = std::from_chars(begin, begin + cells[at].size(), value);
      if (ec != std::errc() || end != begin + cells[at].size()) return std::nullopt;
      return value;
    };
    peaks.push_back({cells[1], number(2), number(3), number(4), number(5), number(6), number(7), number(8)});
  }
  return peaks;
}

std::string SpectraCsv(const std::vector<std::string>& compounds, const std::vector<std::vector<float>>& spectra,
                       int fromNm, int stepNm) {
  std::string csv = "wavelength_nm";
  std::size_t points = 0;
  for (std::size_t i = 0; i < compounds.size(); ++i) {
    csv += "," + CsvQuoted(compounds[i]);
    points = std::max(points, spectra[i].size());
  }
  csv += "\n";
  for (std::size_t j = 0; j < points; ++j) {
    csv += std::to_string(fromNm + static_cast<int>(j) * stepNm);
    for (const auto& spectrum : spectra) csv += "," + (j < spectrum.size() ? Fixed(spectrum[j], 3) : std::string());
    csv += "\n";
  }
  return csv;
}

std::string RenderChromatogramSvg(std::span<const double> signal, double periodMin,
                                  const std::vector<MeasuredPeak>& peaks, const ChromatogramInfo& info) {
  constexpr double kWidth = 1000, kHeight = 520, kLeft = 80, kRight = 30, kTop = 90, kBottom = 60;
  const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const double v : signal) {
    if (std::isnan(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!(lo <= hi)) lo = 0.0, hi = 1.0;
  if (hi - lo < 1.0) hi = lo + 1.0;
  // Room above the highest peak for its label.
  hi += (hi - lo) * 0.25;
  const std::vector<double> yTicks = NiceTicks(lo, hi, 6);
  double tMax = std::max(static_cast<double>(signal.size()) * periodMin, periodMin);
  const std::vector<double> tTicks = NiceTicks(0, tMax, 10);
  if (!tTicks.empty()) tMax = std::max(tMax, tTicks.back());
  const auto X = [&](double t) { return kLeft + t / tMax * plotW; };
  const auto Y = [&](double v) { return kTop + plotH - (v - lo) / (hi - lo) * plotH; };

  std::string svg = SvgPageStart(kWidth, kHeight, kLeft, info.title, info.subtitle, info.outcome);
  for (const double t : tTicks) {
    svg += "<line x1=\"" + SvgNumber(X(t)) + "\" y1=\"" + SvgNumber(kTop) + "\" x2=\"" + SvgNumber(X(t)) + "\" y2=\"" +
           SvgNumber(kTop + plotH) + "\" stroke=\"#eee\"/>\n";
    svg += "<text x=\"" + SvgNumber(X(t)) + "\" y=\"" + SvgNumber(kTop + plotH + 18) +
           "\" font-size=\"12\" text-anchor=\"middle\" fill=\"#444\">" + SvgNumber(t, t == std::round(t) ? 0 : 1) + "</text>\n";
  }
  for (const double v : yTicks) {
    if (v < lo || v > hi) continue;
    svg += "<line x1=\"" + SvgNumber(kLeft) + "\" y1=\"" + SvgNumber(Y(v)) + "\" x2=\"" + SvgNumber(kLeft + plotW) +
           "\" y2=\"" + SvgNumber(Y(v)) + "\" stroke=\"#eee\"/>\n";
    svg += "<text x=\"" + SvgNumber(kLeft - 8) + "\" y=\"" + SvgNumber(Y(v) + 4) +
           "\" font-size=\"12\" text-anchor=\"end\" fill=\"#444\">" + SvgNumber(v, std::fabs(v) < 10 ? 1 : 0) + "</text>\n";
  }
  svg += "<rect x=\"" + SvgNumber(kLeft) + "\" y=\"" + SvgNumber(kTop) + "\" width=\"" + SvgNumber(plotW) +
         "\" height=\"" + SvgNumber(plotH) + "\" fill=\"none\" stroke=\"#888\"/>\n";
  svg += "<text x=\"" + SvgNumber(kLeft + plotW / 2) + "\" y=\"" + SvgNumber(kHeight - 15) +
         "\" font-size=\"13\" text-anchor=\"middle\" fill=\"#222\">Time (min)</text>\n";
  svg += "<text transform=\"rotate(-90 20 " + SvgNumber(kTop + plotH / 2) + ")\" x=\"20\" y=\"" +
         SvgNumber(kTop + plotH / 2) + "\" font-size=\"13\" text-anchor=\"middle\" fill=\"#222\">Absorbance at " +
         std::to_string(info.wavelengthNm) + " nm (mAU)</text>\n";
  // The trace, at most two points (the lowest and the highest sample) per
  // pixel of width, in the order they came; a gap where nothing was read.
  std::string path;
  bool pen = false;
  const auto perPixel = static_cast<std::size_t>(std::max(1.0, std::floor(static_cast<double>(signal.size()) / plotW)));
  for (std::size_t i = 0; i < signal.size(); i += perPixel) {
    const std::size_t end = std::min(signal.size(), i + perPixel);
    std::size_t low = i, high = i;
    bool any = false;
    for (std::size_t j = i; j < end; ++j) {
      if (std::isnan(signal[j])) continue;
      if (!any || signal[j] < signal[low]) low = j;
      if (!any || signal[j] > signal[high]) high = j;
      any = true;
    }
    if (!any) {
      pen = false;
      continue;
    }
    for (const std::size_t j : {std::min(low, high), std::max(low, high)}) {
      path += (pen ? " L" : " M") + SvgNumber(X(static_cast<double>(j) * periodMin), 2) + " " + SvgNumber(Y(signal[j]), 2);
      pen = true;
      if (low == high) break;
    }
  }
  svg += "<path d=\"" + path + "\" fill=\"none\" stroke=\"#1f4e9c\" stroke-width=\"1.2\"/>\n";
  for (const MeasuredPeak& peak : peaks) {
    if (!peak.retentionMin || !peak.heightMau) continue;
    const double x = X(*peak.retentionMin);
    const std::size_t index = std::min(signal.size() - 1, static_cast<std::size_t>(std::lround(*peak.retentionMin / periodMin)));
    const double y = Y(std::isnan(signal[index]) ? lo : signal[index]) - 6;
    svg += "<text class=\"peak-label\" transform=\"rotate(-90 " + SvgNumber(x) + " " + SvgNumber(y) + ")\" x=\"" +
           SvgNumber(x) + "\" y=\"" + SvgNumber(y + 4) + "\" font-size=\"11\" fill=\"#222\">" + SvgText(peak.compound) +
           " " + Fixed(*peak.retentionMin, 2) + "</text>\n";
  }
  svg += "</svg>\n";
  return svg;
}

ChromatogramFile::~ChromatogramFile() {
  if (m_file) std::fclose(m_file);
}

bool ChromatogramFile::Open(const std::filesystem::path& file, int wavelengthNm) {
  m_file = std::fopen(file.string().c_str(), "wb");
  if (!m_file) return false;
  m_ok = std::fprintf(m_file, "time_min,uv_%dnm_mau\n", wavelengthNm) > 0;
  return true;
}

void ChromatogramFile::Append(std::size_t first, std::span<const double> samplesMau, double periodMin) {
  if (!m_file) return;
  m_rows.clear();
  for (std::size_t i = 0; i < samplesMau.size(); ++i) {
    AppendFixed(m_rows, static_cast<double>(first + i) * periodMin, 4);
    m_rows += ',';
    if (!std::isnan(samplesMau[i])) AppendFixed(m_rows, samplesMau[i], 3);
    m_rows += '\n';
  }
  const std::string& rows = m_rows;
  m_ok = std::fwrite(rows.data(), 1, rows.size(), m_file) == rows.size() && std::fflush(m_file) == 0 && m_ok;
}

bool ChromatogramFile::Close() {
  if (!m_file) return m_ok;
  const bool closed = std::fclose(m_file) == 0;
  m_file = nullptr;
  return closed && m_ok;
}

}  // namespace host
