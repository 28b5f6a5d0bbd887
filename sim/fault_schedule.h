// Faults at a clock time: actions the simulated world takes when the clock
// reaches their time, so that a fault "5 minutes into the run" happens at
// exactly that instrument time however fast the clock runs. A clock driver
// (platform/clock): a virtual sleep stops at each action's time and runs
// it on the sleeping thread without the schedule's lock, so the action may
// call the simulators. A time already passed runs at the next sleep; in
// real or scaled time the actions wait for a virtual sleep.
//
// One process-wide object that lives until the process ends. Thread
// safety: every member may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/clock/clock.h"

namespace sim {

class FaultSchedule final : public platform::Clock::Driver {
 public:
  static FaultSchedule& Get();

  // Runs `action` once when the clock reaches `atMs`. Returns the
  // action's number for RanAt.
  int At(std::int64_t atMs, std::function<void()> action);
  // The clock time at which action `id` ran; nullopt while it has not.
  std::optional<std::int64_t> RanAt(int id) const;
  // Action `id` will not run (a sample it was meant for is over).
  void Cancel(int id);
  // No actions, none run; registered with the clock again.
  void ResetForTesting();

  // ---- platform::Clock::Driver ----
  void AdvanceTo(std::int64_t nowMs) override;
  std::int64_t NextDueMs() override;

 private:
  FaultSchedule();

  mutable std::mutex m_mutex;
  int m_nNextId = 1;
  // Waiting actions by (time, number): equal times run in the order given.
  std::map<std::pair<std::int64_t, int>, std::function<void()>> m_waiting;
  std::map<int, std::int64_t> m_ranAt;
};

}  // namespace sim
