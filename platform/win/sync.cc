#include "platform/win/sync.h"

#include <mutex>

namespace {
std::recursive_mutex* Impl(LPCRITICAL_SECTION section) { return static_cast<std::recursive_mutex*>(section->impl); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) { section->impl = new std::recursive_mutex(); }
void EnterCriticalSection(LPCRITICAL_SECTION section) { Impl(section)->lock(); }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { Impl(section)->unlock(); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  delete Impl(section);
  section->impl = nullptr;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* object = dynamic_cast<platform::Waitable*>(static_cast<platform::KernelObject*>(handle));
  if (!handle || !object) return WAIT_FAILED;
  return object->Wait(milliseconds);
}
