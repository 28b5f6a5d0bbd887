#include "sim/instrument_model.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr std::int64_t kToVialMs = 3000;
constexpr std::int64_t kDrawBaseMs = 2000;
constexpr std::int64_t kDrawMsPerUl = 50;
constexpr std::int64_t kInjectMs = 1000;
constexpr std::int64_t kFlushMs = 2000;

// Pressure: bar per (ml/min x cP) of the simulated column.
constexpr double kColumnResistance = 110.0;

double Lerp(double from, double to, std::int64_t t0, std::int64_t t1, std::int64_t t) {
  return from + (to - from) * static_cast<double>(t - t0) / static_cast<double>(t1 - t0);
}

Composition Lerp(const Composition& from, const Composition& to, std::int64_t t0, std::int64_t t1, std::int64_t t) {
  return {Lerp(from.a, to.a, t0, t1, t), Lerp(from.b, to.b, t0, t1, t), Lerp(from.c, to.c, t0, t1, t)};
}

// The value of a ramped quantity at `elapsed` ms of the run: `base` at
// the start, each step's value at its time, linear in between, the last
// value held after the last step. `get` yields a step's value, if any.
template <class T, class Get>
T Ramp(const std::vector<TimetableStep>& steps, std::int64_t elapsed, T base, Get get) {
  std::int64_t prevTime = 0;
  T prev = base;
  for (const TimetableStep& step : steps) {
    const auto value = get(step);
    if (!value) continue;
    if (step.timeMs <= elapsed) {
      prevTime = step.timeMs;
      prev = *value;
      continue;
    }
    return Lerp(prev, *value, prevTime, step.timeMs, elapsed);
  }
  return prev;
}

}  // namespace

void InstrumentModel::PowerUp(std::int64_t nowMs) {
  // Everything is as made, at this time, except what outlasts a power-up:
  // the oven's heat, the analysis count, the bottles, a blocked line, a
  // silent autosampler.
  InstrumentModel fresh;
  fresh.m_nowMs = std::max(m_nowMs, nowMs);
  fresh.m_pumpStartMs = fresh.m_lastCheckMs = fresh.m_samplerPhaseStartMs = fresh.m_ovenChangeMs = fresh.m_nowMs;
  m_nowMs = fresh.m_nowMs;
  fresh.m_ovenFromC = OvenTemperature();
  fresh.m_dwAnlsSerial = m_dwAnlsSerial;
  fresh.m_bottles = m_bottles;
  fresh.m_bLineBlocked = m_bLineBlocked;
  fresh.m_bSamplerSilent = m_bSamplerSilent;
  *this = std::move(fresh);
}

void InstrumentModel::SetUnitPresent(std::uint16_t unit, bool present) {
  if (unit >= kUnitPump1 && unit < kUnitPump1 + kPumpCount) {
    m_bPumpPresent[unit - kUnitPump1] = present;
  } else if (unit == kUnitUV) {
    m_bUvPresent = present;
  } else if (unit == kUnitOven) {
    m_bOvenPresent = present;
  } else if (unit == kUnitAutosampler) {
    if (present && !m_bSamplerPresent) m_samplerReadyAtMs = m_nowMs + kHomingMs;
    if (!present) {
      AbortSequence();
      m_bSamplerReady = false;
      m_samplerReadyAtMs = -1;
    }
    m_bSamplerPresent = present;
  }
}

bool InstrumentModel::IsPresent(std::uint16_t unit) const {
  if (unit == 0) return true;
  if (unit >= kUnitPump1 && unit < kUnitPump1 + kPumpCount) return m_bPumpPresent[unit - kUnitPump1];
  if (unit == kUnitUV) return m_bUvPresent;
  if (unit == kUnitOven) return m_bOvenPresent;
  if (unit == kUnitAutosampler) return m_bSamplerPresent;
  return false;
}

void InstrumentModel::ApplyProgramStart() {
  const Program::PumpStart& first = m_program.pumps[0];
  if (first.flowUlMin) m_baseFlowUlMin = *first.flowUlMin;
  if (first.composition) m_baseComposition = *first.composition;
  for (int i = 0; i < kPumpCount; ++i) {
    if (m_program.pumps[i].upperLimitBar) m_upperLimit[i] = *m_program.pumps[i].upperLimitBar;
    if (m_program.pumps[i].lowerLimitBar) m_lowerLimit[i] = *m_program.pumps[i].lowerLimitBar;
  }
  if (m_program.ovenTemperatureC) SetOven(true, *m_program.ovenTemperatureC);
  if (m_program.uvWavelengthTenthsNm) m_uvWavelength = *m_program.uvWavelengthTenthsNm;
  if (m_program.uvResponse) m_uvResponse = *m_program.uvResponse;
}

void InstrumentModel::PumpStart() {
  ApplyProgramStart();
  if (!m_bPumpOn) {
    m_pumpStartMs = m_nowMs;
    m_lastCheckMs = m_nowMs;
  }
  m_bPumpOn = true;
}

void InstrumentModel::PumpStop() {
  m_bPumpOn = false;
  StopRun();
}

void InstrumentModel::StopRun() {
  m_bRunning = false;
  m_runStartMs = -1;
  m_runEndMs = -1;
  AbortSequence();
}

void InstrumentModel::ResetNode() {
  m_dwFaultState = 0;
  StopRun();
}

void InstrumentModel::StartRun() {
  if (m_dwFaultState != 0) return;
  StopRun();
  PumpStart();
  m_bRunning = true;
  ++m_dwAnlsSerial;
  StartOutputs();
  m_runVial = m_bSamplerPresent ? m_program.vial : std::nullopt;
  if (m_runVial) {
    m_samplerPhase = SamplerPhase::kToVial;
    m_samplerPhaseStartMs = m_nowMs;
    return;
  }
  m_runStartMs = m_nowMs;
  m_runEndMs = m_program.runTimeS > 0 ? m_nowMs + std::int64_t{m_program.runTimeS} * 1000 : -1;
}

void InstrumentModel::LoadOutputProgram(const OutputProgram& program) {
  m_outputProgram = program;
  std::stable_sort(m_outputProgram.timed.begin(), m_outputProgram.timed.end(),
                   [](const OutputStep& a, const OutputStep& b) { return a.timeMs < b.timeMs; });
}

// The run's initial states, set as the run starts; they are shown in the
// status but make no notice of their own.
void InstrumentModel::StartOutputs() {
  m_nextOutputStep = 0;
  for (int i = 0; i < kOutputCount; ++i) {
    m_pulseEndMs[i] = -1;
    SwitchOutput(i, m_outputProgram.initialOn[i], nullptr);
  }
  for (int i = 0; i < kValveCount; ++i) {
    const int position = m_outputProgram.initialPosition[i];
    if (position >= 1 && position <= kValvePositions) TurnValve(i, position, nullptr);
  }
}

void InstrumentModel::SwitchOutput(int index, bool on, std::vector<Notice>* notices) {
  if (m_bOutputOn[index] == on) return;
  m_bOutputOn[index] = on;
  if (notices) notices->push_back({Notice::Kind::kOutputSwitched, 0, m_nowMs});
}

void InstrumentModel::TurnValve(int index, int position, std::vector<Notice>* notices) {
  if (m_valvePosition[index] == position) return;
  m_valvePosition[index] = position;
  if (notices) notices->push_back({Notice::Kind::kValveTurned, 0, m_nowMs});
}

std::int64_t InstrumentModel::NextOutputDeadline() const {
  std::int64_t next = INT64_MAX;
  for (const std::int64_t end : m_pulseEndMs) {
    if (end >= 0) next = std::min(next, end);
  }
  if (RunClockStarted() && m_nextOutputStep < m_outputProgram.timed.size()) {
    next = std::min(next, m_runStartMs + std::max<std::int64_t>(0, m_outputProgram.timed[m_nextOutputStep].timeMs));
  }
  return next;
}

void InstrumentModel::AdvanceOutputs(std::vector<Notice>& notices) {
  for (int i = 0; i < kOutputCount; ++i) {
    if (m_pulseEndMs[i] >= 0 && m_pulseEndMs[i] <= m_nowMs) {
      m_pulseEndMs[i] = -1;
      SwitchOutput(i, false, &notices);
    }
  }
  while (RunClockStarted() && m_nextOutputStep < m_outputProgram.timed.size() &&
         m_runStartMs + std::max<std::int64_t>(0, m_outputProgram.timed[m_nextOutputStep].timeMs) <= m_nowMs) {
    const OutputStep& step = m_outputProgram.timed[m_nextOutputStep++];
    const int index = step.number - 1;
    if (step.valve) {
      if (index >= 0 && index < kValveCount && step.action == OutputStep::Action::kPosition &&
          step.position >= 1 && step.position <= kValvePositions) {
        TurnValve(index, step.position, &notices);
      }
      continue;
    }
    if (index < 0 || index >= kOutputCount || step.action == OutputStep::Action::kPosition) continue;
    const bool pulse = step.action == OutputStep::Action::kPulse;
    SwitchOutput(index, step.action != OutputStep::Action::kOff, &notices);
    m_pulseEndMs[index] = pulse ? m_nowMs + kOutputPulseMs : -1;
  }
}

void InstrumentModel::ClearTrouble() { m_bPumpTrouble.fill(false); }

void InstrumentModel::SetPump(int pump, std::optional<double> flowUlMin, std::optional<int> upperLimitBar,
                              std::optional<int> lowerLimitBar, std::optional<Composition> composition) {
  if (flowUlMin) m_baseFlowUlMin = *flowUlMin;
  if (composition) m_baseComposition = *composition;
  if (pump < 0 || pump >= kPumpCount) return;
  if (upperLimitBar) m_upperLimit[pump] = *upperLimitBar;
  if (lowerLimitBar) m_lowerLimit[pump] = *lowerLimitBar;
}

void InstrumentModel::SetOven(bool on, int setPointC) {
  m_ovenFromC = OvenTemperature();
  m_ovenChangeMs = m_nowMs;
  m_bOvenOn = on;
  m_ovenSetPointC = on ? setPointC : 0;
}

void InstrumentModel::SetUv(std::optional<int> wavelengthTenthsNm, std::optional<int> response,
                            std::optional<bool> lampOn) {
  if (wavelengthTenthsNm) m_uvWavelength = *wavelengthTenthsNm;
  if (response) m_uvResponse = *response;
  if (lampOn) m_bLampOn = *lampOn;
}

void InstrumentModel::AbortSequence() {
  if (m_samplerPhase != SamplerPhase::kIdle) {
    m_samplerPhase = SamplerPhase::kIdle;
    m_samplerPhaseStartMs = m_nowMs;
  }
}

std::int64_t InstrumentModel::SamplerPhaseEnd() const {
  switch (m_samplerPhase) {
    case SamplerPhase::kIdle:
    case SamplerPhase::kInjected:
      return -1;
    case SamplerPhase::kToVial:
      // A sequence asked for while homing starts when homing ends.
      if (!m_bSamplerReady) return -1;
      return std::max(m_samplerPhaseStartMs, m_samplerReadyAtMs) + kToVialMs;
    case SamplerPhase::kDrawing:
      return m_samplerPhaseStartMs + kDrawBaseMs + kDrawMsPerUl * (m_program.injectVolumeNl / 1000);
    case SamplerPhase::kInjecting:
      return m_samplerPhaseStartMs + kInjectMs;
    case SamplerPhase::kFlushing:
      return m_samplerPhaseStartMs + kFlushMs * std::max(0, m_program.flushCount);
  }
  return -1;
}

std::int64_t InstrumentModel::NextDeadline() const {
  std::int64_t next = INT64_MAX;
  if (m_bSamplerPresent && !m_bSamplerReady && !m_bSamplerSilent && m_samplerReadyAtMs >= 0) {
    next = std::min(next, m_samplerReadyAtMs);
  }
  if (const std::int64_t end = SamplerPhaseEnd(); end >= 0) next = std::min(next, end);
  if (RunClockStarted() && m_runEndMs >= 0) next = std::min(next, m_runEndMs);
  if (Delivering()) next = std::min(next, (m_lastCheckMs / kCheckPeriodMs + 1) * kCheckPeriodMs);
  next = std::min(next, NextOutputDeadline());
  return next;
}

void InstrumentModel::AdvanceSampler(std::vector<Notice>& notices) {
  const std::int64_t end = SamplerPhaseEnd();
  if (end < 0 || end > m_nowMs) return;
  m_samplerPhaseStartMs = end;
  switch (m_samplerPhase) {
    case SamplerPhase::kToVial:
      m_samplerPhase = SamplerPhase::kDrawing;
      break;
    case SamplerPhase::kDrawing:
      m_samplerPhase = SamplerPhase::kInjecting;
      break;
    case SamplerPhase::kInjecting:
      m_samplerPhase = SamplerPhase::kFlushing;
      m_runStartMs = end;
      m_runEndMs = m_program.runTimeS > 0 ? end + std::int64_t{m_program.runTimeS} * 1000 : -1;
      notices.push_back({Notice::Kind::kInjected, kUnitAutosampler, end});
      break;
    case SamplerPhase::kFlushing:
      m_samplerPhase = SamplerPhase::kInjected;
      break;
    case SamplerPhase::kIdle:
    case SamplerPhase::kInjected:
      break;
  }
}

void InstrumentModel::Trip(Notice::Kind kind, int pump, std::vector<Notice>& notices) {
  m_bPumpTrouble[pump] = true;
  m_bPumpOn = false;
  StopRun();
  notices.push_back({kind, static_cast<std::uint16_t>(kUnitPump1 + pump), m_nowMs});
}

void InstrumentModel::AdvanceTo(std::int64_t nowMs, std::vector<Notice>& notices) {
  for (;;) {
    const std::int64_t due = NextDeadline();
    if (due > nowMs) break;
    m_nowMs = std::max(m_nowMs, due);

    if (m_bSamplerPresent && !m_bSamplerReady && !m_bSamplerSilent && m_samplerReadyAtMs >= 0 &&
        m_samplerReadyAtMs <= m_nowMs) {
      m_bSamplerReady = true;
      notices.push_back({Notice::Kind::kSamplerReady, kUnitAutosampler, m_nowMs});
    }
    AdvanceSampler(notices);
    AdvanceOutputs(notices);
    if (RunClockStarted() && m_runEndMs >= 0 && m_runEndMs <= m_nowMs) {
      const bool sequence = m_samplerPhase != SamplerPhase::kIdle;
      m_bRunning = false;
      m_runStartMs = -1;
      m_runEndMs = -1;
      AbortSequence();
      notices.push_back({Notice::Kind::kRunEnded, 0, m_nowMs});
      if (sequence) notices.push_back({Notice::Kind::kSequenceDone, kUnitAutosampler, m_nowMs});
    }
    if (Delivering() && (m_lastCheckMs / kCheckPeriodMs + 1) * kCheckPeriodMs <= m_nowMs) {
      m_lastCheckMs = m_nowMs;
      const double pressure = PressureBar(FlowUlMin(), CurrentComposition(), OvenTemperature(), m_bottles);
      if (m_bLineBlocked) {
        m_bLineBlocked = false;
        Trip(Notice::Kind::kUpperPressure, 0, notices);
        continue;
      }
      for (int i = 0; i < kPumpCount; ++i) {
        if (!PumpInSystem(i)) continue;
        const int upper = UpperLimit(i);
        if (upper > 0 && pressure > upper) {
          Trip(Notice::Kind::kUpperPressure, i, notices);
          break;
        }
        if (m_lowerLimit[i] > 0 && pressure < m_lowerLimit[i] && m_nowMs - m_pumpStartMs >= kLowerLimitGraceMs) {
          Trip(Notice::Kind::kLowerPressure, i, notices);
          break;
        }
      }
    }
  }
  m_nowMs = std::max(m_nowMs, nowMs);
}

bool InstrumentModel::PumpInSystem(int pump) const {
  if (!m_bPumpPresent[pump]) return false;
  switch (m_program.systemCode) {
    case kSystemBinary: return pump <= 1;
    case kSystemTernary: return pump <= 2;
    default: return pump == 0;
  }
}

double InstrumentModel::FlowUlMin() const {
  if (!Delivering()) return 0.0;
  if (!RunClockStarted()) return m_baseFlowUlMin;
  return Ramp<double>(m_program.timetable, ElapsedMs(), m_baseFlowUlMin,
                      [](const TimetableStep& s) { return s.unit == kUnitPump1 ? s.flowUlMin : std::nullopt; });
}

Composition InstrumentModel::CurrentComposition() const {
  if (!RunClockStarted()) return m_baseComposition;
  return Ramp<Composition>(m_program.timetable, ElapsedMs(), m_baseComposition,
                           [](const TimetableStep& s) { return s.unit == kUnitPump1 ? s.composition : std::nullopt; });
}

int InstrumentModel::UpperLimit(int pump) const {
  int limit = m_upperLimit[pump];
  if (!RunClockStarted()) return limit;
  const auto unit = static_cast<std::uint16_t>(kUnitPump1 + pump);
  for (const TimetableStep& step : m_program.timetable) {
    if (step.timeMs > ElapsedMs()) break;
    if (step.unit == unit && step.upperLimitBar) limit = *step.upperLimitBar;
  }
  return limit;
}

double InstrumentModel::OvenTemperature() const {
  const double target = m_bOvenOn ? m_ovenSetPointC : kAmbientC;
  const double t = static_cast<double>(m_nowMs - m_ovenChangeMs);
  return target + (m_ovenFromC - target) * std::exp(-t / kOvenTimeConstantMs);
}

double InstrumentModel::ViscosityCp(const Composition& composition, double columnC, const Bottles& bottles) {
  return MixtureViscosityCp(bottles, {composition.a, composition.b, composition.c}, columnC);
}

double InstrumentModel::PressureBar(double flowUlMin, const Composition& composition, double columnC,
                                    const Bottles& bottles) {
  return kColumnResistance * (flowUlMin / 1000.0) * ViscosityCp(composition, columnC, bottles);
}

NodeReading InstrumentModel::ReadNode() const {
  NodeReading r{};
  r.state = m_dwFaultState ? m_dwFaultState : m_bRunning ? kNodeRunning : m_bPumpOn ? kNodePumpOn : kNodeIdle;
  r.elapsedMs = static_cast<std::int32_t>(std::min<std::int64_t>(ElapsedMs(), INT32_MAX));
  r.composition = CurrentComposition();
  r.flowUlMin = FlowUlMin();
  r.pressureBar = PressureBar(r.flowUlMin, r.composition, OvenTemperature(), m_bottles);
  r.anlsSerial = m_dwAnlsSerial;
  r.vial = m_runVial.value_or(-1);
  r.flushCount = m_program.flushCount;
  r.injectVolumeNl = m_program.injectVolumeNl;
  r.runTimeS = m_program.runTimeS;
  r.upperLimitBar = UpperLimit(0);
  r.lowerLimitBar = m_lowerLimit[0];
  r.outputOn = m_bOutputOn;
  r.valvePosition = m_valvePosition;
  return r;
}

PumpReading InstrumentModel::ReadPump(int index) const {
  PumpReading r{};
  if (index < 0 || index >= kPumpCount) return r;
  r.upperLimitBar = UpperLimit(index);
  r.lowerLimitBar = m_lowerLimit[index];
  r.status = m_bPumpTrouble[index] ? 0x8000u : 0u;
  r.composition = CurrentComposition();
  r.setFlowUlMin = RunClockStarted() && m_bPumpOn ? FlowUlMin() : m_baseFlowUlMin;
  if (!PumpInSystem(index)) return r;
  r.flowUlMin = FlowUlMin();
  r.pressureBar = PressureBar(r.flowUlMin, r.composition, OvenTemperature(), m_bottles);
  if (Delivering()) r.status |= 1u;
  return r;
}

SamplerReading InstrumentModel::ReadSampler() const {
  SamplerReading r{};
  r.vial = m_runVial.value_or(-1);
  r.injections = m_runVial ? 1 : 0;
  r.lastSample = m_runVial.has_value();
  if (!m_bSamplerPresent || !m_bSamplerReady) {
    r.status = kSamplerNotReady;
    return r;
  }
  switch (m_samplerPhase) {
    case SamplerPhase::kIdle: r.status = kSamplerReadyIdle; break;
    case SamplerPhase::kToVial: r.status = kSamplerToVial; break;
    case SamplerPhase::kDrawing: r.status = kSamplerDrawing; break;
    case SamplerPhase::kInjecting: r.status = kSamplerInjecting; break;
    case SamplerPhase::kFlushing: r.status = kSamplerFlushing; break;
    case SamplerPhase::kInjected: r.status = kSamplerInjected; break;
  }
  return r;
}

OvenReading InstrumentModel::ReadOven() const {
  OvenReading r{};
  r.temperatureC = OvenTemperature();
  r.setPointC = m_ovenSetPointC;
  r.status = !m_bOvenOn ? 0u : std::fabs(r.temperatureC - m_ovenSetPointC) > 0.5 ? 1u : 2u;
  return r;
}

UvReading InstrumentModel::ReadUv() const {
  return {m_bLampOn ? 0u : reply::UVStatus::kLampOffBit, m_uvWavelength, m_uvResponse, m_bLampOn};
}

}  // namespace sim
