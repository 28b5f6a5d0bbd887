// Windows thread services used by the product, over std::thread.
//
// Contract:
//  - CreateThread starts `start(parameter)` on a new thread at once and
//    returns a handle to it; *threadId (when given) receives the thread's
//    id, the same value GetCurrentThreadId returns on that thread. Only
//    the default security, default stack size (0) and creation flags 0 are
//    supported; other values are accepted and ignored. A null routine
//    creates nothing and returns null.
//  - The thread runs detached: closing its handle does not stop it, and a
//    thread that never returns simply lives until the process ends, as on
//    Windows. A thread must not rely on static objects that are destroyed
//    at exit while it may still be running.
//  - Thread ids are non-zero and never reused within a process.
// Thread safety: callable from any thread.
#pragma once

#include <cstddef>

#include "platform/mfc/windef.h"

#if !defined(_WIN32)  // Windows: the system's threads (windows.h)
#define WINAPI

using HANDLE = void*;
using LPVOID = void*;
using LPDWORD = DWORD*;
using SIZE_T = std::size_t;
struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(LPVOID);

HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, LPDWORD threadId);

// Releases a handle; the object it names lives on. Returns FALSE for null.
BOOL CloseHandle(HANDLE handle);

DWORD GetCurrentThreadId();
#endif  // !_WIN32

