#include <io.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "host/system/host_system.h"
#include "platform/win/system_headers.h"

namespace host {

// Windows has interrupt and terminate; a console closed under the program
// ends it, and writes to a closed pipe fail without a signal.
void CatchStopSignals(void (*onStop)(int signal)) {
  for (int signal : {SIGINT, SIGTERM}) std::signal(signal, onStop);
}

void* LoadedFunction(const char* windowsModule, const char* name) {
  const HMODULE module = GetModuleHandleA(windowsModule);
  return module ? reinterpret_cast<void*>(GetProcAddress(module, name)) : nullptr;
}

std::tm LocalTime(std::time_t time) {
  std::tm tm{};
  localtime_s(&tm, &time);
  return tm;
}

std::filesystem::path OwnProgramPath() {
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  return length == 0 || length > MAX_PATH ? std::filesystem::path() : std::filesystem::path(path);
}

void SetEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

bool IsTerminal(std::FILE* file) { return _isatty(_fileno(file)) != 0; }

int TerminalColumns(std::FILE* file) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (GetConsoleScreenBufferInfo(console, &info)) return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

TryLockFile::TryLockFile(const std::filesystem::path& file) {
  const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    m_error = std::system_category().message(static_cast<int>(GetLastError()));
    return;
  }
  m_handle = reinterpret_cast<std::intptr_t>(handle);
  OVERLAPPED whole{};
  m_bLocked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);
}

TryLockFile::~TryLockFile() {
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

namespace {

// A file handle of `file` opened as asked, as a C stream; a link at the
// name (a reparse point) is opened as itself, and so refused.
std::FILE* Opened(const std::filesystem::path& file, DWORD disposition, DWORD access, std::string& error) {
  const HANDLE handle = CreateFileW(file.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = std::system_category().message(static_cast<int>(GetLastError()));
    return nullptr;
  }
  if (GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) {
    CloseHandle(handle);
    error = "it is a link";
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), 0);
  std::FILE* stream = fd < 0 ? nullptr : _fdopen(fd, access == FILE_APPEND_DATA ? "ab" : "wb");
  if (!stream) {
    error = "cannot open it as a stream";
    if (fd >= 0) _close(fd); else CloseHandle(handle);
  }
  return stream;
}

}  // namespace

std::FILE* CreateNewFile(const std::filesystem::path& file, std::string& error) {
  return Opened(file, CREATE_NEW, GENERIC_WRITE, error);
}

std::FILE* OpenToAppend(const std::filesystem::path& file, std::string& error) {
  return Opened(file, OPEN_EXISTING, FILE_APPEND_DATA, error);
}

bool SyncFile(std::FILE* file) { return std::fflush(file) == 0 && _commit(_fileno(file)) == 0; }

// Not read on Windows: the memory figures are a Linux soak's.
long ResidentKb() { return 0; }

long OwnProcessId() { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace host
