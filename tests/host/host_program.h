// The host program run as a user runs it, in a folder of its own with its
// own settings file: standard output and error read together as they come.
#pragma once

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>

namespace testing_support {

namespace fs = std::filesystem;

struct Result {
  int exitCode = -1;
  std::string out;  // standard output and standard error together
};

class HostProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    GTEST_SKIP() << "runs the program through a POSIX shell and terminal";
#endif
    std::random_device rd;
    m_dir = fs::temp_directory_path() / ("quarn-host-test-" + std::to_string(rd()));
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    if (!getenv("QUARN_KEEP_TEST_FOLDER")) fs::remove_all(m_dir, ec);
  }

  // The program as a user runs it, standard output and error read together
  // as they come; on a terminal 60 columns wide when `terminal`. `signal`
  // is sent (SIGPIPE: the output closed) once the output shows `at`, by
  // default the 60th poll: the run, held back by its unread output, is on.
  // `onAt`, when given, is called then instead, with the program's process.
  Result Run(const std::string& args, int signal = 0, bool terminal = false, const char* at = "{\"poll\":60,",
             const std::function<void(int)>& onAt = nullptr) {
#if defined(_WIN32)
    (void)args, (void)signal, (void)terminal, (void)at, (void)onAt;
    return {};
#else
    const std::string command = "cd '" + m_dir.string() + "' && QUARN_REGISTRY=registry.reg exec '" +
                                QUARN_HOST_PROGRAM + "' " + args + " 2>&1";
    winsize size{24, 60, 0, 0};
    int fds[2] = {-1, -1};
    if (!terminal && pipe(fds) != 0) return {};
    const pid_t child = terminal ? forkpty(&fds[0], nullptr, nullptr, &size) : fork();
    if (child == 0) {
      if (!terminal) dup2(fds[1], 1), close(fds[0]);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (!terminal) close(fds[1]);
    Result result;
    bool fired = false;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
      result.out.append(buffer, static_cast<size_t>(n));
      if (fired || (signal == 0 && !onAt) || result.out.find(at) == std::string::npos) continue;
      fired = true;
      if (onAt) {
        onAt(child);
        continue;
      }
      if (signal == SIGPIPE) break;
      kill(child, signal);
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
#endif
  }

  // The program started, killed with SIGKILL once it has written `lines`
  // lines to standard output and `delayUs` more have passed; true when the
  // kill is what ended it (it had not finished by then).
  bool StartAndKill(const std::string& args, int lines, int delayUs) {
#if defined(_WIN32)
    (void)args, (void)lines, (void)delayUs;
    return false;
#else
    int fds[2];
    if (pipe(fds) != 0) return false;
    const std::string command = "cd '" + m_dir.string() + "' && QUARN_REGISTRY=registry.reg exec '" +
                                QUARN_HOST_PROGRAM + "' " + args + " 2>/dev/null";
    const pid_t child = fork();
    if (child == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    int seen = 0;
    char c;
    while (seen < lines && read(fds[0], &c, 1) == 1) seen += c == '\n';
    usleep(static_cast<useconds_t>(delayUs));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
#endif
  }

  fs::path Registry() const { return m_dir / "registry.reg"; }
  static std::string Example(const char* name) { return std::string(QUARN_SOURCE_DIR) + "/examples/" + name; }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path m_dir;
};

}  // namespace testing_support
