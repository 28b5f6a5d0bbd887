// The host program as a user runs it: exit codes, messages and the files
// of a run folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>

#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"
#include "tests/host/host_program.h"

namespace {

namespace fs = std::filesystem;
using testing_support::HostProgramTest;
using testing_support::Result;

using HostCliTest = HostProgramTest;

TEST_F(HostCliTest, BrokenMethodNamesTheFileAndTheLine) {
  std::ofstream(m_dir / "broken.toml") << "[pump]\nsystem = \"binary\"\nflow = -0.5\n";
  const Result run = Run("run broken.toml --virtual-time");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("broken.toml"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("line 3, key 'pump.flow'"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(m_dir / "runs")) << "nothing is started for a broken method";
  const Result show = Run("method show broken.toml");
  EXPECT_EQ(show.exitCode, 1);
  EXPECT_TRUE(show.out.ends_with("expected a flow from 0 to 10 ml/min, found -0.5\n")) << show.out;

  const Result check = Run("method check broken.toml " + Example("caffeine-isocratic.quarn900.toml"));
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.out.find("caffeine-isocratic.quarn900.toml: ok"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("broken.toml: line 3, key 'pump.flow'"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("1 of 2 method files failed the check"), std::string::npos) << check.out;
}

// The transport set is the one `status` opens the instruments on.
TEST_F(HostCliTest, ConfigSetsAndGetsTheTransport) {
  for (const auto& [name, shown] : {std::pair{"server", "server (1)\n"}, std::pair{"direct", "direct (0)\n"}}) {
    EXPECT_EQ(Run(std::string("config set transport ") + name).exitCode, 0);
    EXPECT_EQ(Run("config get transport").out, shown);
    const Result status = Run("status --json");
    EXPECT_EQ(status.exitCode, 0) << status.out;
    EXPECT_EQ(status.out.rfind("{\"poll\":1,", 0), 0u) << status.out;
  }
  const Result bad = Run("config set transport sideways");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.out.find("takes direct, server or a whole number"), std::string::npos);
  EXPECT_EQ(Run("config get no-such-key").exitCode, 2);
  EXPECT_NE(Read(m_dir / "registry.reg").find("\"NetBoxComms\"=dword:00000000"), std::string::npos);
}

// Every example shows its three reports, is sent as written by the server
// transport, and runs through the instrument server as on the network: the
// same run folder files and a completed run. The first run registers the
// server with its registration program; --trace keeps the server's calls.
TEST_F(HostCliTest, EveryExampleChecksShowsItsReportsAndRunsThroughTheServer) {
  bool first = true;
  for (const auto& entry : fs::directory_iterator(std::string(QUARN_SOURCE_DIR) + "/examples")) {
    // examples/minimal-host is a program, *.tray.toml what the vials hold.
    if (!entry.path().filename().string().ends_with(".quarn900.toml")) continue;
    const Result show = Run("method show '" + entry.path().string() + "'");
    EXPECT_EQ(show.exitCode, 0) << entry.path() << show.out;
    for (const char* heading : {"Pump Method", "Autosampler Method", "UV Detector Method"}) {
      EXPECT_NE(show.out.find(heading), std::string::npos) << entry.path() << heading;
    }
    // Each example names its column and solvents the simulator knows: the
    // check says what it will read and warns of nothing.
    const std::string check = Run("method check --transport server '" + entry.path().string() + "'").out;
    EXPECT_TRUE(std::regex_match(check, std::regex(".*: simulated with a [0-9.]+ x [0-9.]+ mm, [0-9.]+ um column .*: "
                                                   "about \\d+ bar at the starting conditions\n(.*: solvent [A-D] .* "
                                                   "simulated as .*\n)+.*: predicted: the injection after .* the pressure peaks at \\d+ bar .*\n"
                                 ".*: predicted peaks of vial \\d+ \\(.*\\): .* min; least resolved: .*\n.*: ok\n")) &&
                check.find("warning") == std::string::npos)
        << check;
    const std::string name = entry.path().stem().stem().string();
    const Result r = Run("run '" + entry.path().string() + "' --transport server --virtual-time --quiet --out " +
                         name + (first ? " --trace" : ""));
    EXPECT_EQ(r.exitCode, 0) << name << r.out;
    for (const char* file : {"experiment-record.txt", "status.csv", "status.svg", "report.html", "solvent-monitor.xml"}) {
      EXPECT_TRUE(fs::exists(m_dir / name / file)) << name << " " << file;
    }
    EXPECT_NE(Read(m_dir / name / "experiment-record.txt").find("Run result: completed"), std::string::npos) << name;
    if (first) {
      const std::string appIdKey = platform::SplitValuePath(kTavixServerAppIdPath).first;
      EXPECT_NE(Read(Registry()).find("[HKEY_LOCAL_MACHINE\\" + appIdKey + "]"), std::string::npos);
      const std::string trace = Read(m_dir / name / "server-calls.log");
      // Clock seconds, then the call; the registration took some of the clock.
      EXPECT_TRUE(std::regex_search(trace, std::regex("^ +[0-9]+\\.[0-9]{3} CoCreateInstance\\(\\)\n"))) << trace.substr(0, 200);
      EXPECT_NE(trace.find(" Session.StartRun()\n"), std::string::npos);
      EXPECT_NE(trace.find(" event HplcMessage(0, 0, 1025, \"Method running\")\n"), std::string::npos);
    }
    first = false;
  }
}

// A gradient method end to end on the simulated network, as the README
// shows it: every file of the run folder, with what a chromatographer
// checks in it.
TEST_F(HostCliTest, GradientRunLeavesTheFourFilesWithTheGradientInThem) {
  const Result r = Run("run '" + Example("impurities-binary-gradient.quarn900.toml") +
                       "' --transport direct --vial 12 --volume 5 --virtual-time --out run");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("The run has ended: 25.0 of 25.0 min."), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(m_dir / "run" / "wire-trace.log"));

  const std::string record = Read(m_dir / "run" / "experiment-record.txt");
  EXPECT_NE(record.find("Pump Method"), std::string::npos);
  EXPECT_NE(record.find("Injection Volume (ul)   -   5.00\n"), std::string::npos) << record;
  EXPECT_NE(record.find("\nSimulated instruments\n=====================\n  2.1 x 100 mm, 1.8 um column (bed porosity "
                        "0.40, system 10 bar at 1 ml/min and 1 cP), dwell volume 0.35 ml, flow ramp 10 ml/min per "
                        "minute\n  solvent A \"Water + 0.1 % formic acid\" is simulated as water\n  solvent B "
                        "\"Acetonitrile + 0.1 % formic acid\" is simulated as acetonitrile\n\nRun result: completed"),
            std::string::npos)
      << record;

  // status.csv: %B climbs from 5 to 95 over the gradient and the pressure
  // follows the viscosity of the mixture, so it changes with it.
  std::istringstream csv(Read(m_dir / "run" / "status.csv"));
  std::string line;
  std::getline(csv, line);
  ASSERT_EQ(line.rfind("poll,clock_min,elapsed_min,running", 0), 0u);
  std::vector<std::pair<double, double>> running;  // pressure and %B of each poll while running
  while (std::getline(csv, line)) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_GE(cells.size(), 17u) << line;
    if (cells[3] != "1") continue;
    running.emplace_back(std::stod(cells[8]), std::stod(cells[10]));
    EXPECT_EQ(cells[7], "0.400") << line;
  }
  ASSERT_GT(running.size(), 1000u) << "about one poll a second over 25 minutes";
  const auto [lowB, highB] = std::minmax_element(running.begin(), running.end(),
                                                 [](const auto& a, const auto& b) { return a.second < b.second; });
  const auto [lowP, highP] = std::minmax_element(running.begin(), running.end());
  EXPECT_NEAR(lowB->second, 5.0, 0.5);
  EXPECT_NEAR(highB->second, 95.0, 0.5);
  EXPECT_GT(highP->first - lowP->first, 10.0) << "the pressure follows the composition";
  // The column's mean passes acetonitrile's peak (near 20 % at 40 C) a dwell
  // volume and half a column late, about 8 % B later in this gradient.
  EXPECT_LT(highP->second, 35.0) << "bottle B holds acetonitrile, as [solvents] says: no methanol peak near 45 %";

  EXPECT_NE(Read(m_dir / "run" / "solvent-monitor.xml").find("<flowRate>0.400000</flowRate>"), std::string::npos);
  EXPECT_NE(Read(m_dir / "run" / "status.svg").find("Impurity profile"), std::string::npos);
}

// How each kind of failed run is told: exit code, the closing message, the
// record (its result, and its injection block only after an injection),
// the last row of status.csv and the chart.
struct FailedRun {
  const char* name;
  const char* method;
  const char* args;
  int signal;  // as Run() takes it
  int exitCode;
  const char* outcome;  // a pattern; empty for a run that completed
  bool injected;
  const char* message;  // a pattern in the output
};

void PrintTo(const FailedRun& c, std::ostream* os) { *os << c.name; }

constexpr const char* kGradientTrip =
    "[pump]\nsystem = \"binary\"\nflow = 1.0\nmax_pressure = 150\nstop_time = 5.0\n"
    "[[pump.timetable]]\ntime = 0.0\npercent_b = 0.0\n[[pump.timetable]]\ntime = 2.0\npercent_b = 50.0\n"
    "[autosampler]\nvial = 4\ninjection_volume = 3.0\n";
constexpr const char* kTripWhileWaiting =
    "[pump]\nsystem = \"isocratic\"\nflow = 1.0\nmax_pressure = 50\nstop_time = 8.0\n[oven]\ntemperature = 40\n";
// The direct transport never sends a step's limit: the trip is at 100 bar.
constexpr const char* kStepLimitNotSent =
    "[pump]\nsystem = \"binary\"\nflow = 1.0\nmax_pressure = 100\nstop_time = 8\n[[pump.timetable]]\ntime = 2\n"
    "max_pressure = 300\n[[pump.timetable]]\ntime = 6\nflow = 2.0\n";
constexpr const char* kLong =
    "[pump]\nsystem = \"isocratic\"\nflow = 1.0\nmax_pressure = 250\nstop_time = 30.0\n"
    "[autosampler]\nvial = 3\ninjection_volume = 7.0\n";

class FailedRunTest : public HostCliTest, public ::testing::WithParamInterface<FailedRun> {};

TEST_P(FailedRunTest, ExitCodeRecordCsvAndChartTellWhatHappened) {
  const FailedRun& c = GetParam();
  std::ofstream(m_dir / "method.toml") << c.method;
  const Result r = Run(std::string("run method.toml --transport direct --virtual-time --out run ") + c.args, c.signal);
  EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex(c.message))) << r.out;

  const std::string outcome = *c.outcome ? c.outcome : "completed, \\d+\\.\\d of \\d+\\.\\d min";
  const std::string record = Read(m_dir / "run" / "experiment-record.txt");
  EXPECT_TRUE(std::regex_search(record, std::regex("\nRun result: " + outcome + "\n$"))) << record;
  EXPECT_EQ(record.find("Injection Volume (ul)") != std::string::npos, c.injected) << record;

  const std::string csv = Read(m_dir / "run" / "status.csv");
  const std::string last = csv.substr(csv.rfind('\n', csv.size() - 2) + 1);
  EXPECT_TRUE(std::regex_search(last, std::regex(*c.outcome ? ",\"?" + outcome + "\"?\n$" : ",\n$"))) << last;
  const std::string svg = Read(m_dir / "run" / "status.svg");
  EXPECT_TRUE(!*c.outcome || std::regex_search(svg, std::regex(">" + outcome + "</text>")));
  EXPECT_TRUE(std::regex_search(svg, std::regex(" polls, \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d</text>"))) << "the date it was drawn";
  // The wait before the injection is recorded; the logbook ends with the result.
  EXPECT_EQ(csv.find("\n1,0.000,0.000,"), csv.find('\n')) << csv.substr(0, 400);
  EXPECT_NE(csv.find(",waiting,"), std::string::npos);
  const std::string logbook = Read(m_dir / "run" / "logbook.txt");
  EXPECT_TRUE(std::regex_search(logbook, std::regex("min  run result: " + outcome + "\n$"))) << logbook;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FailedRunTest,
    ::testing::Values(
        // The mixture passes the limit at 0.8 min at the pumps, at the column
        // a dwell volume (0.6 ml at 1 ml/min) later.
        FailedRun{"Trip", kGradientTrip, "", 0, 1,
                  "ended at 2\\.9 of 5\\.0 min: pressure reached its limit of 150 bar \\(1[45]\\d\\.\\d bar and "
                  "rising at the last reading\\), flow dropped to 0",
                  true, "error: the run ended at 2\\.9 of 5\\.0 min"},
        FailedRun{"TripWhileWaiting", kTripWhileWaiting, "", 0, 1,
                  "failed before the injection: the pump stopped: pressure reached its limit of 50 bar "
                  "\\(\\d\\d\\.\\d bar and rising at the last reading\\)",
                  false, "error: the run failed before the injection: the pump stopped"},
        FailedRun{"StepLimitNotSent", kStepLimitNotSent, "", 0, 1,
                  "ended at 2\\.\\d of 8\\.0 min: pressure reached its limit of 100 bar \\(\\d+\\.\\d bar at the "
                  "last reading\\), flow dropped to 0",
                  true, "error: the run ended at 2\\.\\d of 8\\.0 min"},
        FailedRun{"Sigint", kLong, "--json", SIGINT, 130, "interrupted at \\d+\\.\\d of 30\\.0 min \\(SIGINT\\)",
                  true, "error: the run was interrupted at .* \\(SIGINT\\); the instruments were stopped"},
        FailedRun{"Sigterm", kLong, "--json", SIGTERM, 143, "interrupted at \\d+\\.\\d of 30\\.0 min \\(SIGTERM\\)",
                  true, "\\(SIGTERM\\)"},
        FailedRun{"Sighup", kLong, "--json", SIGHUP, 129, "interrupted at \\d+\\.\\d of 30\\.0 min \\(SIGHUP\\)", true,
                  "\\(SIGHUP\\)"},
        FailedRun{"ClosedPipe", kLong, "--json", SIGPIPE, 141,
                  "interrupted at \\d+\\.\\d of 30\\.0 min \\(the output pipe was closed\\)", true, ""}),
    [](const auto& param) { return std::string(param.param.name); });

// A driver library that is not the simulator's, in front of it: the host
// loads nothing of the simulators, says the instruments are real, refuses
// what only a simulator can do, and fails the run on the driver's own
// failure, on the system clock.
TEST_F(HostCliTest, WithARealDriverLibraryNothingOfTheSimulatorsIsLoaded) {
  setenv("LD_LIBRARY_PATH", QUARN_PLAIN_DRIVER_DIR, 1);
  setenv("QUARN_PLAIN_DRIVER_MAPS", (m_dir / "maps.txt").c_str(), 1);
  const Result refused = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --transport direct --virtual-time");
  const Result r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --transport direct --out run");
  const Result check = Run("method check '" + Example("caffeine-isocratic.quarn900.toml") + "' --solvent B=methanol");
  unsetenv("LD_LIBRARY_PATH");
  unsetenv("QUARN_PLAIN_DRIVER_MAPS");
  const std::string real = "the instruments are real: no simulator is loaded, so the run goes on the system clock";
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_NE(refused.out.find("error: --virtual-time: " + real + "; --virtual-time, --speed, --fault"),
            std::string::npos)
      << refused.out;
  EXPECT_EQ(check.exitCode, 2);
  EXPECT_NE(check.out.find("error: --solvent: " + real + "; --solvent says what the simulated bottles hold"),
            std::string::npos)
      << check.out;
  EXPECT_EQ(r.exitCode, 1) << r.out;
  EXPECT_NE(r.out.find("\nThe" + real.substr(3) + ".\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("communications failed"), std::string::npos) << r.out;
  EXPECT_NE(Read(m_dir / "run" / "experiment-record.txt").find("\nInstruments\n===========\n  " + real + "\n"),
            std::string::npos);
  const std::string maps = Read(m_dir / "maps.txt");
  EXPECT_NE(maps.find(std::string(QUARN_PLAIN_DRIVER_DIR) + "/libvexlink32.so"), std::string::npos) << maps;
  EXPECT_EQ(maps.find("quarnsim"), std::string::npos) << maps;
}

TEST_F(HostCliTest, RunFoldersAreNeverMixed) {
  std::ofstream(m_dir / "method.toml") << kLong;
  fs::create_directories(m_dir / "run");
  std::ofstream(m_dir / "run" / "wire-trace.log") << "an old trace\n";
  const Result refused = Run("run method.toml --transport direct --virtual-time --out run");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.out.find("the folder run already holds the files of a run (wire-trace.log); give a new --out "
                             "folder, or add --force to replace them"), std::string::npos) << refused.out;

  const int lock = open((m_dir / "run" / ".quarn-run.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  const Result busy = Run("run method.toml --transport direct --virtual-time --out run --force");
  EXPECT_EQ(busy.exitCode, 1);
  EXPECT_NE(busy.out.find("another run is writing into run"), std::string::npos) << busy.out;
  close(lock);

  // Replaced with --force; the method's own vial and volume are injected.
  EXPECT_EQ(Run("run method.toml --transport direct --virtual-time --out run --force --trace").exitCode, 0);
  const std::string trace = Read(m_dir / "run" / "wire-trace.log");
  EXPECT_EQ(trace.find("an old trace"), std::string::npos);
  EXPECT_NE(trace.find("StatusReply"), std::string::npos);
  const std::string record = Read(m_dir / "run" / "experiment-record.txt");
  EXPECT_NE(record.find(", vial 3, injection 7.00 \u00b5l, "), std::string::npos) << record;
  EXPECT_NE(record.find("Injection Volume (ul)   -   7.00\n"), std::string::npos) << record;
  EXPECT_EQ(record.find("Given on the command line"), std::string::npos) << record;
}

TEST_F(HostCliTest, AtTopSpeedNoPollIsSkipped) {
  ASSERT_EQ(Run("run '" + Example("caffeine-isocratic.quarn900.toml") +
                "' --transport direct --speed 10000 --quiet --out run").exitCode, 0);
  std::istringstream csv(Read(m_dir / "run" / "status.csv"));
  std::string line;
  double previous = 0;
  int polls = 0;
  for (std::getline(csv, line); std::getline(csv, line); ++polls) {
    const double minutes = std::stod(line.substr(line.find(',') + 1));
    EXPECT_LT(minutes - previous, 1.5 / 60) << line;
    previous = minutes;
  }
  EXPECT_GT(polls, 8 * 60);
}

// The live display as a person sees it on a terminal 60 columns wide: the
// lines drawn in place (those that end by erasing the rest) never wrap, the
// oven's not-ready text is printed once on a line of its own, and the
// run's progress is a bar.
TEST_F(HostCliTest, LiveLineFitsTheTerminalAndReasonsArePrintedOnce) {
  const std::string screen = Run("run '" + Example("impurities-binary-gradient.quarn900.toml") +
                                     "' --transport direct --virtual-time --out run", 0, true).out;
  for (size_t end = screen.find("\033[K"); end != std::string::npos; end = screen.find("\033[K", end + 1)) {
    const std::string line = screen.substr(screen.rfind('\r', end) + 1, end - screen.rfind('\r', end) - 1);
    ASSERT_LE(std::count_if(line.begin(), line.end(), [](char ch) { return (ch & 0xC0) != 0x80; }), 59) << line;
  }
  const std::string reason = "\r\n  NOT READY: The Oven is not ready. Target oven temperature is 40.00\r\n";
  EXPECT_NE(screen.find(reason), std::string::npos) << screen.substr(0, 2000);
  EXPECT_EQ(screen.find(reason), screen.rfind(reason));
  EXPECT_NE(screen.find("\r  [##########..........] 12.5/25.0 min  RUNNING"), std::string::npos);
  EXPECT_NE(screen.find("25.0/25.0 min  PUMP ON"), std::string::npos) << "the bar keeps the end of the run";
}

}  // namespace
