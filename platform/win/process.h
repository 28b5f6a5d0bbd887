// Windows process services used by the product: starting a program and
// waiting for it (WaitForSingleObject on the process handle, in clock
// time), as on Windows.
//
// Contract (stand-in): CreateProcessA takes the program from the command
// line when no application name is given: a double-quoted first word, or
// the text up to the first blank; the rest are the program's arguments,
// split at blanks. Backslashes in the program's path count as path
// separators. It returns FALSE (and starts nothing) when the program
// cannot be started. The process handle is a platform::Waitable that is
// signalled when the program exits; CloseHandle frees it without stopping
// the program. Creation flags, security attributes, environment and
// start-up information are accepted and not used.
//  - Details of the command line (ParseCommandLine): blanks are spaces and
//    tabs; an argument may be double-quoted to hold blanks, the quotes are
//    removed and \" stands for a quote; a first word whose quote is never
//    closed runs to the end of the line. A program without a folder is
//    searched for in PATH. With an application name, that is the program
//    and the command line's words after the first are its arguments.
//  - The child inherits the caller's environment and current folder, and
//    sees the caller's registry: QUARN_REGISTRY is set to the file the
//    caller's registry stand-in uses, as every process on Windows shares
//    the one registry. Signals start at their defaults in the child.
//  - lpProcessInformation receives the process handle, a thread handle
//    (signalled with the process; CloseHandle takes it, GetExitCodeProcess
//    does not), the process id and, as thread id, the same number (the id
//    of a process's first thread). Both handles must be closed.
//  - Waiting: WaitForSingleObject(hProcess, ms) waits ms of clock time. A
//    program runs in wall time, so in virtual time the wait follows the
//    clock's rule for the outside world (Clock::OutsideWaitFor): the clock
//    moves in steps of 100 ms, each granting the program up to 100 ms of
//    wall time. A program is seen ending at the end of the step it ended
//    in; a hung one times out after its limit in clock time, which has
//    then also passed in wall time. In real and scaled time
//    the wait is the clock's own timed wait.
//  - GetExitCodeProcess gives STILL_ACTIVE while the program runs, its
//    exit status once it has ended, and 128 + the signal number when a
//    signal ended it; FALSE for a handle that is not a process, and when
//    the status was lost (the caller's own code reaped the child).
//  - No child is left a zombie: a thread started with the child collects
//    its status the moment it ends, also after both handles are closed.
// A Windows build uses the system's functions instead of this stand-in.
#pragma once

#include "platform/mfc/windef.h"
#include "platform/win/sync.h"

#include <string>
#include <string_view>
#include <vector>

#if !defined(_WIN32)  // Windows: the system's CreateProcessA (windows.h)
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct STARTUPINFOA {
  DWORD cb = 0;
  LPSTR lpReserved = nullptr;
  LPSTR lpDesktop = nullptr;
  LPSTR lpTitle = nullptr;
  DWORD dwX = 0;
  DWORD dwY = 0;
  DWORD dwXSize = 0;
  DWORD dwYSize = 0;
  DWORD dwXCountChars = 0;
  DWORD dwYCountChars = 0;
  DWORD dwFillAttribute = 0;
  DWORD dwFlags = 0;
  WORD wShowWindow = 0;
  WORD cbReserved2 = 0;
  BYTE* lpReserved2 = nullptr;
  HANDLE hStdInput = nullptr;
  HANDLE hStdOutput = nullptr;
  HANDLE hStdError = nullptr;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
  HANDLE hProcess = nullptr;
  HANDLE hThread = nullptr;
  DWORD dwProcessId = 0;
  DWORD dwThreadId = 0;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

inline constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
inline constexpr DWORD STARTF_USEPOSITION = 0x00000004;
inline constexpr DWORD STILL_ACTIVE = 259;

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                    LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                    LPPROCESS_INFORMATION lpProcessInformation);
BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode);

namespace platform {

// A command line taken apart as CreateProcessA does: the program (its
// backslashes turned into slashes) and the arguments after it.
struct CommandLine {
  std::string program;
  std::vector<std::string> arguments;
};
CommandLine ParseCommandLine(std::string_view commandLine);

}  // namespace platform
#endif  // !_WIN32

