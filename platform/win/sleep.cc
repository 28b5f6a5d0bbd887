#include "platform/clock/clock.h"
#include "platform/win/windows.h"

void Sleep(DWORD milliseconds) { platform::Clock::Get().SleepMs(milliseconds); }
