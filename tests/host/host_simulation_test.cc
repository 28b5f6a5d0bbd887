// What a method developer relies on the simulated instruments for, read
// from a run's status.csv as they would read it: the oven's warm-up, the
// gradient delay, and a pressure limit that trips where real hardware's
// would. Both transports where the transport matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/host/host_program.h"

namespace {

using testing_support::HostProgramTest;
using testing_support::Result;
namespace fs = std::filesystem;

// status.csv as rows of named cells.
struct StatusRows {
  std::vector<std::map<std::string, std::string>> rows;

  explicit StatusRows(const std::string& csv) {
    std::istringstream in(csv);
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> cells;
      std::stringstream row(line);
      for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
      if (names.empty()) {
        names = cells;
        continue;
      }
      std::map<std::string, std::string> named;
      for (std::size_t i = 0; i < cells.size() && i < names.size(); ++i) named[names[i]] = cells[i];
      rows.push_back(named);
    }
  }
  static double Number(const std::map<std::string, std::string>& row, const char* name) {
    return std::stod(row.at(name));
  }
};

class SimulationTest : public HostProgramTest, public ::testing::WithParamInterface<const char*> {
 protected:
  Result RunMethod(const std::string& method) {
    std::ofstream(m_dir / "method.toml") << method;
    return Run(std::string("run method.toml --virtual-time --quiet --out run --transport ") + GetParam());
  }
  StatusRows Status() { return StatusRows(Read(m_dir / "run" / "status.csv")); }
};

// A step from water to acetonitrile at 3 min, 0.5 ml/min, 1 ml of dwell
// volume, a column holding 0.11 ml: the pressure holds until the mixture
// reaches the column, half a dwell volume into the smeared front, and is
// half-way there once the column holds 71 % acetonitrile (the viscosity of
// the mixture is far from linear in it): 1.21 dwell volumes and half the
// column's after the step, 2.5 min.
TEST_P(SimulationTest, AStepReachesThePressureADwellVolumeLate) {
  const Result r = RunMethod(
      "[pump]\nsystem = \"binary\"\nflow = 0.5\nmax_pressure = 400\nstop_time = 8.0\n"
      "[solvents]\na = \"Water\"\nb = \"Acetonitrile\"\n"
      "[column]\nlength_mm = 50\ndiameter_mm = 2.1\nparticle_um = 1.8\ndwell_volume_ml = 1.0\n"
      "[[pump.timetable]]\ntime = 3.0\npercent_b = 0.0\n[[pump.timetable]]\ntime = 3.01\npercent_b = 100.0\n");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  double before = 0, after = 0, firstChange = -1, halfWay = -1;
  const StatusRows status = Status();
  for (const auto& row : status.rows) {
    const double t = StatusRows::Number(row, "elapsed_min"), bar = StatusRows::Number(row, "pressure_bar");
    EXPECT_EQ(row.at("percent_d"), "0.0") << "a binary pump draws nothing from D";
    if (row.at("phase") != "run" || row.at("running") != "1") continue;
    if (t > 2.5 && t < 3.0) before = bar;
    if (t > 7.5) after = bar;
  }
  ASSERT_GT(before - after, 20.0) << "water to acetonitrile lowers the pressure";
  for (const auto& row : status.rows) {
    const double t = StatusRows::Number(row, "elapsed_min"), bar = StatusRows::Number(row, "pressure_bar");
    if (row.at("phase") != "run" || t < 3.0) continue;
    if (firstChange < 0 && std::abs(bar - before) > 0.02 * before) firstChange = t;
    if (halfWay < 0 && bar < (before + after) / 2) halfWay = t;
  }
  EXPECT_GE(firstChange, 3.0 + 0.8) << "half a dwell volume (1 min) at the least";
  EXPECT_NEAR(halfWay - 3.0, 2.5, 0.3) << "1.21 dwell volumes and half the column's over 0.5 ml/min";
}

// Methanol and water on a 2.1 x 100 mm, 1.7 um column at 0.5 ml/min and
// 30 C: about 800 bar at the start, and the mixture's viscosity peak near
// 40 % methanol takes it past 1000 bar, as the textbook relation says it
// would on real hardware. The pumps stop there and the result says why.
TEST_P(SimulationTest, AUhplcMethanolGradientTripsAtOneThousandBar) {
  const Result r = RunMethod(
      "[pump]\nsystem = \"binary\"\nflow = 0.5\nmax_pressure = 1000\nstop_time = 12.0\npercent_b = 5\n"
      "[solvents]\na = \"Water\"\nb = \"Methanol\"\n"
      "[column]\nlength_mm = 100\ndiameter_mm = 2.1\nparticle_um = 1.7\ndwell_volume_ml = 0.1\n"
      "[oven]\ntemperature = 30\n"
      "[[pump.timetable]]\ntime = 0.0\npercent_b = 5.0\n[[pump.timetable]]\ntime = 10.0\npercent_b = 95.0\n");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("pressure reached its limit of 1000 bar \\((9\\d\\d|1\\d\\d\\d)\\.\\d bar")))
      << r.out;
  const StatusRows status = Status();
  double start = 0;
  for (const auto& row : status.rows) {
    if (row.at("phase") == "run" && row.at("running") == "1") {
      start = StatusRows::Number(row, "pressure_bar");
      break;
    }
  }
  EXPECT_NEAR(start, 800.0, 40.0);
}

INSTANTIATE_TEST_SUITE_P(Both, SimulationTest, ::testing::Values("direct", "server"),
                         [](const auto& param) { return std::string(param.param); });

// What the simulated detectors record of the example samples, read from
// the run folder as a chromatographer reads it.
class ChromatogramTest : public HostProgramTest {
 protected:
  struct Peak {
    double retention = 0, area = 0, resolution = 0;
  };
  // peaks.csv by compound.
  std::map<std::string, Peak> Peaks(const fs::path& folder) {
    std::map<std::string, Peak> peaks;
    for (const auto& row : StatusRows(Read(folder / "peaks.csv")).rows) {
      const auto number = [&](const char* name) {
        const auto cell = row.find(name);  // an empty last cell is not split off
        return cell == row.end() || cell->second.empty() ? 0.0 : std::stod(cell->second);
      };
      peaks[row.at("compound")] = {number("retention_min"), number("area_mau_s"), number("resolution")};
    }
    return peaks;
  }
  static std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }
};

// The impurities example: its seven compounds separated, with the same
// areas on both transports (within the detector's noise) and at the same
// times within a second (the transports inject after different waits,
// with the oven a few tenths of a degree apart on its way to 40 C), the
// chromatogram sampled ten times a second for the whole run and drawn
// with every peak labelled.
TEST_F(ChromatogramTest, TheImpuritiesExampleIsSeparatedAlikeOnBothTransports) {
  std::map<std::string, Peak> peaks[2];
  int i = 0;
  for (const std::string transport : {"direct", "server"}) {
    const Result r = Run("run '" + Example("impurities-binary-gradient.quarn900.toml") +
                         "' --virtual-time --quiet --out " + transport + " --transport " + transport);
    ASSERT_EQ(r.exitCode, 0) << r.out;
    peaks[i] = Peaks(m_dir / transport);
    EXPECT_EQ(Lines(Read(m_dir / transport / "chromatogram.csv")), 1u + 25 * 600 + 1);
    const std::string svg = Read(m_dir / transport / "chromatogram.svg");
    std::size_t labels = 0;
    for (std::size_t at = 0; (at = svg.find("class=\"peak-label\"", at)) != std::string::npos; ++at) ++labels;
    EXPECT_EQ(labels, 7u);
    const std::string logbook = Read(m_dir / transport / "logbook.txt");
    EXPECT_TRUE(std::regex_search(logbook, std::regex("the UV detector recorded 25.0 min, 7 peaks: uracil at 0.65 min, "
                                                      "paracetamol at 2.69 min, theophylline at 3.0[01] min")))
        << logbook;
    ++i;
  }
  ASSERT_EQ(peaks[0].size(), 7u);
  // `method check` foretells them.
  const std::string check = Run("method check '" + Example("impurities-binary-gradient.quarn900.toml") + "'").out;
  EXPECT_NE(check.find("least resolved: paracetamol and theophylline, resolution 5."), std::string::npos) << check;
  for (const auto& [compound, direct] : peaks[0]) {
    std::smatch predicted;
    ASSERT_TRUE(std::regex_search(check, predicted, std::regex("[:,] " + compound + " (\\d+\\.\\d\\d)"))) << check;
    EXPECT_NEAR(std::stod(predicted[1]), direct.retention, 0.02) << compound;
    const Peak& server = peaks[1][compound];
    EXPECT_NEAR(server.retention, direct.retention, 0.015) << compound;
    EXPECT_NEAR(server.area, direct.area, std::max(0.01 * direct.area, 0.05)) << compound;
    if (compound != "uracil") {
      EXPECT_GT(direct.resolution, 1.5) << compound << " is separated from the peak before it";
    }
  }
}

// A run that stops early (the pump trips at 6 min) keeps what eluted
// before: the four peaks of the first 6 minutes, and the signal up to the
// stop.
TEST_F(ChromatogramTest, ARunStoppedEarlyKeepsThePeaksElutedSoFar) {
  const Result r = Run("run '" + Example("impurities-binary-gradient.quarn900.toml") +
                       "' --virtual-time --quiet --out run --fault pump-overpressure@6");
  EXPECT_EQ(r.exitCode, 1) << r.out;
  std::vector<std::string> names;
  for (const auto& [compound, peak] : Peaks(m_dir / "run")) names.push_back(compound);
  EXPECT_EQ(names, (std::vector<std::string>{"caffeine", "paracetamol", "theophylline", "uracil"}));
  const std::size_t samples = Lines(Read(m_dir / "run" / "chromatogram.csv")) - 1;
  EXPECT_NEAR(static_cast<double>(samples) / 600.0, 6.0, 0.1);
}

// What is in the vials is checked before anything runs; a vial the tray
// does not describe runs with a flat baseline, and says so; a sample
// list row may name its own description.
TEST_F(ChromatogramTest, TheTrayIsCheckedFirstAndARowMayNameItsContents) {
  std::ofstream(m_dir / "bad.toml") << "[sample.pain]\naspirin = 500\n[tray]\n1 = \"pain\"\n";
  Result r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --virtual-time --tray bad.toml");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("bad.toml: line 1: sample.pain: the simulator knows no compound \"aspirin\" (it knows uracil, "
                       "theobromine, theophylline, paracetamol, caffeine,"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(fs::exists(m_dir / "runs"));
  r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --virtual-time --tray missing.toml");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("missing.toml: there is no such file"), std::string::npos) << r.out;
  r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --virtual-time --quiet --vial 7 --out plain");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(Read(m_dir / "plain" / "logbook.txt")
                .find("vial 7 has no sample description (caffeine-isocratic.tray.toml): the UV detector records a flat "
                      "baseline, so no chromatogram is written"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(m_dir / "plain" / "chromatogram.csv"));

  fs::copy_file(Example("caffeine-isocratic.quarn900.toml"), m_dir / "caffeine.toml");
  fs::copy_file(Example("tray.toml"), m_dir / "tray.toml");
  std::ofstream(m_dir / "list.csv") << "sample,method,vial,volume,contents\ncola,caffeine.toml,99,10,cola-1\n";
  std::ofstream(m_dir / "wrong.csv") << "sample,method,vial,volume,contents\ncola,caffeine.toml,99,10,cola-9\n";
  r = Run("sequence wrong.csv --virtual-time --quiet");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("wrong.csv: line 2: contents: there is no sample description \"cola-9\" in"), std::string::npos)
      << r.out;
  r = Run("sequence list.csv --virtual-time --quiet --out seq");
  EXPECT_EQ(r.exitCode, 0) << r.out;
  const std::string areas = Read(m_dir / "seq" / "areas.csv");
  EXPECT_TRUE(areas.starts_with("number,sample,peak,compound,retention_min,width_min,height_mau,area_mau_s,plates,"
                                "resolution,tailing\n1,cola,1,theobromine,"))
      << areas;
  EXPECT_NE(areas.find("\n1,cola,2,caffeine,4.50"), std::string::npos) << areas;
  // The same areas on the sequence's page, the sample linking to its run's page.
  const std::string page = Read(m_dir / "seq" / "report.html");
  EXPECT_NE(page.find("<th><bdi>theobromine</bdi><br><span class=\"unit\">mAU\u00b7s</span></th><th><bdi>caffeine</bdi>"),
            std::string::npos);
  EXPECT_NE(page.find("<a href=\"001-cola/report.html\"><bdi>cola</bdi></a>"), std::string::npos);
  EXPECT_TRUE(fs::exists(m_dir / "seq" / "001-cola" / "report.html"));
  // areas.csv's area_mau_s (its 8th cell) of caffeine, in the row.
  std::string caffeine = areas.substr(areas.find("\n1,cola,2,caffeine,") + 1);
  caffeine = caffeine.substr(0, caffeine.find('\n'));
  for (int cell = 0; cell < 7; ++cell) caffeine.erase(0, caffeine.find(',') + 1);
  caffeine = caffeine.substr(0, caffeine.find(','));
  const std::size_t row = page.find("<a href=\"001-cola/report.html\">");
  EXPECT_NE(page.find("</td><td>" + caffeine + "</td></tr>", row), std::string::npos) << caffeine;
}

}  // namespace
