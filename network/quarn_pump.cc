#include "network/quarn_pump.h"

#include <algorithm>
#include <cstdint>

#include "network/download_state.h"
#include "network/reply_decoder.h"
#include "network/timetable_limits.h"
#include "network/vexlink_session.h"
#include "platform/inlet/inlet.h"
#include "platform/vexlink/reply_formats.h"
#include "platform/vexlink/vexlink.h"
#include "platform/win/windows.h"

DirectPumpState g_directPumpState;
DirectRunFlags g_directRunFlags;

namespace {


// A run counts as running only past this elapsed time, minutes.
constexpr double kElapsedThresholdMin = 0.004;
// The oven is ready within this share of its target.
constexpr double kOvenTolerance = 0.05;
// A sample start whose run no poll has seen within this time did not take.
constexpr crt::clock_t kSampleStartGraceMs = 10000;

// Autosampler states (low 16 bits) that mean no injection sequence is
// going on: not ready, injected and waiting for the run's end, ready.
constexpr std::uint32_t kSamplerIdleStates[] = {kSamplerNotReady, kSamplerInjected, kSamplerReadyIdle};

std::uint16_t LowWord(std::int64_t value) { return static_cast<std::uint16_t>(static_cast<std::uint64_t>(value)); }

int Node() { return g_vexlinkSession.m_hNode.Load(); }
bool SessionNotOpen() { return g_vexlinkSession.m_nNotOpen.Load() != 0; }

void PushAnlsFile() {
  const DownloadRecords& r = g_downloadRecords;
  LC_PushAnlsFile(Node(), r.m_runHeader.Data(), r.m_anlsFile.Data(), r.m_transferControl.Data());
}

void SendDirectCommand(std::uint16_t unit) { LC_UnitDirect(Node(), unit, g_downloadRecords.m_directCommand.Data()); }

template <int I>
void SetCommandWord(std::uint16_t value) {
  g_downloadRecords.m_directCommand.Set<DirectCommand::Word<I>>(value);
}

void CopySolventFlags(const QuarnMethod& method) {
  for (int channel = 0; channel < 4; ++channel) {
    g_directPumpState.m_nSolventInUse[channel] = method.GetSolventSelection().InUse(channel);
  }
}

// Whole percent of A, B and C for a composition line: B and C rounded, A
// the remainder; a solvent not in use gets 0.
struct WholePercent {
  std::int64_t a = 100, b = 0, c = 0;
};

WholePercent Compose(float percentB, float percentC) {
  WholePercent p;
  if (g_directPumpState.m_nSolventInUse[1]) {
    p.b = TruncateToInt32(static_cast<double>(percentB) + 0.5);
    p.a -= p.b;
  }
  if (g_directPumpState.m_nSolventInUse[2]) {
    p.c = TruncateToInt32(static_cast<double>(percentC) + 0.5);
    p.a -= p.c;
  }
  return p;
}

std::uint32_t SystemCodeOf(int pumpSystem) {
  switch (pumpSystem) {
    case pumpSystemBinary: return kSystemBinary;
    case pumpSystemQuaternary: return kSystemQuaternary;
    case pumpSystemTernary: return kSystemTernary;
    default: return kSystemSingle;
  }
}

// Whether the method's gradient fits behind `linesUsed` timetable lines
// (a system code of 1 builds none). Returns why not, or empty.
CString TimetableProblem(const PumpGradient& gradient, std::uint32_t systemCode, int linesUsed) {
  CString text;
  if (systemCode == kSystemSingle) return text;
  const int steps = gradient.GetCount();
  const int freeSteps = (kTimetableLineCount - std::max(linesUsed, 0)) / kTimetableLinesPerStep;
  if (steps <= freeSteps) return text;
  if (linesUsed <= 0) {
    text.Format("This method's gradient timetable has %d steps, but the direct instrument network holds at "
                "most %d.\nMerge or remove steps to leave %d or fewer and load the method again; a shortened "
                "gradient is not sent, since it would change the separation.",
                steps, kDirectMaxGradientSteps, kDirectMaxGradientSteps);
  } else {
    text.Format("This gradient timetable has %d steps, but only %d more fit behind the %d timetable lines "
                "already loaded.\nLoad the whole method again, so that the analysis file starts afresh.",
                steps, freeSteps < 0 ? 0 : freeSteps, linesUsed);
  }
  return text;
}

void Refuse(const CString& problem, const char* what) {
  SendMessageBox(problem + "\n" + what, MB_ICONEXCLAMATION);
}

// A timetable line behind those counted: every byte written.
void AppendTimetableLine(std::int32_t timeMs, std::uint16_t code, std::int64_t p0, std::int64_t p1 = 0,
                         std::int64_t p2 = 0) {
  AnlsFile& file = g_downloadRecords.m_anlsFile;
  const std::int16_t count = file.Get<AnlsFile::TimetableCount>();
  if (count < 0) return;
  auto line = file.Row<AnlsFile::TimetableLines>(static_cast<std::size_t>(count));
  if (line.IsNull()) return;
  line.Clear();
  line.Set<AnlsLine::Unit>(kUnitPump1);
  line.Set<AnlsLine::TimeMs>(timeMs);
  line.Set<AnlsLine::Code>(code);
  line.Set<AnlsLine::P0>(static_cast<std::int32_t>(p0));
  line.Set<AnlsLine::P1>(static_cast<std::int32_t>(p1));
  line.Set<AnlsLine::P2>(static_cast<std::int32_t>(p2));
  file.Set<AnlsFile::TimetableCount>(static_cast<std::int16_t>(count + 1));
}

// The sampler-injecting flag, raised by a sample start (StartAnalysis),
// follows the sample's run: it stays up while the node runs or the
// autosampler is in its injection sequence, and comes down at the first
// poll that sees neither after the run was seen. A start whose run no
// poll sees within the grace time did not take; the flag comes down then.
void UpdateSamplerInjecting(std::uint32_t nodeState, bool samplerBusy) {
  DirectRunFlags& f = g_directRunFlags;
  if (!f.m_nSamplerInjecting) return;
  if (nodeState == kNodeRunning || samplerBusy) {
    f.m_nSampleRunSeen = 1;
    return;
  }
  if (f.m_nSampleRunSeen || crt::clock() - f.m_tSampleStart >= kSampleStartGraceMs) {
    f.m_nSamplerInjecting = 0;
    f.m_nSampleRunSeen = 0;
  }
}

}  // namespace

std::uint32_t DirectPumpState::SystemCode() const { return SystemCodeOf(m_nPumpSystem); }

void DirectPumpState::ResetForTesting() { *this = DirectPumpState{}; }

void DirectRunFlags::ResetForTesting() { *this = DirectRunFlags{}; }

CQuarnPump::CQuarnPump() { m_nSwitchPending = 1; }

CQuarnPump::~CQuarnPump() { VexlinkSessionClose(); }

int CQuarnPump::InitialiseComms() { return VexlinkSessionOpen(); }

// ------------------------------------------------------------ downloads --

int CQuarnPump::DownloadInitialConditions(QuarnMethod& method) {
  return RunWithPumpCommsMessage([&method] {
    const PumpInitialCons& cons = method.GetPumpInitialCons();
    // The gradient is checked before anything changes, so that a refused
    // method leaves the one loaded before whole.
    const CString problem = TimetableProblem(method.GetPumpGradient(), SystemCodeOf(cons.PumpSystem()), 0);
    if (!problem.IsEmpty()) {
      Refuse(problem, "The method was not loaded.");
      return 0;
    }

    DirectPumpState& pump = g_directPumpState;
    CopySolventFlags(method);
    pump.m_nPumpSystem = cons.PumpSystem();
    pump.m_nOvenInUse = cons.OvenInUse();

    if (pump.m_nOvenInUse) {
      pump.m_fOvenTarget = cons.OvenTemperature();
      SetCommandWord<0>(DirectCommand::kOvenOn);
      SetCommandWord<1>(LowWord(TruncateToInt32(pump.m_fOvenTarget)));
      RegSetInstrumentMake(kOvenDevice, "QUARN900");
      SendDirectCommand(kUnitOven);
    } else {
      pump.m_fOvenTarget = 0.0f;
      RegSetInstrumentMake(kOvenDevice, "");
    }

    // A method without a stop time keeps the one before, except the first.
    // Minutes become seconds in single precision, so 2.3 min is the 138 s
    // a user reads, not the 137 s that double precision would truncate to.
    if (pump.m_nFirstDownload || cons.StopTime() != 0.0f) {
      g_directRunSettings.m_nStopTimeS = TruncateToInt32(static_cast<double>(cons.StopTime() * 60.0f));
    }

    ResetAnlsFile();
    BuildInitialLines(cons);
    SendDirectCommand(kUnitPump1);
    pump.m_nFirstDownload = 0;
    return 1;
  });
}

int CQuarnPump::DownloadTimetable(QuarnMethod& method) {
  return RunWithPumpCommsMessage([&method] {
    const int linesUsed = g_downloadRecords.m_anlsFile.Get<AnlsFile::TimetableCount>();
    const CString problem = TimetableProblem(method.GetPumpGradient(), g_directPumpState.SystemCode(), linesUsed);
    if (!problem.IsEmpty()) {
      Refuse(problem, "The gradient timetable was not loaded.");
      return 0;
    }
    CopySolventFlags(method);
    g_directPumpState.m_KeptGradient = method.GetPumpGradient();
    g_directPumpState.m_KeptGradient.Sort();
    BuildTimetableLines(g_directPumpState.m_KeptGradient);
    return 1;
  });
}

int CQuarnPump::DownloadEvents(QuarnMethod&) { return 1; }

void CQuarnPump::ResetAnlsFile() {
  DownloadRecords& records = g_downloadRecords;
  AnlsFile& file = records.m_anlsFile;
  const std::uint32_t code = g_directPumpState.SystemCode();

  file.Set<AnlsFile::InitialCount>(0);
  file.Set<AnlsFile::TimetableCount>(0);
  records.m_nUnitListIndex = -1;
  file.Set<AnlsFile::SystemCode>(code);
  file.Set<AnlsFile::Reserved>(0);
  file.Set<AnlsFile::Signature>(AnlsFile::kSignature);
  for (std::size_t i = 0; i < AnlsFile::UnitList::kCount; ++i) file.Row<AnlsFile::UnitList>(i).Set<AnlsFile::UnitEntry>(0);
  for (std::size_t i = 0; i < AnlsFile::InitialLines::kCount; ++i) {
    auto line = file.Row<AnlsFile::InitialLines>(i);
    line.Set<AnlsLine::Unit>(0);
    line.Set<AnlsLine::TimeMs>(AnlsLine::kInitialTime);
    line.Set<AnlsLine::Code>(0);
    line.Set<AnlsLine::P0>(0);
    line.Set<AnlsLine::P1>(0);
    line.Set<AnlsLine::P2>(0);
  }

  AppendUnit(kUnitPump1);
  if (code == kSystemBinary || code == kSystemTernary) AppendUnit(kUnitPump2);
  if (code == kSystemTernary) AppendUnit(kUnitPump3);
  if (code != kSystemSingle) SetCommandWord<0>(static_cast<std::uint16_t>(code));
  if (g_directPumpState.m_nOvenInUse) AppendUnit(kUnitOven);
}

void CQuarnPump::BuildInitialLines(const PumpInitialCons& cons) {
  DirectPumpState& pump = g_directPumpState;
  const std::uint32_t code = pump.SystemCode();
  // At most nine lines behind a reset: they always fit.
  const double flowUl = static_cast<double>(cons.Flow()) * 1000.0;
  AppendInitialLine(kUnitPump1, AnlsLine::kFlow, TruncateToInt32(flowUl));
  SetCommandWord<1>(LowWord(TruncateToInt32(flowUl + 0.5)));
  SetCommandWord<2>(DirectCommand::kUnchanged);

  AppendInitialLine(kUnitPump1, AnlsLine::kUpperPressure, cons.MaxPressure());
  SetCommandWord<3>(LowWord(cons.MaxPressure()));
  pump.m_nUpperPressureLimit = cons.MaxPressure();

  AppendInitialLine(kUnitPump1, AnlsLine::kLowerPressure, cons.MinPressure());
  SetCommandWord<4>(LowWord(cons.MinPressure()));

  if (code != kSystemSingle) {
    const WholePercent p = Compose(cons.PercentB(), cons.PercentC());
    const int index = g_downloadRecords.m_anlsFile.Get<AnlsFile::InitialCount>();
    if (AppendInitialLine(kUnitPump1, AnlsLine::kComposition, static_cast<std::int32_t>(p.a))) {
      auto line = g_downloadRecords.m_anlsFile.Row<AnlsFile::InitialLines>(static_cast<std::size_t>(index));
      line.Set<AnlsLine::P1>(static_cast<std::int32_t>(p.b));
      line.Set<AnlsLine::P2>(static_cast<std::int32_t>(p.c));
    }
    // The direct command takes B and C truncated, A from the rounded shares.
    SetCommandWord<5>(LowWord(p.a));
    if (pump.m_nSolventInUse[1]) SetCommandWord<6>(LowWord(TruncateToInt32(cons.PercentB())));
    if (pump.m_nSolventInUse[2]) SetCommandWord<7>(LowWord(TruncateToInt32(cons.PercentC())));
  }

  if (code == kSystemBinary || code == kSystemTernary) {
    AppendInitialLine(kUnitPump2, AnlsLine::kUpperPressure, cons.MaxPressure());
    AppendInitialLine(kUnitPump2, AnlsLine::kLowerPressure, cons.MinPressure());
  }
  if (code == kSystemTernary) {
    AppendInitialLine(kUnitPump3, AnlsLine::kUpperPressure, cons.MaxPressure());
    AppendInitialLine(kUnitPump3, AnlsLine::kLowerPressure, cons.MinPressure());
  }
  if (pump.m_nOvenInUse) {
    AppendInitialLine(kUnitOven, AnlsLine::kOvenTemperature,
                      TruncateToInt32(static_cast<double>(cons.OvenTemperature()) + 0.5));
  }
}

void CQuarnPump::BuildTimetableLines(const PumpGradient& gradient) {
  if (g_directPumpState.SystemCode() == kSystemSingle) return;
  for (int i = 0; i < gradient.GetCount(); ++i) {
    const GradTimeTableEntry* step = gradient.TableEntry(i);
    if (!step) break;
    const std::int32_t timeMs = TruncateToInt32(static_cast<double>(step->Time() * 60000.0f));
    AppendTimetableLine(timeMs, AnlsLine::kFlow, TruncateToInt32(static_cast<double>(step->Flow()) * 1000.0 + 0.5));
    // Every step carries the method's upper limit: the units take no other.
    AppendTimetableLine(timeMs, AnlsLine::kUpperPressure, g_directPumpState.m_nUpperPressureLimit);
    const WholePercent p = Compose(step->PercentB(), step->PercentC());
    AppendTimetableLine(timeMs, AnlsLine::kComposition, p.a, p.b, p.c);
  }
}

// ---------------------------------------------------------- run control --

int CQuarnPump::SwitchPump(Switch value) {
  return RunWithPumpCommsMessage([this, value] {
    if (SessionNotOpen()) return -1;
    DirectRunFlags& f = g_directRunFlags;
    if (static_cast<int>(value) == 1) {
      if (!f.m_nPumpOn) {
        LC_Reset(Node());
        PushAnlsFile();
        LC_PumpStart(Node());
        f.m_nPumpOn = 1;
        m_nSwitchPending = 0;
      }
    } else {
      // The first switch-off after the back-end is made starts the pump
      // first, so that the units' state is known whatever it was.
      if (m_nSwitchPending) LC_PumpStart(Node());
      LC_PumpStop(Node());
      f.m_nPumpOn = 0;
      m_nSwitchPending = 0;
    }
    return -1;
  });
}

int CQuarnPump::StartMethod() {
  g_directRunSettings.m_nStarting = 1;
  StartAnalysis();
  g_directRunSettings.m_nStarting = 0;
  return 1;
}

void CQuarnPump::StartAnalysis() {
  if (SessionNotOpen()) return;
  LC_Stop(Node());
  LC_Reset(Node());
  PrepareTransfer();
  PushAnlsFile();
  LC_ResetRun(Node());

  // A pump start replaces any sample run; a sample start is injecting
  // from now until the polls see its run over.
  DirectRunFlags& f = g_directRunFlags;
  f.m_nSampleRunSeen = 0;
  if (g_directRunSettings.m_nStarting) {
    f.m_nSamplerInjecting = 0;
  } else {
    f.m_nSamplerInjecting = 1;
    f.m_tSampleStart = crt::clock();
  }
}

int CQuarnPump::StopMethod() {
  if (SessionNotOpen()) return 1;
  LC_Stop(Node());
  LC_Reset(Node());
  g_directRunFlags.m_nSamplerInjecting = 0;
  g_directRunFlags.m_nSampleRunSeen = 0;
  return 1;
}

int CQuarnPump::MethodRunning() {
  return g_directRunFlags.m_nRunning || g_directRunFlags.m_nSamplerInjecting ? 1 : 0;
}

// -------------------------------------------------------------- status --

int CQuarnPump::ReadStatus(CInletSystemStatus& status) {
  if (SessionNotOpen()) return 0;
  for (WORD unit : {kUnitPump1, kUnitAutosampler, kUnitUV, kUnitOven, kUnitNode}) LC_UnitStatus(Node(), unit);
  // The replies arrive meanwhile; the receiving thread stores them.
  Sleep(1000);

  UnitStatusSnapshot& s = g_unitStatusSnapshot;
  DirectRunFlags& f = g_directRunFlags;
  const std::uint32_t nodeState = s.m_dwNodeState.Load();
  switch (nodeState) {
    case kNodeIdle:
      f.m_nPumpOn = f.m_nRunning = f.m_nPostRunning = 0;
      status.GetPumpOn() = status.GetRunning() = status.GetPostRunning() = 0;
      break;
    case kNodePumpOn:
      f.m_nPumpOn = status.GetPumpOn() = 1;
      f.m_nRunning = f.m_nPostRunning = 0;
      status.GetRunning() = status.GetPostRunning() = 0;
      break;
    case kNodeRunning:
      f.m_nPumpOn = f.m_nRunning = 1;
      status.GetPumpOn() = status.GetRunning() = 1;
      f.m_nPostRunning = status.GetPostRunning() = 0;
      break;
    case kNodeResetNeeded7:
    case kNodeResetNeeded8:
    case kNodeResetNeeded9:
      LC_Reset(Node());
      break;
    default:
      break;
  }

  const std::uint32_t sampler = s.m_dwSamplerStatus.Load() & 0xFFFF;
  s.m_dwSamplerStatus.Store(sampler);
  bool samplerBusy = true;
  for (std::uint32_t idle : kSamplerIdleStates) samplerBusy = samplerBusy && sampler != idle;
  status.GetInjecting() = samplerBusy ? 1 : 0;
  UpdateSamplerInjecting(nodeState, samplerBusy);

  const float flow = s.m_fPumpFlow.Load();
  status.GetHighPressure() = s.m_fPumpPressure.Load();
  status.GetFlow() = flow;
  if (flow > 0.0f) f.m_nPumpOn = status.GetPumpOn() = 1;

  status.GetPercentA() = s.m_fPercentA.Load();
  status.GetPercentB() = s.m_fPercentB.Load();
  status.GetPercentC() = s.m_fPercentC.Load();
  status.GetPercentD() = s.m_fPercentD.Load();

  float elapsed = s.m_fElapsedMinutes.Load();
  if (!(static_cast<double>(elapsed) > kElapsedThresholdMin)) {
    elapsed = 0.0f;
    s.m_fElapsedMinutes.Store(0.0f);
    f.m_nRunning = status.GetRunning() = 0;
  }
  status.GetTime() = elapsed;

  status.GetLamp() = s.m_nLamp.Load();
  status.GetTemperatureLeft() = static_cast<float>(s.m_nOvenTemperature.Load());
  status.GetNotReady() = CheckOvenReady();
  status.SetNotReadyInfo(f.m_strNotReady);
  return 1;
}

int CQuarnPump::CheckOvenReady() {
  DirectRunFlags& f = g_directRunFlags;
  const DirectPumpState& pump = g_directPumpState;
  if (!pump.m_nOvenInUse) {
    f.m_strNotReady.Empty();
    return 0;
  }
  const double target = pump.m_fOvenTarget;
  CString message;
  message.Format("The Oven is not ready.\nTarget oven temperature is %0.2f", target);
  const double tolerance = target * kOvenTolerance;
  const double actual = g_unitStatusSnapshot.m_nOvenTemperature.Load();
  if (target - tolerance <= actual && actual <= target + tolerance) {
    f.m_strNotReady.Empty();
    return 0;
  }
  f.m_strNotReady = message;
  return 1;
}
