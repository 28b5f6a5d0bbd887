// The host program as a user runs it: exit codes, messages and the files
// of a run folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Result {
  int exitCode = -1;
  std::string out;  // standard output and standard error together
};

class HostCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    m_dir = fs::temp_directory_path() / ("quarn-host-test-" + std::to_string(rd()));
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

  Result Run(const std::string& args) {
    const std::string command = "cd '" + m_dir.string() + "' && QUARN_REGISTRY='" + (m_dir / "registry.reg").string() +
                                "' '" + QUARN_HOST_PROGRAM + "' " + args + " 2>&1";
    Result result;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  static std::string Example(const char* name) { return std::string(QUARN_SOURCE_DIR) + "/examples/" + name; }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path m_dir;
};

TEST_F(HostCliTest, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
  for (const char* args : {"", "run", "run m --vial 0", "run m --vial 10001", "run m --volume -1",
                           "run m --speed 0", "run m --speed fast", "run m --transport carrier-pigeon",
                           "run m --quiet --json", "launch"}) {
    const Result r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << args << "\n" << r.out;
    EXPECT_NE(r.out.find("quarn-host: error:"), std::string::npos) << args << "\n" << r.out;
    EXPECT_EQ(r.out.find("terminate called"), std::string::npos) << args;
  }
}

TEST_F(HostCliTest, UnknownMethodIsOneClearError) {
  const Result r = Run("run no-such-method --virtual-time");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("unknown method 'no-such-method'"), std::string::npos) << r.out;
}

TEST_F(HostCliTest, BrokenMethodNamesTheFileAndTheLine) {
  std::ofstream(m_dir / "broken.toml") << "[pump]\nsystem = \"binary\"\nflow = -0.5\n";
  const Result run = Run("run broken.toml --virtual-time");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("broken.toml"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("line 3, key 'pump.flow'"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(m_dir / "runs")) << "nothing is started for a broken method";

  const Result check = Run("method check broken.toml " + Example("caffeine-isocratic.quarn900.toml"));
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.out.find("caffeine-isocratic.quarn900.toml: ok"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("broken.toml: line 3, key 'pump.flow'"), std::string::npos) << check.out;
  EXPECT_NE(check.out.find("1 of 2 method files failed the check"), std::string::npos) << check.out;
}

TEST_F(HostCliTest, EveryExampleChecksAndShowsItsThreeReports) {
  for (const auto& entry : fs::directory_iterator(std::string(QUARN_SOURCE_DIR) + "/examples")) {
    const Result show = Run("method show '" + entry.path().string() + "'");
    EXPECT_EQ(show.exitCode, 0) << entry.path() << show.out;
    for (const char* heading : {"Pump Method", "Autosampler Method", "UV Detector Method"}) {
      EXPECT_NE(show.out.find(heading), std::string::npos) << entry.path() << heading;
    }
  }
}

TEST_F(HostCliTest, ConfigSetsAndGetsTheTransport) {
  EXPECT_EQ(Run("config set transport server").exitCode, 0);
  EXPECT_EQ(Run("config get transport").out, "server (1)\n");
  EXPECT_EQ(Run("config set transport direct").exitCode, 0);
  EXPECT_EQ(Run("config get transport").out, "direct (0)\n");
  const Result bad = Run("config set transport sideways");
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.out.find("takes direct, server or a whole number"), std::string::npos);
  EXPECT_EQ(Run("config get no-such-key").exitCode, 1);
  EXPECT_NE(Read(m_dir / "registry.reg").find("\"NetBoxComms\"=dword:00000000"), std::string::npos);
}

TEST_F(HostCliTest, ServerTransportSaysItIsNotAvailableYet) {
  const Result r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --transport server --virtual-time");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("the instrument server transport is not available yet"), std::string::npos) << r.out;
}

TEST_F(HostCliTest, UnwritableOutputFolderIsOneClearError) {
  std::ofstream(m_dir / "a-file") << "x";
  const Result r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") + "' --out a-file/run --virtual-time");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("cannot create the output folder a-file/run"), std::string::npos) << r.out;
}

// A gradient method end to end on the simulated network, as the README
// shows it: every file of the run folder, with what a chromatographer
// checks in it.
TEST_F(HostCliTest, GradientRunLeavesTheFourFilesWithTheGradientInThem) {
  const Result r = Run("run '" + Example("impurities-binary-gradient.quarn900.toml") +
                       "' --transport direct --vial 12 --volume 5 --virtual-time --out run");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find("The run has ended."), std::string::npos) << r.out;
  for (const char* file : {"experiment-record.txt", "status.csv", "status.svg", "solvent-monitor.xml"}) {
    EXPECT_TRUE(fs::exists(m_dir / "run" / file)) << file;
  }
  EXPECT_FALSE(fs::exists(m_dir / "run" / "wire-trace.log"));

  const std::string record = Read(m_dir / "run" / "experiment-record.txt");
  EXPECT_NE(record.find("Pump Method"), std::string::npos);
  EXPECT_NE(record.find("Injection Volume (ul)   -   5.00\n"), std::string::npos) << record;

  // status.csv: %B climbs from 5 to 95 over the gradient and the pressure
  // follows the viscosity of the mixture, so it changes with it.
  std::istringstream csv(Read(m_dir / "run" / "status.csv"));
  std::string line;
  std::getline(csv, line);
  ASSERT_EQ(line.rfind("poll,clock_min,elapsed_min,running", 0), 0u);
  double minB = 1e9;
  double maxB = -1e9;
  double minP = 1e9;
  double maxP = -1e9;
  double bAtMaxP = 0.0;
  int runningRows = 0;
  while (std::getline(csv, line)) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    ASSERT_GE(cells.size(), 17u) << line;
    if (cells[3] != "1") continue;
    ++runningRows;
    const double b = std::stod(cells[10]);
    const double p = std::stod(cells[8]);
    minB = std::min(minB, b);
    maxB = std::max(maxB, b);
    minP = std::min(minP, p);
    if (p > maxP) bAtMaxP = b;
    maxP = std::max(maxP, p);
    EXPECT_EQ(cells[7], "0.400") << line;
  }
  EXPECT_GT(runningRows, 1000) << "about one poll a second over 25 minutes";
  EXPECT_NEAR(minB, 5.0, 0.5);
  EXPECT_NEAR(maxB, 95.0, 0.5);
  EXPECT_GT(maxP - minP, 10.0) << "the pressure follows the composition";
  EXPECT_LT(bAtMaxP, 30.0) << "bottle B holds acetonitrile, as [solvents] says: no methanol peak near 45 %";

  EXPECT_NE(Read(m_dir / "run" / "solvent-monitor.xml").find("<flowRate>0.400000</flowRate>"), std::string::npos);
  EXPECT_NE(Read(m_dir / "run" / "status.svg").find("Impurity profile"), std::string::npos);
}

TEST_F(HostCliTest, TraceAndJsonModes) {
  const Result r = Run("run '" + Example("caffeine-isocratic.quarn900.toml") +
                       "' --transport direct --virtual-time --json --trace --out run");
  ASSERT_EQ(r.exitCode, 0) << r.out;
  std::istringstream lines(r.out);
  int polls = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("{\"poll\":", 0) == 0) ++polls;
  }
  EXPECT_GT(polls, 10);
  const std::string trace = Read(m_dir / "run" / "wire-trace.log");
  EXPECT_NE(trace.find("StatusReply"), std::string::npos);
}

// Ctrl-C in the middle of a run: the method is stopped, communications
// closed, the files so far kept, and the exit code says so.
TEST_F(HostCliTest, InterruptStopsTheRunCleanlyAndKeepsTheFiles) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    setenv("QUARN_REGISTRY", (m_dir / "registry.reg").c_str(), 1);
    const std::string out = (m_dir / "run").string();
    const std::string method = Example("caffeine-isocratic.quarn900.toml");
    execl(QUARN_HOST_PROGRAM, QUARN_HOST_PROGRAM, "run", method.c_str(), "--transport", "direct", "--speed", "30",
          "--json", "--out", out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string seen;
  char buffer[512];
  bool interrupted = false;
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
    seen.append(buffer, static_cast<size_t>(n));
    if (!interrupted && seen.find("{\"poll\":3,") != std::string::npos) {
      kill(child, SIGINT);
      interrupted = true;
    }
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(interrupted) << seen;
  ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal instead of stopping";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  const std::string csv = Read(m_dir / "run" / "status.csv");
  EXPECT_GE(std::count(csv.begin(), csv.end(), '\n'), 4) << csv;
  EXPECT_TRUE(fs::exists(m_dir / "run" / "status.svg"));
}

}  // namespace
