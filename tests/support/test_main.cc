// The test programs' main. On Windows, GoogleTest starts a thread of its
// own (a watcher of the main thread) the first time a test reports a
// result part: a failure, or a skip. A program whose only test skips at
// once would end while that thread is still starting, and a process that
// ends then can crash in wine's teardown after its verdict. So the thread
// is started here, before any test, and the program goes on only once it
// has started (the loader has told the program of it).
#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>

#include <objbase.h>

#include <atomic>

namespace {

std::atomic<int> g_threadsStarted{0};

void NTAPI CountThreadStart(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH) g_threadsStarted.fetch_add(1);
}

// Run by the loader for every thread that starts, once it has started.
extern "C" __attribute__((section(".CRT$XLF"), used)) const PIMAGE_TLS_CALLBACK quarn_count_thread_start =
    CountThreadStart;

void StartGoogleTestsWatcher() {
  const int before = g_threadsStarted.load();
  testing::TestPartResultArray ignored;
  { testing::ScopedFakeTestPartResultReporter reporter(&ignored); }
  // Started within milliseconds; the limit only keeps a program whose
  // GoogleTest starts no thread from waiting for ever.
  for (int ms = 0; g_threadsStarted.load() == before && ms < 5000; ++ms) Sleep(1);
}

}  // namespace
#endif

int main(int argc, char** argv) {
  testing::InitGoogleMock(&argc, argv);
#if defined(_WIN32)
  // The simulators' threads and the tests share one apartment, so that
  // objects made on one thread may be called from any.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  StartGoogleTestsWatcher();
#endif
  return RUN_ALL_TESTS();
}
