#include "platform/win/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "platform/clock/clock.h"
#include "platform/inlet/inlet.h"
#include "tests/support/test_world.h"

namespace {

constexpr const char* kAppIdPath = "SOFTWARE\\Classes\\AppID\\TavixServer.EXE\\AppID";

class ProcessTest : public testing_support::TestWorld {
 protected:
  // Starts `line` as the plug-in does.
  BOOL Start(std::string line) {
    STARTUPINFOA startup;
    startup.cb = 68;
    startup.dwFlags = STARTF_USEPOSITION;
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                          &startup, &m_info);
  }
  DWORD ExitCode() {
    DWORD code = 12345;
    EXPECT_TRUE(GetExitCodeProcess(m_info.hProcess, &code));
    return code;
  }
  void TearDown() override {
    if (m_info.hProcess) CloseHandle(m_info.hProcess);
    if (m_info.hThread) CloseHandle(m_info.hThread);
    TestWorld::TearDown();
  }

  PROCESS_INFORMATION m_info;
};

TEST_F(ProcessTest, MissingProgramStartsNothing) {
  EXPECT_FALSE(Start("\"" + TempDir().string() + "\\TavixServer.exe\" /Regserver"));
  EXPECT_EQ(m_info.hProcess, nullptr);
}

TEST_F(ProcessTest, RegistrationInAFolderWithBlanksIsReadableAfterTheWait) {
  const std::filesystem::path dir = TempDir() / "Korvatec Data";
  std::filesystem::create_directories(dir);
  std::filesystem::create_symlink(std::filesystem::path(QUARN_TAVIX_SERVER_DIR) / "TavixServer.exe",
                                  dir / "TavixServer.exe");
  CString value;
  ASSERT_EQ(ReadRegistryFullPath(kAppIdPath, value, HKEY_LOCAL_MACHINE), 0);

  ASSERT_TRUE(Start("\"" + dir.string() + "\\TavixServer.exe\" /Regserver"));
  EXPECT_EQ(WaitForSingleObject(m_info.hProcess, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(), 0u);
  ASSERT_EQ(ReadRegistryFullPath(kAppIdPath, value, HKEY_LOCAL_MACHINE), 1);
  EXPECT_EQ(value, "{3F6A2C71-8E4B-4D19-B5A0-7C2E9D14F860}");
  // Already collected: no zombie is left.
  errno = 0;
  EXPECT_EQ(::waitpid(static_cast<pid_t>(m_info.dwProcessId), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  // The thread handle is signalled with the process but is no process.
  EXPECT_EQ(WaitForSingleObject(m_info.hThread, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_FALSE(GetExitCodeProcess(m_info.hThread, &code));
}

TEST_F(ProcessTest, RegistrationProgramSwitches) {
  const struct {
    const char* arguments;
    DWORD exitCode;
    int registered;
  } cases[] = {{"-REGSERVER", 0, 1}, {"/UnregServer", 0, 0}, {"/Regsvr", 2, 0}, {"", 2, 0}, {"/Regserver x", 2, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    ASSERT_TRUE(Start("\"" QUARN_TAVIX_SERVER_DIR "/TavixServer.exe\" " + std::string(c.arguments)));
    EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCode(), c.exitCode);
    CString value;
    EXPECT_EQ(ReadRegistryFullPath(kAppIdPath, value, HKEY_LOCAL_MACHINE), c.registered);
    CloseHandle(m_info.hProcess);
    CloseHandle(m_info.hThread);
    m_info = {};
  }
}

TEST_F(ProcessTest, HungProgramTimesOutAfterTenClockSecondsAndLittleWallTime) {
  const auto wallStart = std::chrono::steady_clock::now();
  ASSERT_TRUE(Start("\"\\bin\\sleep\" 30"));
  EXPECT_EQ(WaitForSingleObject(m_info.hProcess, 10000), WAIT_TIMEOUT);
  EXPECT_EQ(platform::Clock::Get().NowMs(), 10000);
  EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::seconds(4));
  EXPECT_EQ(ExitCode(), STILL_ACTIVE);

  ::kill(static_cast<pid_t>(m_info.dwProcessId), SIGKILL);
  EXPECT_EQ(WaitForSingleObject(m_info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(ExitCode(), 128u + SIGKILL);
}

TEST(ParseCommandLineTest, TakesProgramAndArgumentsApart) {
  const struct {
    const char* line;
    const char* program;
    std::vector<std::string> arguments;
  } cases[] = {
      {"\"C:\\Program Files\\Korvatec\\TavixServer.exe\" /Regserver", "C:/Program Files/Korvatec/TavixServer.exe",
       {"/Regserver"}},
      {" \tdir\\x.exe a\t\"b c\"  d\\\"e ", "dir/x.exe", {"a", "b c", "d\"e"}},
      {"\"/no closing quote", "/no closing quote", {}},
      {"   ", "", {}},
  };
  for (const auto& c : cases) {
    const platform::CommandLine parsed = platform::ParseCommandLine(c.line);
    EXPECT_EQ(parsed.program, c.program) << c.line;
    EXPECT_EQ(parsed.arguments, c.arguments) << c.line;
  }
}

}  // namespace
