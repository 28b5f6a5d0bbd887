// The simulated instruments: pumps, autosampler, UV detector, column oven
// and the node card that runs them, as state machines on the clock. The
// node's contact outputs and valves are not modelled: no transport drives
// them here, so the node status shows them off. The model knows nothing of how it is
// reached: a transport (sim/simulated_network.h, sim/simulated_server.h)
// turns its commands into the calls below, advances the model to each
// time it has something due (NextDeadline) and turns the model's notices
// into its own events. Composition and oven temperature are closed-form
// functions of time; flow, pressure and what reaches the column through
// the dwell volume are stepped on a fixed 100 ms grid of model time (the
// limit checks run there too), so a reading does not depend on how time
// was cut into steps. docs/simulator.md describes the model.
//
// Thread safety: none; the owner serialises every call.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/vexlink/download_records.h"
#include "platform/vexlink/reply_formats.h"
#include "sim/hydraulics.h"
#include "sim/separation.h"
#include "sim/solvents.h"

namespace sim {

inline constexpr int kPumpCount = 3;
// The units on the node card, in the order of its unit list; the pumps first.
inline constexpr std::array<std::uint16_t, 6> kModelUnits{kUnitPump1, kUnitPump2,       kUnitPump3,
                                                          kUnitUV,    kUnitAutosampler, kUnitOven};

// Something the model tells its transport about.
struct Notice {
  enum class Kind {
    kSamplerReady,      // the autosampler finished homing
    kUpperPressure,     // a pump stopped above its upper pressure limit
    kLowerPressure,     // a pump stopped below its lower pressure limit
    kInjected,          // the autosampler injected; the run clock starts
    kRunEnded,          // the run time is over
    kSequenceDone,      // the autosampler finished its sequence
  };
  Kind kind;
  std::uint16_t unit;
  std::int64_t atMs;
};

// What a method sets on a pump; what it leaves unset stays as it is. Flow
// and composition are the delivery system's: only pump 1's count.
struct PumpSettings {
  std::optional<double> flowUlMin;
  std::optional<Composition> composition;
  std::optional<int> upperLimitBar;
  std::optional<int> lowerLimitBar;  // not in a timetable step
};

// One time of a run's timetable: what changes at that time.
struct TimetableStep {
  std::int64_t timeMs = 0;
  std::uint16_t unit = kUnitPump1;
  PumpSettings set;
};

// What the units take as their program for the next run.
struct Program {
  std::uint32_t systemCode = kSystemSingle;
  std::array<PumpSettings, kPumpCount> pumps;  // the initial conditions
  std::optional<int> ovenTemperatureC;
  std::optional<int> uvWavelengthTenthsNm;
  std::optional<int> uvResponse;
  std::vector<TimetableStep> timetable;  // in time order
  // From the run header.
  std::int32_t runTimeS = 0;          // 0 or less: the run has no end of its own
  std::optional<int> vial;            // none: a run without injection
  int flushCount = 1;
  std::int32_t injectVolumeNl = 0;
};

// Readings of the units at the model's time.
struct NodeReading {
  std::uint32_t state;  // 1 idle, 2 pump on, 3 run, or a forced fault state
  std::int32_t elapsedMs;
  Composition composition;
  double flowUlMin, pressureBar;
  std::uint32_t anlsSerial;
  int vial;  // -1 for none
  int flushCount;
  std::int32_t injectVolumeNl, runTimeS;
  int upperLimitBar, lowerLimitBar;
};
struct PumpReading {
  std::uint32_t status;  // bit 0 delivering, bit 15 trouble
  double flowUlMin, pressureBar;
  Composition composition;
  double setFlowUlMin;
  int upperLimitBar, lowerLimitBar;
};
struct SamplerReading {
  std::uint32_t status;
  int vial;  // -1 for none
  int injections;
  bool lastSample;
};
struct OvenReading {
  std::uint32_t status;  // 0 off, 1 approaching the set point, 2 at temperature
  double temperatureC;
  int setPointC;
};
struct UvReading {
  std::uint32_t status;  // reply::UVStatus::kLampOffBit while the lamp is off
  int wavelengthTenthsNm, response;
  bool lampOn;
};

class InstrumentModel {
 public:
  static constexpr double kAmbientC = 25.0;
  // The column oven blows heated air: it reaches up to kOvenHighestC, and
  // holds a set point from 5 degrees above the room (nearer, the heat of
  // its fan and the room's drift outweigh its control).
  static constexpr double kOvenLowestC = kAmbientC + 5.0;
  static constexpr double kOvenHighestC = 80.0;
  static constexpr std::int64_t kHomingMs = 2500;
  static constexpr std::int64_t kCheckPeriodMs = 100;
  static constexpr std::int64_t kLowerLimitGraceMs = 5000;
  // A pump that is given no upper limit stops at its rated pressure.
  static constexpr int kDefaultUpperLimitBar = 1000;

  // At power-up at time 0.
  InstrumentModel() = default;

  // Every unit to its state after power-up at `nowMs`; the oven cools
  // from where it is.
  void PowerUp(std::int64_t nowMs);

  // Units of kModelUnits only; the node (0) is always present.
  void SetUnitPresent(std::uint16_t unit, bool present);
  bool IsPresent(std::uint16_t unit) const;
  // An autosampler that never finishes homing and never answers.
  void SetSamplerSilent(bool silent) { m_bSamplerSilent = silent; }
  bool SamplerSilent() const { return m_bSamplerSilent; }

  void LoadProgram(const Program& program);

  // What the solvent bottles hold; kept across power-ups.
  void SetBottles(const Bottles& bottles);
  // The column, dwell volume and pump dynamics; kept across power-ups.
  void SetHydraulics(const Hydraulics& hydraulics);
  // What vial `vial` of the autosampler's tray holds; an empty sample
  // takes it off the tray. Kept across power-ups.
  void PlaceSample(int vial, SampleContents contents);
  // What the detectors recorded in the last run, or the one going on
  // (Separation::Recording).
  DetectorRecording Recording(std::size_t fromSample, std::size_t fromPeak) const {
    return m_separation.Recording(fromSample, fromPeak);
  }

  // Commands, at the model's current time.
  void PumpStart();
  void PumpStop();
  void StopRun();
  void ResetNode();
  void StartRun();
  void ClearTrouble() { m_bPumpTrouble.fill(false); }
  void ForceNodeState(std::uint32_t state) { m_dwFaultState = state; }
  // A blocked line: the next limit check while the pumps deliver finds
  // pump 1 above its upper limit and trips it, once. Kept across power-up
  // until it has tripped.
  void BlockLine() { m_bLineBlocked = true; }
  // A column that has lost efficiency: its plate height `factor` times
  // what it was made with (1: as new), for the zones that move from now
  // on. Kept across power-ups and another column's fitting, for as long
  // as the model lives.
  void DegradeColumn(double factor) { m_separation.SetPlateHeightFactor(factor); }

  // Direct settings of pump `pump` (0..2); unset values stay as they are.
  void SetPump(int pump, const PumpSettings& settings);
  // Which pumps deliver (DeliverySystemCode): kSystemBinary pumps 1-2,
  // kSystemTernary pumps 1-3, anything else pump 1.
  void SetSystemCode(std::uint32_t code) { m_program.systemCode = code; }
  void SetOven(bool on, int setPointC);
  void SetUv(std::optional<int> wavelengthTenthsNm, std::optional<int> response, std::optional<bool> lampOn);

  // Time.
  std::int64_t NextDeadline() const;
  // The earliest time at which AdvanceTo may append a notice: NextDeadline
  // passing over the limit checks that bounds on the pressure show can
  // trip nothing. AdvanceTo still makes every step on the way, so a clock
  // that stops only here gets the same run. Only a call on the model can
  // bring it nearer.
  std::int64_t NextNoticeDue() const;
  // REQUIRES: nowMs >= the model's time. Handles every deadline up to
  // `nowMs` in order, appending what happened to `notices`.
  void AdvanceTo(std::int64_t nowMs, std::vector<Notice>& notices);

  // Readings at the current time.
  NodeReading ReadNode() const;
  PumpReading ReadPump(int index) const;  // 0..2
  SamplerReading ReadSampler() const;
  OvenReading ReadOven() const;
  UvReading ReadUv() const;

  // The steady pressure: bar for a flow, mixture and column temperature,
  // with bottles A to D holding `bottles`, across `column`.
  static double PressureBar(double flowUlMin, const Composition& composition, double columnC,
                            const Bottles& bottles = kDefaultBottles,
                            const std::optional<Column>& column = std::nullopt);
  static double ViscosityCp(const Composition& composition, double columnC, const Bottles& bottles = kDefaultBottles);

 private:
  // The injection sequence, in order; kIdle before it, kInjected after.
  enum class SamplerPhase { kIdle, kToVial, kDrawing, kInjecting, kFlushing, kInjected };
  static constexpr std::int64_t kNever = INT64_MAX;

  bool RunClockStarted() const { return m_bRunning && m_runStartMs >= 0; }
  std::int64_t ElapsedMs() const { return RunClockStarted() ? m_nowMs - m_runStartMs : 0; }
  void StartRunClock(std::int64_t atMs);
  // What the pumps are set to deliver now: the program's flow while they
  // run, else 0.
  double FlowUlMin() const;
  Composition CurrentComposition() const;
  // The liquid path at the model's time, from its state at the last
  // integration; Integrate makes that the state.
  struct Live {
    double flowUlMin = 0.0;    // what the pumps deliver, following the set flow at the ramp rate
    double volumeMl = 0.0;     // delivered since power-up
    double pressureBar = 0.0;  // following the column's steady pressure with a lag
    Composition atHead;        // what enters the column's head
    double headCp = 0.0;       // its viscosity
  };
  // `now`: CurrentComposition(); `columnC`: OvenTemperature().
  Live LiveAt(const Composition& now, double columnC) const;
  void Integrate();
  // The liquid path and the composition as the readings report them at
  // the model's time. Kept until the time moves or the next integration:
  // a poll reads several units at one time, and every change of what
  // they depend on integrates first.
  struct Reading {
    std::int64_t atMs = -1;
    Composition composition;
    Live live;
  };
  const Reading& ReadingNow() const;
  mutable Reading m_reading;
  int UpperLimit(int pump) const;
  // Each pump's, by its index.
  std::array<int, kPumpCount> UpperLimits() const;
  double OvenTemperature() const;
  bool PumpInSystem(int pump) const;
  void CheckLimits(std::vector<Notice>& notices);
  // The first limit check at which a pump could trip, kNever for none: from
  // where the flow, the viscosities and so the steady pressure can go
  // before the next deadline of another kind, and how fast the pressure
  // follows.
  std::int64_t TripPossibleMs() const;
  void Trip(Notice::Kind kind, int pump, std::vector<Notice>& notices);
  void AbortSequence();
  // When each activity is next due; kNever while it is not.
  std::int64_t SamplerReadyDue() const;
  std::int64_t SamplerPhaseEnd() const;
  std::int64_t RunEndDue() const { return RunClockStarted() && m_runEndMs >= 0 ? m_runEndMs : kNever; }
  // Ticks run while the pumps deliver and until flow and pressure have
  // come to rest after they stop.
  std::int64_t CheckDue() const {
    const bool moving = m_bPumpOn || m_live.flowUlMin > 0.0 || m_live.pressureBar > 0.01;
    return moving ? (m_lastCheckMs / kCheckPeriodMs + 1) * kCheckPeriodMs : kNever;
  }
  void AdvanceSampler(std::vector<Notice>& notices);

  std::int64_t m_nowMs = 0;
  Program m_program;
  // Pump 1's timed flows and compositions from the program's timetable, in
  // time order: what the delivery system ramps between.
  std::vector<std::pair<std::int64_t, double>> m_flowSteps;
  std::vector<std::pair<std::int64_t, Composition>> m_compositionSteps;
  // By pump, the lowest upper limit a timetable step sets; 0 for none.
  std::array<int, kPumpCount> m_lowestStepUpperLimit{};
  std::array<bool, kModelUnits.size()> m_bPresent{};  // by the unit's place in kModelUnits

  // Node card.
  std::uint32_t m_dwFaultState = 0;
  bool m_bRunning = false;
  std::int64_t m_runStartMs = -1;  // -1 until the run clock starts
  std::int64_t m_runEndMs = -1;
  std::uint32_t m_dwAnlsSerial = 0;
  std::optional<int> m_runVial;

  // What bottles A, B and C hold.
  Bottles m_bottles = kDefaultBottles;

  // The liquid path, and its state at m_liveMs.
  Hydraulics m_hydraulics;
  Resistance m_resistance = ResistanceOf(std::nullopt);  // of m_hydraulics.column
  DwellLine m_dwell{Hydraulics{}.dwellMl};
  ColumnContents m_column{LiquidVolumeMl(std::nullopt)};
  double m_columnValuedC = kAmbientC;  // the temperature m_column's viscosities are at
  void RevalueColumn(double columnC);
  // Mixtures of m_bottles at `columnC`; the last temperature's terms are
  // kept (the oven holds its set point for most of a run).
  const MixtureViscosity& ViscosityAt(double columnC) const;
  mutable std::optional<MixtureViscosity> m_viscosity;
  // The bounds of the viscosity of mixtures of m_bottles between two
  // temperatures; the last answer is kept.
  CpBounds ViscosityBounds(double lowC, double highC) const;
  struct KeptBounds {
    double lowC = std::numeric_limits<double>::quiet_NaN(), highC = lowC;
    CpBounds bounds{};
  };
  mutable KeptBounds m_cpBounds;
  // How much of a pressure difference is left after a whole check period,
  // for the pressure time it was worked out for.
  struct PeriodLag {
    double timeS = std::numeric_limits<double>::quiet_NaN();
    double lag = 0.0;
  };
  mutable PeriodLag m_periodLag;
  Live m_live;
  std::int64_t m_liveMs = 0;
  // How much of a pressure difference is left after `dt` ms; the last
  // answer is kept, since the limit checks ask for the same step each time.
  double PressureLag(double dt) const;
  mutable double m_lagDt = -1.0, m_lagTimeS = -1.0, m_lag = 0.0;

  // Pumps: one delivery system.
  bool m_bPumpOn = false;
  std::int64_t m_pumpStartMs = 0;
  std::int64_t m_lastCheckMs = 0;  // limit checks run every kCheckPeriodMs after it
  double m_baseFlowUlMin = 0.0;
  Composition m_baseComposition;
  std::array<int, kPumpCount> m_upperLimit{kDefaultUpperLimitBar, kDefaultUpperLimitBar, kDefaultUpperLimitBar};
  std::array<int, kPumpCount> m_lowerLimit{};
  std::array<bool, kPumpCount> m_bPumpTrouble{};
  bool m_bLineBlocked = false;

  // The column's contents and what the detectors record of them.
  Separation m_separation;

  // Autosampler.
  std::map<int, SampleContents> m_tray;
  bool m_bSamplerSilent = false;
  bool m_bSamplerReady = false;
  std::int64_t m_samplerReadyAtMs = -1;
  SamplerPhase m_samplerPhase = SamplerPhase::kIdle;
  std::int64_t m_samplerPhaseStartMs = 0;

  // Oven: on its way from m_ovenFromC since m_ovenChangeMs.
  bool m_bOvenOn = false;
  int m_ovenSetPointC = 0;
  double m_ovenFromC = kAmbientC;
  std::int64_t m_ovenChangeMs = 0;

  // UV detector.
  bool m_bLampOn = true;
  int m_uvWavelength = 2540;
  int m_uvResponse = 2;
};

}  // namespace sim
