// System suitability: a block of suitability injections (a run of
// type=suitability rows in the list) checked against the criteria of the
// suitability file (host/inputs/acceptance_criteria.h), from the peaks
// measured on their chromatograms.
//
// Resolution, plates and tailing are judged on every injection of the
// block, and the worst value counts (the lowest resolution or plate
// count, the highest tailing); the RSDs are of the block's replicate
// areas and retention times (sample standard deviation over the mean, in
// percent). A criterion names its compounds, or applies to every compound
// of the block's sample descriptions; a resolution is between each pair
// of its compounds that are neighbours in order of retention, from the
// peak tables' retention times and widths at half height:
// 1.18 (t2 - t1) / (w1 + w2). A value that cannot be measured (no
// injection with results, a peak not found, one injection for an RSD)
// fails its criterion: what cannot be shown suitable is not.
// Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/inputs/acceptance_criteria.h"
#include "host/running/lab_injection.h"

namespace host {

struct CriterionResult {
  CriterionKind kind = CriterionKind::kPlates;
  std::string subject;  // "caffeine", or "paracetamol/caffeine" for a resolution
  double limit = 0.0;
  std::optional<double> measured;  // the block's worst value, or its RSD
  int worstNumber = 0;             // the injection that gave it (0 for an RSD)
  std::string unmeasured;          // why there is no value
  bool passed = false;
};

struct SuitabilityResult {
  int first = 0, last = 0;  // the block's sample numbers
  int injections = 0;       // with results
  std::vector<CriterionResult> criteria;
  bool passed = false;
};

// `block`: its injections in the order they ran.
SuitabilityResult CheckSuitability(const std::vector<SuitabilityCriterion>& criteria,
                                   const std::vector<LabInjection>& block);

// "area RSD", "plates", ...: a criterion as the texts name it.
std::string CriterionLabel(CriterionKind kind);
// " %" for a relative standard deviation, "" otherwise.
std::string CriterionUnit(CriterionKind kind);
// "plates of caffeine: 1340 (min 2000): fail", one criterion.
std::string CriterionText(const CriterionResult& result);
// "pass: 5 criteria" or "fail: plates of caffeine 1340 (min 2000); ..." (the failed ones).
std::string SuitabilityText(const SuitabilityResult& result);
// The measured value as the outputs write it ("1340", "12.95", "0.42").
std::string MeasuredText(const CriterionResult& result);
std::string LimitText(const CriterionResult& result);

// suitability.csv: a row per criterion of every block checked: first,
// last (the block's sample numbers), injections (with results),
// criterion, subject, limit_kind (min or max), limit, measured,
// worst_sample, result (pass or fail), note (why nothing was measured).
std::string SuitabilityCsv(const std::vector<SuitabilityResult>& results);

}  // namespace host
