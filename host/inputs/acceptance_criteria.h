// The acceptance criteria of a sequence's lab results: what its system
// suitability injections must show, and how far a bracketing standard may
// drift from the calibration line. A TOML file beside the sample list
// (suitability.toml, or LIST.suitability.toml; --suitability names
// another), every table optional:
//
//   [resolution]                 # between each adjacent pair, in order of retention,
//   min = 2.0                    # of the compounds named (two: that pair; none: all)
//   compounds = ["paracetamol", "caffeine"]
//
//   [plates]                     # 5.54 (t / w½)², the peak table's
//   min = 2000                   # every compound (compounds = [...] to name some)
//
//   [tailing]                    # the USP tailing factor at 5 % of the height
//   max = 2.0
//
//   [area_rsd]                   # relative standard deviation of the replicates'
//   max_percent = 2.0            # areas, percent
//
//   [retention_rsd]              # ... and of their retention times
//   max_percent = 1.0
//
//   [bracketing]                 # a bracketing standard's area against the line's
//   max_drift_percent = 2.0      # prediction (default 2 %)
//
// A criterion table may be an array of tables ([[plates]]) to give some
// compounds a limit of their own. Everything wrong is reported with the
// file and line. Compound names are compared without regard to case.
// Pure functions apart from reading the file; any thread.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace host {

enum class CriterionKind { kResolution, kPlates, kTailing, kAreaRsd, kRetentionRsd };
// "resolution", "plates", "tailing", "area_rsd", "retention_rsd": the table's name.
const char* CriterionName(CriterionKind kind);
// Whether the limit is a least value (resolution, plates) or a most one.
bool CriterionIsMinimum(CriterionKind kind);

struct SuitabilityCriterion {
  CriterionKind kind = CriterionKind::kPlates;
  double limit = 0.0;                  // min, max, or max_percent
  std::vector<std::string> compounds;  // lower case; empty: every compound of the injections
  int line = 0;                        // of its table in the file
};

// The default limit of a bracketing standard's drift from the line, percent.
inline constexpr double kDefaultBracketDriftPercent = 2.0;

struct AcceptanceCriteria {
  std::filesystem::path file;  // empty: no file (the defaults)
  std::vector<SuitabilityCriterion> suitability;  // in the file's order
  double bracketDriftPercent = kDefaultBracketDriftPercent;
  std::vector<std::string> problems;  // "suitability.toml: line 3: ..." each
};

// The file a sequence uses when no --suitability is given: beside the
// list, LIST.suitability.toml (LIST the list's file name up to its first
// '.'), else suitability.toml; none if there is none.
inline constexpr const char* kSuitabilityFileName = "suitability.toml";
std::filesystem::path ListSuitabilityFile(const std::filesystem::path& list);

AcceptanceCriteria ReadAcceptanceCriteria(const std::filesystem::path& file);
// The same from text already read; `file` is what problems start with.
AcceptanceCriteria ParseAcceptanceCriteria(const std::string& text, const std::filesystem::path& file);

}  // namespace host
