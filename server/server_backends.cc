#include "server/server_backends.h"

#include <vector>

#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"
#include "platform/mfc/afxwin.h"
#include "platform/win/process.h"

namespace {

constexpr const char* kRegisterFailed = " Fail to register the TavixServer. Please contact support.";
// The size of the start-up information record as the 32-bit system knows
// it (this build may lay the record out wider).
constexpr DWORD kStartupInfoSize = 68;
constexpr DWORD kRegistrationWaitMs = 10000;

constexpr int kChannelB = 1;
constexpr int kChannelC = 2;
constexpr int kChannelD = 3;

COMControlMode ControlModeOf(int nPumpSystem) {
  switch (nPumpSystem) {
    case pumpSystemBinary:
      return modeBinary;
    case pumpSystemQuaternary:
      return modeQuaternary;
    case pumpSystemTernary:
      return modeTernary;
    default:
      return modeIsocratic;
  }
}

// Composition of the initial line as A, B, C; the adapter gives D the
// rest. Doubles keep A exact, so D comes back as the method's share.
struct Composition {
  double dA;
  double dB;
  double dC;
};

Composition InitialComposition(const PumpInitialCons& cons) {
  const double dB = cons.PercentB();
  const double dC = cons.PercentC();
  const double dD = cons.PercentD();
  switch (cons.PumpSystem()) {
    case pumpSystemBinary:
      return {100.0 - dB, dB, 0.0};
    case pumpSystemQuaternary:
      return {100.0 - dB - dC - dD, dB, dC};
    case pumpSystemTernary:
      return {100.0 - dB - dC, dB, dC};
    default:
      return {100.0, 0.0, 0.0};
  }
}

}  // namespace

// ---- CNetIIPump ----

CNetIIPump::CNetIIPump() = default;

CNetIIPump::~CNetIIPump() {
  // The oven goes first: it is one more unit of the session the pump's
  // adapter also counts.
  m_pOven.reset();
}

int CNetIIPump::InitialiseComms() {
  if (!IsServerRegistered() && !RegisterServer()) return 0;
  return m_Pump.InitialiseComms();
}

void CNetIIPump::Initialise() { m_Pump.Initialise(); }

int CNetIIPump::IsServerRegistered() {
  CString strAppId;
  return ReadRegistryFullPath(kTavixServerAppIdPath, strAppId, HKEY_LOCAL_MACHINE) != 0 ? 1 : 0;
}

// Runs the server's self-registration and waits for it; the exit code is
// not examined.
int CNetIIPump::RegisterServer() {
  const CString strCommand = CString("\"") + GetKorvatecWorkingDir() + "\\TavixServer.exe" + "\"" + " /Regserver";
  std::vector<char> commandLine(strCommand.str().begin(), strCommand.str().end());
  commandLine.push_back('\0');

  STARTUPINFOA startup{};
  startup.cb = kStartupInfoSize;
  startup.dwFlags = STARTF_USEPOSITION;
  startup.dwX = 0;
  startup.dwY = 0;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                     &startup, &process)) {
    const DWORD dwWait = WaitForSingleObject(process.hProcess, kRegistrationWaitMs);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (dwWait == WAIT_OBJECT_0) return 1;
  }
  AfxMessageBox(kRegisterFailed, 0, 0);
  return 0;
}

int CNetIIPump::CreateOven() {
  m_pOven = std::make_unique<CComOven>();
  m_pOven->Initialise();
  // An exception leaves the adapter attached; the next download keeps it.
  if (!m_pOven->InitialiseComms()) {
    m_pOven.reset();
    return 0;
  }
  return 1;
}

int CNetIIPump::DownloadInitialConditions(QuarnMethod& method) {
  const PumpInitialCons& cons = method.GetPumpInitialCons();
  if (cons.OvenInUse() == 1 && !m_pOven) {
    RegSetInstrumentMake(kOvenDevice, "QUARN900");
    if (!CreateOven()) return 0;
  } else if (cons.OvenInUse() == 0 && m_pOven) {
    m_pOven.reset();
  }

  if (!m_Pump.SetPumpControlMode(ControlModeOf(cons.PumpSystem()))) return 0;

  const Composition composition = InitialComposition(cons);
  const int nResult =
      m_Pump.SetInitialCons(cons.Flow(), cons.StopTime(), static_cast<double>(cons.MaxPressure()),
                            static_cast<double>(cons.MinPressure()), composition.dA, composition.dB, composition.dC);
  if (!nResult) return 0;
  if (m_pOven) return m_pOven->SetMethodLine(-1.0, cons.OvenTemperature());
  return nResult;
}

int CNetIIPump::DownloadTimetable(QuarnMethod& method) {
  PumpGradient& gradient = method.GetPumpGradient();
  const SolventSelection& solvents = method.GetSolventSelection();
  const int nCount = gradient.GetCount();

  // A channel the method does not use delivers nothing, in the caller's
  // method too.
  for (int i = 0; i < nCount; ++i) {
    GradTimeTableEntry& entry = *gradient.TableEntry(i);
    if (solvents.InUse(kChannelB) == 0) entry.PercentB() = 0.0f;
    if (solvents.InUse(kChannelC) == 0) entry.PercentC() = 0.0f;
    if (solvents.InUse(kChannelD) == 0) entry.PercentD() = 0.0f;
  }

  // Lines go out in table order; one that fails does not stop the others.
  for (int i = 0; i < nCount; ++i) {
    const GradTimeTableEntry& entry = *gradient.TableEntry(i);
    const double dB = entry.PercentB();
    const double dC = entry.PercentC();
    const double dD = entry.PercentD();
    m_Pump.SetMethodLine(entry.Time(), entry.Flow(), 100.0 - dB - dC - dD, dB, dC,
                         static_cast<double>(entry.Pressure()));
  }
  return 1;
}

int CNetIIPump::IsOutputEvent(int nEventType) { return nEventType >= eventOutput1 && nEventType <= eventOutput4; }

double CNetIIPump::ActionValue(int nActionCode) {
  switch (nActionCode) {
    case actionPulse:
      return 2.0;
    case actionPosition1:
      return 1.0;
    case actionPosition2:
      return 2.0;
    case actionPosition3:
      return 3.0;
    case actionPosition4:
      return 4.0;
    case actionPosition5:
      return 5.0;
    case actionPosition6:
      return 6.0;
    case actionOff:
      return 0.0;
    case actionOn:
      return 1.0;
    default:
      return 0.0;
  }
}

// Every entry becomes a full line of the outputs or of the valves, holding
// what all entries at its time give; the states carry over from line to
// line, starting from the initial states.
int CNetIIPump::DownloadEvents(QuarnMethod& method) {
  const CEventTable& table = method.GetEventTable();
  InitialEventStates& initial = method.GetInitialEventStates();
  int nValves[3] = {initial.Valve1(), initial.Valve2(), initial.Valve3()};
  int nOutputs[4] = {initial.Event1(), initial.Event2(), initial.Event3(), initial.Event4()};

  // The remembered line starts as a valve line at -1.0, so a valve entry
  // at -1.0 heading the table writes nothing.
  float fLastTime = -1.0f;
  int nLastKind = 0;
  for (int i = 0; i < table.GetCount(); ++i) {
    CExternalEvent entry;
    table.GetTableEntry(i, entry);
    const float fTime = entry.Time();
    const int nKind = IsOutputEvent(entry.Event());
    if (fTime == fLastTime && nKind == nLastKind) continue;

    const int nFirstType = nKind ? eventOutput1 : eventValve1;
    const int nTypes = nKind ? 4 : 3;
    int* pStates = nKind ? nOutputs : nValves;
    for (int k = 0; k < nTypes; ++k) {
      const int nIndex = table.FindTableEntry(fTime, static_cast<EventType>(nFirstType + k));
      if (nIndex == -1) continue;
      CExternalEvent found;
      table.GetTableEntry(nIndex, found);
      pStates[k] = found.Action();
    }
    if (nKind) {
      m_Pump.SetVexlinkBoxEventMethodLine(fTime, ActionValue(nOutputs[0]), ActionValue(nOutputs[1]),
                                          ActionValue(nOutputs[2]), ActionValue(nOutputs[3]));
    } else {
      m_Pump.SetVexlinkBoxValveMethodLine(fTime, ActionValue(nValves[0]), ActionValue(nValves[1]),
                                          ActionValue(nValves[2]));
    }
    fLastTime = fTime;
    nLastKind = nKind;
  }

  // The pump already delivers: start the initial conditions again so the
  // server takes up the new method.
  if (m_fLastFlow > 0.0f) m_Pump.AllMethodStart();
  return 1;
}

int CNetIIPump::DownloadInitialEvents(QuarnMethod& method) {
  InitialEventStates& initial = method.GetInitialEventStates();
  m_Pump.SetVexlinkBoxEventMethodLine(-1.0, ActionValue(initial.Event1()), ActionValue(initial.Event2()),
                                      ActionValue(initial.Event3()), ActionValue(initial.Event4()));
  m_Pump.SetVexlinkBoxValveMethodLine(-1.0, ActionValue(initial.Valve1()), ActionValue(initial.Valve2()),
                                      ActionValue(initial.Valve3()));
  return 1;
}

int CNetIIPump::Run() { return m_Pump.Run(); }

int CNetIIPump::MethodRunning() { return m_Pump.IsMethodRunning(); }

int CNetIIPump::StopMethod() { return m_Pump.Stop(); }

int CNetIIPump::StartMethod() { return m_Pump.RunGradient(); }

int CNetIIPump::SwitchPump(Switch value) { return m_Pump.SwitchPump(static_cast<int>(value)); }

void CNetIIPump::ClearMethod() { m_Pump.ClearMethod(); }

int CNetIIPump::ReadStatus(CInletSystemStatus& status) {
  status.GetError() = 0;
  CString strNotReady;
  CString strError;
  m_Pump.SystemOK(status.GetNotReady(), strNotReady, status.GetError(), strError);
  if (status.GetNotReady() == 1) status.SetNotReadyInfo(strNotReady);
  if (status.GetError() == 1) status.SetErrorInfo(strError);
  if (status.GetNotReady() == 1 || status.GetError() == 1) return 1;

  m_Pump.UpdateFlows(status.GetFlow(), status.GetPercentA(), status.GetPercentB(), status.GetPercentC(),
                     status.GetPercentD());
  m_Pump.UpdatePressure(status.GetHighPressure());
  status.GetPumpOn() = status.GetFlow() > 0.0f ? 1 : 0;
  m_fLastFlow = status.GetFlow();
  status.GetRunning() = m_Pump.IsMethodRunning();
  // The elapsed time is read at every poll, so that the first poll after
  // the method ended stops it on the server; the host sees 0 then.
  const float fElapsed = m_Pump.ElapsedAnalysisTime();
  status.GetTime() = status.GetRunning() ? fElapsed : 0.0f;

  if (m_pOven) {
    m_pOven->SystemOK(status.GetNotReady(), strNotReady, status.GetError(), strError);
    status.GetTemperatureLeft() = static_cast<float>(m_pOven->GetOvenTemp());
    if (status.GetNotReady() == 1) status.SetNotReadyInfo(strNotReady);
    if (status.GetError() == 1) status.SetErrorInfo(strError);
  }
  return 1;
}

// ---- CNetIISamp ----

int CNetIISamp::DownloadMethod(QuarnMethod& method) {
  const SamplerInitialCons& cons = method.GetSamplerInitialCons();
  return m_Sampler.SetInitialCons(static_cast<double>(cons.VialNumber()), cons.InjectionVolume(), m_fSamplerValue,
                                  cons.TimeSetting(), static_cast<double>(cons.CountSetting()));
}

int CNetIISamp::ReadStatus(CInletSystemStatus& status) {
  CString strNotReady;
  CString strError;
  m_Sampler.SystemOK(status.GetNotReady(), strNotReady, status.GetError(), strError);
  if (status.GetNotReady() == 1) status.SetNotReadyInfo(strNotReady);
  if (status.GetError() == 1) status.SetErrorInfo(strError);
  if (status.GetNotReady() != 1 && status.GetError() != 1) {
    status.GetInjecting() = m_Sampler.IsInjecting();
    status.GetWashOn() = m_Sampler.IsWashing();
  }
  return 1;
}

// The run of the server's method, not the sampler's own injecting state.
int CNetIISamp::Injecting() { return m_Sampler.IsMethodRunning(); }

int CNetIISamp::StartMethod() { return m_Sampler.Run(); }

int CNetIISamp::InitialiseComms() { return m_Sampler.InitialiseComms(); }

int CNetIISamp::StopMethod() { return m_Sampler.Stop(); }

// ---- CNetIIUV ----

int CNetIIUV::DownloadMethod(QuarnMethod& method) {
  const UVDetectorCons& cons = method.GetUVDetectorCons();
  Response eResponse = responseStandard;
  if (cons.Response() == uvResponseFast) eResponse = responseFast;
  if (cons.Response() == uvResponseSlow) eResponse = responseSlow;
  return m_Detector.SetInitialCons(static_cast<float>(cons.Wavelength()), eResponse, cons.ZeroSetting());
}

int CNetIIUV::SwitchLamp(Switch value) { return m_Detector.SwitchLamp(static_cast<int>(value)); }

int CNetIIUV::ReadStatus(CInletSystemStatus& status) {
  CString strNotReady;
  CString strError;
  m_Detector.SystemOK(status.GetNotReady(), strNotReady, status.GetError(), strError);
  if (status.GetNotReady() == 1) status.SetNotReadyInfo(strNotReady);
  if (status.GetError() == 1) status.SetErrorInfo(strError);
  if (status.GetNotReady() != 1 && status.GetError() != 1) status.GetLamp() = m_Detector.IsLampOn();
  return 1;
}

void CNetIIUV::Initialise() { m_Detector.Initialise(); }

int CNetIIUV::InitialiseComms() { return m_Detector.InitialiseComms(); }

int CNetIIUV::StopMethod() { return m_Detector.Stop(); }
