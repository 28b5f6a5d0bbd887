#include "platform/win/threads.h"

#include <atomic>
#include <thread>

#include "platform/win/kernel_object.h"

namespace {

// The object behind a thread handle: only the id is needed here.
class ThreadObject final : public platform::KernelObject {
 public:
  explicit ThreadObject(DWORD id) : m_dwId(id) {}
  DWORD Id() const { return m_dwId; }

 private:
  DWORD m_dwId;
};

std::atomic<DWORD> g_nextThreadId{0x1001};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() { return g_nextThreadId.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD threadId) {
  if (!start) return nullptr;
  const DWORD id = NewThreadId();
  platform::KernelObject* handle = new ThreadObject(id);
  std::thread([start, parameter, id] {
    t_threadId = id;
    start(parameter);
  }).detach();
  if (threadId) *threadId = id;
  return handle;
}

BOOL CloseHandle(HANDLE handle) {
  if (!handle) return FALSE;
  delete static_cast<platform::KernelObject*>(handle);
  return TRUE;
}

DWORD GetCurrentThreadId() {
  if (t_threadId == 0) t_threadId = NewThreadId();
  return t_threadId;
}
