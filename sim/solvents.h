// What the simulated solvent bottles hold, and how viscous their mixtures
// are: the pressure a pump reads follows it.
//
// The simulator knows five solvents. Each of the pumps' three channels
// (A, B, C) draws from one bottle; a bottle holds one known solvent. A
// label the simulator does not recognise leaves the bottle with its usual
// solvent (A water, B methanol, C acetonitrile). docs/simulator.md gives
// the figures and the labels recognised.
// Stateless; any thread may call these.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

enum class Solvent { kWater, kMethanol, kAcetonitrile, kTetrahydrofuran, kIsopropanol };
inline constexpr int kSolventCount = 5;

// What bottles A, B and C hold.
using Bottles = std::array<Solvent, 3>;
inline constexpr Bottles kDefaultBottles{Solvent::kWater, Solvent::kMethanol, Solvent::kAcetonitrile};

// The solvent a bottle label names, as a chromatographer writes it: the
// solvent's name or a common abbreviation ("Acetonitrile", "MeCN", "THF",
// "2-propanol"), in any case, either alone, followed by an additive
// ("Water + 0.1 % formic acid", "Methanol, 10 mM ammonium formate") or
// after one ("0.1 % TFA in water"). A premix ("Water / methanol 70:30")
// or anything else: nullopt.
std::optional<Solvent> SolventFromLabel(std::string_view label);

// The bottles of channels A to C named by these labels; a label that names
// no known solvent keeps that channel's default bottle.
Bottles BottlesFromLabels(const std::array<std::string, 3>& labels);

// "water", "methanol", "acetonitrile", "tetrahydrofuran", "isopropanol".
const char* SolventName(Solvent solvent);

// The viscosity in cP of a mixture at `columnC` degrees C. `shares` are
// the parts of bottles A, B and C (any scale; negative parts count as 0;
// no part at all counts as pure A).
double MixtureViscosityCp(const Bottles& bottles, const std::array<double, 3>& shares, double columnC);

}  // namespace sim
