// Faults at a clock time. (The blocked line the pump fault uses is held by
// the fault matrix on both transports, tests/transport.)
#include "sim/fault_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(FaultScheduleTest, ActionsRunAtTheirExactClockTimeInTheOrderGiven) {
  platform::Clock& clock = platform::Clock::Get();
  clock.ResetForTesting();
  sim::FaultSchedule& schedule = sim::FaultSchedule::Get();
  schedule.ResetForTesting();
  std::vector<std::string> log;
  const auto note = [&](const char* what) { return [&, what] { log.push_back(what + std::to_string(clock.NowMs())); }; };
  const int late = schedule.At(1500, note("a@"));
  schedule.At(1500, note("b@"));
  schedule.At(700, note("c@"));
  clock.SleepMs(1000);
  EXPECT_EQ(schedule.RanAt(late), std::nullopt);
  clock.SleepMs(1000);
  schedule.At(10, note("past@"));  // a time gone by: at the next sleep
  clock.SleepMs(0);
  EXPECT_EQ(log, (std::vector<std::string>{"c@700", "a@1500", "b@1500", "past@2000"}));
  EXPECT_EQ(schedule.RanAt(late), 1500);
}

}  // namespace
