// Faults at a clock time, and the blocked line the pump fault uses.
#include "sim/fault_schedule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/instrument_model.h"

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

TEST(FaultScheduleTest, ABlockedLineTripsPumpOneOnceWhenThePumpsDeliver) {
  sim::InstrumentModel model;
  model.SetUnitPresent(kUnitPump1, true);
  model.BlockLine();
  model.PowerUp(0);  // kept across power-up
  std::vector<sim::Notice> notices;
  model.AdvanceTo(5000, notices);
  EXPECT_TRUE(notices.empty()) << "nothing trips while the pumps stand still";
  model.SetPump(0, {1000.0, {}, {}, {}});
  model.PumpStart();
  model.AdvanceTo(6000, notices);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].kind, sim::Notice::Kind::kUpperPressure);
  EXPECT_EQ(notices[0].atMs, 5100);
  model.PumpStart();
  model.AdvanceTo(9000, notices);
  EXPECT_EQ(notices.size(), 1u) << "once";
}

}  // namespace
