// What the simulated column does to an injected sample, and what the
// simulated detectors record of it.
//
// The column's contents are followed by volume: every composition that
// reached the column's head is kept until it has left the column, so a
// compound's zone, wherever it is in the column, is eluted by the mobile
// phase that is there (the gradient as delivered, delayed and mixed by the
// dwell volume, at the flow as delivered). Each zone moves by the
// delivered volume over (1 + k) column volumes, k from the
// linear-solvent-strength model at the oven's temperature of the moment
// (sim/compounds.h), and widens by the plate height of the van Deemter
// relation at the flow's linear velocity, the compound's diffusion (from
// the viscosity and temperature) and its retention; a zone whose rear
// sits in stronger solvent than its front is compressed, as in gradient
// elution. Its width at the outlet, the injection volume, the detector
// cell and the detector's time constant give the peak. docs/simulator.md
// lists the equations, parameters and sources.
//
// The UV detector samples every 100 ms of the run, from the injection on,
// the absorbance of what flows through its cell: the mobile phase's own
// (a gradient's baseline), each eluted compound's, noise and drift from
// a seed of the run, so a run is repeatable. The PDA takes a spectrum at
// each peak's apex.
//
// Not thread-safe: its owner, the instrument model, serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/compounds.h"
#include "sim/hydraulics.h"
#include "sim/solvents.h"

namespace sim {

// What a vial holds: compounds by name, each in mg/l.
using SampleContents = std::vector<std::pair<std::string, double>>;

// The volume fractions of each solvent (indexed by Solvent) in a mobile
// phase of `composition` drawn from `bottles`; pure water for none.
std::array<double, kSolventCount> SolventFractions(const Bottles& bottles, const Composition& composition);

// A peak as the simulated detectors saw it.
struct RecordedPeak {
  std::string compound;
  double apexMin = 0.0;        // run time at the detector
  double sigmaMin = 0.0;       // standard deviation of the Gaussian peak
  double heightMau = 0.0;      // at the UV detector's wavelength
  double areaMauS = 0.0;
  double retentionFactor = 0.0;  // k of the mobile phase it left the column in
  std::vector<float> spectrum;   // PDA absorbance, mAU, from kSpectrumFromNm in kSpectrumStepNm steps
};

struct DetectorRecording {
  static constexpr int kSpectrumFromNm = 190;
  static constexpr int kSpectrumStepNm = 2;
  static constexpr int kSpectrumPoints = 106;  // to 400 nm
  static constexpr double kPeriodMin = 0.1 / 60.0;

  bool injected = false;   // the last run injected a sample
  std::size_t firstSample = 0;  // the place of signalMau's first sample in the run's
  int vial = -1;
  int wavelengthNm = 0;
  std::vector<double> signalMau;  // one every kPeriodMin from the injection; NaN while the lamp was off
  std::vector<RecordedPeak> peaks;  // in the order they eluted (from the one asked for)
  std::vector<std::string> unknown;  // compounds the vial named that the library does not know
};

class Separation {
 public:
  // Total porosity of the column (the liquid's share of its volume),
  // detector cell volume and path, the detector's time constants by
  // response setting (fast, standard, slow), its noise and drift.
  static constexpr double kTotalPorosity = 0.65;
  static constexpr double kCellUl = 8.0;
  static constexpr double kPathCm = 1.0;
  static constexpr std::array<double, 3> kTimeConstantS{0.1, 0.5, 2.0};
  static constexpr double kNoiseMau = 0.02;
  static constexpr double kDriftMauPerHour = 0.5;
  // van Deemter in reduced form, h = A + B / v + C(k) v, C(k) = C0 + C1 (k / (1 + k))^2.
  static constexpr double kA = 1.0, kB = 2.0, kC0 = 0.05, kC1 = 0.07;

  // The column the liquid path has; without one, the simulator's fixed
  // column (250 x 4.6 mm, 5 um).
  void Fit(const std::optional<Column>& column);
  // What entered the column's head: `volumeMl` delivered in all, of
  // these solvent fractions.
  void Enter(double volumeMl, const std::array<double, kSolventCount>& fractions);
  // A sample injected at `nowMs` onto the head of the column (a new
  // recording starts): `contents` of `injectUl`. An empty sample records
  // a baseline.
  void Inject(std::int64_t nowMs, int vial, const SampleContents& contents, double injectUl, double columnC,
              std::uint32_t seed);
  // The run goes on to `nowMs`, the pumps having delivered `volumeMl` in
  // all at `flowMlMin`, the column at `columnC` and the mobile phase of
  // `viscosityCp`; the UV detector at `wavelengthNm`, its lamp `lampOn`,
  // its response `response` (0 fast, 1 standard, 2 slow).
  void Advance(std::int64_t nowMs, double volumeMl, double flowMlMin, double columnC, double viscosityCp,
               int wavelengthNm, bool lampOn, int response);
  // The run ended: nothing more is recorded until the next injection.
  void EndRun() { m_bRecording = false; }

  // What the detectors recorded in the last (or present) run: the samples
  // from `fromSample` and the peaks from `fromPeak` on, so that a reader
  // can take each once, as the run goes.
  DetectorRecording Recording(std::size_t fromSample = 0, std::size_t fromPeak = 0) const;

  // For the closed-form checks: the column's liquid volume (ml) and the
  // plate height (mm) of `compound` at a flow, temperature, viscosity and
  // retention factor.
  double ColumnVolumeMl() const { return m_volumeMl; }
  // A column that has lost efficiency: the plate height `factor` times
  // the van Deemter relation's (1: as new). Fit keeps it.
  void SetPlateHeightFactor(double factor) { m_plateFactor = factor; }
  double PlateHeightFactor() const { return m_plateFactor; }
  double PlateHeightMm(const Compound& compound, double flowMlMin, double columnC, double viscosityCp, double k,
                       const std::array<double, kSolventCount>& fractions) const;

 private:
  struct Point {
    double volumeMl;
    std::array<double, kSolventCount> fractions;
  };
  struct Zone {
    const Compound* compound;
    double amountMol;
    double position = 0.0;  // along the column, 0 head to 1 outlet
    double variance = 0.0;  // of the position, in column lengths squared
    double k = -1.0;        // at its last step (-1: none yet)
    double sigmaMs = 0.0;   // its peak's width were it to elute now
    std::size_t hereHint = 0, aheadHint = 0;  // where FractionsAt last found its compositions
  };
  struct Eluted {
    const Compound* compound;
    double amountMol, apexMs, sigmaMs, flowMlMin, k;
  };
  static constexpr std::int64_t kPeriodMs = 100;
  // The solvent fractions that entered the column's head at `volumeMl`.
  std::array<double, kSolventCount> FractionsAt(double volumeMl) const;
  // The same, looked for from `hint` (an index into m_entered, moved to
  // where it was found): a query near the last one, as the detector's
  // samples and each zone's steps make, costs a step or two instead of a
  // search.
  std::array<double, kSolventCount> FractionsAt(double volumeMl, std::size_t& hint) const;
  // What the eluted peaks and the fronts of the zones about to elute add
  // to the UV detector's signal at `sampleMs`.
  double SignalAt(double sampleMs, double flowMlMin, int wavelengthNm) const;
  // A peak's standard deviation in time, from its zone's variance (column
  // lengths squared), the cell, and the detector's time constant.
  double SigmaMs(double variance, double k, double flowMlMin) const;
  // The zones' step up to `nowMs`, when the pumps have delivered enough
  // since the last.
  void MoveZones(std::int64_t nowMs, double volumeMl, double flowMlMin, double columnC, double viscosityCp);
  // mAU s of peak area per l/(mol cm) of molar absorptivity.
  static double PeakAreaPerEpsilon(double amountMol, double flowMlMin);

  Column m_column;
  double m_plateFactor = 1.0;  // SetPlateHeightFactor
  double m_volumeMl = 0.0;  // the column's liquid volume
  std::vector<Point> m_entered;  // from m_firstEntered on; those before have left the column
  std::size_t m_firstEntered = 0;
  std::size_t m_baselineHint = 0;  // FractionsAt's, for the detector's samples
  double m_lastVolumeMl = 0.0;
  std::int64_t m_lastMs = 0;

  bool m_bRecording = false;
  std::int64_t m_injectedMs = 0;
  DetectorRecording m_record;
  std::vector<Zone> m_zones;
  std::vector<Eluted> m_eluted;
  std::size_t m_samples = 0;  // taken in this run
  int m_response = 1;
  double m_zoneVolumeMl = 0.0;  // delivered at the zones' last step
  std::int64_t m_zoneMs = 0;
  int m_absorbanceNm = -1;      // the wavelength m_solventMau is for
  std::array<double, kSolventCount> m_solventMau{};
  std::uint64_t m_noiseState = 0;
  double m_spareNoise = 0.0;
  bool m_bSpareNoise = false;
  double m_zeroMau = 0.0;  // the mobile phase's absorbance when the detector was zeroed
};

}  // namespace sim
