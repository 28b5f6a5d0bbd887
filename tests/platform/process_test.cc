#include "platform/win/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"
#include "tests/support/test_world.h"

namespace {

const std::string kServer = "\"" QUARN_TAVIX_SERVER_DIR "\\TavixServer.exe\" ";

class ProcessTest : public testing_support::TestWorld {
 protected:
  // Starts `line` as the plug-in does.
  BOOL Start(std::string line) {
    STARTUPINFOA startup;
    startup.cb = 68, startup.dwFlags = STARTF_USEPOSITION;
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                          &startup, &m_info);
  }
  DWORD ExitCode() {
    DWORD code = 12345;
    EXPECT_TRUE(GetExitCodeProcess(m_info.hProcess, &code));
    return code;
  }
  void Close() {
    if (m_info.hProcess) CloseHandle(m_info.hProcess);
    if (m_info.hThread) CloseHandle(m_info.hThread);
    m_info = {};
  }
  void TearDown() override {
    Close();
    TestWorld::TearDown();
  }

  PROCESS_INFORMATION m_info;
};

// Each run sees the registry in use here (not an older setting in the
// environment) and is collected by the wait: no zombie is left.
TEST_F(ProcessTest, RegistrationProgramSwitches) {
  const std::pair<const char*, const char*> cases[] = {{"-REGSERVER", "0 {3F6A2C71-8E4B-4D19-B5A0-7C2E9D14F860}"},
                                                       {"/UnregServer", "0 "}, {"/RegServers", "2 "}, {"", "2 "},
                                                       {"/Regserver x", "2 "}};
  for (auto [arguments, outcome] : cases) {
    testing_support::SetEnv("QUARN_REGISTRY", (TempDir() / "other.reg").string());
    ASSERT_TRUE(Start(kServer + arguments));
    testing_support::UnsetEnv("QUARN_REGISTRY");
    EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), WAIT_OBJECT_0);
    CString value;
    ReadRegistryFullPath(kTavixServerAppIdPath, value, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(std::to_string(ExitCode()) + " " + value.str(), outcome) << arguments;
    EXPECT_EQ(::waitpid(static_cast<pid_t>(m_info.dwProcessId), nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(WaitForSingleObject(m_info.hThread, 0), WAIT_OBJECT_0);
    Close();
  }
  // A registry it cannot write: it says why (on stderr) and exits 1.
  std::filesystem::create_directory(TempDir() / "folder.reg");
  platform::Registry::UseFileForTesting(TempDir() / "folder.reg");
  ASSERT_TRUE(Start(kServer + "/RegServer"));
  EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(), 1u);
}

// Another program is given the wall time its limit covers, not less: a
// slow start on a loaded machine is not taken for a hang.
TEST_F(ProcessTest, HungProgramTimesOutAfterItsLimitInClockAndWallTime) {
  const auto wallStart = std::chrono::steady_clock::now();
  ASSERT_TRUE(Start("\"\\bin\\sleep\" 30"));
  EXPECT_EQ(WaitForSingleObject(m_info.hProcess, 1500), WAIT_TIMEOUT);
  EXPECT_EQ(platform::Clock::Get().NowMs(), 1500);
  EXPECT_GE(std::chrono::steady_clock::now() - wallStart, std::chrono::milliseconds(1500));
  EXPECT_EQ(ExitCode(), STILL_ACTIVE);
  ::kill(static_cast<pid_t>(m_info.dwProcessId), SIGKILL);
  EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(), 128u + SIGKILL);
}

TEST(ParseCommandLineTest, TakesProgramAndArgumentsApart) {
  // Each case: the line, then the program and its arguments.
  const std::vector<std::vector<std::string>> cases = {
      {"\"C:\\Program Files\\TavixServer.exe\" /Regserver", "C:/Program Files/TavixServer.exe", "/Regserver"},
      {" \tdir\\x.exe a\t\"b c\"  d\\\"e ", "dir/x.exe", "a", "b c", "d\"e"},
      {"\"/no closing quote", "/no closing quote"},
      {"   ", ""}};
  for (const auto& c : cases) {
    const platform::CommandLine parsed = platform::ParseCommandLine(c[0]);
    EXPECT_EQ(parsed.program, c[1]) << c[0];
    EXPECT_EQ(parsed.arguments, std::vector<std::string>(c.begin() + 2, c.end())) << c[0];
  }
}

}  // namespace
