// Where the registry file lives on POSIX systems, and its lock.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/win/registry.h"

namespace platform {

std::filesystem::path DefaultRegistryPath() {
  if (const char* env = std::getenv("QUARN_REGISTRY"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "quarncontrol" / "registry.reg";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::filesystem::path(home) / ".local" / "share" / "quarncontrol" / "registry.reg";
  }
  return std::filesystem::path("quarncontrol-registry.reg");
}

RegistryFileLock::RegistryFileLock(const std::filesystem::path& lockFile) : m_handle(-1) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw RegistryError("cannot lock the registry file: cannot open " + lockFile.string() + ": " +
                        SystemReason(errno));
  }
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    throw RegistryError("cannot lock the registry file " + lockFile.string() + ": " + SystemReason(error));
  }
  m_handle = fd;
}

RegistryFileLock::~RegistryFileLock() {
  // Closing the file releases the lock.
  if (m_handle >= 0) ::close(static_cast<int>(m_handle));
}

}  // namespace platform
