#include "host/running/suitability.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "host/outputs/run_log.h"
#include "host/text/number_text.h"

namespace host {

namespace {

int Decimals(CriterionKind kind) { return kind == CriterionKind::kPlates ? 0 : 2; }

// The compounds a criterion is about: its own, or every compound of the
// block's descriptions.
std::vector<std::string> Subjects(const SuitabilityCriterion& c, const std::vector<LabInjection>& block) {
  if (!c.compounds.empty()) return c.compounds;
  std::set<std::string> all;
  for (const LabInjection& i : block) {
    for (const auto& [compound, mgPerL] : i.contents) all.insert(compound);
  }
  return {all.begin(), all.end()};
}

// Sample standard deviation over the mean, percent.
std::optional<double> Rsd(const std::vector<double>& values) {
  if (values.size() < 2) return std::nullopt;
  double mean = 0.0;
  for (const double v : values) mean += v;
  mean /= static_cast<double>(values.size());
  double squares = 0.0;
  for (const double v : values) squares += (v - mean) * (v - mean);
  if (mean == 0.0) return std::nullopt;
  return std::sqrt(squares / static_cast<double>(values.size() - 1)) / std::fabs(mean) * 100.0;
}

}  // namespace

SuitabilityResult CheckSuitability(const std::vector<SuitabilityCriterion>& criteria,
                                   const std::vector<LabInjection>& block) {
  SuitabilityResult result;
  if (!block.empty()) {
    result.first = block.front().number;
    result.last = block.back().number;
  }
  std::vector<const LabInjection*> measured;
  for (const LabInjection& i : block) {
    if (i.measured) measured.push_back(&i);
  }
  result.injections = static_cast<int>(measured.size());
  result.passed = true;
  for (const SuitabilityCriterion& c : criteria) {
    const std::vector<std::string> subjects = Subjects(c, block);
    const bool minimum = CriterionIsMinimum(c.kind);
    if (subjects.empty()) {
      // Nothing to judge is nothing shown suitable.
      result.criteria.push_back({c.kind, "", c.limit, std::nullopt, 0,
                                 block.empty() ? "the block has no injections"
                                               : "the suitability injections' sample descriptions name no compound",
                                 false});
      result.passed = false;
      continue;
    }
    // Each value of one subject in each injection: the worst counts.
    const auto judge = [&](const std::string& subject, const auto& valueOf) {
      CriterionResult r{c.kind, subject, c.limit, std::nullopt, 0, "", false};
      if (measured.empty()) r.unmeasured = "no suitability injection of the block has results";
      for (const LabInjection* i : measured) {
        std::string why;
        const std::optional<double> value = valueOf(*i, why);
        if (!value) {
          r.measured.reset();
          r.worstNumber = i->number;
          r.unmeasured = why + " in sample " + std::to_string(i->number) + " (" + i->sample + ")";
          break;
        }
        if (!r.measured || (minimum ? *value < *r.measured : *value > *r.measured)) {
          r.measured = value;
          r.worstNumber = i->number;
        }
      }
      r.passed = r.measured && (minimum ? *r.measured >= c.limit : *r.measured <= c.limit);
      result.passed = result.passed && r.passed;
      result.criteria.push_back(std::move(r));
    };
    const auto peakValue = [](const LabInjection& i, const std::string& compound, std::string& why,
                              std::optional<double> MeasuredPeak::*member) -> std::optional<double> {
      const MeasuredPeak* peak = i.Peak(compound);
      if (!peak) {
        why = "no peak of " + compound;
        return std::nullopt;
      }
      if (!(peak->*member)) why = "the peak of " + compound + " could not be measured";
      return peak->*member;
    };
    switch (c.kind) {
      case CriterionKind::kPlates:
      case CriterionKind::kTailing:
        for (const std::string& subject : subjects) {
          const auto member = c.kind == CriterionKind::kPlates ? &MeasuredPeak::plates : &MeasuredPeak::tailing;
          judge(subject, [&](const LabInjection& i, std::string& why) { return peakValue(i, subject, why, member); });
        }
        break;
      case CriterionKind::kResolution: {
        // In order of retention, by the mean over the block's injections;
        // a compound found in none goes last (and fails).
        std::vector<std::pair<double, std::string>> order;
        for (const std::string& subject : subjects) {
          double sum = 0.0;
          int n = 0;
          for (const LabInjection* i : measured) {
            const MeasuredPeak* peak = i->Peak(subject);
            if (peak && peak->retentionMin) sum += *peak->retentionMin, ++n;
          }
          order.emplace_back(n > 0 ? sum / n : 1e300, subject);
        }
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        if (order.size() < 2) {
          result.criteria.push_back({c.kind, order.empty() ? "" : order[0].second, c.limit, std::nullopt, 0,
                                     "a resolution is between two compounds, and the block's sample descriptions "
                                     "name fewer",
                                     false});
          result.passed = false;
        }
        for (std::size_t k = 1; k < order.size(); ++k) {
          const std::string& a = order[k - 1].second;
          const std::string& b = order[k].second;
          judge(a + "/" + b, [&](const LabInjection& i, std::string& why) -> std::optional<double> {
            const std::optional<double> ta = peakValue(i, a, why, &MeasuredPeak::retentionMin);
            const std::optional<double> wa = ta ? peakValue(i, a, why, &MeasuredPeak::widthMin) : std::nullopt;
            const std::optional<double> tb = wa ? peakValue(i, b, why, &MeasuredPeak::retentionMin) : std::nullopt;
            const std::optional<double> wb = tb ? peakValue(i, b, why, &MeasuredPeak::widthMin) : std::nullopt;
            if (!wb || !(*wa + *wb > 0.0)) {
              if (why.empty()) why = "no width of the peaks of " + a + " and " + b;
              return std::nullopt;
            }
            return 1.18 * (*tb - *ta) / (*wa + *wb);
          });
        }
        break;
      }
      case CriterionKind::kAreaRsd:
      case CriterionKind::kRetentionRsd:
        for (const std::string& subject : subjects) {
          CriterionResult r{c.kind, subject, c.limit, std::nullopt, 0, "", false};
          const auto member = c.kind == CriterionKind::kAreaRsd ? &MeasuredPeak::areaMauS : &MeasuredPeak::retentionMin;
          std::vector<double> values;
          for (const LabInjection* i : measured) {
            std::string why;
            const std::optional<double> value = peakValue(*i, subject, why, member);
            if (!value) {
              r.unmeasured = why + " in sample " + std::to_string(i->number) + " (" + i->sample + ")";
              values.clear();
              break;
            }
            values.push_back(*value);
          }
          if (r.unmeasured.empty()) {
            r.measured = Rsd(values);
            if (!r.measured) {
              r.unmeasured = "an RSD needs two injections with results at least (the block has " +
                             std::to_string(values.size()) + ")";
            }
          }
          r.passed = r.measured && *r.measured <= c.limit;
          result.passed = result.passed && r.passed;
          result.criteria.push_back(std::move(r));
        }
        break;
    }
  }
  return result;
}

std::string MeasuredText(const CriterionResult& r) {
  return r.measured ? Fixed(*r.measured, Decimals(r.kind)) : "";
}

std::string LimitText(const CriterionResult& r) {
  const double limit = r.limit;
  // A limit as the file gives it: no more decimals than it has.
  std::string text = Fixed(limit, 4);
  while (text.find('.') != std::string::npos && (text.back() == '0' || text.back() == '.')) {
    const bool point = text.back() == '.';
    text.pop_back();
    if (point) break;
  }
  return text;
}

std::string CriterionLabel(CriterionKind kind) {
  return kind == CriterionKind::kAreaRsd        ? "area RSD"
         : kind == CriterionKind::kRetentionRsd ? "retention time RSD"
                                                : CriterionName(kind);
}

std::string CriterionUnit(CriterionKind kind) {
  return kind == CriterionKind::kAreaRsd || kind == CriterionKind::kRetentionRsd ? " %" : "";
}

std::string CriterionText(const CriterionResult& r) {
  const std::string unit = CriterionUnit(r.kind);
  return CriterionLabel(r.kind) + " of " + r.subject + " " +
         (r.measured ? MeasuredText(r) + unit : "not measured (" + r.unmeasured + ")") + " (" +
         (CriterionIsMinimum(r.kind) ? "min " : "max ") + LimitText(r) + unit + ")";
}

std::string SuitabilityText(const SuitabilityResult& result) {
  if (result.passed) {
    return "pass: " + std::to_string(result.criteria.size()) + " criteria, " + std::to_string(result.injections) +
           " injections";
  }
  std::string failed;
  for (const CriterionResult& r : result.criteria) {
    if (!r.passed) failed += (failed.empty() ? "" : "; ") + CriterionText(r);
  }
  return "fail: " + failed;
}

std::string SuitabilityCsv(const std::vector<SuitabilityResult>& results) {
  std::string csv = "first,last,injections,criterion,subject,limit_kind,limit,measured,worst_sample,result,note\n";
  for (const SuitabilityResult& result : results) {
    for (const CriterionResult& r : result.criteria) {
      csv += std::to_string(result.first) + "," + std::to_string(result.last) + "," +
             std::to_string(result.injections) + "," + CriterionName(r.kind) + "," + CsvQuoted(r.subject) + "," +
             (CriterionIsMinimum(r.kind) ? "min" : "max") + "," + LimitText(r) + "," + MeasuredText(r) + "," +
             (r.worstNumber > 0 ? std::to_string(r.worstNumber) : "") + "," + (r.passed ? "pass" : "fail") + "," +
             CsvQuoted(r.unmeasured) + "\n";
    }
  }
  return csv;
}

}  // namespace host
