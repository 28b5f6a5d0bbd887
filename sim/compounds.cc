#include "sim/compounds.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sim {

namespace {

// The compound library.
//
// These are rounded, representative values for a conventional end-capped
// C18 column, chosen so that a simulated run looks like the runs the
// literature reports; they are not reference data to quantify against.
//
// Retention (logKw, S): the linear-solvent-strength model of Snyder and
// Dolan (L. R. Snyder, J. W. Dolan, High-Performance Gradient Elution,
// Wiley 2007). The elution order and spacing follow the compounds'
// octanol-water log P (C. Hansch, A. Leo, D. Hoekman, Exploring QSAR:
// Hydrophobic, Electronic and Steric Constants, ACS 1995), except that
// the xanthines are held more strongly than their log P says, as reported
// for C18 columns; S grows with the molecule's size (S about 0.25 M^0.5
// for larger molecules, same source), and acetonitrile's S is about 1.2
// times methanol's, the usual solvent-strength ratio (70 % methanol
// elutes about as 58 % acetonitrile does). The caffeine values give the
// 4.5 min of the caffeine example: k = 1.8 in 30 % methanol on a
// 150 x 4.6 mm column at 1 ml/min.
//
// Temperature: van 't Hoff retention enthalpies of -5 to -15 kJ/mol, which
// lower k by 1 to 2 % per degree near room temperature (J. W. Dolan,
// J. Chromatogr. A 965 (2002) 195).
//
// Diffusion: Le Bas molar volumes (additive atomic volumes) for the
// Wilke-Chang relation.
//
// UV: maxima and molar absorptivities of the compounds in water or
// methanol, rounded: the drugs from their A(1 %, 1 cm) values in Clarke's
// Analysis of Drugs and Poisons (4th ed., Pharmaceutical Press 2011)
// converted with the molar mass; the hydrocarbons and acetophenone from
// the NIST Chemistry WebBook (NIST Standard Reference Database 69) UV/Vis
// spectra. Band widths are fitted by eye to the published spectra.
constexpr Compound kLibrary[] = {
    {"uracil", "", 112.09, 105.0, -0.70, 1.0, 1.2, -5.0, {{{259, 8200, 12}, {202, 9000, 6}, {}}},
     "hold-up marker; UV: NIST WebBook"},
    {"theobromine", "", 180.16, 181.0, 0.75, 3.3, 3.8, -11.0, {{{273, 9900, 12}, {207, 20000, 8}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P -0.78 (Hansch 1995); UV: Clarke's 2011"},
    {"theophylline", "", 180.16, 181.0, 0.95, 3.4, 3.9, -12.0, {{{271, 9700, 12}, {205, 22000, 8}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P -0.02 (Hansch 1995); UV: Clarke's 2011 (A1% 536 at 271 nm)"},
    {"paracetamol", "acetaminophen", 151.16, 162.0, 0.85, 3.2, 3.7, -10.0, {{{243, 10100, 13}, {}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P 0.46 (Hansch 1995); UV: Clarke's 2011 (A1% 668 at 243 nm)"},
    {"caffeine", "", 194.19, 203.0, 1.30, 3.5, 4.0, -12.0, {{{273, 9800, 12}, {205, 25000, 8}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P -0.07 (Hansch 1995); UV: Clarke's 2011 (A1% 504 at 273 nm)"},
    {"acetophenone", "", 120.15, 140.4, 2.20, 3.6, 4.3, -11.0, {{{243, 12600, 10}, {279, 1100, 8}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P 1.58 (Hansch 1995); UV: NIST WebBook"},
    {"methylparaben", "methyl 4-hydroxybenzoate", 152.15, 160.5, 2.60, 3.9, 4.7, -15.0,
     {{{256, 16000, 13}, {200, 12000, 8}, {}}}, "LSS: Snyder & Dolan 2007 model, log P 1.96 (Hansch 1995); UV: NIST WebBook"},
    {"ethylparaben", "ethyl 4-hydroxybenzoate", 166.17, 182.7, 3.05, 4.1, 4.9, -15.0,
     {{{257, 16500, 13}, {200, 12500, 8}, {}}}, "LSS: Snyder & Dolan 2007 model, log P 2.47 (Hansch 1995); UV: NIST WebBook"},
    {"propylparaben", "propyl 4-hydroxybenzoate", 180.20, 204.9, 3.55, 4.3, 5.2, -15.0,
     {{{257, 16700, 13}, {200, 13000, 8}, {}}}, "LSS: Snyder & Dolan 2007 model, log P 3.04 (Hansch 1995); UV: NIST WebBook"},
    {"butylparaben", "butyl 4-hydroxybenzoate", 194.23, 227.1, 4.05, 4.5, 5.4, -15.0,
     {{{257, 16800, 13}, {200, 13500, 8}, {}}}, "LSS: Snyder & Dolan 2007 model, log P 3.57 (Hansch 1995); UV: NIST WebBook"},
    {"toluene", "", 92.14, 118.2, 3.35, 3.9, 4.7, -11.0, {{{262, 230, 8}, {208, 7900, 7}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P 2.73 (Hansch 1995); UV: NIST WebBook"},
    {"ethylbenzene", "", 106.17, 140.4, 3.75, 4.15, 5.0, -11.0, {{{261, 220, 8}, {208, 8000, 7}, {}}},
     "LSS: Snyder & Dolan 2007 model, log P 3.15 (Hansch 1995); UV: NIST WebBook"},
    {"naphthalene", "", 128.17, 147.6, 3.60, 4.0, 4.8, -13.0, {{{221, 117000, 6}, {275, 5600, 10}, {286, 3600, 4}}},
     "LSS: Snyder & Dolan 2007 model, log P 3.30 (Hansch 1995); UV: NIST WebBook"},
};

// Strength of tetrahydrofuran and isopropanol as multiples of methanol's S
// (the solvent-strength nomogram of Snyder, Kirkland & Dolan,
// Introduction to Modern Liquid Chromatography, 3rd ed., Wiley 2010).
constexpr double kTetrahydrofuranStrength = 1.45;
constexpr double kIsopropanolStrength = 1.5;

constexpr double kGasConstant = 8.314e-3;  // kJ/(mol K)
constexpr double kReferenceK = 298.15;

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::span<const Compound> CompoundLibrary() { return kLibrary; }

const Compound* FindCompound(std::string_view name) {
  for (const Compound& compound : kLibrary) {
    if (SameText(name, compound.name) || (*compound.alias && SameText(name, compound.alias))) return &compound;
  }
  return nullptr;
}

double MolarAbsorptivity(const Compound& compound, double nm) {
  double epsilon = 0.0;
  for (const AbsorptionBand& band : compound.bands) {
    if (band.widthNm <= 0.0) continue;
    const double x = (nm - band.peakNm) / band.widthNm;
    epsilon += band.epsilon * std::exp(-0.5 * x * x);
  }
  return epsilon;
}

double RetentionFactor(const Compound& compound, const std::array<double, kSolventCount>& fractions, double columnC) {
  const double strength = compound.sMethanol * fractions[static_cast<int>(Solvent::kMethanol)] +
                          compound.sAcetonitrile * fractions[static_cast<int>(Solvent::kAcetonitrile)] +
                          compound.sMethanol * (kTetrahydrofuranStrength * fractions[static_cast<int>(Solvent::kTetrahydrofuran)] +
                                                kIsopropanolStrength * fractions[static_cast<int>(Solvent::kIsopropanol)]);
  // van 't Hoff: ln k moves by -dH/R x (1/T - 1/Tref).
  const double heat = -compound.enthalpyKjMol / kGasConstant * (1.0 / (columnC + 273.15) - 1.0 / kReferenceK);
  constexpr double kLn10 = 2.302585092994046;
  return std::exp((compound.logKw - strength) * kLn10 + heat);
}

double SolventAbsorbance(Solvent solvent, double nm) {
  // 1 AU at the solvent's UV cutoff, falling tenfold over about 28 nm
  // (cutoffs: Snyder, Kirkland & Dolan 2010).
  double cutoffNm = 0.0;
  switch (solvent) {
    case Solvent::kWater: return 0.0;
    case Solvent::kMethanol: cutoffNm = 205.0; break;
    case Solvent::kAcetonitrile: cutoffNm = 190.0; break;
    case Solvent::kTetrahydrofuran: cutoffNm = 212.0; break;
    case Solvent::kIsopropanol: cutoffNm = 205.0; break;
  }
  return std::exp(-(nm - cutoffNm) / 12.0);
}

}  // namespace sim
