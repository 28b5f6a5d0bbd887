// Windows kernel services used by the product, over the one clock.
//
// Contract: `Sleep` suspends the calling thread for the given milliseconds
// of clock time (platform/clock), so it costs no wall time in virtual mode.
// Threads: see platform/win/threads.h.
// Thread safety: callable from any thread.
#pragma once

#include "platform/mfc/windef.h"
#include "platform/win/registry.h"
#include "platform/win/sync.h"
#include "platform/win/threads.h"

#if defined(_WIN32)
// On Windows the system's Sleep would wait wall time whatever the clock's
// mode; the product's sleeps are the clock's there too, so a virtual-time
// run stays virtual. This is the only system name the platform layer
// replaces.
void QuarnClockSleep(DWORD milliseconds);
#define Sleep QuarnClockSleep
#else
void Sleep(DWORD milliseconds);
#endif
