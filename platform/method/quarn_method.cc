#include "platform/method/quarn_method.h"

#include <algorithm>

// ------------------------------------------------------------ gradient --

GradTimeTableEntry* PumpGradient::TableEntry(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &m_Entries[static_cast<size_t>(index)];
}

const GradTimeTableEntry* PumpGradient::TableEntry(int index) const {
  if (index < 0 || index >= GetCount()) return nullptr;
  return &m_Entries[static_cast<size_t>(index)];
}

int PumpGradient::AddEntry(const GradTimeTableEntry& entry) {
  if (GetCount() >= kMaxEntries) return 0;
  m_Entries.push_back(entry);
  return 1;
}

void PumpGradient::Sort() {
  std::stable_sort(m_Entries.begin(), m_Entries.end(),
                   [](const GradTimeTableEntry& a, const GradTimeTableEntry& b) { return a.Time() < b.Time(); });
}

int PumpGradient::ContainsEntry(float time) const {
  return std::any_of(m_Entries.begin(), m_Entries.end(), [time](const auto& e) { return e.Time() == time; }) ? 1
                                                                                                             : 0;
}

// -------------------------------------------------------------- events --

CExternalEvent::CExternalEvent() : VyraObject("CExternalEvent") { BindFields(); }

CExternalEvent::CExternalEvent(float time, EventType event, ActionType action)
    : VyraObject("CExternalEvent"), m_fTime(time), m_eEvent(event), m_eAction(action) {
  BindFields();
}

CExternalEvent::CExternalEvent(const CExternalEvent& other)
    : VyraObject(other), m_fTime(other.m_fTime), m_eEvent(other.m_eEvent), m_eAction(other.m_eAction) {
  BindFields();
}

CExternalEvent& CExternalEvent::operator=(const CExternalEvent& other) {
  m_fTime = other.m_fTime;
  m_eEvent = other.m_eEvent;
  m_eAction = other.m_eAction;
  return *this;
}

void CExternalEvent::BindFields() {
  AddField(VyraField::Real("Time", &m_fTime));
  AddField(VyraField::Integer("Event", &m_eEvent));
  AddField(VyraField::Integer("Action", &m_eAction));
}

int CEventTable::GetTableEntry(int index, CExternalEvent& event) const {
  if (index < 0 || index >= GetCount()) return 0;
  event = m_Entries[static_cast<size_t>(index)];
  return 1;
}

int CEventTable::FindTableEntry(float time, EventType type) const {
  for (int i = 0; i < GetCount(); ++i) {
    const CExternalEvent& e = m_Entries[static_cast<size_t>(i)];
    if (e.Time() == time && e.Event() == type) return i;
  }
  return -1;
}

int CEventTable::AddEntry(const CExternalEvent& event) {
  if (GetCount() >= kMaxEntries) return 0;
  const auto sortsAfter = [&event](const CExternalEvent& e) {
    return e.Time() > event.Time() || (e.Time() == event.Time() && e.Event() > event.Event());
  };
  m_Entries.insert(std::find_if(m_Entries.begin(), m_Entries.end(), sortsAfter), event);
  return 1;
}

// -------------------------------------------------------------- method --

double QuarnMethod::GetRunLength() const {
  if (m_PumpInitialCons.StopTime() > 0.0f) return m_PumpInitialCons.StopTime();
  double last = 0.0;
  for (int i = 0; i < m_Gradient.GetCount(); ++i) {
    last = std::max(last, static_cast<double>(m_Gradient.TableEntry(i)->Time()));
  }
  CExternalEvent event;
  for (int i = 0; m_Events.GetTableEntry(i, event); ++i) last = std::max(last, static_cast<double>(event.Time()));
  return last;
}
