#include "sim/scheduler.h"

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace sim {

namespace {

// A virtual sleep waits here, in wall time on purpose, for the other side
// to take what is due: that side runs in wall time and virtual time cannot
// move it. The wait normally lasts microseconds; the limit only turns a
// missing receiver (a hang) into a clear abort, and decides no result.
constexpr auto kWaitForOtherSideLimit = std::chrono::seconds(30);

bool IsVirtual() { return platform::Clock::Get().GetMode() == platform::Clock::Mode::kVirtual; }

}  // namespace

std::int64_t Scheduler::NextDueLocked() const {
  if (!ActiveLocked()) return kNothingDue;
  std::int64_t due = std::min(m_model.NextDeadline(), OwnDueLocked());
  if (!m_scheduled.empty()) due = std::min(due, m_scheduled.begin()->first);
  return due;
}

std::int64_t Scheduler::NextStopLocked() const {
  if (!ActiveLocked()) return kNothingDue;
  std::int64_t due = std::min(m_model.NextNoticeDue(), OwnDueLocked());
  if (!m_scheduled.empty()) due = std::min(due, m_scheduled.begin()->first);
  return due;
}

bool Scheduler::RunUntilLocked(Lock& lock, std::int64_t t, bool wait, bool handOver) {
  // Already at `t` with nothing due by then (every call into a simulator
  // catches up, most at a time it has reached): the instruments, at the
  // same time, have nothing to do either.
  if (m_nowMs == t && ActiveLocked() && NextDueLocked() > t) return false;
  std::vector<Notice> notices;
  for (;;) {
    // The cheaper question first: usually nothing at all is due yet.
    if (NextDueLocked() > t) break;
    const std::int64_t due = NextStopLocked();
    if (due > t) break;
    m_nowMs = std::max(m_nowMs, due);
    notices.clear();
    m_model.AdvanceTo(m_nowMs, notices);
    for (const Notice& notice : notices) EmitNoticeLocked(notice);
    ProduceOwnLocked();
    while (!m_scheduled.empty() && m_scheduled.begin()->first <= m_nowMs) {
      const std::function<void()> work = std::move(m_scheduled.begin()->second);
      m_scheduled.erase(m_scheduled.begin());
      work();
    }
    if (handOver && !IdleLocked() && CanHandOverLocked()) {
      HandOverLocked();
      return true;
    }
    if (wait) WaitIdleLocked(lock);
  }
  m_nowMs = std::max(m_nowMs, t);
  notices.clear();
  m_model.AdvanceTo(m_nowMs, notices);  // nothing is due: only moves the instruments' time
  return false;
}

void Scheduler::CatchUpLocked(Lock& lock) {
  if (m_bInAdvance) return;  // the other side's call while a sleep is handling this time
  RunUntilLocked(lock, NowLocked(), false);
}

void Scheduler::WaitIdleLocked(Lock& lock) {
  if (IdleLocked()) return;  // nothing produced: no one to wake, nothing to wait for
  WakeOtherSideLocked(lock);
  ++m_idleWaiters;
  const bool idle = m_idleCv.wait_for(lock, kWaitForOtherSideLimit, [&] { return IdleLocked(); });
  --m_idleWaiters;
  if (!idle) {
    std::fprintf(stderr, "%s\n", StallTextLocked().c_str());
    std::abort();
  }
}

void Scheduler::ScheduleLocked(std::int64_t atMs, std::function<void()> work) {
  m_scheduled.emplace(atMs, std::move(work));
  if (!IsVirtual()) WakeLocked();  // virtual sleeps produce it themselves
}

void Scheduler::ResetLocked() {
  m_scheduled.clear();
  m_nowMs = platform::Clock::Get().NowMs();
  m_model = InstrumentModel();
  m_model.PowerUp(m_nowMs);
  m_bInAdvance = false;
}

void Scheduler::AdvanceTo(std::int64_t nowMs) {
  Lock lock(m_mutex);
  m_bInAdvance = true;
  RunUntilLocked(lock, nowMs, true);
  m_bInAdvance = false;
}

// The sleep stays "in advance" while handed over: the other side's calls
// meanwhile belong to this time, as they do while a sleep waits for it.
bool Scheduler::AdvanceOrHandOver(std::int64_t nowMs) {
  Lock lock(m_mutex);
  m_bInAdvance = true;
  const bool handedOver = RunUntilLocked(lock, nowMs, true, true);
  m_bInAdvance = handedOver;
  return handedOver;
}

std::string Scheduler::HandOverStallText() { return Locked([this] { return StallTextLocked(); }); }

std::int64_t Scheduler::NextDueMs() { return Locked([this] { return NextStopLocked(); }); }

std::int64_t Scheduler::NextNoticeMs(std::int64_t horizonMs) {
  return Locked([&] {
    if (!ActiveLocked()) return kNothingDue;
    std::int64_t due = std::min(OwnDueLocked(), horizonMs);
    if (!m_scheduled.empty()) due = std::min(due, m_scheduled.begin()->first);
    // The instruments' steps, tried on a copy.
    InstrumentModel model = m_model;
    std::vector<Notice> notices;
    for (std::int64_t t = model.NextDeadline(); t <= due; t = model.NextDeadline()) {
      model.AdvanceTo(std::max(t, m_nowMs), notices);
      if (!notices.empty()) return std::max(t, m_nowMs);
    }
    return due;
  });
}

void Scheduler::Loop() {
  platform::Clock& clock = platform::Clock::Get();
  Lock lock(m_mutex);
  m_bThreadStarted = true;  // StartThread goes on once the loop below waits
  m_idleCv.notify_all();
  for (;;) {
    if (DeliverOneLocked(lock)) continue;
    m_bWake = false;
    if (IsVirtual()) {
      m_wakeCv.wait(lock, [&] { return m_bWake; });  // virtual sleeps produce what is due
      continue;
    }
    RunUntilLocked(lock, clock.NowMs(), false);
    if (m_bWake) continue;
    const std::int64_t due = NextDueLocked();
    const std::int64_t waitMs = std::clamp<std::int64_t>(due == kNothingDue ? 1000 : due - clock.NowMs(), 1, 1000);
    clock.BackgroundWaitFor(lock, m_wakeCv, waitMs, [&] { return m_bWake; });
  }
}

InstrumentModel Scheduler::InstrumentsNow() {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  return m_model;
}

void Scheduler::BlockLine() {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  m_model.BlockLine();
}

void Scheduler::DegradeColumn(double factor) {
  Lock lock(m_mutex);
  CatchUpLocked(lock);
  m_model.DegradeColumn(factor);
}

void Scheduler::FillBottles(const BottleLabels& labels) {
  Locked([&] { m_model.SetBottles(BottlesFromLabels(labels)); });
}

void Scheduler::FitHydraulics(const Hydraulics& hydraulics) {
  Locked([&] { m_model.SetHydraulics(hydraulics); });
}

void Scheduler::PlaceSample(int vial, const SampleContents& contents) {
  Locked([&] { m_model.PlaceSample(vial, contents); });
}

DetectorRecording Scheduler::Recording(std::size_t fromSample, std::size_t fromPeak) {
  // What was recorded up to the instruments' last step: the reader takes
  // the rest next time, and the simulator's other side is not woken for it.
  return Locked([&] { return m_model.Recording(fromSample, fromPeak); });
}

}  // namespace sim
