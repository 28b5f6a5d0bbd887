// What a method developer relies on the simulated instruments for, read
// from a run's status.csv as they would read it: the oven's warm-up, the
// gradient delay, and a pressure limit that trips where real hardware's
// would. Both transports where the transport matters.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>

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

}  // namespace
