// The clock-driven machine under both simulators: the instruments
// (sim/instrument_model.h), the work each simulator has scheduled at
// clock times, and the other side that takes what they produce (the
// plug-in's receiving thread for the network, the sinks' Invoke for the
// server).
//
// In virtual time the scheduler is a clock driver: a virtual sleep stops
// at each time something is due, produces it, and goes on only when the
// other side has taken and handled all of it (Idle), so whatever the other
// side does in reaction happens at that time too. Every entry point of a
// simulator first catches up to the clock (CatchUpLocked). In real or
// scaled time a thread of the scheduler's own produces what falls due as
// the clock passes it, and hands produced work on (DeliverOneLocked).
//
// A simulator derives from it, is one process-wide object that lives until
// the process ends (its thread waits in it), and calls StartThread once it
// is constructed. Thread safety: the members marked Locked need m_mutex.
#pragma once

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock/clock.h"
#include "sim/instrument_model.h"

namespace sim {

class Scheduler : public platform::Clock::Driver {
 public:
  using Lock = std::unique_lock<std::mutex>;

  // ---- platform::Clock::Driver ----
  void AdvanceTo(std::int64_t nowMs) override;
  // Passes over the limit checks that bounds show can trip nothing
  // (NextStopLocked).
  std::int64_t NextDueMs() override;
  // As NextDueMs, but passing over every step of the instruments that
  // nothing outside sees (a limit check that trips nothing), each tried on
  // a copy: the earliest time at which a notice of the instruments, a
  // scheduled action or its own work is due, looking no further than
  // `horizonMs`. Advancing past the steps does the same work as stopping
  // at each, so a clock that stops only at these times gets the same run,
  // with far fewer stops.
  std::int64_t NextNoticeMs(std::int64_t horizonMs);
  bool AdvanceOrHandOver(std::int64_t nowMs) override;
  std::string HandOverStallText() override;

  // ---- Test and control faces, common to both simulators ----
  // A copy of the instruments' state, brought to the current time.
  InstrumentModel InstrumentsNow();
  // The pumps' next limit check while they deliver trips pump 1 above its
  // upper limit (InstrumentModel::BlockLine).
  void BlockLine();
  // The column's plate height `factor` times its own from now on
  // (InstrumentModel::DegradeColumn).
  void DegradeColumn(double factor);
  // What the solvent bottles of channels A to D hold, from their
  // labels (a method's [solvents]); a label naming no solvent the
  // simulator knows (sim/solvents.h), or an empty one, leaves that bottle
  // with its usual solvent. Kept until the next call or reset.
  void FillBottles(const BottleLabels& labels);
  // The column, dwell volume and pump dynamics (sim/hydraulics.h). Kept
  // until the next call or reset.
  void FitHydraulics(const Hydraulics& hydraulics);
  // What a vial on the autosampler's tray holds (InstrumentModel::PlaceSample).
  void PlaceSample(int vial, const SampleContents& contents);
  // What the detectors recorded, up to the instruments' last step
  // (Separation::Recording).
  DetectorRecording Recording(std::size_t fromSample, std::size_t fromPeak);

 protected:
  Scheduler() = default;
  ~Scheduler() override = default;
  // Returns once the thread waits in its loop: a thread still starting
  // when the process ends can crash the process's teardown (32-bit wine
  // does, after a short test's verdict).
  void StartThread() {
    std::thread([this] { Loop(); }).detach();
    Lock lock(m_mutex);
    m_idleCv.wait(lock, [this] { return m_bThreadStarted; });
  }

  // ---- What a simulator adds (called with the lock held) ----
  // Its own due work beside the instruments and ScheduleLocked's.
  virtual std::int64_t OwnDueLocked() const { return kNothingDue; }
  virtual void ProduceOwnLocked() {}
  // Whether anything is due at all (the network: only while a node is open).
  virtual bool ActiveLocked() const { return true; }
  virtual void EmitNoticeLocked(const Notice& notice) = 0;
  // Everything produced has been taken and handled by the other side.
  virtual bool IdleLocked() const = 0;
  // Wakes the other side to take what was produced; it may release the
  // lock meanwhile, and watch a moment for the other side to be done.
  virtual void WakeOtherSideLocked(Lock& lock) { (void)lock; }
  // Whether the other side can take the rest of a virtual sleep along
  // with the work produced (Clock::Driver::AdvanceOrHandOver); if so,
  // HandOverLocked gives it both, and the other side calls
  // Clock::ContinueSleep once it is idle again.
  virtual bool CanHandOverLocked() const { return false; }
  virtual void HandOverLocked() {}
  // On the scheduler's thread: hands one produced item on (the lock may
  // be released meanwhile); false when there is none.
  virtual bool DeliverOneLocked(Lock& lock) { (void)lock; return false; }
  // Why a wait for the other side gave up (it then aborts the process).
  virtual std::string StallTextLocked() const = 0;

  // ---- For the simulator ----
  std::int64_t NowLocked() const { return std::max(m_nowMs, platform::Clock::Get().NowMs()); }
  // Produces everything due up to the current time, without waiting.
  void CatchUpLocked(Lock& lock);
  // Waits until the other side is idle.
  void WaitIdleLocked(Lock& lock);
  // `work` runs at `atMs` (after the instruments' notices of that time;
  // work of one time in the order scheduled).
  void ScheduleLocked(std::int64_t atMs, std::function<void()> work);
  // The scheduler's thread looks again (something to deliver, or new work).
  void WakeLocked() {
    m_bWake = true;
    m_wakeCv.notify_all();
  }
  // A fresh start at the clock's present: no scheduled work, instruments
  // at power-up.
  void ResetLocked();
  bool InAdvanceLocked() const { return m_bInAdvance; }
  // `f()` under the lock.
  template <class F>
  auto Locked(F f) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return f();
  }

  mutable std::mutex m_mutex;
  std::condition_variable m_idleCv;  // the other side notifies it when it becomes idle
  int m_idleWaiters = 0;             // threads in WaitIdleLocked
  std::int64_t m_nowMs = 0;
  InstrumentModel m_model;
  std::multimap<std::int64_t, std::function<void()>> m_scheduled;

 private:
  std::int64_t NextDueLocked() const;
  // As NextDueLocked, but passing over the instruments' steps that cannot
  // produce a notice (InstrumentModel::NextNoticeDue): where a virtual
  // sleep must stop. The instruments make those steps all the same, as
  // they are advanced past them.
  std::int64_t NextStopLocked() const;
  // Produces everything due up to `t`; with `wait`, waits for the other
  // side at every time something fell due, or with `handOver` hands it
  // the sleep there and returns true.
  bool RunUntilLocked(Lock& lock, std::int64_t t, bool wait, bool handOver = false);
  void Loop();

  std::condition_variable m_wakeCv;
  bool m_bWake = false;
  bool m_bInAdvance = false;
  bool m_bThreadStarted = false;
};

}  // namespace sim
