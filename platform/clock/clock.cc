#include "platform/clock/clock.h"

#include <algorithm>
#include <thread>

namespace platform {

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
  const std::int64_t target = m_virtualNowMs.load(std::memory_order_acquire) + ms;
  std::vector<Driver*> drivers;
  {
    std::lock_guard<std::mutex> lock(m_driverMutex);
    drivers = m_drivers;
  }
  // Stop at every time a driver has something due before the target. A
  // driver that stays due at the same time after being advanced does not
  // hold the clock: the next stop is at least a millisecond later.
  std::int64_t now = m_virtualNowMs.load(std::memory_order_acquire);
  std::int64_t earliest = now;
  for (;;) {
    std::int64_t next = Driver::kNothingDue;
    for (Driver* driver : drivers) next = std::min(next, driver->NextDueMs());
    next = std::max(next, earliest);
    if (next >= target) break;
    now = next;
    m_virtualNowMs.store(now, std::memory_order_release);
    for (Driver* driver : drivers) driver->AdvanceTo(now);
    earliest = now + 1;
  }
  m_virtualNowMs.store(target, std::memory_order_release);
  for (Driver* driver : drivers) driver->AdvanceTo(target);
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
