// Windows synchronisation services used by the product: critical sections
// and waits on kernel objects.
//
// Contract:
//  - A CRITICAL_SECTION is recursive, as on Windows: the owning thread may
//    enter it again and must leave it as often. InitializeCriticalSection
//    makes it usable, DeleteCriticalSection frees it; entering a deleted or
//    never initialised section is undefined, as on Windows.
//  - WaitForSingleObject waits on a handle whose object is a Waitable; the
//    time-out is clock time (platform/clock). A null handle or an object
//    that cannot be waited on gives WAIT_FAILED.
// Thread safety: callable from any thread.
#pragma once

#include "platform/mfc/windef.h"
#include "platform/win/threads.h"

#if !defined(_WIN32)
#include "platform/win/kernel_object.h"
#endif

#if !defined(_WIN32)  // Windows: the system's critical sections and waits (windows.h)
struct RTL_CRITICAL_SECTION {
  void* impl = nullptr;  // the stand-in's lock, made by InitializeCriticalSection
};
using CRITICAL_SECTION = RTL_CRITICAL_SECTION;
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

namespace platform {

// A kernel object that WaitForSingleObject can wait on.
class Waitable : public KernelObject {
 public:
  // Waits up to `ms` clock milliseconds (INFINITE: no limit) for the
  // object to be signalled; returns WAIT_OBJECT_0 or WAIT_TIMEOUT.
  virtual DWORD Wait(DWORD ms) = 0;
};

}  // namespace platform
#endif  // !_WIN32
