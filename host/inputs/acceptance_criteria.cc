#include "host/inputs/acceptance_criteria.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>

#include "host/inputs/user_file.h"
#include "host/text/display_text.h"
#include "platform/method/toml.h"
#include "platform/method/toml_errors.h"

namespace host {

namespace {

// A criteria file larger than this is not one.
constexpr std::uintmax_t kMaxCriteriaBytes = 1u << 20;

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

std::string Shown(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct KindInfo {
  CriterionKind kind;
  const char* table;
  const char* key;    // the limit's key
  double lo, hi;      // the limit's range
  const char* range;  // as the message says it
};
constexpr KindInfo kKinds[] = {
    {CriterionKind::kResolution, "resolution", "min", 0.0, 100.0, "more than 0, at most 100"},
    {CriterionKind::kPlates, "plates", "min", 0.0, 1e7, "more than 0, at most 10000000"},
    {CriterionKind::kTailing, "tailing", "max", 0.0, 100.0, "more than 0, at most 100"},
    {CriterionKind::kAreaRsd, "area_rsd", "max_percent", 0.0, 100.0, "more than 0, at most 100"},
    {CriterionKind::kRetentionRsd, "retention_rsd", "max_percent", 0.0, 100.0, "more than 0, at most 100"},
};

const KindInfo& Info(CriterionKind kind) {
  for (const KindInfo& info : kKinds) {
    if (info.kind == kind) return info;
  }
  return kKinds[0];
}

}  // namespace

const char* CriterionName(CriterionKind kind) { return Info(kind).table; }

bool CriterionIsMinimum(CriterionKind kind) {
  return kind == CriterionKind::kResolution || kind == CriterionKind::kPlates;
}

std::filesystem::path ListSuitabilityFile(const std::filesystem::path& list) {
  const std::string name = list.filename().string();
  const std::filesystem::path own = list.parent_path() / (name.substr(0, name.find('.')) + ".suitability.toml");
  if (std::filesystem::exists(own)) return own;
  const std::filesystem::path shared = list.parent_path() / kSuitabilityFileName;
  return std::filesystem::exists(shared) ? shared : std::filesystem::path();
}

AcceptanceCriteria ReadAcceptanceCriteria(const std::filesystem::path& file) {
  AcceptanceCriteria criteria;
  criteria.file = file;
  const std::optional<std::string> text =
      ReadUserFile(file, kMaxCriteriaBytes, "a suitability file", criteria.problems);
  return text ? ParseAcceptanceCriteria(*text, file) : criteria;
}

AcceptanceCriteria ParseAcceptanceCriteria(const std::string& text, const std::filesystem::path& file) {
  AcceptanceCriteria criteria;
  criteria.file = file;
  const std::string name = EscapeControls(file.string());
  const auto problem = [&](int line, const std::string& what) {
    criteria.problems.push_back(name + ": line " + std::to_string(line) + ": " + what);
  };
  std::optional<toml::table> parsed = ParseUserToml(text, name, "suitability file", criteria.problems);
  if (!parsed) return criteria;
  toml::table& root = *parsed;
  // A number key of `table`, in (lo, hi]; nullopt (and a problem) otherwise.
  const auto number = [&](const toml::table& table, const std::string& where, const char* key, double lo, double hi,
                          const char* range) -> std::optional<double> {
    const toml::node* node = table.get(key);
    if (!node) {
      problem(LineOf(table), where + " needs " + key);
      return std::nullopt;
    }
    const std::optional<double> value = node->value<double>();
    if (!node->is_number() || !value) {
      problem(LineOf(*node), where + "." + key + ": the limit is a number");
      return std::nullopt;
    }
    if (!(*value > lo) || *value > hi || !std::isfinite(*value)) {
      problem(LineOf(*node), where + "." + key + ": " + Shown(*value) + " is out of range (" + range + ")");
      return std::nullopt;
    }
    return value;
  };
  const auto criterion = [&](const KindInfo& info, const toml::table& table) {
    const std::string where = info.table;
    SuitabilityCriterion c{info.kind, 0.0, {}, LineOf(table)};
    bool good = true;
    for (const auto& [key, node] : table) {
      const std::string k(key.str());
      if (k != info.key && k != "compounds") {
        problem(LineOf(node), where + ": unknown key '" + EscapeControls(k) + "' (the keys are " + info.key +
                                  " and compounds)");
        good = false;
      }
    }
    const std::optional<double> limit = number(table, where, info.key, info.lo, info.hi, info.range);
    if (limit) c.limit = *limit;
    else good = false;
    if (const toml::node* node = table.get("compounds")) {
      const toml::array* list = node->as_array();
      if (!list || list->empty()) {
        problem(LineOf(*node), where + ".compounds: a list of compound names, such as [\"caffeine\"]");
        good = false;
      } else {
        for (const toml::node& entry : *list) {
          const std::optional<std::string> compound = entry.value<std::string>();
          if (!compound || compound->empty() || *compound != EscapeControls(*compound)) {
            problem(LineOf(*node), where + ".compounds: each is a compound's name in quotes");
            good = false;
            break;
          }
          const std::string lower = Lower(*compound);
          for (const std::string& named : c.compounds) {
            if (named == lower) {
              problem(LineOf(*node), where + ".compounds: \"" + EscapeControls(*compound) + "\" is named twice");
              good = false;
            }
          }
          c.compounds.push_back(lower);
        }
        if (good && info.kind == CriterionKind::kResolution && c.compounds.size() < 2) {
          problem(LineOf(*node), "resolution.compounds: a resolution is between two compounds at least");
          good = false;
        }
      }
    }
    if (good) criteria.suitability.push_back(std::move(c));
  };
  for (const auto& [key, node] : root) {
    const std::string section(key.str());
    if (section == "bracketing") {
      const toml::table* table = node.as_table();
      if (!table) {
        problem(LineOf(node), "bracketing is a table: [bracketing] max_drift_percent = 2.0");
        continue;
      }
      for (const auto& [k, value] : *table) {
        if (k.str() != "max_drift_percent") {
          problem(LineOf(value), "bracketing: unknown key '" + EscapeControls(std::string(k.str())) +
                                     "' (the key is max_drift_percent)");
        }
      }
      if (const auto limit = number(*table, "bracketing", "max_drift_percent", 0.0, 100.0, "more than 0, at most 100")) {
        criteria.bracketDriftPercent = *limit;
      }
      continue;
    }
    const KindInfo* info = nullptr;
    for (const KindInfo& k : kKinds) {
      if (section == k.table) info = &k;
    }
    if (!info) {
      problem(LineOf(node), "unknown table '" + EscapeControls(section) +
                                "': a suitability file holds [resolution], [plates], [tailing], [area_rsd], "
                                "[retention_rsd] and [bracketing]");
      continue;
    }
    if (const toml::table* table = node.as_table()) {
      criterion(*info, *table);
    } else if (const toml::array* tables = node.as_array(); tables && tables->is_array_of_tables()) {
      for (const toml::node& entry : *tables) criterion(*info, *entry.as_table());
    } else {
      problem(LineOf(node), section + " is a table ([" + section + "]) or tables ([[" + section + "]])");
    }
  }
  // The file's order (the parser keeps its tables by name).
  std::stable_sort(criteria.suitability.begin(), criteria.suitability.end(),
                   [](const SuitabilityCriterion& a, const SuitabilityCriterion& b) { return a.line < b.line; });
  return criteria;
}

}  // namespace host
