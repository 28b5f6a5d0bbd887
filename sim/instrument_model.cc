#include "sim/instrument_model.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace sim {

namespace {

constexpr std::int64_t kToVialMs = 3000;
constexpr std::int64_t kDrawBaseMs = 2000;
constexpr std::int64_t kDrawMsPerUl = 50;
constexpr std::int64_t kInjectMs = 1000;
constexpr std::int64_t kFlushMs = 2000;

double Lerp(double from, double to, std::int64_t t0, std::int64_t t1, std::int64_t t) {
  return from + (to - from) * static_cast<double>(t - t0) / static_cast<double>(t1 - t0);
}

Composition Lerp(const Composition& from, const Composition& to, std::int64_t t0, std::int64_t t1, std::int64_t t) {
  return {Lerp(from.a, to.a, t0, t1, t), Lerp(from.b, to.b, t0, t1, t), Lerp(from.c, to.c, t0, t1, t),
          Lerp(from.d, to.d, t0, t1, t)};
}

// The value of a ramped quantity at `elapsed` ms of the run: `base` at
// the start, each step's value at its time, linear in between, the last
// value held after the last step; steps at one time make a jump.
template <class T>
T Ramp(const std::vector<std::pair<std::int64_t, T>>& steps, std::int64_t elapsed, T base) {
  const auto next = std::upper_bound(steps.begin(), steps.end(), elapsed,
                                     [](std::int64_t t, const std::pair<std::int64_t, T>& s) { return t < s.first; });
  if (next == steps.begin()) return next == steps.end() ? base : Lerp(base, next->second, 0, next->first, elapsed);
  const auto& prev = *(next - 1);
  return next == steps.end() ? prev.second : Lerp(prev.second, next->second, prev.first, next->first, elapsed);
}

// What the column holds, empty.
ColumnContents BedOf(const Hydraulics& hydraulics) {
  return ColumnContents(hydraulics.meanOverBed ? LiquidVolumeMl(hydraulics.column) : 0.0);
}

// The place of `unit` in kModelUnits; kModelUnits.size() for none.
constexpr std::size_t PlaceOf(std::uint16_t unit) {
  return static_cast<std::size_t>(std::find(kModelUnits.begin(), kModelUnits.end(), unit) - kModelUnits.begin());
}
// The autosampler's, asked at every step of the clock.
constexpr std::size_t kSamplerPlace = PlaceOf(kUnitAutosampler);

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
  fresh.m_hydraulics = m_hydraulics;
  fresh.m_resistance = m_resistance;
  fresh.m_dwell = DwellLine(m_hydraulics.dwellMl);
  fresh.m_column = BedOf(m_hydraulics);
  fresh.m_liveMs = fresh.m_nowMs;
  fresh.m_separation.Fit(m_hydraulics.column);
  fresh.m_separation.SetPlateHeightFactor(m_separation.PlateHeightFactor());
  fresh.m_tray = std::move(m_tray);
  fresh.m_bLineBlocked = m_bLineBlocked;
  fresh.m_bSamplerSilent = m_bSamplerSilent;
  *this = std::move(fresh);
}

void InstrumentModel::SetUnitPresent(std::uint16_t unit, bool present) {
  const std::size_t place = PlaceOf(unit);
  if (place == kModelUnits.size()) return;
  if (unit == kUnitAutosampler && present != m_bPresent[place]) {
    // It homes when it appears; gone, it forgets its sequence.
    if (!present) AbortSequence();
    m_bSamplerReady = false;
    m_samplerReadyAtMs = present ? m_nowMs + kHomingMs : -1;
  }
  m_bPresent[place] = present;
}

bool InstrumentModel::IsPresent(std::uint16_t unit) const {
  const std::size_t place = PlaceOf(unit);
  return unit == kUnitNode || (place < kModelUnits.size() && m_bPresent[place]);
}

void InstrumentModel::PumpStart() {
  Integrate();
  // The program's initial conditions: the delivery system's flow and
  // composition from pump 1, each pump's limits, the oven and the UV.
  SetPump(0, m_program.pumps[0]);
  for (int i = 1; i < kPumpCount; ++i) {
    SetPump(i, {std::nullopt, std::nullopt, m_program.pumps[i].upperLimitBar, m_program.pumps[i].lowerLimitBar});
  }
  if (m_program.ovenTemperatureC) SetOven(true, *m_program.ovenTemperatureC);
  SetUv(m_program.uvWavelengthTenthsNm, m_program.uvResponse, std::nullopt);
  if (!m_bPumpOn) m_pumpStartMs = m_lastCheckMs = m_nowMs;
  m_bPumpOn = true;
}

void InstrumentModel::PumpStop() {
  Integrate();
  m_bPumpOn = false;
  StopRun();
}

void InstrumentModel::StopRun() {
  Integrate();
  m_separation.EndRun();
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
  m_runVial = IsPresent(kUnitAutosampler) ? m_program.vial : std::nullopt;
  if (!m_runVial) return StartRunClock(m_nowMs);
  m_samplerPhase = SamplerPhase::kToVial;  // the run clock starts at the injection
  m_samplerPhaseStartMs = m_nowMs;
}

void InstrumentModel::StartRunClock(std::int64_t atMs) {
  m_runStartMs = atMs;
  m_runEndMs = m_program.runTimeS > 0 ? atMs + std::int64_t{m_program.runTimeS} * 1000 : -1;
}

void InstrumentModel::LoadProgram(const Program& program) {
  Integrate();
  m_program = program;
  m_flowSteps.clear();
  m_compositionSteps.clear();
  m_lowestStepUpperLimit.fill(0);
  for (const TimetableStep& step : m_program.timetable) {
    const int pump = step.unit - kUnitPump1;
    const int upper = step.set.upperLimitBar.value_or(0);
    if (pump >= 0 && pump < kPumpCount && upper > 0) {
      int& lowest = m_lowestStepUpperLimit[static_cast<std::size_t>(pump)];
      lowest = lowest > 0 ? std::min(lowest, upper) : upper;
    }
    if (step.unit != kUnitPump1) continue;
    if (step.set.flowUlMin) m_flowSteps.emplace_back(step.timeMs, *step.set.flowUlMin);
    if (step.set.composition) m_compositionSteps.emplace_back(step.timeMs, *step.set.composition);
  }
  // In time order for the ramps' search; steps at one time keep theirs.
  const auto byTime = [](const auto& x, const auto& y) { return x.first < y.first; };
  std::stable_sort(m_flowSteps.begin(), m_flowSteps.end(), byTime);
  std::stable_sort(m_compositionSteps.begin(), m_compositionSteps.end(), byTime);
}

void InstrumentModel::SetPump(int pump, const PumpSettings& settings) {
  Integrate();
  if (settings.flowUlMin) m_baseFlowUlMin = *settings.flowUlMin;
  if (settings.composition) m_baseComposition = *settings.composition;
  if (pump < 0 || pump >= kPumpCount) return;
  if (settings.upperLimitBar) m_upperLimit[pump] = *settings.upperLimitBar;
  if (settings.lowerLimitBar) m_lowerLimit[pump] = *settings.lowerLimitBar;
}

void InstrumentModel::SetOven(bool on, int setPointC) {
  Integrate();
  m_ovenFromC = OvenTemperature();
  m_ovenChangeMs = m_nowMs;
  m_bOvenOn = on;
  m_ovenSetPointC = on ? setPointC : 0;
}

void InstrumentModel::SetUv(std::optional<int> wavelengthTenthsNm, std::optional<int> response,
                            std::optional<bool> lampOn) {
  m_uvWavelength = wavelengthTenthsNm.value_or(m_uvWavelength);
  m_uvResponse = response.value_or(m_uvResponse);
  m_bLampOn = lampOn.value_or(m_bLampOn);
}

void InstrumentModel::AbortSequence() {
  if (m_samplerPhase == SamplerPhase::kIdle) return;
  m_samplerPhase = SamplerPhase::kIdle;
  m_samplerPhaseStartMs = m_nowMs;
}

std::int64_t InstrumentModel::SamplerReadyDue() const {
  const bool homing = m_bPresent[kSamplerPlace] && !m_bSamplerReady && !m_bSamplerSilent;
  return homing && m_samplerReadyAtMs >= 0 ? m_samplerReadyAtMs : kNever;
}

std::int64_t InstrumentModel::SamplerPhaseEnd() const {
  switch (m_samplerPhase) {
    case SamplerPhase::kToVial:
      // A sequence asked for while homing starts when homing ends.
      return m_bSamplerReady ? std::max(m_samplerPhaseStartMs, m_samplerReadyAtMs) + kToVialMs : kNever;
    case SamplerPhase::kDrawing:
      return m_samplerPhaseStartMs + kDrawBaseMs + kDrawMsPerUl * (m_program.injectVolumeNl / 1000);
    case SamplerPhase::kInjecting: return m_samplerPhaseStartMs + kInjectMs;
    case SamplerPhase::kFlushing: return m_samplerPhaseStartMs + kFlushMs * std::max(0, m_program.flushCount);
    default: return kNever;  // idle, or injected and waiting for the end of the run
  }
}

std::int64_t InstrumentModel::NextDeadline() const {
  return std::min({SamplerReadyDue(), SamplerPhaseEnd(), RunEndDue(), CheckDue()});
}

std::int64_t InstrumentModel::NextNoticeDue() const {
  return std::min({SamplerReadyDue(), SamplerPhaseEnd(), RunEndDue(), TripPossibleMs()});
}

std::int64_t InstrumentModel::TripPossibleMs() const {
  const std::int64_t first = CheckDue();
  if (first == kNever || !m_bPumpOn) return kNever;  // checks trip only while the pumps deliver
  if (m_bLineBlocked) return first;
  // The limits that can apply: the pumps' own and any the timetable sets.
  constexpr double kNone = std::numeric_limits<double>::infinity();
  double upper = kNone, lower = -kNone;
  for (int i = 0; i < kPumpCount; ++i) {
    if (!PumpInSystem(i)) continue;
    const auto pump = static_cast<std::size_t>(i);
    for (const int set : {m_upperLimit[pump], m_lowestStepUpperLimit[pump]}) {
      if (set > 0) upper = std::min<double>(upper, set);
    }
    if (m_lowerLimit[pump] > 0) lower = std::max<double>(lower, m_lowerLimit[pump]);
  }
  if (upper == kNone && lower == -kNone) return kNever;
  // The delivered flow moves from where it is towards set flows that the
  // program's values bound; the steady pressure is that flow through the
  // column and the system at the viscosities of what they hold and
  // receive, at oven temperatures between now and the set point.
  double flowLow = std::min(m_live.flowUlMin, m_baseFlowUlMin);
  double flowHigh = std::max(m_live.flowUlMin, m_baseFlowUlMin);
  for (const auto& [timeMs, flow] : m_flowSteps) {
    flowLow = std::min(flowLow, flow);
    flowHigh = std::max(flowHigh, flow);
  }
  if (flowLow < 0.0 || m_resistance.columnBar < 0.0 || m_resistance.systemBar < 0.0) return first;
  const double ovenC = OvenTemperature();
  const double targetC = m_bOvenOn ? std::clamp<double>(m_ovenSetPointC, kAmbientC, kOvenHighestC) : kAmbientC;
  // Whole degrees around the range: wider bounds hold as well, and stay the
  // same while the oven warms.
  const CpBounds head = ViscosityBounds(std::floor(std::min(ovenC, targetC)), std::ceil(std::max(ovenC, targetC)));
  const double bedLow = std::min(head.lowest, m_column.LowestCp());
  const double bedHigh = std::max(head.highest, m_column.HighestCp());
  // Margins far above the rounding of the steps.
  constexpr double kMargin = 1e-6;
  const double steadyHigh =
      flowHigh / 1000.0 * (m_resistance.columnBar * bedHigh + m_resistance.systemBar * head.highest) * (1 + kMargin) +
      kMargin;
  const double steadyLow =
      flowLow / 1000.0 * (m_resistance.columnBar * bedLow + m_resistance.systemBar * head.lowest) * (1 - kMargin) -
      kMargin;
  // Each step moves the pressure from p towards the steady one s, to
  // s + (p - s) x lag with the lag at least that of a whole period: its
  // distance below steadyHigh (above steadyLow) shrinks by at most that
  // factor a step. The checks this leaves short of a limit are safe.
  if (m_periodLag.timeS != m_hydraulics.pressureTimeS) {
    const double timeS = m_periodLag.timeS = m_hydraulics.pressureTimeS;
    m_periodLag.lag = timeS > 0.0 ? std::exp(-static_cast<double>(kCheckPeriodMs) / (timeS * 1000.0)) : 0.0;
  }
  const double lag = m_periodLag.lag;
  const double p = m_live.pressureBar;
  // Checks from `first` that cannot find the pressure past `limit`, which
  // it approaches from `p` on its way to `bound`.
  const auto safeChecks = [&](double limit, double bound) -> double {
    if (std::fabs(bound - p) <= 0.0 || !(lag > 0.0)) return 0.0;
    const double ratio = (bound - limit) / (bound - p);
    if (!(ratio > 0.0 && ratio < 1.0)) return 0.0;
    if (!(lag < 1.0)) return kNone;
    return std::floor(std::log(ratio) / std::log(lag)) - 1.0;
  };
  const auto checkAfter = [&](double checks) {
    constexpr double kFar = 1e12;
    return first + static_cast<std::int64_t>(std::clamp(checks, 0.0, kFar / kCheckPeriodMs)) * kCheckPeriodMs;
  };
  std::int64_t due = kNever;
  if (upper != kNone) {
    const double limit = upper - kMargin * std::max(1.0, upper);
    if (p >= limit) return first;
    if (steadyHigh > limit) due = std::min(due, checkAfter(safeChecks(limit, steadyHigh)));
  }
  if (lower != -kNone) {
    const double limit = lower + kMargin * std::max(1.0, lower);
    // Below its limit the pressure trips only once the flow has settled,
    // kLowerLimitGraceMs after the pumps started at the earliest.
    const std::int64_t settled = m_pumpStartMs + kLowerLimitGraceMs;
    if (p <= limit) {
      due = std::min(due, std::max(first, settled));
    } else if (steadyLow < limit) {
      due = std::min(due, std::max(checkAfter(safeChecks(limit, steadyLow)), settled));
    }
  }
  return due;
}

void InstrumentModel::AdvanceSampler(std::vector<Notice>& notices) {
  const std::int64_t end = SamplerPhaseEnd();
  if (end > m_nowMs) return;
  m_samplerPhaseStartMs = end;
  if (m_samplerPhase == SamplerPhase::kInjecting) {
    Integrate();
    const auto sample = m_tray.find(*m_runVial);
    m_separation.Inject(m_nowMs, *m_runVial, sample == m_tray.end() ? SampleContents{} : sample->second,
                        m_program.injectVolumeNl / 1000.0, OvenTemperature(), m_dwAnlsSerial);
    StartRunClock(end);
    notices.push_back({Notice::Kind::kInjected, kUnitAutosampler, end});
  }
  m_samplerPhase = static_cast<SamplerPhase>(static_cast<int>(m_samplerPhase) + 1);
}

void InstrumentModel::Trip(Notice::Kind kind, int pump, std::vector<Notice>& notices) {
  m_bPumpTrouble[pump] = true;
  m_bPumpOn = false;
  StopRun();
  m_live.flowUlMin = 0.0;  // a tripped pump stops at once; the pressure decays
  notices.push_back({kind, static_cast<std::uint16_t>(kUnitPump1 + pump), m_nowMs});
}

void InstrumentModel::CheckLimits(std::vector<Notice>& notices) {
  m_lastCheckMs = m_nowMs;
  Integrate();
  if (!m_bPumpOn) return;
  if (std::exchange(m_bLineBlocked, false)) return Trip(Notice::Kind::kUpperPressure, 0, notices);
  const double pressure = m_live.pressureBar;
  // The lower limit counts once the flow has had time to ramp up to its set
  // value and the pressure to follow.
  const auto settled = [&] {
    const double ramp = m_hydraulics.flowRampMlMin2;
    const double rampMs = ramp > 0.0 ? FlowUlMin() / (ramp * 1000.0 / 60000.0) : 0.0;
    return static_cast<double>(m_nowMs - m_pumpStartMs) >= kLowerLimitGraceMs + rampMs;
  };
  const std::array<int, kPumpCount> uppers = UpperLimits();
  for (int i = 0; i < kPumpCount; ++i) {
    if (!PumpInSystem(i)) continue;
    const int upper = uppers[static_cast<std::size_t>(i)];
    if (upper > 0 && pressure > upper) return Trip(Notice::Kind::kUpperPressure, i, notices);
    if (m_lowerLimit[i] > 0 && pressure < m_lowerLimit[i] && settled()) {
      return Trip(Notice::Kind::kLowerPressure, i, notices);
    }
  }
}

void InstrumentModel::AdvanceTo(std::int64_t nowMs, std::vector<Notice>& notices) {
  for (;;) {
    const std::int64_t ready = SamplerReadyDue(), phaseEnd = SamplerPhaseEnd(), runEnd = RunEndDue();
    const std::int64_t due = std::min({ready, phaseEnd, runEnd, CheckDue()});
    if (due > nowMs) break;
    m_nowMs = std::max(m_nowMs, due);
    if (ready > m_nowMs && phaseEnd > m_nowMs && runEnd > m_nowMs) {
      CheckLimits(notices);  // the usual step: a limit check alone
      continue;
    }
    if (SamplerReadyDue() <= m_nowMs) {
      m_bSamplerReady = true;
      notices.push_back({Notice::Kind::kSamplerReady, kUnitAutosampler, m_nowMs});
    }
    AdvanceSampler(notices);
    if (RunEndDue() <= m_nowMs) {
      const bool sequence = m_samplerPhase != SamplerPhase::kIdle;
      StopRun();
      notices.push_back({Notice::Kind::kRunEnded, 0, m_nowMs});
      if (sequence) notices.push_back({Notice::Kind::kSequenceDone, kUnitAutosampler, m_nowMs});
    }
    if (CheckDue() <= m_nowMs) CheckLimits(notices);  // integrates the liquid path first
  }
  m_nowMs = std::max(m_nowMs, nowMs);
}

bool InstrumentModel::PumpInSystem(int pump) const {
  if (!m_bPresent[static_cast<std::size_t>(pump)]) return false;  // the pumps lead kModelUnits
  switch (m_program.systemCode) {
    case kSystemBinary: return pump <= 1;
    case kSystemTernary: return pump <= 2;
    default: return pump == 0;
  }
}

double InstrumentModel::FlowUlMin() const {
  if (!m_bPumpOn) return 0.0;
  if (!RunClockStarted()) return m_baseFlowUlMin;
  return Ramp(m_flowSteps, ElapsedMs(), m_baseFlowUlMin);
}

Composition InstrumentModel::CurrentComposition() const {
  if (!RunClockStarted()) return m_baseComposition;
  return Ramp(m_compositionSteps, ElapsedMs(), m_baseComposition);
}

int InstrumentModel::UpperLimit(int pump) const { return UpperLimits()[static_cast<std::size_t>(pump)]; }

std::array<int, kPumpCount> InstrumentModel::UpperLimits() const {
  std::array<int, kPumpCount> limits = m_upperLimit;
  if (!RunClockStarted()) return limits;
  const std::int64_t elapsed = ElapsedMs();
  for (const TimetableStep& step : m_program.timetable) {
    if (step.timeMs > elapsed) break;
    const int pump = step.unit - kUnitPump1;
    if (pump >= 0 && pump < kPumpCount && step.set.upperLimitBar) {
      limits[static_cast<std::size_t>(pump)] = *step.set.upperLimitBar;
    }
  }
  return limits;
}

double InstrumentModel::OvenTemperature() const {
  // A forced-air oven heats and cannot cool: a set point below the room
  // settles at the room's temperature, one above its heater's reach at that.
  const double target = m_bOvenOn ? std::clamp<double>(m_ovenSetPointC, kAmbientC, kOvenHighestC) : kAmbientC;
  return OvenCurveC(m_ovenFromC, target, static_cast<double>(m_nowMs - m_ovenChangeMs));
}

void InstrumentModel::SetBottles(const Bottles& bottles) {
  Integrate();
  m_bottles = bottles;
  m_viscosity.reset();
  m_cpBounds = {};
  RevalueColumn(OvenTemperature());
}

void InstrumentModel::RevalueColumn(double columnC) {
  m_columnValuedC = columnC;
  const MixtureViscosity& viscosity = ViscosityAt(columnC);
  m_column.Revalue([&](const Composition& c) { return viscosity.Cp({c.a, c.b, c.c, c.d}); });
}

CpBounds InstrumentModel::ViscosityBounds(double lowC, double highC) const {
  if (!(m_cpBounds.lowC == lowC && m_cpBounds.highC == highC)) {
    m_cpBounds = {lowC, highC, MixtureViscosityBounds(m_bottles, lowC, highC)};
  }
  return m_cpBounds.bounds;
}

const MixtureViscosity& InstrumentModel::ViscosityAt(double columnC) const {
  if (!m_viscosity || m_viscosity->ColumnC() != columnC) m_viscosity.emplace(m_bottles, columnC);
  return *m_viscosity;
}

void InstrumentModel::SetHydraulics(const Hydraulics& hydraulics) {
  Integrate();
  m_hydraulics = hydraulics;
  m_resistance = ResistanceOf(hydraulics.column);
  m_dwell = DwellLine(hydraulics.dwellMl);
  m_column = BedOf(hydraulics);
  m_separation.Fit(hydraulics.column);
  // Another column is fitted already settled: a pressure left from the old
  // one must not trip the limits the next method brings.
  m_live.pressureBar = PressureBar(m_live.flowUlMin, CurrentComposition(), OvenTemperature(), m_bottles,
                                   hydraulics.column);
}

InstrumentModel::Live InstrumentModel::LiveAt(const Composition& now, double columnC) const {
  const double dt = static_cast<double>(m_nowMs - m_liveMs);
  Live live;
  live.flowUlMin = FlowUlMin();
  if (m_hydraulics.flowRampMlMin2 > 0.0) {
    const double step = m_hydraulics.flowRampMlMin2 * 1000.0 / 60000.0 * dt;  // ul/min this much time allows
    live.flowUlMin = std::clamp(live.flowUlMin, m_live.flowUlMin - step, m_live.flowUlMin + step);
  }
  live.volumeMl = m_live.volumeMl + (m_live.flowUlMin + live.flowUlMin) / 2.0 * dt / 60000.0 / 1000.0;
  live.atHead = m_dwell.AtColumn(live.volumeMl, now);
  live.headCp = ViscosityAt(columnC).Cp({live.atHead.a, live.atHead.b, live.atHead.c, live.atHead.d});
  // The bed resists with the mean viscosity of what it holds, the system
  // with that of what reaches the column's head.
  const double bedCp =
      m_column.HoldsOnly(live.volumeMl, live.atHead) ? live.headCp : m_column.MeanCp(live.volumeMl, live.headCp);
  const double steady = (live.flowUlMin / 1000.0) * (m_resistance.columnBar * bedCp + m_resistance.systemBar * live.headCp);
  live.pressureBar = steady + (m_live.pressureBar - steady) * PressureLag(dt);
  return live;
}

double InstrumentModel::PressureLag(double dt) const {
  const double timeS = m_hydraulics.pressureTimeS;
  if (!(timeS > 0.0)) return 0.0;
  if (dt != m_lagDt || timeS != m_lagTimeS) {
    m_lagDt = dt;
    m_lagTimeS = timeS;
    m_lag = std::exp(-dt / (timeS * 1000.0));
  }
  return m_lag;
}

const InstrumentModel::Reading& InstrumentModel::ReadingNow() const {
  if (m_reading.atMs != m_nowMs) {
    m_reading.composition = CurrentComposition();
    m_reading.live = LiveAt(m_reading.composition, OvenTemperature());
    m_reading.atMs = m_nowMs;
  }
  return m_reading;
}

void InstrumentModel::Integrate() {
  const double before = m_live.volumeMl;
  // Neither changes within this step.
  const Composition now = CurrentComposition();
  const double columnC = OvenTemperature();
  m_live = LiveAt(now, columnC);
  m_liveMs = m_nowMs;
  m_reading.atMs = -1;
  m_dwell.Deliver(m_live.volumeMl, now);
  m_column.Enter(m_live.volumeMl, m_live.atHead, m_live.headCp);
  // The bed is at the oven's temperature: once that has moved, what the
  // column holds is as viscous as its composition is there. A column that
  // holds one composition reads the head's viscosity and needs none.
  constexpr double kRevalueC = 0.1;
  if (std::fabs(columnC - m_columnValuedC) > kRevalueC && !m_column.HoldsOnly(m_live.volumeMl, m_live.atHead)) {
    RevalueColumn(columnC);
  }
  if (m_live.volumeMl > before) m_separation.Enter(m_live.volumeMl, SolventFractions(m_bottles, m_live.atHead));
  m_separation.Advance(m_nowMs, m_live.volumeMl, m_live.flowUlMin / 1000.0, columnC, m_live.headCp,
                       (m_uvWavelength + 5) / 10, m_bLampOn && IsPresent(kUnitUV), m_uvResponse);
}

void InstrumentModel::PlaceSample(int vial, SampleContents contents) {
  if (contents.empty()) {
    m_tray.erase(vial);
  } else {
    m_tray[vial] = std::move(contents);
  }
}

double InstrumentModel::ViscosityCp(const Composition& composition, double columnC, const Bottles& bottles) {
  return MixtureViscosityCp(bottles, {composition.a, composition.b, composition.c, composition.d}, columnC);
}

double InstrumentModel::PressureBar(double flowUlMin, const Composition& composition, double columnC,
                                    const Bottles& bottles, const std::optional<Column>& column) {
  return ResistanceBar(column) * (flowUlMin / 1000.0) * ViscosityCp(composition, columnC, bottles);
}

NodeReading InstrumentModel::ReadNode() const {
  NodeReading r{};
  r.state = m_dwFaultState ? m_dwFaultState : m_bRunning ? kNodeRunning : m_bPumpOn ? kNodePumpOn : kNodeIdle;
  r.elapsedMs = static_cast<std::int32_t>(std::min<std::int64_t>(ElapsedMs(), INT32_MAX));
  const Reading& now = ReadingNow();
  r.composition = now.composition;
  r.flowUlMin = now.live.flowUlMin;
  r.pressureBar = now.live.pressureBar;
  r.anlsSerial = m_dwAnlsSerial;
  r.vial = m_runVial.value_or(-1);
  r.flushCount = m_program.flushCount;
  r.injectVolumeNl = m_program.injectVolumeNl;
  r.runTimeS = m_program.runTimeS;
  r.upperLimitBar = UpperLimit(0);
  r.lowerLimitBar = m_lowerLimit[0];
  return r;
}

PumpReading InstrumentModel::ReadPump(int index) const {
  PumpReading r{};
  if (index < 0 || index >= kPumpCount) return r;
  r.upperLimitBar = UpperLimit(index);
  r.lowerLimitBar = m_lowerLimit[index];
  r.status = m_bPumpTrouble[index] ? 0x8000u : 0u;
  const Reading& now = ReadingNow();
  r.composition = now.composition;
  r.setFlowUlMin = RunClockStarted() && m_bPumpOn ? FlowUlMin() : m_baseFlowUlMin;
  if (!PumpInSystem(index)) return r;
  r.flowUlMin = now.live.flowUlMin;
  r.pressureBar = now.live.pressureBar;
  if (m_bPumpOn) r.status |= 1u;
  return r;
}

SamplerReading InstrumentModel::ReadSampler() const {
  // By SamplerPhase.
  static constexpr std::uint32_t kStatus[] = {kSamplerReadyIdle, kSamplerToVial,   kSamplerDrawing,
                                              kSamplerInjecting, kSamplerFlushing, kSamplerInjected};
  const bool ready = IsPresent(kUnitAutosampler) && m_bSamplerReady;
  return {ready ? kStatus[static_cast<int>(m_samplerPhase)] : kSamplerNotReady, m_runVial.value_or(-1),
          m_runVial ? 1 : 0, m_runVial.has_value()};
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
