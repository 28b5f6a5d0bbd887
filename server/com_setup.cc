#include "server/com_setup.h"

#include <memory>

#include "server/com_plumbing.h"

namespace {

std::unique_ptr<CCommon>& Instance() {
  static std::unique_ptr<CCommon> instance;
  return instance;
}

template <class T>
void ReleaseAndClear(T*& pointer) {
  if (pointer) pointer->Release();
  pointer = nullptr;
}

template <class T>
T* WithReference(T* pointer) {
  if (pointer) pointer->AddRef();
  return pointer;
}

}  // namespace

// ---- CCommon ----

CCommon& CCommon::GetInstance() {
  auto& instance = Instance();
  if (!instance) instance.reset(new CCommon());
  return *instance;
}

void CCommon::ResetForTesting() { Instance().reset(); }

CCommon::CCommon()
    : m_bstrMethodName(OLESTR("Korvatec_Method")),
      m_EventSink(1),
      m_strRepositoryKey(kTavixRepositoryPath) {
  CString strValue;
  if (!ReadRegistryFullPath(m_strRepositoryKey, strValue, HKEY_LOCAL_MACHINE) || strValue != CString("C:\\Temp")) {
    WriteRegistryFullPath(m_strRepositoryKey, CString("C:\\Temp"), HKEY_LOCAL_MACHINE);
  }
}

CCommon::~CCommon() { CloseServer(); }

int CCommon::OpenServer() {
  if (m_bConnected == 1) return 1;
  CloseServer();
  const HRESULT hr = CoCreateInstance(CLSID_TavixServer, nullptr, CLSCTX_ALL, IID_ITavixServer,
                                      reinterpret_cast<void**>(&m_pServer));
  if (hr != S_OK || !m_pServer) FailAndThrow("Failed to open Quarn server!");
  int nResult = OpenSession();
  if (nResult) nResult = GetUnitsObject();
  if (nResult) nResult = GetSequenceObject();
  if (nResult) nResult = AddMethodObject();
  m_bConnected = nResult;
  return nResult;
}

int CCommon::OpenSession() {
  if (FAILED(m_pServer->CreateSession(0, &m_pSession)) || !m_pSession) {
    FailAndThrow("Unable to open Quarn Session object! Contact support.");
  }
  m_EventSink.ClearError();
  if (!m_EventSink.Connect(m_pSession)) FailAndThrow("Error connecting to Quarn server. Contact support.");
  _bstr_t bstrUser(OLESTR("1"));
  for (int nTry = 0; nTry < 20; ++nTry) {
    if (SUCCEEDED(m_pSession->Open(bstrUser))) break;
    Sleep(100);
  }
  m_pSession->ResetError();
  return 1;
}

int CCommon::GetUnitsObject() {
  if (FAILED(m_pSession->GetUnits(&m_pUnits)) || !m_pUnits) {
    FailAndThrow("Unable to get HPLC units object. Check connections.");
  }
  if (!FindNetBox()) FailAndThrow("Unable to get NetBox object. Contact support");
  return 1;
}

int CCommon::FindNetBox() {
  if (!m_pUnits) return 0;
  ITavixUnit2* pUnit = nullptr;
  const HRESULT hr = m_pUnits->GetUnit(unitTypeNetBox, 0, &pUnit);
  ReleaseAndClear(m_pNetBoxUnit);
  m_pNetBoxUnit = pUnit;
  ReleaseAndClear(m_pNetBox);
  if (pUnit && FAILED(pUnit->QueryInterface(IID_ITavixNetBox, reinterpret_cast<void**>(&m_pNetBox)))) {
    m_pNetBox = nullptr;
  }
  if (FAILED(hr) || !pUnit) return 0;

  BSTR bstrId = nullptr;
  for (int nPoll = 0; nPoll < 60 && SysStringLen(bstrId) == 0; ++nPoll) {
    Sleep(100);
    SysFreeString(bstrId);
    bstrId = nullptr;
    m_pNetBoxUnit->GetIdentification(&bstrId);
  }
  const bool bSilent = SysStringLen(bstrId) == 0;
  SysFreeString(bstrId);
  // Unlike the other failures, this one keeps the server objects.
  if (bSilent) ThrowCCommunicationsException(0, "Netbox not detected");
  return 1;
}

int CCommon::GetSequenceObject() {
  if (FAILED(m_pSession->GetSequence(&m_pSequence)) || !m_pSequence) {
    FailAndThrow("Failed to get Quarn sequence object! Contact support.");
  }
  return 1;
}

int CCommon::AddMethodObject() {
  m_pSequence->SetMethodName(m_bstrMethodName);
  if (FAILED(m_pSequence->AddMethod(&m_pMethod)) || !m_pMethod) {
    FailAndThrow("Unable to add method object to collection! Contact support.");
  }
  m_pMethod->SetActive(-1);
  return 1;
}

void CCommon::CloseServer() {
  ReleaseAndClear(m_pNetBoxUnit);
  ReleaseAndClear(m_pNetBox);
  ReleaseAndClear(m_pUnits);
  ReleaseAndClear(m_pMethod);
  ReleaseAndClear(m_pSequence);
  m_EventSink.Disconnect(m_pSession);
  if (m_pSession && m_bConnected == 1) m_pSession->Close();
  ReleaseAndClear(m_pSession);
  ReleaseAndClear(m_pServer);
  m_bConnected = 0;
}

void CCommon::FailAndThrow(const CString& text) {
  CloseServer();
  ThrowCCommunicationsException(0, text);
}

ITavixSession2* CCommon::SessionPtr() { return WithReference(m_pSession); }
ITavixMethod2* CCommon::MethodPtr() { return WithReference(m_pMethod); }
ITavixSequence* CCommon::SequencePtr() { return WithReference(m_pSequence); }
ITavixUnits* CCommon::UnitsPtr() { return WithReference(m_pUnits); }
ITavixNetBox* CCommon::NetBoxPtr() { return WithReference(m_pNetBox); }

void CCommon::ResetMethod() {
  if (m_bConnected != 1 || !m_pSequence) return;
  ReleaseAndClear(m_pMethod);
  if (FAILED(m_pSequence->GetEmptyMethod(&m_pMethod))) m_pMethod = nullptr;
  m_pSequence->SetMethodName(m_bstrMethodName);
}

// ---- CComSetup: statics, construction, discovery ----

int CComSetup::m_nRefCount = 0;
int CComSetup::m_bFirstInit = 1;
int CComSetup::m_bRanInitialConditions = 0;
int CComSetup::m_bRunning = 0;
int CComSetup::m_bOldRunning = 0;
int CComSetup::m_nCheckStatus = 0;
double CComSetup::m_dwAcqLength = 0.0;
const CString CComSetup::m_strNetworkNotUp = "Network connections not initialised or not responding";
const CString CComSetup::m_strErrorInInit = "Error during initialisation, reset comms.";
CComError CComSetup::m_cErrorTrans;

void CComSetup::ResetForTesting() {
  m_nRefCount = 0;
  m_bFirstInit = 1;
  m_bRanInitialConditions = 0;
  m_bRunning = 0;
  m_bOldRunning = 0;
  m_nCheckStatus = 0;
  m_dwAcqLength = 0.0;
}

CComSetup::CComSetup(short nUnitType, short nUnitNumber) : m_nUnitType(nUnitType), m_nUnitNumber(nUnitNumber) {
  if (m_nRefCount == 0) {
    // A new session after the last unit went: give the server time to
    // let the old one go.
    if (m_bFirstInit == 0) Sleep(2000);
    m_bFirstInit = 0;
  }
  ++m_nRefCount;
}

CComSetup::~CComSetup() {
  ReleaseAndClear(m_pUnit);
  if (--m_nRefCount == 0) FreeAll();
}

void CComSetup::FreeAll() {
  PureStop();
  CCommon::GetInstance().CloseServer();
}

int CComSetup::InitialiseComms() { return CCommon::GetInstance().OpenServer(); }

int CComSetup::GetNewUnitPointers(const IID& iid, CString& strName, void** ppUnitInterface) {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 0;
  ReleaseAndClear(m_pUnit);
  HRESULT hr = E_POINTER;
  {
    Held<ITavixUnits> units(common.UnitsPtr());
    if (units) hr = units->GetUnit(m_nUnitType, m_nUnitNumber, &m_pUnit);
  }
  if (FAILED(hr) || !m_pUnit) common.FailAndThrow("Can't create " + strName + " object");
  if (FAILED(m_pUnit->QueryInterface(iid, ppUnitInterface)) || !*ppUnitInterface) {
    *ppUnitInterface = nullptr;
    common.FailAndThrow("Can't create " + strName + " object");
  }
  return EstablishContact(GetUnitInterface(), strName);
}

int CComSetup::EstablishContact(ITavixUnit2* pUnit, CString& strName) {
  bool bPresent = false;
  LONG lStatus = 0;
  SHORT bConnected = 0;
  for (int nPoll = 0;; ++nPoll) {
    if (bConnected != 0 && bPresent) return 1;
    if (nPoll == 60) break;
    Sleep(100);
    if (pUnit) {
      pUnit->GetStatus(&lStatus);
      if (lStatus & kTavixUnitPresentBit) bPresent = true;
      pUnit->GetConnected(&bConnected);
    }
  }
  CCommon::GetInstance().FailAndThrow(strName + " unit not detected");
}

ITavixUnit2* CComSetup::GetUnitInterface() {
  CheckForEventError();
  return m_pUnit;
}

// ---- Method items ----

int CComSetup::GetMethodItem(ITavixMethod2* pMethod, ITavixMethodItem2** ppItem, double, double) {
  *ppItem = nullptr;
  if (CCommon::GetInstance().m_bConnected == 0 || !pMethod) return 0;
  if (FAILED(pMethod->AddItem(m_nUnitType, m_nUnitNumber, ppItem)) || !*ppItem) {
    *ppItem = nullptr;
    return 0;
  }
  return 1;
}

int CComSetup::GetVexlinkBoxMethodItem(ITavixMethod2* pMethod, ITavixMethodItem2** ppItem, double, double) {
  *ppItem = nullptr;
  if (CCommon::GetInstance().m_bConnected == 0 || !pMethod) return 0;
  if (FAILED(pMethod->AddItem(unitTypeNetBox, 0, ppItem)) || !*ppItem) {
    *ppItem = nullptr;
    return 0;
  }
  return 1;
}

int CComSetup::WriteNewMethodItem(double dTime, HplcMethodFunc eFunction, double p1, double p2, double p3, double p4,
                                  double p5, double p6) {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 0;
  const bool bNetBox = eFunction == HplcFuncNetBoxEvents || eFunction == HplcFuncNetBoxValves;
  ITavixMethodItem2* pItem = nullptr;
  int nGot = 0;
  {
    Held<ITavixMethod2> method(common.MethodPtr());
    nGot = bNetBox ? GetVexlinkBoxMethodItem(method.Get(), &pItem, dTime, eFunction)
                   : GetMethodItem(method.Get(), &pItem, dTime, eFunction);
  }
  if (!nGot) return 0;
  Held<ITavixMethodItem2> item(pItem);
  if (FAILED(item->SetTime(dTime))) return 0;
  item->SetUnitType(bNetBox ? static_cast<LONG>(unitTypeNetBox) : static_cast<LONG>(m_nUnitType));
  if (FAILED(item->SetFunction(eFunction))) return 0;
  if (FAILED(item->SetParameters(p1, p2, p3, p4, p5, p6))) return 0;
  return 1;
}

// ---- Run control ----

void CComSetup::SetAcquistionLength(double dLength) { m_dwAcqLength = dLength; }
double CComSetup::GetAcquisitionLength() { return m_dwAcqLength; }

int CComSetup::CommonRun() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 0;
  HRESULT hr = E_POINTER;
  {
    Held<ITavixMethod2> method(common.MethodPtr());
    if (method) hr = method->SetRunLength(m_dwAcqLength);
  }
  if (SUCCEEDED(hr)) {
    Held<ITavixSequence> sequence(common.SequencePtr());
    hr = sequence ? sequence->SetRunLength(m_dwAcqLength) : E_POINTER;
  }
  if (m_bRanInitialConditions == 1) return 1;
  m_bRanInitialConditions = 1;
  return SUCCEEDED(hr) ? 1 : 0;
}

int CComSetup::RunInitialConditions() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 0;
  if (!CommonRun()) return 0;
  LONG lState = 0;
  HRESULT hr = E_POINTER;
  {
    Held<ITavixNetBox> box(common.NetBoxPtr());
    if (box) hr = box->GetState(&lState);
  }
  // Pumps on, running, or in a state that needs the operator: start nothing.
  if (lState == 2 || lState == 3 || lState == 8 || lState == 9) return SUCCEEDED(hr) ? 1 : 0;
  Held<ITavixSession2> session(common.SessionPtr());
  return session && SUCCEEDED(session->StartInitial()) ? 1 : 0;
}

int CComSetup::Run() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 0;
  int nResult = CommonRun();
  if (nResult == 1) {
    Held<ITavixSession2> session(common.SessionPtr());
    nResult = session && SUCCEEDED(session->StartRun()) ? 1 : 0;
  }
  m_bRunning = nResult;
  return nResult;
}

int CComSetup::PureStop() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 1;
  Held<ITavixSession2> session(common.SessionPtr());
  if (!session) return 0;
  HRESULT hr = session->EndRun();
  if (SUCCEEDED(hr)) {
    hr = session->EndMethod();
    if (SUCCEEDED(hr)) {
      m_bRanInitialConditions = 0;
      m_bRunning = 0;
    }
  }
  return SUCCEEDED(hr) ? 1 : 0;
}

int CComSetup::StopRun() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 1;
  Held<ITavixSession2> session(common.SessionPtr());
  if (!session || FAILED(session->EndRun())) return 0;
  m_bRanInitialConditions = 0;
  m_bRunning = 0;
  return 1;
}

int CComSetup::StopMethod() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 1;
  Held<ITavixSession2> session(common.SessionPtr());
  return session && SUCCEEDED(session->EndMethod()) ? 1 : 0;
}

int CComSetup::Stop() {
  if (m_bRanInitialConditions == 0 && m_bRunning == 0) return 1;
  CCommon& common = CCommon::GetInstance();
  Held<ITavixSession2> session(common.SessionPtr());
  if (!session) return 1;
  const int nStopped = PureStop();
  if (common.m_EventSink.IsInError()) session->ResetError();
  if (!nStopped) return 0;
  common.m_EventSink.StopRunning();
  Sleep(5000);
  return 1;
}

int CComSetup::IsMethodRunning() { return CCommon::GetInstance().m_EventSink.MethodRunning(); }
int CComSetup::HasStartedInitial() { return m_bRanInitialConditions; }
int CComSetup::HasStartedRun() { return m_bRunning; }
int CComSetup::EventErrorFired() { return CCommon::GetInstance().m_EventSink.IsInError(); }

void CComSetup::CheckForEventError() {
  if (EventErrorFired() != 1) return;
  CCommon& common = CCommon::GetInstance();
  SErrorData error = common.m_EventSink.GetErrorData();
  CString strText;
  m_cErrorTrans.Translate(error, strText);
  {
    Held<ITavixSession2> session(common.SessionPtr());
    if (session) session->ResetError();
  }
  PureStop();
  common.FailAndThrow(strText);
}

void CComSetup::NetBoxReady(int& nNotReady, CString& strMessage) {
  nNotReady = 0;
  strMessage.Empty();
  const int nCheck = m_nCheckStatus % (m_nRefCount > 0 ? m_nRefCount : 1);
  m_nCheckStatus = nCheck + 1;
  if (nCheck != 0) return;
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) {
    nNotReady = 1;
    strMessage = "Error intialising server";
    return;
  }
  HRESULT hr = E_POINTER;
  {
    Held<ITavixNetBox> box(common.NetBoxPtr());
    BSTR bstrId = nullptr;
    if (box) hr = box->GetIdentification(&bstrId);
    SysFreeString(bstrId);
  }
  if (FAILED(hr) || common.m_EventSink.CommsOK() == 0) {
    nNotReady = 1;
    strMessage = m_strNetworkNotUp;
  }
}

void CComSetup::SystemNotReady(int&, CString&, int& nNotReady, CString& strNotReady) {
  CheckForEventError();
  NetBoxReady(nNotReady, strNotReady);
  if (nNotReady == 1) return;
  CCommon& common = CCommon::GetInstance();
  if (common.m_EventSink.StepDataEventReceived() == 1) {
    Held<ITavixSession2> session(common.SessionPtr());
    if (session) session->AcknowledgeStepData();
  }
  if (!m_pUnit) {
    nNotReady = 1;
    strNotReady = m_strNetworkNotUp;
  }
}

float CComSetup::ElapsedAnalysisTime() {
  CCommon& common = CCommon::GetInstance();
  if (common.m_bConnected == 0) return 0.0f;
  double dMinutes = 0.0;
  {
    Held<ITavixNetBox> box(common.NetBoxPtr());
    if (!box || FAILED(box->GetElapsedTime(&dMinutes))) return 0.0f;
  }
  if (dMinutes < 0.01) dMinutes = 0.0;
  const int nRunning = IsMethodRunning();
  if (nRunning == 0 && m_bOldRunning == 1) {
    // The method has ended since the last poll: stop it on the server.
    m_bOldRunning = 0;
    dMinutes = 0.0;
    StopMethod();
  }
  if (nRunning == 1) m_bOldRunning = 1;
  return static_cast<float>(dMinutes);
}
