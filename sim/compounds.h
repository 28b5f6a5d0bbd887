// The compounds a simulated sample can hold: how a reversed-phase C18
// column retains each in water mixed with methanol or acetonitrile (the
// linear-solvent-strength parameters), how that changes with temperature,
// how fast it diffuses, and how it absorbs UV light. The figures and where
// they come from are in compounds.cc, beside the table, and in
// docs/simulator.md.
//
// Stateless; any thread may call these.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "sim/solvents.h"

namespace sim {

// One absorption band: a Gaussian in wavelength around its maximum.
struct AbsorptionBand {
  double peakNm = 0.0;
  double epsilon = 0.0;  // molar absorptivity at the maximum, l/(mol cm)
  double widthNm = 0.0;  // standard deviation of the band; 0: no band
};

struct Compound {
  const char* name;      // as a sample description names it, lower case
  const char* alias;     // another name it is known by, or ""
  double molarMass;      // g/mol
  double leBasVolume;    // molar volume at its boiling point, cm3/mol (diffusion)
  // log k = logKw - S x (volume fraction of the organic solvent), at 25 C,
  // with methanol and with acetonitrile as the organic solvent; logKw is
  // the retention in water alone, one value for both.
  double logKw, sMethanol, sAcetonitrile;
  // Retention enthalpy, kJ/mol (negative: less retention when warmer).
  double enthalpyKjMol;
  std::array<AbsorptionBand, 3> bands;
  const char* source;
};

// Every compound the simulator knows, in the order of the data table.
std::span<const Compound> CompoundLibrary();
// The compound named `name` (its name or alias, in any case); nullptr for
// none.
const Compound* FindCompound(std::string_view name);

// Molar absorptivity at `nm`, l/(mol cm).
double MolarAbsorptivity(const Compound& compound, double nm);

// The retention factor in a mobile phase of these solvent volume
// fractions (indexed by Solvent, adding up to 1) at `columnC`.
// Tetrahydrofuran and isopropanol elute as the stronger solvents they
// are: as methanol at 1.45 and 1.5 times its strength parameter.
double RetentionFactor(const Compound& compound, const std::array<double, kSolventCount>& fractions, double columnC);

// Absorbance of one centimetre of the solvent itself at `nm`, against
// water: what a gradient adds to the baseline.
double SolventAbsorbance(Solvent solvent, double nm);

}  // namespace sim
