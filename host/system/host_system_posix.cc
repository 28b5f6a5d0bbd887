#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "host/system/host_system.h"

namespace host {

void CatchStopSignals(void (*onStop)(int signal)) {
  struct sigaction action{};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A file past the process's size limit (ulimit -f) stops the run as a
  // signal does: caught, the write itself fails instead of killing us.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

void* LoadedFunction(const char*, const char* name) { return dlsym(RTLD_DEFAULT, name); }

std::tm LocalTime(std::time_t time) {
  std::tm tm{};
  localtime_r(&time, &tm);
  return tm;
}

std::filesystem::path OwnProgramPath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self;
}

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

bool IsTerminal(std::FILE* file) { return isatty(fileno(file)) != 0; }

int TerminalColumns(std::FILE* file) {
  winsize size{};
  if (ioctl(fileno(file), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

TryLockFile::TryLockFile(const std::filesystem::path& file) {
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    m_error = std::strerror(errno);
    return;
  }
  m_handle = fd;
  m_bLocked = flock(fd, LOCK_EX | LOCK_NB) == 0;
}

TryLockFile::~TryLockFile() {
  if (m_handle >= 0) close(static_cast<int>(m_handle));
}

namespace {

std::FILE* Opened(int fd, std::string& error) {
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    error = std::strerror(errno);
    close(fd);
  }
  return file;
}

}  // namespace

std::FILE* CreateNewFile(const std::filesystem::path& file, std::string& error) {
  return Opened(open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644), error);
}

std::FILE* OpenToAppend(const std::filesystem::path& file, std::string& error) {
  return Opened(open(file.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC), error);
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0; }

long OwnProcessId() { return static_cast<long>(::getpid()); }

long ResidentKb() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, status)) {
    if (std::sscanf(line, "VmRSS: %ld", &kb) == 1) break;
  }
  std::fclose(status);
  return kb;
}

}  // namespace host
