#include "sim/solvents.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

namespace sim {

namespace {

struct SolventData {
  const char* name;
  double viscosity25;        // cP at 25 degrees C
  double waterInteraction;   // mixing-rule term with water; 0 for water itself
};

// The mixing rule: ln(eta) = sum of share x ln(eta_i), plus each solvent's
// interaction term with water x both shares. Organic solvents mix with one
// another almost ideally, so only the pairs with water get a term. The terms
// put the viscosity maxima where chromatographers know them: water with
// methanol about 1.6 cP near 42 % methanol, with acetonitrile about 0.93 cP
// near 18 % acetonitrile, with tetrahydrofuran about 1.6 cP near 40 %, with
// isopropanol about 3.0 cP near 64 %.
constexpr SolventData kSolvents[kSolventCount] = {
    {"water", 0.89, 0.0},
    {"methanol", 0.54, 3.35},
    {"acetonitrile", 0.34, 1.5},
    {"tetrahydrofuran", 0.46, 3.6},
    {"isopropanol", 2.04, 3.0},
};

// Temperature dependence: ln(eta) falls by this many kelvin times 1/T.
constexpr double kViscosityActivationK = 1800.0;

// Longer spellings first, so that a prefix never hides a longer name.
constexpr std::pair<const char*, Solvent> kAliases[] = {
    {"isopropyl alcohol", Solvent::kIsopropanol}, {"tetrahydrofuran", Solvent::kTetrahydrofuran},
    {"acetonitrile", Solvent::kAcetonitrile},     {"propan-2-ol", Solvent::kIsopropanol},
    {"isopropanol", Solvent::kIsopropanol},       {"2-propanol", Solvent::kIsopropanol},
    {"methanol", Solvent::kMethanol},             {"water", Solvent::kWater},
    {"mecn", Solvent::kAcetonitrile},             {"meoh", Solvent::kMethanol},
    {"h2o", Solvent::kWater},                     {"acn", Solvent::kAcetonitrile},
    {"thf", Solvent::kTetrahydrofuran},           {"ipa", Solvent::kIsopropanol},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// The solvent whose name `s` starts with, as a whole word; `rest` gets
// what follows it.
std::optional<Solvent> LeadingSolvent(std::string_view s, std::string_view& rest) {
  for (const auto& [text, solvent] : kAliases) {
    const std::string_view name(text);
    if (!s.starts_with(name)) continue;
    if (s.size() > name.size() && std::isalnum(static_cast<unsigned char>(s[name.size()]))) continue;
    rest = Trim(s.substr(name.size()));
    return solvent;
  }
  return std::nullopt;
}

}  // namespace

std::optional<Solvent> SolventFromLabel(std::string_view label) {
  std::string lower(Trim(label));
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string_view text(lower);
  std::string_view rest;
  if (const auto solvent = LeadingSolvent(text, rest)) {
    // Alone, or with an additive; "/", ":" or "-" would make it a premix.
    const bool additive = rest.empty() || std::string_view("+,(;").find(rest.front()) != std::string_view::npos ||
                          rest.starts_with("with ");
    return additive ? solvent : std::nullopt;
  }
  // "<additive> in <solvent>".
  if (const std::size_t in = text.rfind(" in "); in != std::string_view::npos) {
    if (const auto solvent = LeadingSolvent(text.substr(in + 4), rest); solvent && rest.empty()) return solvent;
  }
  return std::nullopt;
}

const char* SolventName(Solvent solvent) { return kSolvents[static_cast<int>(solvent)].name; }

double MixtureViscosityCp(const Bottles& bottles, const std::array<double, 3>& shares, double columnC) {
  // A run asks for the same mixture at every step while nothing changes;
  // the last answer is kept per thread.
  struct Last {
    Bottles bottles;
    std::array<double, 3> shares;
    double columnC;
    double cp;
  };
  thread_local std::optional<Last> last;
  if (last && last->bottles == bottles && last->shares == shares && last->columnC == columnC) return last->cp;
  std::array<double, kSolventCount> share{};
  double sum = 0.0;
  for (std::size_t i = 0; i < bottles.size(); ++i) {
    const double part = std::max(0.0, shares[i]);
    share[static_cast<int>(bottles[i])] += part;
    sum += part;
  }
  if (sum <= 0.0) {
    share.fill(0.0);
    share[static_cast<int>(bottles[0])] = sum = 1.0;
  }
  const double water = share[static_cast<int>(Solvent::kWater)] / sum;
  double ln25 = 0.0;
  for (int i = 0; i < kSolventCount; ++i) {
    const double x = share[i] / sum;
    ln25 += x * std::log(kSolvents[i].viscosity25) + kSolvents[i].waterInteraction * water * x;
  }
  const double kelvin = std::max(columnC, -50.0) + 273.15;
  const double cp = std::exp(ln25 + kViscosityActivationK * (1.0 / kelvin - 1.0 / 298.15));
  last = Last{bottles, shares, columnC, cp};
  return cp;
}

Bottles BottlesFromLabels(const std::array<std::string, 3>& labels) {
  Bottles bottles = kDefaultBottles;
  for (std::size_t i = 0; i < labels.size(); ++i) bottles[i] = SolventFromLabel(labels[i]).value_or(bottles[i]);
  return bottles;
}

}  // namespace sim
