// The host framework's method library: a liquid-chromatography method as
// the device objects read it.
//
// Contract:
//  - A `QuarnMethod` holds every part of one method: the pump's initial
//    conditions, the solvent selection, the gradient timetable, the timed
//    external events, the event and valve states at the start of the run,
//    the autosampler conditions and the UV detector conditions. A method
//    built by the default constructor holds the defaults given below for
//    each part (an empty timetable and event table).
//  - GetMethodFromDiskFile reads a method file (docs/method-files.md).
//    Either the whole file is valid and replaces the method, or the user is
//    shown one message box listing the problems (file, line, key, what was
//    expected), 0 is returned and the method is left as it was.
//  - Print appends a readable report of one part, chosen by a unit word,
//    to an experiment record.
//  - Parts hand out references to their fields, in the library's style:
//    `method.GetSamplerInitialCons().VialNumber() = 12;`. The library does
//    not re-check values set this way.
//  - Units: times in minutes, flow in ml/min, pressures in bar,
//    compositions in percent of the total flow (channel A is the remainder
//    to 100), volumes in microlitres, temperatures in degrees C,
//    wavelengths in nm.
// Thread safety: a method object is used by one thread at a time.
#pragma once

#include <array>
#include <vector>

#include "platform/archive/vyra.h"
#include "platform/inlet/generic_exp_record.h"
#include "platform/mfc/cstring.h"

// Outputs and valves of the network box that external events drive.
enum EventType : int {
  eventOutput1 = 0,
  eventOutput2 = 1,
  eventOutput3 = 2,
  eventOutput4 = 3,
  eventValve1 = 4,
  eventValve2 = 5,
  eventValve3 = 6,
};
inline constexpr int kEventTypeCount = 7;
inline bool IsValidEventType(int type) { return type >= 0 && type < kEventTypeCount; }

// What an event does. Outputs are switched on, off or pulsed; valves are
// turned to a position from 1 to 6. `actionOff` is also the state of an
// output or valve that the method does not drive.
enum ActionType : int {
  actionPulse = 0,
  actionPosition1 = 1,
  actionPosition2 = 2,
  actionPosition3 = 3,
  actionPosition4 = 4,
  actionPosition5 = 5,
  actionPosition6 = 6,
  actionOff = 7,
  actionOn = 8,
};
inline constexpr int kActionTypeCount = 9;
inline bool IsValidActionType(int action) { return action >= 0 && action < kActionTypeCount; }

// The pump system setting.
enum PumpSystemSetting : int {
  pumpSystemIsocratic = 0,   // one pump, one solvent
  pumpSystemBinary = 1,      // two pumps
  pumpSystemQuaternary = 2,  // one pump with four solvent channels
  pumpSystemTernary = 3,     // three pumps
};

// The UV detector's response (time constant).
enum UVResponse : int { uvResponseFast = 0, uvResponseStandard = 1, uvResponseSlow = 2 };

class PumpInitialCons {
 public:
  float& Flow() { return m_fFlow; }                       // ml/min
  int& MaxPressure() { return m_nMaxPressure; }           // bar; 0 = no upper limit
  int& MinPressure() { return m_nMinPressure; }           // bar
  float& StopTime() { return m_fStopTime; }               // minutes; 0 = not set
  float& PercentB() { return m_fPercentB; }
  float& PercentC() { return m_fPercentC; }
  float& PercentD() { return m_fPercentD; }
  float& OvenTemperature() { return m_fOvenTemperature; } // degrees C
  int& OvenInUse() { return m_nOvenInUse; }               // 1 = yes, 0 = no
  int& PumpSystem() { return m_nPumpSystem; }             // a PumpSystemSetting

  float Flow() const { return m_fFlow; }
  int MaxPressure() const { return m_nMaxPressure; }
  int MinPressure() const { return m_nMinPressure; }
  float StopTime() const { return m_fStopTime; }
  float PercentB() const { return m_fPercentB; }
  float PercentC() const { return m_fPercentC; }
  float PercentD() const { return m_fPercentD; }
  float OvenTemperature() const { return m_fOvenTemperature; }
  int OvenInUse() const { return m_nOvenInUse; }
  int PumpSystem() const { return m_nPumpSystem; }

  bool operator==(const PumpInitialCons&) const = default;

 private:
  float m_fFlow = 0.0f;
  int m_nMaxPressure = 0;
  int m_nMinPressure = 0;
  float m_fStopTime = 0.0f;
  float m_fPercentB = 0.0f;
  float m_fPercentC = 0.0f;
  float m_fPercentD = 0.0f;
  float m_fOvenTemperature = 0.0f;
  int m_nOvenInUse = 0;
  int m_nPumpSystem = pumpSystemIsocratic;
};

// Which solvent channels the method uses, and what they hold.
class SolventSelection {
 public:
  // Channel 0 to 3 is A to D. REQUIRES: 0 <= channel < 4.
  int& InUse(int channel) { return m_nInUse.at(static_cast<size_t>(channel)); }
  int InUse(int channel) const { return m_nInUse.at(static_cast<size_t>(channel)); }
  CString& Name(int channel) { return m_strName.at(static_cast<size_t>(channel)); }
  const CString& Name(int channel) const { return m_strName.at(static_cast<size_t>(channel)); }

  int& InUseA() { return m_nInUse[0]; }
  int& InUseB() { return m_nInUse[1]; }
  int& InUseC() { return m_nInUse[2]; }
  int& InUseD() { return m_nInUse[3]; }

  bool operator==(const SolventSelection&) const = default;

 private:
  std::array<int, 4> m_nInUse{1, 0, 0, 0};
  std::array<CString, 4> m_strName{};
};

// One step of the gradient timetable: from `Time` on, the pump delivers
// `Flow` with the given composition, under the pressure limit `Pressure`.
class GradTimeTableEntry {
 public:
  GradTimeTableEntry() = default;
  GradTimeTableEntry(float time, float flow, float percentB, float percentC, float percentD, int pressure)
      : m_fTime(time), m_fFlow(flow), m_fPercentB(percentB), m_fPercentC(percentC), m_fPercentD(percentD),
        m_nPressure(pressure) {}

  float& Time() { return m_fTime; }  // minutes from the start of the run
  float& Flow() { return m_fFlow; }  // ml/min
  float& PercentB() { return m_fPercentB; }
  float& PercentC() { return m_fPercentC; }
  float& PercentD() { return m_fPercentD; }
  int& Pressure() { return m_nPressure; }  // upper limit, bar; 0 = none

  float Time() const { return m_fTime; }
  float Flow() const { return m_fFlow; }
  float PercentB() const { return m_fPercentB; }
  float PercentC() const { return m_fPercentC; }
  float PercentD() const { return m_fPercentD; }
  int Pressure() const { return m_nPressure; }

  bool operator==(const GradTimeTableEntry&) const = default;

 private:
  float m_fTime = 0.0f;
  float m_fFlow = 0.0f;
  float m_fPercentB = 0.0f;
  float m_fPercentC = 0.0f;
  float m_fPercentD = 0.0f;
  int m_nPressure = 0;
};

// The gradient timetable. Holds at most kMaxEntries steps.
class PumpGradient {
 public:
  static constexpr int kMaxEntries = 100;

  int GetCount() const { return static_cast<int>(m_Entries.size()); }
  // The step at `index`, or null when there is none. The pointer stays
  // valid until the table is changed.
  GradTimeTableEntry* TableEntry(int index);
  const GradTimeTableEntry* TableEntry(int index) const;
  // Appends a step; 0 (and nothing added) when the table is full.
  int AddEntry(const GradTimeTableEntry& entry);
  void RemoveAll() { m_Entries.clear(); }
  // Orders the steps by time; steps with equal times keep their order.
  void Sort();
  // Non-zero when a step starts exactly at `time`.
  int ContainsEntry(float time) const;

  bool operator==(const PumpGradient&) const = default;

 private:
  std::vector<GradTimeTableEntry> m_Entries;
};

// One timed external event: at `Time`, do `Action` on `Event`.
class CExternalEvent : public VyraObject {
 public:
  CExternalEvent();
  CExternalEvent(float time, EventType event, ActionType action);
  CExternalEvent(const CExternalEvent& other);
  CExternalEvent& operator=(const CExternalEvent& other);
  ~CExternalEvent() override = default;

  float& Time() { return m_fTime; }  // minutes from the start of the run
  EventType& Event() { return m_eEvent; }
  ActionType& Action() { return m_eAction; }
  float Time() const { return m_fTime; }
  EventType Event() const { return m_eEvent; }
  ActionType Action() const { return m_eAction; }

  bool operator==(const CExternalEvent& other) const {
    return m_fTime == other.m_fTime && m_eEvent == other.m_eEvent && m_eAction == other.m_eAction;
  }

 private:
  void BindFields();

  float m_fTime = 0.0f;
  EventType m_eEvent = eventOutput1;
  ActionType m_eAction = actionOff;
};

// The timed external events, in time order; at one time, outputs come
// before valves. Holds at most kMaxEntries events.
class CEventTable {
 public:
  static constexpr int kMaxEntries = 100;

  int GetCount() const { return static_cast<int>(m_Entries.size()); }
  // Copies the event at `index` into `event`; 0 (event untouched) when
  // there is none.
  int GetTableEntry(int index, CExternalEvent& event) const;
  // The index of the event at exactly `time` on `type`, or -1.
  int FindTableEntry(float time, EventType type) const;
  // Inserts an event after every event that sorts before or with it;
  // 0 (and nothing added) when the table is full.
  int AddEntry(const CExternalEvent& event);
  void RemoveAll() { m_Entries.clear(); }

  bool operator==(const CEventTable&) const = default;

 private:
  std::vector<CExternalEvent> m_Entries;
};

// The state of each output and valve when the run starts.
class InitialEventStates {
 public:
  // REQUIRES: IsValidEventType(type).
  ActionType& State(EventType type) { return m_eStates.at(static_cast<size_t>(type)); }
  ActionType State(EventType type) const { return m_eStates.at(static_cast<size_t>(type)); }

  ActionType& Event1() { return m_eStates[eventOutput1]; }
  ActionType& Event2() { return m_eStates[eventOutput2]; }
  ActionType& Event3() { return m_eStates[eventOutput3]; }
  ActionType& Event4() { return m_eStates[eventOutput4]; }
  ActionType& Valve1() { return m_eStates[eventValve1]; }
  ActionType& Valve2() { return m_eStates[eventValve2]; }
  ActionType& Valve3() { return m_eStates[eventValve3]; }

  bool operator==(const InitialEventStates&) const = default;

 private:
  std::array<ActionType, kEventTypeCount> m_eStates{actionOff, actionOff, actionOff, actionOff,
                                                     actionOff, actionOff, actionOff};
};

class SamplerInitialCons {
 public:
  int& VialNumber() { return m_nVialNumber; }
  float& InjectionVolume() { return m_fInjectionVolume; }  // microlitres
  float& AnalysisTime() { return m_fAnalysisTime; }        // minutes
  int& Flushes() { return m_nFlushes; }
  // The same fields under the names the instrument server uses.
  float& TimeSetting() { return m_fAnalysisTime; }
  int& CountSetting() { return m_nFlushes; }

  int VialNumber() const { return m_nVialNumber; }
  float InjectionVolume() const { return m_fInjectionVolume; }
  float AnalysisTime() const { return m_fAnalysisTime; }
  int Flushes() const { return m_nFlushes; }
  float TimeSetting() const { return m_fAnalysisTime; }
  int CountSetting() const { return m_nFlushes; }

  bool operator==(const SamplerInitialCons&) const = default;

 private:
  int m_nVialNumber = 1;
  float m_fInjectionVolume = 1.0f;
  float m_fAnalysisTime = 0.0f;
  int m_nFlushes = 1;
};

class UVDetectorCons {
 public:
  int& Wavelength() { return m_nWavelength; }    // nm
  int& Response() { return m_nResponse; }        // a UVResponse value
  int& ZeroSetting() { return m_nZeroSetting; }  // 1 = zero at the start

  int Wavelength() const { return m_nWavelength; }
  int Response() const { return m_nResponse; }
  int ZeroSetting() const { return m_nZeroSetting; }

  bool operator==(const UVDetectorCons&) const = default;

 private:
  int m_nWavelength = 254;
  int m_nResponse = uvResponseStandard;
  int m_nZeroSetting = 0;
};

class QuarnMethod {
 public:
  QuarnMethod() = default;

  // Reads the method file `fileName` (a complete path). Non-zero on
  // success; see the contract above for failures.
  int GetMethodFromDiskFile(const CString& fileName);

  // The run length in minutes: the stop time; when that is not set, the
  // time of the last gradient step or event, whichever is later.
  double GetRunLength() const;

  // Appends the report of the part named by `unit` ("PUMP",
  // "AUTOSAMPLER", "UVDETECTOR") to `record`. Another word, or a null
  // record or unit, appends nothing.
  void Print(CGenericExpRecord* record, const char* unit) const;

  PumpInitialCons& GetPumpInitialCons() { return m_PumpInitialCons; }
  SolventSelection& GetSolventSelection() { return m_Solvents; }
  PumpGradient& GetPumpGradient() { return m_Gradient; }
  CEventTable& GetEventTable() { return m_Events; }
  InitialEventStates& GetInitialEventStates() { return m_InitialEvents; }
  SamplerInitialCons& GetSamplerInitialCons() { return m_SamplerCons; }
  UVDetectorCons& GetUVDetectorCons() { return m_UVCons; }

  const PumpInitialCons& GetPumpInitialCons() const { return m_PumpInitialCons; }
  const SolventSelection& GetSolventSelection() const { return m_Solvents; }
  const PumpGradient& GetPumpGradient() const { return m_Gradient; }
  const CEventTable& GetEventTable() const { return m_Events; }
  const InitialEventStates& GetInitialEventStates() const { return m_InitialEvents; }
  const SamplerInitialCons& GetSamplerInitialCons() const { return m_SamplerCons; }
  const UVDetectorCons& GetUVDetectorCons() const { return m_UVCons; }

  // The method's own title and description (may be empty), and the file it
  // was read from (empty for a method not read from a file).
  CString& Title() { return m_strTitle; }
  CString& Description() { return m_strDescription; }
  const CString& Title() const { return m_strTitle; }
  const CString& Description() const { return m_strDescription; }
  const CString& GetFileName() const { return m_strFileName; }
  void SetFileName(const CString& fileName) { m_strFileName = fileName; }

  bool operator==(const QuarnMethod&) const = default;

 private:
  PumpInitialCons m_PumpInitialCons;
  SolventSelection m_Solvents;
  PumpGradient m_Gradient;
  CEventTable m_Events;
  InitialEventStates m_InitialEvents;
  SamplerInitialCons m_SamplerCons;
  UVDetectorCons m_UVCons;
  CString m_strTitle;
  CString m_strDescription;
  CString m_strFileName;
};
