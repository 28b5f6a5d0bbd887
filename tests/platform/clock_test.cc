#include "platform/clock/clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/inlet/inlet.h"
#include "platform/win/windows.h"

namespace {

using platform::Clock;

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override { Clock::Get().ResetForTesting(); }
  void TearDown() override { Clock::Get().ResetForTesting(); }
  std::mutex m;
  std::condition_variable cv;
};

// Records the times it is driven to and the clock's time it reads then;
// has work due at the times in `due`, each dropped once reached.
class RecordingDriver final : public Clock::Driver {
 public:
  void AdvanceTo(std::int64_t nowMs) override {
    times.push_back(nowMs);
    read.push_back(Clock::Get().NowMs());
    threads.push_back(std::this_thread::get_id());
    while (!due.empty() && due.front() <= nowMs) due.erase(due.begin());
  }
  std::int64_t NextDueMs() override { return due.empty() ? kNothingDue : due.front(); }
  std::vector<std::int64_t> due, times, read;
  std::vector<std::thread::id> threads;
};

TEST_F(ClockTest, SleepPauseAndRunTimeClockShareOneVirtualTime) {
  const crt::clock_t t0 = crt::clock();
  Sleep(60000);
  Pause(1000, 1);
  Clock::Get().SleepMs(-5);  // negative sleeps count as none
  EXPECT_EQ(Clock::Get().NowMs(), 61000);
  EXPECT_EQ(crt::clock() - t0, 61000);
}

TEST_F(ClockTest, VirtualSleepStopsWhereverADriverHasSomethingDue) {
  // Work due at 250 and 250 again (the second is ignored: a driver cannot
  // hold the clock), then at 700; each read of the clock sees its time.
  // A driver added twice is driven once; one removed is driven no more.
  RecordingDriver driver, plain;
  driver.due = {250, 700};
  Clock::Get().AddDriver(&driver);
  Clock::Get().AddDriver(&plain), Clock::Get().AddDriver(&plain);
  Sleep(500), Sleep(500);
  Clock::Get().RemoveDriver(&driver), Clock::Get().RemoveDriver(&plain);
  Sleep(1);
  EXPECT_EQ(driver.times, (std::vector<std::int64_t>{250, 500, 700, 1000}));
  EXPECT_EQ(driver.read, driver.times);
  EXPECT_EQ(plain.times, (std::vector<std::int64_t>{250, 500, 700, 1000}));
}

TEST_F(ClockTest, DriverDueInThePastIsAdvancedAtOnce) {
  RecordingDriver late;
  late.due = {0};
  Sleep(100);
  Clock::Get().AddDriver(&late);
  Sleep(100);
  EXPECT_EQ(late.times, (std::vector<std::int64_t>{100, 200}));
  Clock::Get().RemoveDriver(&late);
}

TEST_F(ClockTest, VirtualTimedWaitTimesOutInVirtualTime) {
  std::unique_lock<std::mutex> lock(m);
  EXPECT_FALSE(Clock::Get().WaitFor(lock, cv, 10000, [] { return false; }));
  EXPECT_GE(Clock::Get().NowMs(), 10000);
}

TEST_F(ClockTest, VirtualTimedWaitEndsWhenAStepMakesThePredicateTrue) {
  // A driver standing for a simulator that answers after 300 ms.
  class Answerer final : public Clock::Driver {
   public:
    void AdvanceTo(std::int64_t nowMs) override { answered = answered || nowMs >= 300; }
    bool answered = false;
  } answerer;
  Clock::Get().AddDriver(&answerer);
  Clock::Get().SetVirtualWaitQuantumMs(100);
  std::unique_lock<std::mutex> lock(m);
  EXPECT_TRUE(Clock::Get().WaitFor(lock, cv, 5000, [&] { return answerer.answered; }));
  EXPECT_EQ(Clock::Get().NowMs(), 300);
  Clock::Get().RemoveDriver(&answerer);
}

TEST_F(ClockTest, ABackgroundWaitInVirtualTimeNeverMovesTheClock) {
  bool done = false;
  std::thread worker([&] {
    std::lock_guard<std::mutex> hold(m);
    done = true;
    cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(m);
  EXPECT_TRUE(Clock::Get().BackgroundWaitFor(lock, cv, 10000, [&] { return done; }));
  EXPECT_EQ(Clock::Get().NowMs(), 0);
  lock.unlock();
  worker.join();
}

TEST_F(ClockTest, ScaledTimeRunsFasterThanWallTime) {
  Clock::Get().UseScaled(1000.0);
  const std::int64_t start = Clock::Get().NowMs();
  const auto wallStart = std::chrono::steady_clock::now();
  Clock::Get().SleepMs(2000);  // 2 ms of wall time
  const std::chrono::duration<double, std::milli> wall = std::chrono::steady_clock::now() - wallStart;
  const std::int64_t advanced = Clock::Get().NowMs() - start;  // read outside the wall time measured
  EXPECT_GE(advanced, 2000);
  EXPECT_GE(static_cast<double>(advanced + 1), 1000.0 * wall.count());
}

TEST_F(ClockTest, AHandedOverSleepGoesOnWhereHandedAndComesBackForOthersWork) {
  // Work due every 100 ms that a taker thread must handle (as the plug-in's
  // receiving thread handles replies): the sleep is handed to it, it moves
  // the clock on through its own stops, and hands the sleep back where
  // another driver's work is due (250), which then runs on the sleeper.
  class Handing final : public Clock::Driver {
   public:
    void AdvanceTo(std::int64_t) override {}
    std::int64_t NextDueMs() override { return next; }
    bool AdvanceOrHandOver(std::int64_t nowMs) override {
      if (nowMs < next) return false;
      handedBy.emplace_back(nowMs, std::this_thread::get_id() == sleeper);
      next += 100;
      ++jobs;
      return true;
    }
    std::thread::id sleeper = std::this_thread::get_id();
    std::int64_t next = 100;
    std::vector<std::pair<std::int64_t, bool>> handedBy;
    std::atomic<int> jobs{0};
  } handing;
  std::thread taker([&] {
    for (int handed = 0; handed < 4; ++handed) {
      while (handing.jobs.load() == handed) std::this_thread::yield();
      // Slower than the sleeper's watch before it waits, so that it really
      // waits, and wakes only when the sleep is handed back or over.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      Clock::Get().ContinueSleep();
    }
  });
  RecordingDriver other;
  other.due = {250};
  Clock::Get().AddDriver(&handing);
  Clock::Get().AddDriver(&other);
  Clock::Get().SleepMs(450);
  taker.join();
  EXPECT_EQ(handing.handedBy,
            (std::vector<std::pair<std::int64_t, bool>>{{100, true}, {200, false}, {300, true}, {400, false}}));
  const auto at250 = std::find(other.times.begin(), other.times.end(), 250) - other.times.begin();
  EXPECT_EQ(other.threads.at(static_cast<std::size_t>(at250)), handing.sleeper);
  EXPECT_EQ(Clock::Get().NowMs(), 450);
}

}  // namespace
