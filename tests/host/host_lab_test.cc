// The lab's results of a sequence through the program: the calibration
// example's lines and the unknowns it finds again, a column that lost its
// plates stopping the sequence before the unknowns (and its resume, which
// runs the suitability injections again), a bracketing standard's drift,
// and the lists refused before anything runs.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/host/host_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostProgramTest;
using testing_support::Result;

using Row = std::map<std::string, std::string>;

// A CSV text as rows of named cells (quoted cells, with commas and line
// breaks inside, as the program writes them).
std::vector<Row> Csv(const std::string& text) {
  std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') records.back().back() += '"', ++i;
      else if (c == '"') quoted = false;
      else records.back().back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      records.back().emplace_back();
    } else if (c == '\n') {
      records.emplace_back(1);
    } else {
      records.back().back() += c;
    }
  }
  if (records.back().size() == 1 && records.back()[0].empty()) records.pop_back();
  std::vector<Row> rows;
  for (std::size_t r = 1; r < records.size(); ++r) {
    Row row;
    for (std::size_t c = 0; c < records[0].size(); ++c) row[records[0][c]] = c < records[r].size() ? records[r][c] : "";
    rows.push_back(row);
  }
  return rows;
}

// A tray file's descriptions: name -> compound -> mg/l.
std::map<std::string, std::map<std::string, double>> Descriptions(const std::string& toml) {
  std::map<std::string, std::map<std::string, double>> descriptions;
  std::istringstream in(toml);
  std::string section;
  const std::regex table(R"(^\[sample\.\"?([^\]\"]+)\"?\])"), value(R"(^([a-z]+) = ([0-9.]+))");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, table)) {
      section = m[1];
      descriptions[section];
    } else if (line.starts_with("[")) {
      section.clear();
    } else if (!section.empty() && std::regex_search(line, m, value)) {
      descriptions[section][m[1]] = std::stod(m[2]);
    }
  }
  return descriptions;
}

class HostLabTest : public HostProgramTest {
 protected:
  static std::string List() { return "'" + Example("calibration-list.csv") + "'"; }
  std::vector<Row> Table(const std::string& folder, const char* file) const { return Csv(Read(m_dir / folder / file)); }
  static const Row& Numbered(const std::vector<Row>& rows, int number) {
    const Row* found = nullptr;
    for (const Row& row : rows) {
      if (row.at("number") == std::to_string(number)) found = &row;  // the last attempt
    }
    if (!found) throw std::runtime_error("no row " + std::to_string(number));
    return *found;
  }
};

// The example: five standards make a line of r2 above 0.999 for each
// compound, the six suitability injections pass, and every unknown is
// found within 2 % of what its sample description says; the bracketing
// standard holds to the line.
TEST_F(HostLabTest, TheCalibrationExampleFindsItsUnknownsWithinTwoPercent) {
  const Result r = Run("sequence " + List() + " --virtual-time --out seq");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("The system suitability of samples 7 to 12 passes."), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Calibration of caffeine on caffeine-isocratic.quarn900.toml: area = "
                                                  "[0-9.]+ x mg/l [+-] [0-9.]+, r2 (0\\.999\\d*|1\\.0+), 5 points")))
      << r.out;

  std::map<std::string, std::pair<double, int>> lines;  // compound -> r2, points
  for (const Row& row : Table("seq", "calibration.csv")) {
    if (row.at("role") == "calibration") lines[row.at("compound")] = {std::stod(row.at("r2")), std::stoi(row.at("points"))};
    if (row.at("role") == "bracket") {
      EXPECT_EQ(row.at("within_limit"), "yes") << row.at("compound");
    }
  }
  ASSERT_EQ(lines.size(), 2u);
  const std::string page = Read(m_dir / "seq" / "report.html");
  for (const auto& [compound, line] : lines) {
    EXPECT_GT(line.first, 0.999) << compound;
    EXPECT_EQ(line.second, 5) << compound;
    // The report draws each line with its equation.
    EXPECT_TRUE(std::regex_search(page, std::regex("<h3><bdi>" + compound + "</bdi></h3>\n<p class=\"equation\">area = "
                                                   "[0-9.]+ \u00d7 c (\\+|\u2212) [0-9.]+&emsp;r\u00b2 = [01]\\.[0-9]{5}</p>")))
        << compound;
  }

  const auto said = Descriptions(Read(Example("calibration-list.tray.toml")));
  const std::map<std::string, std::string> unknowns{{"tablet-A", "tablet-A"}, {"tablet-B", "tablet-B"}, {"cola", "cola"}};
  const std::vector<Row> rows = Table("seq", "sequence.csv");
  ASSERT_EQ(rows.size(), 17u);
  int found = 0;
  for (const Row& row : rows) {
    EXPECT_EQ(row.at("result"), "good") << row.at("sample");
    if (row.at("type") != "unknown") continue;
    const auto& description = said.at(unknowns.at(row.at("sample")));
    for (const char* compound : {"caffeine", "paracetamol"}) {
      const std::string cell = row.at(std::string(compound) + "_mg_l");
      const auto expected = description.find(compound);
      if (expected == description.end()) {
        EXPECT_EQ(cell, "") << row.at("sample") << ": no " << compound << " in it";
        continue;
      }
      ASSERT_FALSE(cell.empty()) << row.at("sample") << " " << compound;
      EXPECT_NEAR(std::stod(cell), expected->second, 0.02 * expected->second) << row.at("sample") << " " << compound;
      ++found;
    }
    EXPECT_EQ(row.at("bracket"), "within 2 % (cal-3-bracket, sample 16)") << row.at("sample");
  }
  EXPECT_EQ(found, 5);
  EXPECT_TRUE(Numbered(rows, 12).at("suitability").starts_with("pass: 9 criteria, 6 injections")) << Numbered(rows, 12).at("suitability");
  EXPECT_EQ(Numbered(rows, 2).at("level"), "1");
  const std::vector<Row> checks = Table("seq", "suitability.csv");
  ASSERT_EQ(checks.size(), 9u);
  for (const Row& check : checks) EXPECT_EQ(check.at("result"), "pass") << check.at("criterion") << " " << check.at("subject");
  EXPECT_NE(Read(m_dir / "seq" / "journal.txt").find("\nsuitability\t7\t12\tpass\t"), std::string::npos);
}

// A column that lost nine tenths of its plates from the first suitability
// injection on: the check fails on the plate count, the sequence stops
// before the unknowns (the shutdown row still runs), and sequence.csv
// names the criterion and the value measured for each row not run.
// Resumed on a good column, the suitability injections run again and the
// unknowns after them.
TEST_F(HostLabTest, ADegradedColumnStopsTheSequenceBeforeTheUnknowns) {
  Result r = Run("sequence " + List() + " --virtual-time --quiet --out seq --fault 7:column-degraded:10");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("the system suitability of samples 7 to 12 failed: plates of caffeine "), std::string::npos)
      << r.out;
  std::vector<Row> rows = Table("seq", "sequence.csv");
  ASSERT_EQ(rows.size(), 17u);
  const std::regex plates("plates of caffeine (\\d+) \\(min 2000\\)");
  for (int n = 13; n <= 16; ++n) {
    const Row& row = Numbered(rows, n);
    EXPECT_EQ(row.at("result"), "not run") << n;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(row.at("reason"), m, plates)) << row.at("reason");
    EXPECT_LT(std::stoi(m[1]), 2000) << row.at("reason");
    EXPECT_TRUE(row.at("reason").starts_with("not run: the system suitability of samples 7 to 12 failed: "))
        << row.at("reason");
    EXPECT_EQ(row.at("folder"), "");
  }
  EXPECT_EQ(Numbered(rows, 17).at("result"), "good") << "the shutdown row runs";
  EXPECT_EQ(Numbered(rows, 17).at("action"), "shutdown");
  EXPECT_TRUE(Numbered(rows, 12).at("suitability").starts_with("fail: plates of caffeine ")) << Numbered(rows, 12).at("suitability");
  EXPECT_FALSE(fs::exists(m_dir / "seq" / "013-tablet-A"));
  EXPECT_NE(Read(m_dir / "seq" / "007-sst-inj1" / "logbook.txt").find("the injected fault column-degraded:10 acted on "
                                                                      "this run; it does not make the run invalid"),
            std::string::npos);
  bool platesFailed = false;
  const std::string page = Read(m_dir / "seq" / "report.html");
  for (const Row& check : Table("seq", "suitability.csv")) {
    if (check.at("criterion") != "plates") continue;
    EXPECT_EQ(check.at("result"), "fail") << check.at("subject");
    EXPECT_LT(std::stod(check.at("measured")), 2000);
    platesFailed = true;
    // The report's suitability section names it with its limit and value.
    EXPECT_NE(page.find("<tr class=\"fail\"><td class=\"text name\"><bdi>Plates of " + check.at("subject") +
                        " (samples 7\u201312)</bdi></td><td class=\"text\"><bdi>\u2265 2000</bdi></td><td "
                        "class=\"text\"><bdi>" + check.at("measured") + "</bdi></td>"),
              std::string::npos) << check.at("subject");
  }
  EXPECT_TRUE(platesFailed);
  std::size_t notRun = 0;
  for (std::size_t at = page.find(">not run<"); at != std::string::npos; at = page.find(">not run<", at + 1)) ++notRun;
  EXPECT_EQ(notRun, 2u * 4u) << "rows 13 to 16, in the areas and the quantities";
  EXPECT_NE(Read(m_dir / "seq" / "journal.txt").find("\nsuitability\t7\t12\tfail\t"), std::string::npos);

  r = Run("sequence " + List() + " --virtual-time --quiet --resume seq");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  rows = Table("seq", "sequence.csv");
  EXPECT_EQ(rows.size(), 13u + 11u) << "samples 1 to 12 and the shutdown, then 7 to 17 again";
  EXPECT_TRUE(fs::exists(m_dir / "seq" / "007-sst-inj1.earlier"));
  EXPECT_TRUE(Numbered(rows, 12).at("suitability").starts_with("pass: ")) << Numbered(rows, 12).at("suitability");
  EXPECT_EQ(Numbered(rows, 13).at("result"), "good");
  EXPECT_FALSE(Numbered(rows, 13).at("caffeine_mg_l").empty());
}

// --if-unsuitable continue: the unknowns run, marked, on the server
// transport (the fault reaches the simulated server's column); the exit
// code still says the check failed.
TEST_F(HostLabTest, GoingOnAfterAFailedCheckMarksTheSamplesAfterIt) {
  const Result r = Run("sequence " + List() + " --virtual-time --quiet --out seq --transport server "
                       "--fault 7:column-degraded:10 --if-unsuitable continue");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("the samples after it ran (--if-unsuitable continue)"), std::string::npos) << r.out;
  const std::vector<Row> rows = Table("seq", "sequence.csv");
  ASSERT_EQ(rows.size(), 17u);
  for (int n = 13; n <= 16; ++n) {
    EXPECT_EQ(Numbered(rows, n).at("result"), "good") << n;
    EXPECT_EQ(Numbered(rows, n).at("suitability"), "after the failed suitability check of samples 7 to 12") << n;
  }
  // Wider peaks, the same areas: the unknowns are still found.
  EXPECT_NEAR(std::stod(Numbered(rows, 15).at("caffeine_mg_l")), 41.5, 0.02 * 41.5);
}

// A bracketing standard injected 5 % too large drifts from the line: the
// unknowns it brackets are marked with the drift and the limit, which the
// suitability file may change.
TEST_F(HostLabTest, ABracketingStandardThatDriftsMarksTheUnknownsItBrackets) {
  std::ofstream(m_dir / "tray.toml") << "[sample.c1]\ncaffeine = 20.0\n[sample.c2]\ncaffeine = 50.0\n"
                                        "[sample.c3]\ncaffeine = 80.0\n[sample.u]\ncaffeine = 35.0\n"
                                        "[tray]\n1 = \"c1\"\n2 = \"c2\"\n3 = \"c3\"\n4 = \"u\"\n";
  const std::string method = Example("caffeine-isocratic.quarn900.toml");
  std::ofstream(m_dir / "list.csv") << "sample,method,vial,volume,type,level\n"
                                    << "c1," << method << ",1,10,standard,1\n"
                                    << "c2," << method << ",2,10,standard,2\n"
                                    << "c3," << method << ",3,10,standard,3\n"
                                    << "u1," << method << ",4,10,,\n"
                                    << "u2," << method << ",4,10,,\n"
                                    << "c2-again," << method << ",2,10.5,standard,2\n";
  Result r = Run("sequence list.csv --virtual-time --quiet --out seq");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Bracketing standard c2-again \\(sample 6\\): drift caffeine \\+5\\.\\d % "
                                                  "\\(limit 2 %; c2-again, sample 6\\); sequence.csv marks the unknowns")))
      << r.out;
  std::vector<Row> rows = Table("seq", "sequence.csv");
  for (int n : {4, 5}) {
    EXPECT_TRUE(std::regex_match(Numbered(rows, n).at("bracket"),
                                 std::regex("drift caffeine \\+5\\.\\d % \\(limit 2 %; c2-again, sample 6\\)")))
        << Numbered(rows, n).at("bracket");
    EXPECT_NEAR(std::stod(Numbered(rows, n).at("caffeine_mg_l")), 35.0, 0.02 * 35.0);
  }
  EXPECT_FALSE(fs::exists(m_dir / "seq" / "suitability.csv")) << "no suitability injections";
  std::ofstream(m_dir / "limits.toml") << "[bracketing]\nmax_drift_percent = 6\n";
  r = Run("sequence list.csv --virtual-time --quiet --out seq6 --suitability limits.toml");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  rows = Table("seq6", "sequence.csv");
  EXPECT_EQ(Numbered(rows, 4).at("bracket"), "within 6 % (c2-again, sample 6)");
  EXPECT_NE(Read(m_dir / "seq6" / "journal.txt").find("\ncriteria\tlimits.toml\t"), std::string::npos);
}

// What the lab's results need is checked before anything runs, each
// problem with its file and line.
TEST_F(HostLabTest, AListWhoseResultsCannotBeWorkedOutIsRefused) {
  const std::string method = Example("caffeine-isocratic.quarn900.toml");
  std::ofstream(m_dir / "tray.toml") << "[sample.mix]\ncaffeine = 50.0\nparacetamol = 100.0\n"
                                        "[sample.blank]\n[tray]\n1 = \"mix\"\n2 = \"blank\"\n";
  const auto refused = [&](const std::string& rows, const std::string& criteria, const std::string& says) {
    std::ofstream(m_dir / "list.csv") << "sample,method,vial,volume,type,level,action,minutes\n" << rows;
    fs::remove(m_dir / "suitability.toml");
    if (!criteria.empty()) std::ofstream(m_dir / "suitability.toml") << criteria;
    const Result r = Run("sequence list.csv --virtual-time --quiet");
    EXPECT_EQ(r.exitCode, 1) << rows;
    EXPECT_NE(r.out.find(says), std::string::npos) << rows << "\n" << r.out;
    EXPECT_NE(r.out.find("cannot run as written"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(m_dir / "runs")) << "nothing ran";
  };
  refused("sst," + method + ",1,10,suitability,,,\n", "",
          "list.csv: line 2: type: the list has suitability injections, and no suitability file gives their criteria");
  refused("std," + method + ",7,10,standard,1,,\n", "",
          "list.csv: line 2: a standard needs a sample description (what its vial holds, in mg/l): ");
  refused("std," + method + ",2,10,standard,1,,\n", "",
          "list.csv: line 2: a standard's sample description \"blank\" names no compound");
  refused("sst," + method + ",1,10,suitability,,,\n", "[plates]\nmin = 2000\ncompounds = [\"theophylline\"]\n",
          "suitability.toml: line 1: plates: theophylline is not in the sample description \"mix\" of the suitability "
          "injection on line 2 of list.csv");
  refused("sst," + method + ",1,10,suitability,,,\n", "[plate]\nmin = 2000\n", "suitability.toml: line 1: unknown table 'plate'");
  refused("eq," + method + ",,,suitability,,equilibrate,5\n", "",
          "list.csv: line 2: type: an equilibrate row injects nothing; type says what an injection is");
}

}  // namespace
