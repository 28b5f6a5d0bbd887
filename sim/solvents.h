// What the simulated solvent bottles hold, and how viscous their mixtures
// are: the pressure a pump reads follows it.
//
// The simulator knows five solvents. Each of the pumps' four channels
// (A to D) draws from one bottle (the direct network has no D, so only
// the server's pump draws from D); a bottle holds one known solvent or a
// premix of up to three of them. A label the simulator does not recognise
// leaves the bottle with its usual solvent (A water, B methanol, C
// acetonitrile, D water). docs/simulator.md gives the figures and the labels
// recognised.
// Stateless; any thread may call these.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

enum class Solvent { kWater, kMethanol, kAcetonitrile, kTetrahydrofuran, kIsopropanol };
inline constexpr int kSolventCount = 5;

// What one bottle holds: up to three solvents in the order its label
// names them, with their volume fractions (adding up to 1; the slots a
// bottle does not use hold 0). A bottle of one solvent converts from it.
struct Bottle {
  std::array<Solvent, 3> solvents{};
  std::array<double, 3> fractions{};
  constexpr Bottle(Solvent solvent = Solvent::kWater) : solvents{solvent, solvent, solvent}, fractions{1.0, 0, 0} {}
  bool operator==(const Bottle&) const = default;
};

// The pumps' solvent channels, A to D.
inline constexpr std::size_t kChannelCount = 4;
// What bottles A to D hold.
using Bottles = std::array<Bottle, kChannelCount>;
inline constexpr Bottles kDefaultBottles{Solvent::kWater, Solvent::kMethanol, Solvent::kAcetonitrile,
                                         Solvent::kWater};
// The labels of bottles A to D.
using BottleLabels = std::array<std::string, kChannelCount>;

// The bottle a label names, as a chromatographer writes it: a solvent's
// name or a common abbreviation ("Acetonitrile", "MeCN", "THF",
// "2-propanol"), in any case, or a premix of two or three of them with
// their volume parts ("Water / methanol 70:30", "MeCN-water 50:50",
// "a/b/c 40:30:30", "70 %:30 %", "(70:30)") or by the share of one in
// the rest ("30 % methanol in water"); either alone, followed by an
// additive ("Water + 0.1 % formic acid", "MeCN/water 90:10, 10 mM
// ammonium formate") or after one ("0.1 % TFA in water"). Anything else:
// nullopt.
std::optional<Bottle> BottleFromLabel(std::string_view label);
// Whether a label names water, an aqueous buffer, an acid or a salt in
// water and no organic solvent ("Milli-Q water", "20 mM KH2PO4 pH 2.5",
// "0.1 % formic acid", "phosphate buffer"): such a bottle is simulated as
// water.
bool IsAqueousLabel(std::string_view label);

// "water", "methanol", "acetonitrile", "tetrahydrofuran", "isopropanol".
const char* SolventName(Solvent solvent);
// "water" for a bottle of water, "acetonitrile/water 90:10" for a premix
// (percent, to 0.1).
std::string BottleName(const Bottle& bottle);

// How a channel's label was read.
enum class LabelReading {
  kNamed,    // the label names what the bottle holds
  kUnnamed,  // no label (blank): the channel's usual solvent
  kGuessed,  // a label the simulator does not recognise: the channel's usual solvent
  kAqueous,  // an aqueous buffer, acid or salt (IsAqueousLabel): water
};
struct SimulatedBottle {
  Bottle bottle;
  LabelReading reading = LabelReading::kNamed;
};
// What channels A to D are simulated as, from their labels.
std::array<SimulatedBottle, kChannelCount> ReadBottleLabels(const BottleLabels& labels);
// The bottles of channels A to D named by these labels; a label that names
// nothing the simulator knows keeps that channel's default bottle.
Bottles BottlesFromLabels(const BottleLabels& labels);

// The viscosity in cP of a mixture at `columnC` degrees C. `shares` are
// the parts of bottles A to D (any scale; negative parts count as 0; no
// part at all counts as pure A); each bottle's part spreads over its
// solvents.
double MixtureViscosityCp(const Bottles& bottles, const std::array<double, kChannelCount>& shares, double columnC);

// Bounds of the viscosity in cP of any mixture of `bottles` at any
// temperature from `lowC` to `highC`: MixtureViscosityCp gives no value
// outside them there (up to its rounding).
struct CpBounds {
  double lowest, highest;
};
CpBounds MixtureViscosityBounds(const Bottles& bottles, double lowC, double highC);

// The same viscosities for one set of bottles at one temperature, with the
// solvents' own terms worked out once: for a caller that asks for many
// mixtures while the bottles and the temperature stay (a column's every
// step, every part it holds). Cp gives exactly what MixtureViscosityCp
// gives.
class MixtureViscosity {
 public:
  MixtureViscosity(const Bottles& bottles, double columnC);
  double ColumnC() const { return m_columnC; }
  double Cp(const std::array<double, kChannelCount>& shares) const;

 private:
  Bottles m_bottles;
  double m_columnC;
  // By solvent, for those the bottles hold: ln of its viscosity, and its
  // mixing term with water, at m_columnC.
  std::array<double, kSolventCount> m_ln{}, m_interaction{};
  // What each channel's part adds to a solvent's share, in channel and
  // then bottle slot order; slots of no volume add nothing and are left
  // out.
  struct Term {
    std::uint8_t channel, solvent;
    double fraction;
  };
  std::array<Term, kChannelCount * 3> m_terms{};
  std::size_t m_termCount = 0;
};

}  // namespace sim
