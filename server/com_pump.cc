#include "server/com_pump.h"

#include "platform/win/windows.h"
#include "server/com_plumbing.h"

namespace {

template <class T>
void ReleaseAndClear(T*& pointer) {
  if (pointer) pointer->Release();
  pointer = nullptr;
}

// Sets a flag for the length of a scope, also when the scope is left by an
// exception, so that a status poll never sees a method write that ended.
class FlagWhile {
 public:
  explicit FlagWhile(int& flag) : m_flag(flag) { m_flag = 1; }
  ~FlagWhile() { m_flag = 0; }
  FlagWhile(const FlagWhile&) = delete;
  FlagWhile& operator=(const FlagWhile&) = delete;

 private:
  int& m_flag;
};

constexpr double kBarToMPa = 0.1;
constexpr double kMPaToBar = 10.0;
constexpr int kConfirmPolls = 20;
constexpr DWORD kConfirmPollMs = 100;

}  // namespace

CComPump::CComPump() : CComSetup(unitTypePump, 1) {}

CComPump::~CComPump() {
  ReleaseAndClear(m_pUnit3);
  ReleaseAndClear(m_pUnit2);
  ReleaseAndClear(m_pPump3);
  ReleaseAndClear(m_pPump2);
  ReleaseAndClear(m_pPump1);
}

int CComPump::InitialiseComms() {
  if (!CComSetup::InitialiseComms()) return 0;
  // Found once: a second discovery would only repeat the same pump.
  if (m_bCommsInitialised == 1) return 0;
  if (m_pPump1 || GetUnitInterface()) return 1;
  CString strName("Pump");
  const int nFound = GetNewUnitPointers(IID_ITavixPump2, strName, reinterpret_cast<void**>(&m_pPump1));
  if (!nFound) return 0;
  m_bCommsInitialised = 1;
  return nFound;
}

int CComPump::CanWriteMethod() { return m_pPump1 && GetUnitInterface() && m_bCommsInitialised; }

void CComPump::SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError) {
  SystemNotReady(nError, strError, nNotReady, strNotReady);
  if (nNotReady == 1 || nError == 1 || m_bStopPending != 1) return;
  if (HasStartedRun() || HasStartedInitial()) return;
  // The run a switch-off stopped is over: stop the pumps now.
  SwitchPump(0);
  m_bStopPending = 0;
}

int CComPump::SetInitialCons(double dFlow, double dRunLength, double dMaxPressure, double dMinPressure,
                             double dPercentA, double dPercentB, double dPercentC) {
  if (!CanWriteMethod()) return 0;
  FlagWhile writing(m_bWritingMethod);
  SetAcquistionLength(dRunLength);
  if (!WriteNewMethodItem(-1.0, HplcFuncMinPressure, dMinPressure * kBarToMPa, 0, 0, 0, 0, 0)) return 0;
  HRESULT hr = E_POINTER;
  {
    Held<ITavixMethod2> method(CCommon::GetInstance().MethodPtr());
    if (method) hr = method->SetPumpOption(1);
  }
  if (FAILED(hr)) return 0;
  m_fInitialFlow = static_cast<float>(dFlow);
  return SetMethodLine(-1.0, dFlow, dPercentA, dPercentB, dPercentC, dMaxPressure);
}

int CComPump::SetMethodLine(double dTime, double dFlow, double dPercentA, double dPercentB, double dPercentC,
                            double dMaxPressure) {
  if (!CanWriteMethod()) return 0;
  FlagWhile writing(m_bWritingMethod);
  if (!WriteNewMethodItem(dTime, HplcFuncFlow, dFlow, 0, 0, 0, 0, 0)) return 0;
  // No upper limit in the line: the server keeps its own.
  if (dMaxPressure != 0.0 &&
      !WriteNewMethodItem(dTime, HplcFuncMaxPressure, dMaxPressure * kBarToMPa, 0, 0, 0, 0, 0)) {
    return 0;
  }
  const double dPercentD = 100.0 - dPercentA - dPercentB - dPercentC;
  return WriteNewMethodItem(dTime, HplcFuncComposition, dPercentA, dPercentB, dPercentC, dPercentD, 0, 0) ? 1 : 0;
}

int CComPump::SetVexlinkBoxEventMethodLine(double dTime, double dEvent1, double dEvent2, double dEvent3,
                                           double dEvent4) {
  if (!CanWriteMethod()) return 0;
  FlagWhile writing(m_bWritingMethod);
  return WriteNewMethodItem(dTime, HplcFuncNetBoxEvents, dEvent1, dEvent2, dEvent3, dEvent4, 0, 0);
}

int CComPump::SetVexlinkBoxValveMethodLine(double dTime, double dValve1, double dValve2, double dValve3) {
  if (!CanWriteMethod()) return 0;
  FlagWhile writing(m_bWritingMethod);
  return WriteNewMethodItem(dTime, HplcFuncNetBoxValves, dValve1, dValve2, dValve3, 0, 0, 0);
}

int CComPump::SetPumpControlMode(COMControlMode eMode) {
  CCommon& common = CCommon::GetInstance();
  if (!common.IsConnected()) return 0;
  FlagWhile writing(m_bWritingMethod);
  m_eControlMode = eMode;
  // A missing pump does not stop the configuration: the server decides
  // what it can deliver.
  if (eMode == modeBinary || eMode == modeTernary) CreatePump(&m_pPump2, &m_pUnit2, 2);
  if (eMode == modeTernary) CreatePump(&m_pPump3, &m_pUnit3, 3);
  Held<ITavixMethod2> method(common.MethodPtr());
  if (!method || FAILED(method->SetControlMode(eMode))) return 0;
  if (eMode == 0) return 1;
  // The server takes a moment to apply a configuration: wait until it
  // reads back.
  LONG lMode = 0;
  for (int nPoll = 0; nPoll < kConfirmPolls; ++nPoll) {
    Sleep(kConfirmPollMs);
    method->GetControlMode(&lMode);
    if (lMode == eMode) return 1;
  }
  return 0;
}

int CComPump::CreatePump(ITavixPump2** ppPump, ITavixUnit2** ppUnit, int nNumber) {
  CCommon& common = CCommon::GetInstance();
  if (!common.IsConnected()) return 0;
  if (*ppPump) return 1;
  ReleaseAndClear(*ppUnit);  // from an earlier attempt whose pump interface failed
  HRESULT hr = E_POINTER;
  {
    Held<ITavixUnits> units(common.UnitsPtr());
    if (units) hr = units->GetUnit(unitTypePump, static_cast<SHORT>(nNumber), ppUnit);
  }
  if (FAILED(hr) || !*ppUnit) {
    *ppUnit = nullptr;
    *ppPump = nullptr;
    return 0;
  }
  if (FAILED((*ppUnit)->QueryInterface(IID_ITavixPump2, reinterpret_cast<void**>(ppPump))) || !*ppPump) {
    *ppPump = nullptr;
    return 0;
  }
  CString strName;
  strName.Format("Pump %i", nNumber);
  try {
    EstablishContact(*ppUnit, strName);
  } catch (CCommunicationsException&) {
    ReleaseAndClear(*ppPump);
    ReleaseAndClear(*ppUnit);
    throw;
  }
  return 1;
}

int CComPump::UpdateFlows(float& fFlow, float& fPercentA, float& fPercentB, float& fPercentC, float& fPercentD) {
  ITavixPump2* pPump = CheckAndGetPump1();
  if (!m_bCommsInitialised) return 0;
  ITavixUnit2* pUnit = GetUnitInterface();
  LONG lStatus = 0;
  if (!pUnit || FAILED(pUnit->GetStatus(&lStatus)) || lStatus == 0) return 0;
  double dFlow = 0.0;
  if (FAILED(pPump->GetFlow(&dFlow))) return 0;
  fFlow = static_cast<float>(dFlow);
  // A method being written may change the channels under us.
  if (m_bWritingMethod == 1) return 1;
  if (m_eControlMode == modeIsocratic) {
    fPercentA = 100.0f;
    fPercentB = fPercentC = fPercentD = 0.0f;
    return 1;
  }
  ITavixSolvents* pSolvents = nullptr;
  const HRESULT hr = pPump->GetSolvents(&pSolvents);
  Held<ITavixSolvents> solvents(pSolvents);
  if (FAILED(hr) || !solvents) return 0;
  LONG lCount = 0;
  if (FAILED(solvents->GetCount(&lCount))) lCount = 0;
  float* const percents[] = {&fPercentA, &fPercentB, &fPercentC, &fPercentD};
  for (LONG k = 0; k < lCount && k < 4; ++k) {
    if (!GetComposition(pSolvents, static_cast<int>(k), *percents[k])) return 0;
  }
  return 1;
}

int CComPump::GetComposition(ITavixSolvents* pSolvents, int nIndex, float& fPercent) {
  ITavixSolvent* pSolvent = nullptr;
  const HRESULT hr = pSolvents->GetSolvent(nIndex, &pSolvent);
  Held<ITavixSolvent> solvent(pSolvent);
  if (FAILED(hr) || !solvent) return 0;
  double dPercent = 0.0;
  solvent->GetPercent(&dPercent);
  fPercent = static_cast<float>(dPercent);
  return 1;
}

int CComPump::UpdatePressure(float& fPressure) {
  ITavixPump2* pPump = CheckAndGetPump1();
  double dMPa = 0.0;
  if (FAILED(pPump->GetPressure(&dMPa))) return 0;
  fPressure = static_cast<float>(dMPa * kMPaToBar);
  return 1;
}

int CComPump::SwitchPump(int nOn) {
  if (!m_pPump1) return 0;
  float fFlow = 0.0f, fA = 100.0f, fB = 0.0f, fC = 0.0f, fD = 0.0f;
  UpdateFlows(fFlow, fA, fB, fC, fD);
  if (!nOn) {
    // Mid-run the run goes first; SystemOK finishes the switch-off once
    // the server has let the run go.
    if (HasStartedRun() == 1) {
      m_bStopPending = 1;
      StopRun();
    }
    StopMethod();
    return 1;
  }
  if (fFlow > 0.0f) return 1;
  if (HasStartedRun() == 1) {
    // Stopped during a run: restart at the run's initial flow.
    HRESULT hr = m_pPump1->SetFlow(m_fInitialFlow);
    if (SUCCEEDED(hr)) {
      ITavixUnit2* pUnit = GetUnitInterface();
      hr = pUnit ? pUnit->SendSettings() : E_POINTER;
    }
    return SUCCEEDED(hr) ? 1 : 0;
  }
  return RunInitialConditions() ? 1 : 0;
}

ITavixPump2* CComPump::CheckAndGetPump1() {
  if (!m_pPump1) ThrowCCommunicationsException(0, "Comms error");
  CheckForEventError();
  return m_pPump1;
}

int CComPump::RunGradient() {
  CCommon& common = CCommon::GetInstance();
  HRESULT hr = E_POINTER;
  {
    Held<ITavixMethod2> method(common.MethodPtr());
    if (method) hr = method->SetRunLength(GetAcquisitionLength());
  }
  {
    Held<ITavixSequence> sequence(common.SequencePtr());
    if (sequence) sequence->SetVial(-1);  // a gradient alone: no injection
  }
  {
    Held<ITavixSession2> session(common.SessionPtr());
    if (session) {
      session->PrepareRun();
      session->StartRun();
    }
  }
  return hr == S_OK ? 1 : 0;
}

void CComPump::ClearMethod() { CCommon::GetInstance().ResetMethod(); }

void CComPump::AllMethodStart() {
  Held<ITavixSession2> session(CCommon::GetInstance().SessionPtr());
  if (session) session->StartInitial();
}
