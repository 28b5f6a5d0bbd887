// The one clock: every sleep, pause, millisecond clock read and timed wait
// of the product and of the simulators goes through it.
//
// Modes:
//  - real:    wall time.
//  - scaled:  wall time sped up by a factor (a 30-minute method watched in
//             30 seconds at factor 60).
//  - virtual: time moves only when someone sleeps. A virtual sleep moves
//             the clock forward to its end, stopping on the way at every
//             time a registered driver (a simulator) says it has something
//             due; at each stop, and at the end, it hands every driver the
//             time. A driver does whatever falls due up to that time and
//             returns only when its effects have been handled (for the
//             network simulator: every reply produced received and
//             dispatched), or hands the rest of the sleep to the thread
//             that handles them (below). So whatever the drivers' work
//             reads from the clock is the time of that work, a virtual
//             sleep is deterministic, and it costs no wall time. Paced, virtual
//             time runs no faster than a factor times wall time: every
//             virtual sleep also waits until wall time has caught up, so
//             a run can be watched sped up without any of its steps
//             being skipped when the computer cannot keep up.
//
// A sleep handed over: the thread that takes a driver's work (the
// plug-in's receiving thread) would otherwise be woken at every stop and
// the sleeping thread woken back after it; instead the driver hands it the
// sleep itself, and that thread moves the clock on through the following
// stops once it has handled the work, waking the sleeping thread only at
// the end. One thread acts at a time, and the stops, their order and the
// times read are those of a sleep that is not handed over.
//
// Time is counted in milliseconds from the moment the mode was chosen.
// Thread safety: every member may be called from any thread. Virtual
// sleeps from several threads are serialised; drivers run on the thread
// that moves the clock (the sleeping one, or the one it was handed to).
// Choose the mode before other threads start using the clock.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <climits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class Clock {
 public:
  enum class Mode { kReal, kScaled, kVirtual };

  // Something that must act when virtual time moves (a simulator).
  class Driver {
   public:
    virtual ~Driver() = default;
    static constexpr std::int64_t kNothingDue = INT64_MAX;

    // Called on the sleeping thread after the clock has moved to `nowMs`.
    // Returns once everything due up to `nowMs` has happened and been
    // handled.
    virtual void AdvanceTo(std::int64_t nowMs) = 0;
    // The earliest clock time at which the driver has something to do, or
    // kNothingDue. A time already passed counts as the present.
    virtual std::int64_t NextDueMs() { return kNothingDue; }
    // As AdvanceTo, except that a driver whose work of `nowMs` waits for
    // another thread may hand that thread the rest of the sleep and
    // return true at once: the other thread calls ContinueSleep once it
    // has handled the work, and this is then called again with the same
    // time (with nothing left due, it returns false).
    virtual bool AdvanceOrHandOver(std::int64_t nowMs) {
      AdvanceTo(nowMs);
      return false;
    }
    // Why the thread a sleep was handed to does not go on (it names what
    // it waits for); asked when the sleep stood still for kHandOverLimit.
    virtual std::string HandOverStallText() { return "a simulator's other side did not go on"; }
  };

  // A sleep handed over that does not move for this long, in wall time,
  // aborts the process with the driver's text (a hang, not a result).
  static constexpr std::chrono::seconds kHandOverLimit{30};

  static Clock& Get();

  void UseReal() { UseScaled(1.0); }
  // REQUIRES: factor > 0.
  void UseScaled(double factor);
  void UseVirtual(std::int64_t startMs = 0);
  // Virtual time from 0, paced at `factor` times wall time.
  // REQUIRES: factor > 0.
  void UsePacedVirtual(double factor);

  Mode GetMode() const { return m_mode.load(std::memory_order_acquire); }
  double GetScale() const { return m_scale.load(std::memory_order_acquire); }

  // Milliseconds since the mode was chosen (scaled in scaled mode).
  std::int64_t NowMs() const;

  // Sleeps for `ms` clock milliseconds (negative counts as 0).
  void SleepMs(std::int64_t ms);
  // Moves the clock on for the sleep a driver handed to this thread (see
  // Driver::AdvanceOrHandOver); returns when the sleep is over or handed
  // on again. REQUIRES: called once for each hand-over, by its taker.
  void ContinueSleep();

  // Waits on `cv` (with `lock` held on entry and exit) until `pred()` is
  // true or `ms` clock milliseconds pass. Returns pred(). In virtual mode
  // the wait advances virtual time in steps of at most the virtual wait
  // quantum, re-checking pred() after each step.
  template <class Pred>
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t ms,
               Pred pred);

  // The wait of a simulator's own thread, which never moves the clock: in
  // real or scaled mode as WaitFor; in virtual mode until pred() alone,
  // since the virtual sleeps of other threads drive the simulator then. A
  // thread that saw real time and then finds the clock made virtual (a
  // test's set-up) so waits without moving everyone's time.
  template <class Pred>
  bool BackgroundWaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t ms,
                         Pred pred) {
    if (GetMode() == Mode::kVirtual) {
      cv.wait(lock, pred);
      return true;
    }
    return cv.wait_for(lock, RealFor(ms), pred);
  }

  // The wait for something outside the simulated world that takes wall
  // time whatever the clock does (another program). Waits on `cv` (with
  // `lock` held on entry and exit) until `pred()` is true or `ms` clock
  // milliseconds pass (kNoLimit: no limit). Returns pred().
  // In real or scaled mode as WaitFor. In virtual mode the clock neither
  // stands still nor jumps over the outside's work: the wait moves the clock
  // in steps of kOutsideStepMs (as a sleep: drivers see the time pass) and
  // before each step gives the outside the step's length in wall time. An
  // outside that ends within a step is seen ending at the end of it.
  // Another program runs at the wall clock's pace whatever this clock does,
  // and on a loaded machine its start alone can take a second: granting it
  // less would take a slow start for a hang. So a limit the outside never
  // meets costs its own length in wall time.
  static constexpr std::int64_t kNoLimit = -1;
  static constexpr std::int64_t kOutsideStepMs = 100;
  template <class Pred>
  bool OutsideWaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t ms,
                      Pred pred);

  // Drivers are borrowed: a driver must be removed before it is destroyed.
  void AddDriver(Driver* driver);
  void RemoveDriver(Driver* driver);

  // Step of virtual timed waits, in ms (default 10).
  void SetVirtualWaitQuantumMs(std::int64_t ms) { m_quantumMs.store(ms < 1 ? 1 : ms); }

  // Back to virtual time at 0 with no drivers; tests only.
  void ResetForTesting();

 private:
  Clock() = default;
  std::chrono::steady_clock::duration RealFor(std::int64_t ms) const;

  std::atomic<Mode> m_mode{Mode::kReal};
  std::atomic<double> m_scale{1.0};
  std::atomic<double> m_pace{0.0};  // virtual mode: 0 unpaced, else the factor
  std::atomic<std::int64_t> m_virtualNowMs{0};
  std::atomic<std::int64_t> m_quantumMs{10};
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
  std::int64_t m_startOffsetMs = 0;  // clock time at m_start (scaled mode)

  mutable std::mutex m_startMutex;  // guards m_start / m_startOffsetMs
  std::mutex m_sleepMutex;          // serialises virtual sleeps
  std::mutex m_driverMutex;
  std::vector<Driver*> m_drivers;

  // The virtual sleep in progress, moved on by one thread at a time.
  struct Sleep {
    std::int64_t target = 0;
    std::int64_t earliest = 0;  // the next stop is no earlier
    std::vector<Driver*> drivers;
    bool inStop = false;        // drivers from nextDriver on are still to be advanced at the stop
    bool last = false;          // the stop is the target
    std::size_t nextDriver = 0;
    std::vector<std::int64_t> dueMs;  // what each driver had due when the stop was chosen
    std::thread::id sleeper;
  };
  // Moves the sleep through its stops; true when it is over, false when a
  // driver handed it over.
  bool Conduct();
  std::mutex m_conductMutex;  // guards m_sleep
  Sleep m_sleep;
  std::mutex m_doneMutex;
  std::condition_variable m_doneCv;
  bool m_sleepDone = false;
  bool m_handedBack = false;  // the sleeping thread moves the clock on again
  std::uint64_t m_stops = 0;  // guarded by m_doneMutex: progress of a handed-over sleep
  std::atomic<std::uint32_t> m_doneSignal{0};  // changed whenever m_sleepDone or m_handedBack is set
  std::atomic<Driver*> m_heldBy{nullptr};  // the driver that last handed a sleep over
};

template <class Pred>
bool Clock::WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t ms,
                    Pred pred) {
  if (GetMode() != Mode::kVirtual) {
    return cv.wait_for(lock, RealFor(ms), pred);
  }
  const std::int64_t deadline = NowMs() + (ms < 0 ? 0 : ms);
  while (!pred()) {
    const std::int64_t now = NowMs();
    if (now >= deadline) return false;
    const std::int64_t step = std::min(deadline - now, m_quantumMs.load());
    lock.unlock();
    SleepMs(step);
    lock.lock();
  }
  return true;
}

template <class Pred>
bool Clock::OutsideWaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::int64_t ms,
                           Pred pred) {
  if (GetMode() != Mode::kVirtual) {
    if (ms == kNoLimit) {
      cv.wait(lock, pred);
      return true;
    }
    return cv.wait_for(lock, RealFor(ms), pred);
  }
  const std::int64_t deadline = ms == kNoLimit ? INT64_MAX : NowMs() + (ms < 0 ? 0 : ms);
  while (!pred()) {
    const std::int64_t now = NowMs();
    if (now >= deadline) return false;
    const std::int64_t step = std::min(deadline - now, kOutsideStepMs);
    cv.wait_for(lock, std::chrono::milliseconds(step), pred);
    lock.unlock();
    SleepMs(step);
    lock.lock();
  }
  return true;
}

}  // namespace platform

// The C run-time's millisecond clock, through the one clock: milliseconds
// since the clock's mode was chosen (1000 ticks a second, as on the
// product's home platform).
namespace crt {
using clock_t = long;
inline constexpr clock_t kClocksPerSecond = 1000;
clock_t clock();
}  // namespace crt
