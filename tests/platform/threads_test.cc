#include "platform/win/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// The thread reports its own id.
std::atomic<DWORD> g_seenId{0};

DWORD WINAPI ReportId(LPVOID parameter) {
  g_seenId.store(GetCurrentThreadId());
  static_cast<std::atomic<bool>*>(parameter)->store(true);
  return 0;
}

TEST(ThreadsTest, NewThreadRunsWithTheIdItWasGiven) {
  std::atomic<bool> started{false};
  DWORD id = 0;
  HANDLE thread = CreateThread(nullptr, 0, ReportId, &started, 0, &id);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(CloseHandle(thread), TRUE);  // the thread runs on
  while (!started.load()) std::this_thread::yield();
  EXPECT_NE(id, 0u);
  EXPECT_EQ(g_seenId.load(), id);
  EXPECT_NE(GetCurrentThreadId(), id);
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
}

#if !defined(_WIN32)  // the system starts a thread at a null routine
TEST(ThreadsTest, NullRoutineAndNullHandleAreRefused) {
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(CloseHandle(nullptr), FALSE);
}
#endif

}  // namespace
