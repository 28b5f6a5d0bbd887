#include "sim/separation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace sim {

namespace {

constexpr double kPi = 3.14159265358979;

// Wilke-Chang association factor times molar mass, by solvent.
constexpr std::array<double, kSolventCount> kAssociationMass{2.6 * 18.02, 1.9 * 32.04, 1.0 * 41.05, 1.0 * 72.11,
                                                             1.0 * 60.10};

// Compositions that entered closer than this share of the column's volume
// are merged, and a zone looks this far ahead (in column lengths) for the
// solvent strength across it.
constexpr double kPointShare = 0.002;
constexpr double kStrengthSpan = 0.02;
// The share of the column's volume the zones move by between their steps:
// each step takes the retention at its middle (below), so a step this
// long places peaks within a thousandth of a minute of steps ten times
// shorter.
constexpr double kZoneStepShare = 0.01;
// A peak adds to the signal within this many standard deviations of its apex.
constexpr double kPeakReach = 8.0;

// Uniform in (0, 1) from a splitmix64 state: the same numbers on every
// platform, unlike the standard library's distributions.
double Uniform(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return (static_cast<double>(z >> 11) + 0.5) / 9007199254740992.0;
}

// Standard normal numbers, two from each pair of uniform ones (Box-Muller).
double Gaussian(std::uint64_t& state, double& spare, bool& hasSpare) {
  if (std::exchange(hasSpare, false)) return spare;
  const double u = Uniform(state), v = Uniform(state);
  const double r = std::sqrt(-2.0 * std::log(u));
  spare = r * std::sin(2.0 * kPi * v);
  hasSpare = true;
  return r * std::cos(2.0 * kPi * v);
}

// The Le Bas volume to the power the Wilke-Chang relation takes it, once
// for each compound of the library.
double VolumeFactor(const Compound& compound) {
  static const std::vector<double> factors = [] {
    std::vector<double> all;
    for (const Compound& c : CompoundLibrary()) all.push_back(std::pow(c.leBasVolume, 0.6));
    return all;
  }();
  return factors[static_cast<std::size_t>(&compound - CompoundLibrary().data())];
}

// Diffusion coefficient in m2/s (Wilke-Chang).
double DiffusionM2s(const Compound& compound, double columnC, double viscosityCp,
                    const std::array<double, kSolventCount>& fractions) {
  double associationMass = 0.0;
  for (std::size_t i = 0; i < fractions.size(); ++i) associationMass += fractions[i] * kAssociationMass[i];
  const double cm2s = 7.4e-8 * std::sqrt(associationMass) * (columnC + 273.15) /
                      (std::max(viscosityCp, 0.05) * VolumeFactor(compound));
  return cm2s * 1e-4;
}

}  // namespace

std::array<double, kSolventCount> SolventFractions(const Bottles& bottles, const Composition& composition) {
  const std::array<double, kChannelCount> shares{std::max(composition.a, 0.0), std::max(composition.b, 0.0),
                                                 std::max(composition.c, 0.0), std::max(composition.d, 0.0)};
  const double total = shares[0] + shares[1] + shares[2] + shares[3];
  std::array<double, kSolventCount> fractions{};
  if (!(total > 0.0)) {
    fractions[0] = 1.0;
    return fractions;
  }
  for (std::size_t channel = 0; channel < kChannelCount; ++channel) {
    for (std::size_t i = 0; i < 3; ++i) {
      fractions[static_cast<std::size_t>(bottles[channel].solvents[i])] +=
          shares[channel] / total * bottles[channel].fractions[i];
    }
  }
  return fractions;
}

void Separation::Fit(const std::optional<Column>& column) {
  m_column = column.value_or(Column{250.0, 4.6, 5.0, 0.40, 0.0});
  m_volumeMl = kTotalPorosity * kPi / 4.0 * std::pow(m_column.diameterMm / 10.0, 2) * m_column.lengthMm / 10.0;
}

void Separation::Enter(double volumeMl, const std::array<double, kSolventCount>& fractions) {
  if (m_volumeMl <= 0.0) Fit(std::nullopt);
  const std::size_t count = m_entered.size() - m_firstEntered;
  if (count > 0) {
    Point& last = m_entered.back();
    if (volumeMl < last.volumeMl) return;
    // The same composition as the two points before: the last one moves on.
    const bool same = count >= 2 && last.fractions == fractions && m_entered[m_entered.size() - 2].fractions == fractions;
    if (same) {
      last.volumeMl = volumeMl;
    } else if (volumeMl - last.volumeMl >= m_volumeMl * kPointShare) {
      m_entered.push_back({volumeMl, fractions});
    } else {
      return;
    }
  } else {
    m_entered.push_back({volumeMl, fractions});
  }
  // What has left the column (with a margin for the zone's look ahead)
  // is no longer needed; two points stay for the composition's slope.
  const double oldest = volumeMl - m_volumeMl * (1.0 + 2.0 * kStrengthSpan) - m_volumeMl * kPointShare;
  while (m_entered.size() - m_firstEntered > 2 && m_entered[m_firstEntered + 1].volumeMl < oldest) ++m_firstEntered;
  if (m_firstEntered > 64 && m_firstEntered * 2 > m_entered.size()) {
    m_entered.erase(m_entered.begin(), m_entered.begin() + static_cast<std::ptrdiff_t>(m_firstEntered));
    const auto shift = [&](std::size_t& hint) { hint -= std::min(hint, m_firstEntered); };
    shift(m_baselineHint);
    for (Zone& zone : m_zones) {
      shift(zone.hereHint);
      shift(zone.aheadHint);
    }
    m_firstEntered = 0;
  }
}

std::array<double, kSolventCount> Separation::FractionsAt(double volumeMl) const {
  const auto first = m_entered.begin() + static_cast<std::ptrdiff_t>(m_firstEntered);
  const auto next = std::upper_bound(first, m_entered.end(), volumeMl,
                                     [](double v, const Point& p) { return v < p.volumeMl; });
  std::size_t hint = static_cast<std::size_t>(std::max(next - m_entered.begin() - 1, std::ptrdiff_t{0}));
  return FractionsAt(volumeMl, hint);
}

std::array<double, kSolventCount> Separation::FractionsAt(double volumeMl, std::size_t& hint) const {
  if (m_entered.size() == m_firstEntered) return {1.0, 0.0, 0.0, 0.0, 0.0};
  const std::size_t first = m_firstEntered, last = m_entered.size() - 1;
  if (volumeMl <= m_entered[first].volumeMl) return m_entered[first].fractions;
  if (volumeMl >= m_entered[last].volumeMl) return m_entered[last].fractions;
  // The last point at or before the volume: the first point is before it
  // and the last after it, so neither walk leaves the points.
  std::size_t i = std::clamp(hint, first, last - 1);
  while (m_entered[i].volumeMl > volumeMl) --i;
  while (m_entered[i + 1].volumeMl <= volumeMl) ++i;
  hint = i;
  const Point& a = m_entered[i];
  const Point& b = m_entered[i + 1];
  const double f = (volumeMl - a.volumeMl) / (b.volumeMl - a.volumeMl);
  std::array<double, kSolventCount> out{};
  for (std::size_t j = 0; j < out.size(); ++j) out[j] = a.fractions[j] + (b.fractions[j] - a.fractions[j]) * f;
  return out;
}

double Separation::PlateHeightMm(const Compound& compound, double flowMlMin, double columnC, double viscosityCp,
                                 double k, const std::array<double, kSolventCount>& fractions) const {
  const double areaM2 = kPi / 4.0 * (m_column.diameterMm * 1e-3) * (m_column.diameterMm * 1e-3);
  const double velocity = flowMlMin / 60e6 / (kTotalPorosity * areaM2);  // m/s
  const double particleM = m_column.particleUm * 1e-6;
  const double reduced = std::max(velocity * particleM / DiffusionM2s(compound, columnC, viscosityCp, fractions), 1e-3);
  const double share = k / (1.0 + k);
  const double h = kA + kB / reduced + (kC0 + kC1 * share * share) * reduced;
  return h * m_column.particleUm * 1e-3 * m_plateFactor;
}

void Separation::Inject(std::int64_t nowMs, int vial, const SampleContents& contents, double injectUl,
                        double columnC, std::uint32_t seed) {
  if (m_volumeMl <= 0.0) Fit(std::nullopt);
  m_bRecording = true;
  m_injectedMs = m_lastMs = m_zoneMs = nowMs;
  m_zoneVolumeMl = m_lastVolumeMl;
  m_record = DetectorRecording{};
  m_record.injected = true;
  m_record.vial = vial;
  m_samples = 0;
  m_zones.clear();
  m_eluted.clear();
  m_noiseState = 0x5175617272756E00ull ^ seed;
  m_bSpareNoise = false;
  const auto head = FractionsAt(m_lastVolumeMl);
  for (const auto& [name, mgPerL] : contents) {
    const Compound* compound = FindCompound(name);
    if (!compound) {
      m_record.unknown.push_back(name);
      continue;
    }
    Zone zone{compound, mgPerL * 1e-3 / compound->molarMass * injectUl * 1e-6};
    // The injected plug occupies the head of the column, shortened by the
    // compound's retention in the solvent there.
    const double plug = injectUl * 1e-3 / (m_volumeMl * (1.0 + RetentionFactor(*compound, head, columnC)));
    zone.variance = plug * plug / 12.0;
    m_zones.push_back(zone);
  }
}

double Separation::PeakAreaPerEpsilon(double amountMol, double flowMlMin) {
  // Beer-Lambert over the peak: area = 1000 x epsilon x path x amount / flow.
  return 1000.0 * kPathCm * amountMol / (std::max(flowMlMin, 1e-6) / 60e3);
}

double Separation::SignalAt(double sampleMs, double flowMlMin, int wavelengthNm) const {
  double mau = 0.0;
  const auto gaussian = [&](const Compound& compound, double amountMol, double flow, double toApexMs,
                            double sigmaMs) {
    if (std::fabs(toApexMs) > kPeakReach * sigmaMs) return;
    const double height = PeakAreaPerEpsilon(amountMol, flow) * MolarAbsorptivity(compound, wavelengthNm) /
                          (std::sqrt(2.0 * kPi) * sigmaMs / 1000.0);
    const double x = toApexMs / sigmaMs;
    mau += height * std::exp(-0.5 * x * x);
  };
  for (const Eluted& e : m_eluted) gaussian(*e.compound, e.amountMol, e.flowMlMin, sampleMs - e.apexMs, e.sigmaMs);
  // The front of a zone still in the column: its distance from the outlet
  // at its last step as the time it takes to cover it, so that its apex
  // is due that long after the step; the sample is drawn against that
  // time, not as of the step (held until the next step, the rising edge
  // of a peak would lag by up to a step and lose about a half-step's
  // worth of its height from its area: several per cent for a narrow one).
  // k and the width are those of the zone's last step.
  for (const Zone& zone : m_zones) {
    if (zone.k < 0.0) continue;
    const double msPerColumn = m_volumeMl * (1.0 + zone.k) / std::max(flowMlMin, 1e-6) * 60000.0;
    const double apexMs = static_cast<double>(m_zoneMs) + (1.0 - zone.position) * msPerColumn;
    if (apexMs - sampleMs > kPeakReach * zone.sigmaMs) continue;
    gaussian(*zone.compound, zone.amountMol, flowMlMin, sampleMs - apexMs, zone.sigmaMs);
  }
  return mau;
}

double Separation::SigmaMs(double variance, double k, double flowMlMin) const {
  const double sigmaMl = std::sqrt(variance) * m_volumeMl * (1.0 + k);
  const double flow = std::max(flowMlMin, 1e-6);
  const double timeConstantMin = kTimeConstantS[static_cast<std::size_t>(std::clamp(m_response, 0, 2))] / 60.0;
  return std::sqrt((sigmaMl * sigmaMl + kCellUl * kCellUl * 1e-6 / 12.0) / (flow * flow) +
                   timeConstantMin * timeConstantMin) * 60000.0;
}

void Separation::Advance(std::int64_t nowMs, double volumeMl, double flowMlMin, double columnC, double viscosityCp,
                         int wavelengthNm, bool lampOn, int response) {
  const double fromMl = m_lastVolumeMl, stepMl = volumeMl - m_lastVolumeMl;
  const std::int64_t fromMs = m_lastMs;
  if (!m_bRecording) {
    m_lastVolumeMl = volumeMl;
    m_lastMs = nowMs;
    return;
  }
  m_record.wavelengthNm = wavelengthNm;
  m_response = response;
  // The detector's samples due in this step: the mobile phase's own
  // absorbance, against what it was at the injection (the detector was
  // zeroed then), what the compounds add, noise and drift.
  if (wavelengthNm != m_absorbanceNm) {
    m_absorbanceNm = wavelengthNm;
    for (int i = 0; i < kSolventCount; ++i) {
      m_solventMau[static_cast<std::size_t>(i)] = SolventAbsorbance(static_cast<Solvent>(i), wavelengthNm) * 1000.0;
    }
  }
  const auto baseline = [&](double atMl) {
    const auto fractions = FractionsAt(atMl - m_volumeMl, m_baselineHint);
    double mau = 0.0;
    for (std::size_t i = 0; i < fractions.size(); ++i) mau += fractions[i] * m_solventMau[i];
    return mau;
  };
  for (;;) {
    const std::int64_t sampleMs = m_injectedMs + static_cast<std::int64_t>(m_samples) * kPeriodMs;
    if (sampleMs > nowMs) break;
    const double share = nowMs > fromMs ? static_cast<double>(sampleMs - fromMs) / static_cast<double>(nowMs - fromMs) : 1.0;
    const double atMl = fromMl + stepMl * std::clamp(share, 0.0, 1.0);
    if (m_samples == 0) m_zeroMau = baseline(atMl);
    ++m_samples;
    const double noise = kNoiseMau * Gaussian(m_noiseState, m_spareNoise, m_bSpareNoise);
    const double drift = kDriftMauPerHour * static_cast<double>(sampleMs - m_injectedMs) / 3.6e6;
    m_record.signalMau.push_back(lampOn ? baseline(atMl) - m_zeroMau +
                                              SignalAt(static_cast<double>(sampleMs), flowMlMin, wavelengthNm) +
                                              noise + drift
                                        : std::numeric_limits<double>::quiet_NaN());
  }
  m_lastVolumeMl = volumeMl;
  m_lastMs = nowMs;
  MoveZones(nowMs, volumeMl, flowMlMin, columnC, viscosityCp);
}

void Separation::MoveZones(std::int64_t nowMs, double volumeMl, double flowMlMin, double columnC, double viscosityCp) {
  // The zones move in steps of a share of the column's volume: their
  // retention changes little over one, and their elution is placed
  // within it.
  const double fromMl = m_zoneVolumeMl, stepMl = volumeMl - m_zoneVolumeMl;
  const std::int64_t fromMs = m_zoneMs;
  if (stepMl < kZoneStepShare * m_volumeMl && !(m_zones.size() > 0 && m_zones.front().k < 0.0)) return;
  m_zoneVolumeMl = volumeMl;
  m_zoneMs = nowMs;
  if (!(stepMl > 0.0)) return;
  // Each zone moves on by the volume delivered, widening by the plate
  // height and compressed where the solvent across it weakens.
  for (auto zone = m_zones.begin(); zone != m_zones.end();) {
    // The composition the zone meets halfway through the step: half the
    // volume delivered, the zone half its move on (as fast as at its last
    // step; a new zone from where it is).
    const double startMl = fromMl - zone->position * m_volumeMl;
    const double kBefore =
        zone->k >= 0.0 ? zone->k : RetentionFactor(*zone->compound, FractionsAt(startMl, zone->hereHint), columnC);
    const double atMl = startMl + 0.5 * stepMl * kBefore / (1.0 + kBefore);
    const auto here = FractionsAt(atMl, zone->hereHint);
    const double k = RetentionFactor(*zone->compound, here, columnC);
    const double ahead = zone->position + kStrengthSpan <= 1.0 ? kStrengthSpan : -kStrengthSpan;
    const double kAhead = RetentionFactor(*zone->compound, FractionsAt(atMl - ahead * m_volumeMl, zone->aheadHint), columnC);
    const double slope = (std::log1p(kAhead) - std::log1p(k)) / ahead;  // d ln(1 + k) / dz
    const double move = stepMl / (m_volumeMl * (1.0 + k));
    const double plate = PlateHeightMm(*zone->compound, flowMlMin, columnC, viscosityCp, k, here) / m_column.lengthMm;
    const double part = std::min(1.0, (1.0 - zone->position) / move);
    zone->variance = zone->variance * std::exp(-2.0 * slope * move * part) + plate * move * part;
    if (part < 1.0 || zone->position + move == 1.0) {
      // Out of the column in this step.
      const double apexMs = static_cast<double>(fromMs) + part * static_cast<double>(nowMs - fromMs);
      m_eluted.push_back({zone->compound, zone->amountMol, apexMs, SigmaMs(zone->variance, k, flowMlMin), flowMlMin, k});
      zone = m_zones.erase(zone);
      continue;
    }
    zone->position += move;
    zone->k = k;
    zone->sigmaMs = SigmaMs(zone->variance, k, flowMlMin);
    ++zone;
  }
}

DetectorRecording Separation::Recording(std::size_t fromSample, std::size_t fromPeak) const {
  DetectorRecording record;
  record.injected = m_record.injected;
  record.vial = m_record.vial;
  record.wavelengthNm = m_record.wavelengthNm;
  record.unknown = m_record.unknown;
  record.firstSample = std::min(fromSample, m_record.signalMau.size());
  record.signalMau.assign(m_record.signalMau.begin() + static_cast<std::ptrdiff_t>(record.firstSample),
                          m_record.signalMau.end());
  for (std::size_t i = fromPeak; i < m_eluted.size(); ++i) {
    const Eluted& e = m_eluted[i];
    RecordedPeak peak;
    peak.compound = e.compound->name;
    peak.apexMin = (e.apexMs - static_cast<double>(m_injectedMs)) / 60000.0;
    peak.sigmaMin = e.sigmaMs / 60000.0;
    peak.retentionFactor = e.k;
    const double perEpsilon = PeakAreaPerEpsilon(e.amountMol, e.flowMlMin);
    const double apexFactor = perEpsilon / (std::sqrt(2.0 * kPi) * e.sigmaMs / 1000.0);
    peak.areaMauS = perEpsilon * MolarAbsorptivity(*e.compound, record.wavelengthNm);
    peak.heightMau = apexFactor * MolarAbsorptivity(*e.compound, record.wavelengthNm);
    peak.spectrum.resize(DetectorRecording::kSpectrumPoints);
    for (int j = 0; j < DetectorRecording::kSpectrumPoints; ++j) {
      const double nm = DetectorRecording::kSpectrumFromNm + j * DetectorRecording::kSpectrumStepNm;
      peak.spectrum[static_cast<std::size_t>(j)] = static_cast<float>(apexFactor * MolarAbsorptivity(*e.compound, nm));
    }
    record.peaks.push_back(std::move(peak));
  }
  return record;
}

}  // namespace sim
