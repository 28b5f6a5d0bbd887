// Where the registry file lives on Windows, and its lock.
#include <windows.h>

#include <cstdlib>
#include <system_error>

#include "platform/win/registry.h"

namespace platform {

std::filesystem::path DefaultRegistryPath() {
  if (const char* env = std::getenv("QUARN_REGISTRY"); env && *env) return env;
  if (const char* appData = std::getenv("APPDATA"); appData && *appData) {
    return std::filesystem::path(appData) / "QuarnControl" / "registry.reg";
  }
  return std::filesystem::path("quarncontrol-registry.reg");
}

RegistryFileLock::RegistryFileLock(const std::filesystem::path& lockFile) : m_handle(-1) {
  HANDLE file = CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw RegistryError("cannot lock the registry file: cannot open " + lockFile.string() + ": " +
                        std::system_category().message(static_cast<int>(GetLastError())));
  }
  OVERLAPPED whole{};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = GetLastError();
    CloseHandle(file);
    throw RegistryError("cannot lock the registry file " + lockFile.string() + ": " +
                        std::system_category().message(static_cast<int>(error)));
  }
  m_handle = reinterpret_cast<std::intptr_t>(file);
}

RegistryFileLock::~RegistryFileLock() {
  // Closing the handle releases the lock.
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

}  // namespace platform
