// The lab's results of a sequence, worked out from peaks of known size:
// the calibration line, the concentrations read back from it, a
// bracketing standard's drift, the system suitability criteria and the
// files they are read from; and the sample list's type and level columns.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/inputs/acceptance_criteria.h"
#include "host/inputs/sample_list.h"
#include "host/outputs/chromatogram.h"
#include "host/running/calibration.h"
#include "host/running/suitability.h"

namespace {

using host::CriterionKind;
using host::LabInjection;
using host::MeasuredPeak;
using host::SampleType;

// A peak of `compound` with a retention, width at half height and area;
// its plate count from them; no tailing.
MeasuredPeak Peak(const std::string& compound, double retention, double width, double area, double tailing = 1.0) {
  return {compound, retention, width, area / 10.0, area, 5.54 * std::pow(retention / width, 2), std::nullopt, tailing};
}

LabInjection Injection(int number, SampleType type, std::vector<std::pair<std::string, double>> contents,
                       std::vector<MeasuredPeak> peaks, const std::string& method = "m.toml") {
  LabInjection i;
  i.number = number;
  i.sample = "s" + std::to_string(number);
  i.method = method;
  i.type = type;
  i.level = type == SampleType::kStandard ? std::to_string(number) : "";
  i.contents = std::move(contents);
  i.ended = true;
  i.measured = !peaks.empty();
  i.peaks = std::move(peaks);
  return i;
}

TEST(LabResultsTest, ALineThroughItsPointsAndNoneThroughOneConcentration) {
  const auto fit = host::FitLine({1, 2, 3, 4}, {12, 22, 32, 42});
  ASSERT_TRUE(fit);
  EXPECT_NEAR(fit->slope, 10.0, 1e-12);
  EXPECT_NEAR(fit->intercept, 2.0, 1e-12);
  EXPECT_NEAR(fit->r2, 1.0, 1e-12);
  const auto scattered = host::FitLine({1, 2, 3}, {1, 3, 2});
  ASSERT_TRUE(scattered);
  EXPECT_NEAR(scattered->slope, 0.5, 1e-12);
  EXPECT_NEAR(scattered->r2, 0.25, 1e-12);
  EXPECT_FALSE(host::FitLine({5, 5}, {1, 2}));
  EXPECT_FALSE(host::FitLine({5}, {1}));
}

// Standards before the first unknown make the line; a standard after it
// brackets the unknowns since the last standard: within the limit they
// say so, beyond it they carry the drift. Every injection with a peak of
// a calibrated compound gets its concentration.
TEST(LabResultsTest, TheLineTheConcentrationsAndTheBracketsDrift) {
  std::vector<LabInjection> list;
  for (int level = 1; level <= 3; ++level) {
    list.push_back(Injection(level, SampleType::kStandard, {{"caffeine", 10.0 * level}},
                             {Peak("caffeine", 4.5, 0.1, 28.8 * 10.0 * level + 1.0)}));
  }
  list.push_back(Injection(4, SampleType::kUnknown, {{"caffeine", 15}}, {Peak("caffeine", 4.5, 0.1, 28.8 * 15 + 1.0)}));
  list.push_back(Injection(5, SampleType::kUnknown, {{"caffeine", 25}}, {Peak("caffeine", 4.5, 0.1, 28.8 * 25 + 1.0)}));
  list.push_back(Injection(6, SampleType::kStandard, {{"caffeine", 20}}, {Peak("caffeine", 4.5, 0.1, 577.0 * 1.01)}));
  list.push_back(Injection(7, SampleType::kUnknown, {}, {Peak("caffeine", 4.5, 0.1, 28.8 * 5 + 1.0)}));
  list.push_back(Injection(8, SampleType::kStandard, {{"caffeine", 20}}, {Peak("caffeine", 4.5, 0.1, 577.0 * 1.034)}));
  list.push_back(Injection(9, SampleType::kBlank, {}, {}));
  list.push_back(Injection(10, SampleType::kUnknown, {}, {Peak("caffeine", 4.5, 0.1, 100)}));
  list.push_back(Injection(11, SampleType::kStandard, {{"caffeine", 20}}, {}));
  list.back().ended = false;  // still to run: the unknown before it is not marked yet
  const host::CalibrationResults r = host::Calibrate(list, 2.0);
  ASSERT_EQ(r.lines.size(), 1u);
  const host::CalibrationLine& line = r.lines[0];
  EXPECT_EQ(line.compound, "caffeine");
  ASSERT_TRUE(line.fit);
  EXPECT_NEAR(line.fit->slope, 28.8, 1e-9);
  EXPECT_NEAR(line.fit->intercept, 1.0, 1e-9);
  EXPECT_EQ(line.points.size(), 3u) << "the bracketing standards are not points of the line";
  ASSERT_EQ(line.brackets.size(), 2u);
  EXPECT_TRUE(line.brackets[0].within);
  EXPECT_NEAR(line.brackets[1].point.ResidualPercent(), 3.4, 0.01);
  EXPECT_FALSE(line.brackets[1].within);
  EXPECT_NEAR(r.injections.at(4).concentrations.at("caffeine"), 15.0, 1e-9);
  EXPECT_NEAR(r.injections.at(5).concentrations.at("caffeine"), 25.0, 1e-9);
  EXPECT_NEAR(r.injections.at(7).concentrations.at("caffeine"), 5.0, 1e-9);
  EXPECT_EQ(r.injections.at(4).bracket, "within 2 % (s6, sample 6)");
  EXPECT_EQ(r.injections.at(5).bracket, "within 2 % (s6, sample 6)");
  EXPECT_EQ(r.injections.at(7).bracket, "drift caffeine +3.4 % (limit 2 %; s8, sample 8)");
  EXPECT_EQ(r.injections.count(10) ? r.injections.at(10).bracket : "", "");
  EXPECT_EQ(r.compounds, std::vector<std::string>{"caffeine"});
  const std::string csv = host::CalibrationCsv(r);
  EXPECT_EQ(csv.substr(0, csv.find('\n')),
            "method,compound,slope,intercept,r2,points,role,number,sample,level,concentration_mg_l,area_mau_s,"
            "predicted_mau_s,residual_mau_s,residual_percent,within_limit,note");
  EXPECT_NE(csv.find("\nm.toml,caffeine,28.8,1,1.00000000,3,calibration,1,s1,1,10,289.00,289.00,0.00,0.00,,\n"),
            std::string::npos)
      << csv;
  EXPECT_NE(csv.find(",bracket,8,s8,8,20,596.62,577.00,19.62,3.40,no,\n"), std::string::npos) << csv;
}

// A line needs two concentrations; one that does not rise reads nothing.
TEST(LabResultsTest, NoLineFromOneConcentration) {
  const host::CalibrationResults r = host::Calibrate(
      {Injection(1, SampleType::kStandard, {{"caffeine", 10}}, {Peak("caffeine", 4.5, 0.1, 288)}),
       Injection(2, SampleType::kStandard, {{"caffeine", 10}, {"uracil", 1}}, {Peak("caffeine", 4.5, 0.1, 290)}),
       Injection(3, SampleType::kUnknown, {}, {Peak("caffeine", 4.5, 0.1, 100)})},
      2.0);
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[0].problem, "the standards with results give one concentration only; a line needs two");
  EXPECT_EQ(r.lines[1].problem, "no standard of the calibration block has a result yet");
  EXPECT_TRUE(r.injections.empty() || r.injections.at(3).concentrations.empty());
  EXPECT_NE(host::CalibrationCsv(r).find("m.toml,uracil,,,,0,,,,,,,,,,,no standard of the calibration block"),
            std::string::npos)
      << host::CalibrationCsv(r);
}

host::SuitabilityCriterion Criterion(CriterionKind kind, double limit, std::vector<std::string> compounds = {}) {
  return {kind, limit, std::move(compounds), 1};
}

// The worst injection counts for plates, tailing and resolution; the RSDs
// are the block's; what cannot be measured fails.
TEST(LabResultsTest, SuitabilityTakesTheWorstInjectionAndTheBlocksSpread) {
  std::vector<LabInjection> block;
  const double areas[] = {1000, 1010, 990};
  for (int i = 0; i < 3; ++i) {
    block.push_back(Injection(7 + i, SampleType::kSuitability, {{"caffeine", 50}, {"paracetamol", 100}},
                              {Peak("paracetamol", 2.88, 0.06, 258), Peak("caffeine", 4.5, i == 1 ? 0.2 : 0.1, areas[i],
                                                                          i == 2 ? 1.7 : 1.0)}));
  }
  const host::SuitabilityResult r =
      host::CheckSuitability({Criterion(CriterionKind::kPlates, 3000, {"caffeine"}),
                              Criterion(CriterionKind::kTailing, 1.5),
                              Criterion(CriterionKind::kResolution, 2.0, {"caffeine", "paracetamol"}),
                              Criterion(CriterionKind::kAreaRsd, 2.0, {"caffeine"}),
                              Criterion(CriterionKind::kRetentionRsd, 1.0, {"caffeine"})},
                             block);
  EXPECT_EQ(r.first, 7);
  EXPECT_EQ(r.last, 9);
  EXPECT_EQ(r.injections, 3);
  ASSERT_EQ(r.criteria.size(), 6u);
  const host::CriterionResult& plates = r.criteria[0];
  EXPECT_NEAR(*plates.measured, 5.54 * std::pow(4.5 / 0.2, 2), 1e-9);
  EXPECT_EQ(plates.worstNumber, 8);
  EXPECT_FALSE(plates.passed);
  EXPECT_EQ(host::CriterionText(plates), "plates of caffeine 2805 (min 3000)");
  // Tailing of every compound, in name order: caffeine's worst is 1.7.
  EXPECT_EQ(r.criteria[1].subject, "caffeine");
  EXPECT_FALSE(r.criteria[1].passed);
  EXPECT_EQ(r.criteria[1].worstNumber, 9);
  EXPECT_EQ(r.criteria[2].subject, "paracetamol");
  EXPECT_TRUE(r.criteria[2].passed);
  // The pair in order of retention, whatever order the file names it.
  EXPECT_EQ(r.criteria[3].subject, "paracetamol/caffeine");
  EXPECT_NEAR(*r.criteria[3].measured, 1.18 * (4.5 - 2.88) / (0.06 + 0.2), 1e-9);
  EXPECT_TRUE(r.criteria[3].passed);
  EXPECT_NEAR(*r.criteria[4].measured, 1.0, 1e-9);  // 1000, 1010, 990: 10 / 1000
  EXPECT_TRUE(r.criteria[4].passed);
  EXPECT_NEAR(*r.criteria[5].measured, 0.0, 1e-9);
  EXPECT_FALSE(r.passed);
  EXPECT_EQ(host::SuitabilityText(r), "fail: plates of caffeine 2805 (min 3000); tailing of caffeine 1.70 (max 1.5)");
  const std::string csv = host::SuitabilityCsv({r});
  EXPECT_NE(csv.find("\n7,9,3,plates,caffeine,min,3000,2805,8,fail,\n"), std::string::npos) << csv;
  EXPECT_NE(csv.find("\n7,9,3,area_rsd,caffeine,max,2,1.00,,pass,\n"), std::string::npos) << csv;

  // A peak missing from one injection, an RSD of one injection.
  block[1].peaks.pop_back();
  const host::SuitabilityResult missing = host::CheckSuitability(
      {Criterion(CriterionKind::kPlates, 2000, {"caffeine"}), Criterion(CriterionKind::kAreaRsd, 2.0)}, {block[1]});
  EXPECT_FALSE(missing.passed);
  EXPECT_EQ(host::CriterionText(missing.criteria[0]),
            "plates of caffeine not measured (no peak of caffeine in sample 8 (s8)) (min 2000)");
  EXPECT_EQ(missing.criteria[2].unmeasured, "an RSD needs two injections with results at least (the block has 1)");
  const host::SuitabilityResult none = host::CheckSuitability({Criterion(CriterionKind::kPlates, 2000)}, {});
  EXPECT_FALSE(none.passed);
}

TEST(LabResultsTest, TheCriteriaFileIsReadInItsOrderAndEveryMistakeHasItsLine) {
  const host::AcceptanceCriteria good = host::ParseAcceptanceCriteria(
      "[tailing]\nmax = 2.0\n\n[[plates]]\nmin = 2000\n\n[[plates]]\nmin = 5000\ncompounds = [\"Caffeine\"]\n\n"
      "[resolution]\nmin = 1.5\ncompounds = [\"paracetamol\", \"caffeine\"]\n\n[bracketing]\nmax_drift_percent = 3\n",
      "s.toml");
  ASSERT_TRUE(good.problems.empty()) << good.problems.front();
  ASSERT_EQ(good.suitability.size(), 4u);
  EXPECT_EQ(good.suitability[0].kind, CriterionKind::kTailing);
  EXPECT_EQ(good.suitability[1].kind, CriterionKind::kPlates);
  EXPECT_EQ(good.suitability[2].compounds, std::vector<std::string>{"caffeine"});
  EXPECT_EQ(good.suitability[2].limit, 5000);
  EXPECT_EQ(good.suitability[3].kind, CriterionKind::kResolution);
  EXPECT_EQ(good.bracketDriftPercent, 3.0);
  EXPECT_EQ(host::ParseAcceptanceCriteria("", "s.toml").bracketDriftPercent, host::kDefaultBracketDriftPercent);

  for (const auto& [text, says] : std::initializer_list<std::pair<std::string, std::string>>{
           {"[plate]\nmin = 1\n", "s.toml: line 1: unknown table 'plate': a suitability file holds [resolution], "
                                  "[plates], [tailing], [area_rsd], [retention_rsd] and [bracketing]"},
           {"[plates]\nmax = 1\n", "s.toml: line 2: plates: unknown key 'max' (the keys are min and compounds)"},
           {"[plates]\ncompounds = [\"caffeine\"]\n", "s.toml: line 1: plates needs min"},
           {"[tailing]\nmax = \"2\"\n", "s.toml: line 2: tailing.max: the limit is a number"},
           {"[area_rsd]\nmax_percent = 0\n", "s.toml: line 2: area_rsd.max_percent: 0 is out of range (more than 0, "
                                             "at most 100)"},
           {"[plates]\nmin = 1\ncompounds = []\n", "s.toml: line 3: plates.compounds: a list of compound names"},
           {"[plates]\nmin = 1\ncompounds = [\"a\", \"A\"]\n", "s.toml: line 3: plates.compounds: \"A\" is named twice"},
           {"[resolution]\nmin = 1\ncompounds = [\"a\"]\n",
            "s.toml: line 3: resolution.compounds: a resolution is between two compounds at least"},
           {"[bracketing]\nmax_drift = 2\n", "s.toml: line 2: bracketing: unknown key 'max_drift'"},
           {"plates = 2000\n", "s.toml: line 1: plates is a table ([plates]) or tables ([[plates]])"},
           {"[plates\n", "s.toml: line 1: "}}) {
    const host::AcceptanceCriteria bad = host::ParseAcceptanceCriteria(text, "s.toml");
    ASSERT_FALSE(bad.problems.empty()) << text;
    EXPECT_EQ(bad.problems.front().substr(0, says.size()), says) << text;
  }
}

// What an injection is: its type and a standard's level; a row that
// injects nothing takes neither, and every mistake has its line.
TEST(LabResultsTest, TypeAndLevelColumnsOfTheList) {
  const host::SampleList list = host::ParseSampleList(
      "sample,method,vial,volume,type,level,action,minutes\n"
      "e,m.toml,,,,,equilibrate,5\n"
      "b,m.toml,1,5,Blank,,,\n"
      "std-1,m.toml,2,5,standard, 1 ,,\n"
      "sst,m.toml,3,5,suitability,,,\n"
      "u,m.toml,4,5,,,,\n"
      "end,,,,,,shutdown,\n",
      "list.csv");
  ASSERT_TRUE(list.problems.empty()) << list.problems.front();
  ASSERT_EQ(list.rows.size(), 6u);
  EXPECT_EQ(list.rows[0].type, SampleType::kUnknown);
  EXPECT_EQ(list.rows[1].type, SampleType::kBlank);
  EXPECT_EQ(list.rows[2].type, SampleType::kStandard);
  EXPECT_EQ(list.rows[2].level, "1");
  EXPECT_EQ(list.rows[3].type, SampleType::kSuitability);
  EXPECT_EQ(list.rows[4].type, SampleType::kUnknown);
  EXPECT_STREQ(host::SampleTypeName(SampleType::kSuitability), "suitability");

  const host::SampleList bad = host::ParseSampleList(
      "sample,method,vial,volume,type,level,action,minutes\n"
      "b1,m.toml,,,blank,,blank,\n"
      "e,m.toml,,,standard,1,equilibrate,5\n"
      "s,m.toml,2,5,standard,,,\n"
      "u,m.toml,3,5,unknown,2,,\n"
      "x,m.toml,4,5,control,,,\n",
      "list.csv");
  ASSERT_EQ(bad.problems.size(), 5u);
  EXPECT_EQ(bad.problems[0], "list.csv: line 2: type: an action=blank row is a run without an injection and takes no "
                             "type; an injection of a blank is type=blank with the action inject (or none)");
  EXPECT_EQ(bad.problems[1], "list.csv: line 3: type: an equilibrate row injects nothing; type says what an injection is");
  EXPECT_EQ(bad.problems[2], "list.csv: line 4: level: a standard needs its level (a label such as 1 to 5)");
  EXPECT_EQ(bad.problems[3], "list.csv: line 5: level: only a standard takes a level (this row is an injection of "
                             "type unknown)");
  EXPECT_EQ(bad.problems[4], "list.csv: line 6: type: 'control' is not one of unknown, blank, standard and suitability");
  const host::SampleList unknown = host::ParseSampleList("sample,method,vial,volume,kind\n", "list.csv");
  ASSERT_FALSE(unknown.problems.empty());
  EXPECT_EQ(unknown.problems[0], "list.csv: line 1: unknown column 'kind' (the columns are sample, method, vial, volume, "
                                 "injections, action, minutes, note, contents, type and level)");
  const host::SampleList toml = host::ParseSampleList(
      "[[sample]]\nsample = \"std\"\nmethod = \"m.toml\"\nvial = 1\nvolume = 5\ntype = \"standard\"\nlevel = 3\n",
      "list.toml");
  ASSERT_TRUE(toml.problems.empty()) << toml.problems.front();
  EXPECT_EQ(toml.rows.at(0).level, "3");
}

// A peak table read back as written; one written before the tailing
// column reads without it.
TEST(LabResultsTest, APeakTableReadsBackAsWritten) {
  const std::vector<MeasuredPeak> peaks{Peak("paracetamol", 2.878, 0.0611, 279.09, 1.01),
                                        {"lamp, off", std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                         std::nullopt, std::nullopt, std::nullopt}};
  const std::string csv = host::PeaksCsv(peaks);
  const std::vector<MeasuredPeak> read = host::ReadPeakRows(csv.substr(csv.find('\n') + 1));
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].compound, "paracetamol");
  EXPECT_EQ(*read[0].retentionMin, 2.878);
  EXPECT_EQ(*read[0].areaMauS, 279.09);
  EXPECT_EQ(*read[0].tailing, 1.01);
  EXPECT_EQ(read[1].compound, "lamp, off");
  EXPECT_FALSE(read[1].areaMauS);
  const std::vector<MeasuredPeak> old = host::ReadPeakRows("1,caffeine,4.509,0.0918,236.74,1440.46,13358,12.98\n");
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(*old[0].plates, 13358);
  EXPECT_FALSE(old[0].tailing);
}

}  // namespace
