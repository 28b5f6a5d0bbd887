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

void Sleep(DWORD milliseconds);
