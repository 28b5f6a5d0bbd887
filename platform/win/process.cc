// Starting programs on POSIX systems behind the Windows process functions.
#include "platform/win/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/clock/clock.h"
#include "platform/win/registry.h"

extern char** environ;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What is known of one child: shared by its handles and the thread that
// collects its status, so either may go first.
struct ChildState {
  std::mutex mutex;
  std::condition_variable ended;
  bool hasEnded = false;
  bool statusKnown = false;
  DWORD exitCode = 0;
};

// The object behind both handles of a child (the thread handle is signalled
// with the process, as a process's only thread would be).
class ChildHandle final : public platform::Waitable {
 public:
  ChildHandle(std::shared_ptr<ChildState> state, bool isProcess)
      : m_state(std::move(state)), m_bIsProcess(isProcess) {}

  DWORD Wait(DWORD ms) override {
    std::unique_lock<std::mutex> lock(m_state->mutex);
    const std::int64_t limit = ms == INFINITE ? platform::Clock::kNoLimit : static_cast<std::int64_t>(ms);
    const bool ended =
        platform::Clock::Get().OutsideWaitFor(lock, m_state->ended, limit, [this] { return m_state->hasEnded; });
    return ended ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

  bool IsProcess() const { return m_bIsProcess; }
  ChildState& State() { return *m_state; }

 private:
  std::shared_ptr<ChildState> m_state;
  bool m_bIsProcess;
};

// Collects the child's status as soon as it ends, so that it never stays a
// zombie, whether or not anyone still holds a handle.
void CollectWhenEnded(pid_t pid, const std::shared_ptr<ChildState>& state) {
  int status = 0;
  pid_t result = 0;
  do {
    result = ::waitpid(pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  std::lock_guard<std::mutex> lock(state->mutex);
  state->hasEnded = true;
  if (result == pid && WIFEXITED(status)) {
    state->statusKnown = true;
    state->exitCode = static_cast<DWORD>(WEXITSTATUS(status));
  } else if (result == pid && WIFSIGNALED(status)) {
    state->statusKnown = true;
    state->exitCode = static_cast<DWORD>(128 + WTERMSIG(status));
  }
  state->ended.notify_all();
}

// The caller's environment with QUARN_REGISTRY naming the caller's registry.
std::vector<std::string> ChildEnvironment() {
  static constexpr std::string_view kRegistry = "QUARN_REGISTRY=";
  std::vector<std::string> env;
  for (char** entry = environ; entry && *entry; ++entry) {
    if (std::string_view(*entry).substr(0, kRegistry.size()) != kRegistry) env.emplace_back(*entry);
  }
  env.push_back(std::string(kRegistry) + platform::Registry::Get().FilePath().string());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts `program` with `argv`; the child's id, or -1 when it cannot start.
pid_t Spawn(const std::string& program, std::vector<std::string> argv) {
  const bool searchPath = program.find('/') == std::string::npos;
  if (!searchPath && ::access(program.c_str(), X_OK) != 0) return -1;
  std::vector<std::string> env = ChildEnvironment();
  std::vector<char*> argPointers = Pointers(argv);
  std::vector<char*> envPointers = Pointers(env);

  posix_spawnattr_t attributes;
  if (posix_spawnattr_init(&attributes) != 0) return -1;
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int error = searchPath ? posix_spawnp(&pid, program.c_str(), nullptr, &attributes, argPointers.data(),
                                              envPointers.data())
                               : posix_spawn(&pid, program.c_str(), nullptr, &attributes, argPointers.data(),
                                             envPointers.data());
  posix_spawnattr_destroy(&attributes);
  return error == 0 ? pid : -1;
}

// Splits the words after the program: blanks separate, double quotes group
// and are removed, \" is a quote.
std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < text.size() && (quoted || !IsBlank(text[i])); ++i) {
      if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '"') {
        word += '"';
        ++i;
      } else if (text[i] == '"') {
        quoted = !quoted;
      } else {
        word += text[i];
      }
    }
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace

namespace platform {

CommandLine ParseCommandLine(std::string_view line) {
  std::size_t start = 0;
  while (start < line.size() && IsBlank(line[start])) ++start;
  line.remove_prefix(start);
  CommandLine result;
  std::size_t rest = 0;
  if (!line.empty() && line.front() == '"') {
    const std::size_t close = line.find('"', 1);
    result.program = std::string(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    rest = close == std::string_view::npos ? line.size() : close + 1;
  } else {
    std::size_t end = 0;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    result.program = std::string(line.substr(0, end));
    rest = end;
  }
  std::replace(result.program.begin(), result.program.end(), '\\', '/');
  result.arguments = SplitArguments(line.substr(rest));
  return result;
}

}  // namespace platform

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpProcessInformation || (!lpApplicationName && !lpCommandLine)) return FALSE;
  const platform::CommandLine line = platform::ParseCommandLine(lpCommandLine ? lpCommandLine : "");
  std::string program = line.program;
  std::vector<std::string> argv{line.program};
  if (lpApplicationName) {
    program = lpApplicationName;
    std::replace(program.begin(), program.end(), '\\', '/');
    if (!lpCommandLine) argv = {program};
  }
  if (program.empty()) return FALSE;
  argv.insert(argv.end(), line.arguments.begin(), line.arguments.end());

  const pid_t pid = Spawn(program, std::move(argv));
  if (pid < 0) return FALSE;
  auto state = std::make_shared<ChildState>();
  try {
    std::thread(CollectWhenEnded, pid, state).detach();
  } catch (const std::system_error&) {
    // Without a thread to collect it the child cannot be watched: stop it.
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return FALSE;
  }
  lpProcessInformation->hProcess = static_cast<platform::KernelObject*>(new ChildHandle(state, true));
  lpProcessInformation->hThread = static_cast<platform::KernelObject*>(new ChildHandle(state, false));
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  auto* handle = dynamic_cast<ChildHandle*>(static_cast<platform::KernelObject*>(hProcess));
  if (!hProcess || !handle || !handle->IsProcess() || !lpExitCode) return FALSE;
  ChildState& state = handle->State();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.hasEnded) {
    *lpExitCode = STILL_ACTIVE;
    return TRUE;
  }
  if (!state.statusKnown) return FALSE;
  *lpExitCode = state.exitCode;
  return TRUE;
}
