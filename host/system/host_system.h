// What the host program needs from the operating system, one call each,
// so that the program itself reads the same on POSIX systems and Windows.
//
// Contract:
//  - CatchStopSignals: interrupt and terminate (and, where they exist, a
//    closed terminal) call `onStop(signal)`; a closed output pipe does not
//    end the program (the next write fails instead).
//  - OwnProgramPath: the running program's file, or empty when unknown.
//  - SetEnvironment: sets a variable for this process and its children.
//  - IsTerminal / TerminalColumns: whether `file` is a terminal, and its
//    width (80 when unknown).
//  - kOutputClosed: the stop cause of a closed output pipe (SIGPIPE's
//    number, also where the system has no such signal).
//  - LocalTime: the broken-down local time.
//  - CreateNewFile / OpenToAppend: a file for writing, binary, never
//    reached through a link: CreateNewFile makes it, and fails when
//    anything is at its name already; OpenToAppend takes an ordinary file
//    that is there. Null with `error` set when they cannot.
//  - TryLockFile: an exclusive lock on `file` (created when missing, never
//    through a link), taken
//    without waiting and held until the object goes; Locked() tells
//    whether it was had, Error() why not ("" when another holder has it).
//  - LoadedFunction: the function `name` exported by a library this
//    process has already loaded (on Windows, by the loaded `windowsModule`),
//    or null; it never loads a library.
// Thread safety: call from the program's main thread.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace host {

#if defined(SIGPIPE)
inline constexpr int kOutputClosed = SIGPIPE;
#else
inline constexpr int kOutputClosed = 13;
#endif

void CatchStopSignals(void (*onStop)(int signal));
std::tm LocalTime(std::time_t time);
std::filesystem::path OwnProgramPath();
void SetEnvironment(const char* name, const std::string& value);
void* LoadedFunction(const char* windowsModule, const char* name);
bool IsTerminal(std::FILE* file);
// Flushes `file` and asks the system to put it on the disk; false on failure.
bool SyncFile(std::FILE* file);
// The resident memory of this process, kB (0 where it cannot be read).
long ResidentKb();
// This process's identifier, as the system's tools show it.
long OwnProcessId();
int TerminalColumns(std::FILE* file);
std::FILE* CreateNewFile(const std::filesystem::path& file, std::string& error);
std::FILE* OpenToAppend(const std::filesystem::path& file, std::string& error);

class TryLockFile {
 public:
  explicit TryLockFile(const std::filesystem::path& file);
  ~TryLockFile();
  TryLockFile(const TryLockFile&) = delete;
  TryLockFile& operator=(const TryLockFile&) = delete;

  bool Locked() const { return m_bLocked; }
  const std::string& Error() const { return m_error; }

 private:
  std::intptr_t m_handle = -1;
  bool m_bLocked = false;
  std::string m_error;
};

}  // namespace host
