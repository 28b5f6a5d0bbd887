#include "sim/solvents.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace sim {

namespace {

struct SolventData {
  const char* name;
  double viscosity25;        // cP at 25 degrees C
  // How the pure solvent's viscosity falls with temperature, a Vogel
  // equation ln(eta) = A + B / (T - C), T in kelvin: B in kelvin, C in
  // kelvin (0 makes it Andrade's ln(eta) = A + B / T). A follows from the
  // viscosity at 25 degrees C.
  double vogelB, vogelC;
  // Mixing-rule term with water (0 for water itself) at 25 degrees C, and
  // how it changes with temperature: k(T) = k25 + kT x (1/T - 1/298.15).
  double waterInteraction, waterInteractionK;
};

// The mixing rule: ln(eta) = sum of share x ln(eta_i), plus each solvent's
// interaction term with water x both shares. Organic solvents mix with one
// another almost ideally, so only the pairs with water get a term. At
// 25 degrees C the terms put the viscosity maxima where chromatographers
// know them: water with methanol about 1.6 cP near 42 % methanol, with
// acetonitrile about 0.93 cP near 18 % acetonitrile, with tetrahydrofuran
// about 1.6 cP near 40 %, with isopropanol about 3.0 cP near 64 %.
//
// Each pure solvent has its own temperature dependence: water's is a
// Vogel fit of the standard tables (0.890 cP at 25 C, 0.653 at 40 C, 0.467
// at 60 C, 0.355 at 80 C, each within 0.5 %); the organic solvents' are
// Andrade fits through two published values (methanol 0.544 cP at 25 C and
// 0.396 at 50 C; acetonitrile 0.34 at 25 C and about 0.27 at 60 C;
// tetrahydrofuran and isopropanol from their activation energies, about 7.5
// and 21 kJ/mol). The terms with water weaken as the mixture warms: the
// methanol and acetonitrile terms are fitted to their 50:50 mixtures with
// water at 40 and 60 C (methanol 1.18 and about 0.82 cP, acetonitrile 0.60
// and about 0.47 cP); with no such data at hand, those of tetrahydrofuran
// and isopropanol stay as at 25 C. docs/simulator.md gives the sources.
constexpr SolventData kSolvents[kSolventCount] = {
    {"water", 0.89, 507.88, 149.3, 0.0, 0.0},
    {"methanol", 0.54, 1224.0, 0.0, 3.35, 1510.0},
    {"acetonitrile", 0.34, 654.0, 0.0, 1.5, 1056.0},
    {"tetrahydrofuran", 0.46, 900.0, 0.0, 3.6, 0.0},
    {"isopropanol", 2.04, 2500.0, 0.0, 3.0, 0.0},
};

constexpr double kKelvin25 = 298.15;

// ln of a pure solvent's viscosity at `kelvin`.
double LnViscosity(const SolventData& s, double kelvin) {
  return std::log(s.viscosity25) + s.vogelB / (kelvin - s.vogelC) - s.vogelB / (kKelvin25 - s.vogelC);
}

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

// A volume part at the start of `s` ("70", "12.5", "70 %"); `s` moves
// past it and the blanks after it.
std::optional<double> LeadingPart(std::string_view& s) {
  std::size_t end = 0;
  double value = 0, scale = 1;
  bool point = false;
  for (; end < s.size() && (std::isdigit(static_cast<unsigned char>(s[end])) || (s[end] == '.' && !point)); ++end) {
    if (s[end] == '.') {
      point = true;
    } else if (point) {
      value += (s[end] - '0') * (scale /= 10);
    } else {
      value = value * 10 + (s[end] - '0');
    }
  }
  if (end == 0 || s.substr(0, end) == ".") return std::nullopt;
  s = Trim(s.substr(end));
  if (s.starts_with('%')) s = Trim(s.substr(1));
  return value;
}

// The parts of a premix of `count` solvents ("70:30", "(40:30:30)") at the
// start of `s`, which moves past them.
std::optional<std::array<double, 3>> LeadingParts(std::string_view& s, std::size_t count) {
  const bool open = s.starts_with('(');
  if (open) s = Trim(s.substr(1));
  std::array<double, 3> parts{};
  double sum = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) {
      if (!s.starts_with(':')) return std::nullopt;
      s = Trim(s.substr(1));
    }
    const auto part = LeadingPart(s);
    if (!part) return std::nullopt;
    sum += parts[i] = *part;
  }
  if (open) {
    if (!s.starts_with(')')) return std::nullopt;
    s = Trim(s.substr(1));
  }
  if (sum <= 0) return std::nullopt;
  for (double& part : parts) part /= sum;
  return parts;
}

// The bottle `s` starts with: a solvent, or up to three joined by "/",
// "-" or ":" and followed by their parts; `rest` gets what follows.
std::optional<Bottle> LeadingBottle(std::string_view s, std::string_view& rest) {
  const auto first = LeadingSolvent(s, rest);
  if (!first) return std::nullopt;
  Bottle bottle(*first);
  std::size_t count = 1;
  while (count < 3 && !rest.empty() && std::string_view("/-:").find(rest.front()) != std::string_view::npos) {
    const auto next = LeadingSolvent(Trim(rest.substr(1)), rest);
    if (!next) return std::nullopt;
    bottle.solvents[count++] = *next;
  }
  if (count == 1) return bottle;
  const auto parts = LeadingParts(rest, count);
  if (!parts) return std::nullopt;
  bottle.fractions = *parts;
  return bottle;
}

// Whether `word` stands in `text` as a word of its own (numbers may touch
// it: "10mm", "ph2.5").
bool HasWord(std::string_view text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    const std::size_t end = at + word.size();
    const bool opens = at == 0 || !std::isalpha(static_cast<unsigned char>(text[at - 1]));
    const bool closes = end == text.size() || !std::isalpha(static_cast<unsigned char>(text[end]));
    if (opens && closes) return true;
  }
  return false;
}

// `n` percent of `share`, the rest `rest`: at most three solvents, else
// nullopt.
std::optional<Bottle> Premix(Solvent share, double n, const Bottle& rest) {
  if (!(n > 0.0 && n <= 100.0)) return std::nullopt;
  Bottle bottle(share);
  bottle.fractions[0] = n / 100.0;
  std::size_t count = 1;
  for (std::size_t i = 0; i < rest.solvents.size(); ++i) {
    if (rest.fractions[i] <= 0.0) continue;
    std::size_t j = 0;
    while (j < count && bottle.solvents[j] != rest.solvents[i]) ++j;
    if (j == count) {
      if (count == bottle.solvents.size()) return std::nullopt;
      bottle.solvents[count++] = rest.solvents[i];
    }
    bottle.fractions[j] += rest.fractions[i] * (1.0 - n / 100.0);
  }
  return bottle;
}

// "30 % methanol in ...": the share and its solvent; `rest` gets what
// follows "in".
std::optional<std::pair<double, Solvent>> LeadingShare(std::string_view s, std::string_view& rest) {
  const auto part = LeadingPart(s);
  if (!part) return std::nullopt;
  const auto solvent = LeadingSolvent(s, rest);
  if (!solvent || !rest.starts_with("in ")) return std::nullopt;
  rest = Trim(rest.substr(3));
  return std::pair{*part, *solvent};
}

// What follows "in": a bottle that ends the label, or a premix by share
// ("30 % methanol in water": that share of the solvent, the rest what
// follows "in").
std::optional<Bottle> BottleAfterIn(std::string_view s) {
  std::string_view rest;
  if (const auto share = LeadingShare(s, rest)) {
    const auto base = BottleAfterIn(rest);
    return base ? Premix(share->second, share->first, *base) : std::nullopt;
  }
  if (const auto bottle = LeadingBottle(s, rest); bottle && rest.empty()) return bottle;
  return std::nullopt;
}

}  // namespace

std::optional<Bottle> BottleFromLabel(std::string_view label) {
  std::string lower(Trim(label));
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string_view text(lower);
  std::string_view rest;
  if (const auto bottle = LeadingBottle(text, rest)) {
    // Alone, or with an additive; anything else makes it a label of
    // something else.
    const bool additive = rest.empty() || std::string_view("+,(;").find(rest.front()) != std::string_view::npos ||
                          rest.starts_with("with ");
    return additive ? bottle : std::nullopt;
  }
  if (LeadingShare(text, rest)) return BottleAfterIn(text);
  // "<additive> in <bottle>": the first "in" that a bottle, or a premix by
  // share, follows.
  for (std::size_t in = text.find(" in "); in != std::string_view::npos; in = text.find(" in ", in + 1)) {
    const std::string_view after = text.substr(in + 4);
    if (LeadingShare(after, rest)) return BottleAfterIn(after);
    if (const auto bottle = BottleAfterIn(after)) return bottle;
  }
  return std::nullopt;
}

bool IsAqueousLabel(std::string_view label) {
  std::string lower(Trim(label));
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // Organic solvents, known to the simulator or not: such a label is no
  // aqueous buffer.
  static constexpr std::string_view kOrganic[] = {
      "methanol", "meoh",    "acetonitrile", "acn",    "mecn",    "thf",     "tetrahydrofuran", "isopropanol",
      "ipa",      "propanol", "2-propanol",  "ethanol", "etoh",   "acetone", "hexane",          "heptane",
      "dioxane",  "dmso",    "dmf",          "toluene", "butanol", "ethyl",  "chloroform",      "dichloromethane",
      "organic"};
  // What water, buffers, acids and salts are named by.
  static constexpr std::string_view kAqueous[] = {
      "water",   "h2o",       "milli-q",     "buffer",  "ph",        "mm",      "acid",    "acetate",
      "formate", "phosphate", "citrate",     "carbonate", "bicarbonate", "borate", "tris",  "ammonium",
      "ammonia", "hydroxide", "tfa",         "kh2po4",  "k2hpo4",    "nah2po4", "na2hpo4", "h3po4",
      "nacl",    "kcl",       "salt",        "saline",  "edta",      "hepes"};
  for (std::string_view word : kOrganic) {
    if (HasWord(lower, word)) return false;
  }
  for (std::string_view word : kAqueous) {
    if (HasWord(lower, word)) return true;
  }
  return false;
}

const char* SolventName(Solvent solvent) { return kSolvents[static_cast<int>(solvent)].name; }

std::string BottleName(const Bottle& bottle) {
  std::string names, parts;
  int used = 0;
  for (std::size_t i = 0; i < bottle.solvents.size(); ++i) {
    if (bottle.fractions[i] <= 0) continue;
    char percent[16];
    std::snprintf(percent, sizeof percent, "%.1f", bottle.fractions[i] * 100.0);
    std::string_view shown(percent);
    if (shown.ends_with(".0")) shown.remove_suffix(2);
    names += (used ? "/" : "") + std::string(SolventName(bottle.solvents[i]));
    parts += (used++ ? ":" : "") + std::string(shown);
  }
  return used == 1 ? names : names + " " + parts;
}

CpBounds MixtureViscosityBounds(const Bottles& bottles, double lowC, double highC) {
  // ln(eta) is the mixture's mean of its solvents' ln(eta_i) plus w x k_i
  // x_i summed over the solvents other than water (w: water's share):
  // at most the largest ln(eta_i) plus the largest positive k_i times
  // w (1 - w) <= 1/4, at least the smallest ln(eta_i) plus the most
  // negative k_i times 1/4. Each term moves one way with the temperature,
  // so its extremes over the range lie at its ends.
  double lnLowest = std::numeric_limits<double>::infinity(), lnHighest = -lnLowest;
  double kLowest = 0.0, kHighest = 0.0;
  for (const double columnC : {lowC, highC}) {
    const double kelvin = std::max(columnC, -50.0) + 273.15;
    for (const Bottle& bottle : bottles) {
      for (const Solvent solvent : bottle.solvents) {
        const SolventData& s = kSolvents[static_cast<int>(solvent)];
        const double ln = LnViscosity(s, kelvin);
        const double k = s.waterInteraction + s.waterInteractionK * (1.0 / kelvin - 1.0 / kKelvin25);
        lnLowest = std::min(lnLowest, ln);
        lnHighest = std::max(lnHighest, ln);
        kLowest = std::min(kLowest, k);
        kHighest = std::max(kHighest, k);
      }
    }
  }
  return {std::exp(lnLowest + kLowest / 4.0), std::exp(lnHighest + kHighest / 4.0)};
}

MixtureViscosity::MixtureViscosity(const Bottles& bottles, double columnC) : m_bottles(bottles), m_columnC(columnC) {
  const double kelvin = std::max(columnC, -50.0) + 273.15;
  std::array<bool, kSolventCount> held{};
  for (const Bottle& bottle : bottles) {
    for (const Solvent solvent : bottle.solvents) held[static_cast<int>(solvent)] = true;
  }
  for (int i = 0; i < kSolventCount; ++i) {
    if (!held[i]) continue;
    const SolventData& s = kSolvents[i];
    m_ln[i] = LnViscosity(s, kelvin);
    m_interaction[i] = s.waterInteraction + s.waterInteractionK * (1.0 / kelvin - 1.0 / kKelvin25);
  }
  // A share only ever grows by a part times a fraction, neither negative:
  // a term of fraction 0 adds +0 and changes no sum.
  for (std::size_t i = 0; i < bottles.size(); ++i) {
    for (std::size_t j = 0; j < bottles[i].solvents.size(); ++j) {
      if (bottles[i].fractions[j] == 0.0) continue;
      m_terms[m_termCount++] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(bottles[i].solvents[j]),
                                bottles[i].fractions[j]};
    }
  }
}

double MixtureViscosity::Cp(const std::array<double, kChannelCount>& shares) const {
  std::array<double, kSolventCount> share{};
  std::array<double, kChannelCount> parts;
  double sum = 0.0;
  for (std::size_t i = 0; i < parts.size(); ++i) sum += parts[i] = std::max(0.0, shares[i]);
  for (std::size_t t = 0; t < m_termCount; ++t) share[m_terms[t].solvent] += parts[m_terms[t].channel] * m_terms[t].fraction;
  if (sum <= 0.0) {  // every share is 0 then
    for (std::size_t j = 0; j < m_bottles[0].solvents.size(); ++j) {
      share[static_cast<int>(m_bottles[0].solvents[j])] += m_bottles[0].fractions[j];
    }
    sum = 1.0;
  }
  const double water = share[static_cast<int>(Solvent::kWater)] / sum;
  double ln = 0.0;
  for (int i = 0; i < kSolventCount; ++i) {
    const double x = share[i] / sum;
    if (x <= 0.0) continue;
    ln += x * m_ln[i] + m_interaction[i] * water * x;
  }
  return std::exp(ln);
}

double MixtureViscosityCp(const Bottles& bottles, const std::array<double, kChannelCount>& shares, double columnC) {
  // A run asks for the same mixture at every step while nothing changes;
  // the last answer is kept per thread.
  struct Last {
    Bottles bottles;
    std::array<double, kChannelCount> shares;
    double columnC;
    double cp;
  };
  thread_local std::optional<Last> last;
  if (last && last->bottles == bottles && last->shares == shares && last->columnC == columnC) return last->cp;
  const double cp = MixtureViscosity(bottles, columnC).Cp(shares);
  last = Last{bottles, shares, columnC, cp};
  return cp;
}

std::array<SimulatedBottle, kChannelCount> ReadBottleLabels(const BottleLabels& labels) {
  std::array<SimulatedBottle, kChannelCount> read;
  for (std::size_t i = 0; i < labels.size(); ++i) {
    if (const auto bottle = BottleFromLabel(labels[i])) {
      read[i] = {*bottle, LabelReading::kNamed};
    } else if (IsAqueousLabel(labels[i])) {
      read[i] = {Solvent::kWater, LabelReading::kAqueous};
    } else {
      read[i] = {kDefaultBottles[i], Trim(labels[i]).empty() ? LabelReading::kUnnamed : LabelReading::kGuessed};
    }
  }
  return read;
}

Bottles BottlesFromLabels(const BottleLabels& labels) {
  const auto read = ReadBottleLabels(labels);
  Bottles bottles;
  for (std::size_t i = 0; i < read.size(); ++i) bottles[i] = read[i].bottle;
  return bottles;
}

}  // namespace sim
