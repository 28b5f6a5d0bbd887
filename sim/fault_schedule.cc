#include "sim/fault_schedule.h"

namespace sim {

FaultSchedule& FaultSchedule::Get() {
  // Never destroyed: the clock holds it as a driver until the process ends.
  static FaultSchedule* const schedule = new FaultSchedule();
  return *schedule;
}

FaultSchedule::FaultSchedule() { platform::Clock::Get().AddDriver(this); }

int FaultSchedule::At(std::int64_t atMs, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_waiting.emplace(std::make_pair(atMs, m_nNextId), std::move(action));
  return m_nNextId++;
}

std::optional<std::int64_t> FaultSchedule::RanAt(int id) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_ranAt.find(id);
  return it == m_ranAt.end() ? std::nullopt : std::optional<std::int64_t>(it->second);
}

void FaultSchedule::Cancel(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::erase_if(m_waiting, [id](const auto& entry) { return entry.first.second == id; });
}

void FaultSchedule::AdvanceTo(std::int64_t nowMs) {
  // One at a time, the lock released while each runs: an action may
  // schedule another or sleep.
  for (;;) {
    std::function<void()> action;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_waiting.empty() || m_waiting.begin()->first.first > nowMs) return;
      m_ranAt[m_waiting.begin()->first.second] = nowMs;
      action = std::move(m_waiting.begin()->second);
      m_waiting.erase(m_waiting.begin());
    }
    action();
  }
}

std::int64_t FaultSchedule::NextDueMs() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waiting.empty() ? kNothingDue : m_waiting.begin()->first.first;
}

void FaultSchedule::ResetForTesting() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiting.clear();
    m_ranAt.clear();
  }
  platform::Clock::Get().AddDriver(this);
}

}  // namespace sim
