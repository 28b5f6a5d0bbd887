#include "platform/clock/clock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace platform {

namespace {

// Rounds a sleep handed over is watched before its thread waits in the
// kernel (counted, not timed: tens of microseconds).
constexpr int kHandOverSpins = 4096;

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

Clock& Clock::Get() {
  static Clock clock;
  return clock;
}

void Clock::UseScaled(double factor) {
  if (!(factor > 0)) factor = 1.0;
  std::lock_guard<std::mutex> lock(m_startMutex);
  m_start = std::chrono::steady_clock::now();
  m_startOffsetMs = 0;
  m_scale.store(factor, std::memory_order_release);
  m_pace.store(0.0, std::memory_order_release);
  m_mode.store(Mode::kScaled, std::memory_order_release);
}

void Clock::UseVirtual(std::int64_t startMs) {
  m_virtualNowMs.store(startMs, std::memory_order_release);
  m_scale.store(1.0, std::memory_order_release);
  m_pace.store(0.0, std::memory_order_release);
  m_mode.store(Mode::kVirtual, std::memory_order_release);
}

void Clock::UsePacedVirtual(double factor) {
  UseVirtual(0);
  std::lock_guard<std::mutex> lock(m_startMutex);
  m_start = std::chrono::steady_clock::now();
  m_pace.store(factor > 0 ? factor : 1.0, std::memory_order_release);
}

std::int64_t Clock::NowMs() const {
  if (GetMode() == Mode::kVirtual) return m_virtualNowMs.load(std::memory_order_acquire);
  std::lock_guard<std::mutex> lock(m_startMutex);
  const auto elapsed = std::chrono::steady_clock::now() - m_start;
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count() * GetScale();
  return m_startOffsetMs + static_cast<std::int64_t>(ms);
}

std::chrono::steady_clock::duration Clock::RealFor(std::int64_t ms) const {
  if (ms < 0) ms = 0;
  const double realMs = static_cast<double>(ms) / GetScale();
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double, std::milli>(realMs));
}

void Clock::SleepMs(std::int64_t ms) {
  if (ms < 0) ms = 0;
  if (GetMode() != Mode::kVirtual) {
    std::this_thread::sleep_for(RealFor(ms));
    return;
  }
  std::lock_guard<std::mutex> sleepLock(m_sleepMutex);
  const std::int64_t now = m_virtualNowMs.load(std::memory_order_acquire);
  const std::int64_t target = now + ms;
  {
    std::lock_guard<std::mutex> lock(m_conductMutex);
    m_sleep = Sleep{};
    m_sleep.target = target;
    m_sleep.earliest = now;
    m_sleep.sleeper = std::this_thread::get_id();
    std::lock_guard<std::mutex> driverLock(m_driverMutex);
    m_sleep.drivers = m_drivers;
  }
  {
    std::lock_guard<std::mutex> lock(m_doneMutex);
    m_sleepDone = m_handedBack = false;
  }
  // Handed over, the sleeping thread is woken when the sleep is over, or
  // handed it back. A sleep that stands still for kHandOverLimit is a hang
  // (a thread that no longer takes its work).
  for (;;) {
    const std::uint32_t signal = m_doneSignal.load(std::memory_order_relaxed);
    if (Conduct()) break;
    // Usually back within microseconds: watched a moment before the wait
    // in the kernel, which costs more than the work it waits for.
    for (int i = 0; i < kHandOverSpins && m_doneSignal.load(std::memory_order_acquire) == signal; ++i) CpuRelax();
    std::unique_lock<std::mutex> lock(m_doneMutex);
    for (std::uint64_t stops = m_stops;
         !m_doneCv.wait_for(lock, kHandOverLimit, [&] { return m_sleepDone || m_handedBack; }); stops = m_stops) {
      if (m_stops != stops) continue;
      Driver* const heldBy = m_heldBy.load(std::memory_order_acquire);
      std::fprintf(stderr, "virtual time stood still for %lld s of wall time: %s\n",
                   static_cast<long long>(kHandOverLimit.count()), heldBy ? heldBy->HandOverStallText().c_str() : "");
      std::abort();
    }
    if (m_sleepDone) break;
    m_handedBack = false;
  }
  if (const double pace = m_pace.load(std::memory_order_acquire); pace > 0) {
    std::chrono::steady_clock::time_point start;
    {
      std::lock_guard<std::mutex> lock(m_startMutex);
      start = m_start;
    }
    std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                              std::chrono::duration<double, std::milli>(target / pace)));
  }
}

// Stops at every time a driver has something due before the target, and
// at the target. A driver that stays due at the same time after being
// advanced does not hold the clock: the next stop is at least a
// millisecond later. A thread the sleep was handed to moves the clock on
// only through stops where nothing but the driver that handed it over
// has work: another driver's work (an injected fault that waits for the
// receiving thread) runs on the sleeping thread, as without a hand-over.
bool Clock::Conduct() {
  std::lock_guard<std::mutex> lock(m_conductMutex);
  Sleep& s = m_sleep;
  Driver* const heldBy = std::this_thread::get_id() == s.sleeper ? nullptr : m_heldBy.load(std::memory_order_acquire);
  for (;;) {
    if (!s.inStop) {
      s.dueMs.resize(s.drivers.size());
      std::int64_t next = Driver::kNothingDue;
      for (std::size_t i = 0; i < s.drivers.size(); ++i) {
        s.dueMs[i] = s.drivers[i]->NextDueMs();
        next = std::min(next, s.dueMs[i]);
      }
      next = std::max(next, s.earliest);
      s.last = next >= s.target;
      m_virtualNowMs.store(s.last ? s.target : next, std::memory_order_release);
      s.inStop = true;
      s.nextDriver = 0;
      std::lock_guard<std::mutex> doneLock(m_doneMutex);
      ++m_stops;
    }
    const std::int64_t now = m_virtualNowMs.load(std::memory_order_acquire);
    for (; s.nextDriver < s.drivers.size(); ++s.nextDriver) {
      Driver* const driver = s.drivers[s.nextDriver];
      if (heldBy && driver != heldBy && s.dueMs[s.nextDriver] <= now) {
        std::lock_guard<std::mutex> doneLock(m_doneMutex);
        m_handedBack = true;
        m_doneSignal.fetch_add(1, std::memory_order_release);
        m_doneCv.notify_all();
        return false;
      }
      if (driver->AdvanceOrHandOver(now)) {
        m_heldBy.store(driver, std::memory_order_release);
        return false;
      }
    }
    s.inStop = false;
    if (s.last) return true;
    s.earliest = now + 1;
  }
}

void Clock::ContinueSleep() {
  if (!Conduct()) return;
  std::lock_guard<std::mutex> lock(m_doneMutex);
  m_sleepDone = true;
  m_doneSignal.fetch_add(1, std::memory_order_release);
  m_doneCv.notify_all();
}

void Clock::AddDriver(Driver* driver) {
  std::lock_guard<std::mutex> lock(m_driverMutex);
  if (std::find(m_drivers.begin(), m_drivers.end(), driver) == m_drivers.end()) {
    m_drivers.push_back(driver);
  }
}

void Clock::RemoveDriver(Driver* driver) {
  std::lock_guard<std::mutex> lock(m_driverMutex);
  m_drivers.erase(std::remove(m_drivers.begin(), m_drivers.end(), driver), m_drivers.end());
}

void Clock::ResetForTesting() {
  {
    std::lock_guard<std::mutex> lock(m_driverMutex);
    m_drivers.clear();
  }
  m_quantumMs.store(10);
  UseVirtual(0);
}

}  // namespace platform

namespace crt {
clock_t clock() { return static_cast<clock_t>(platform::Clock::Get().NowMs()); }
}  // namespace crt
