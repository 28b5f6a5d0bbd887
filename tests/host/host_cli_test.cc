// The host program as a user runs it: exit codes, messages and the files
// of a run folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

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

}  // namespace
