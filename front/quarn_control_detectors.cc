#include "front/quarn_control_detectors.h"

#include "backend/backend_interfaces.h"
#include "front/backend_factory.h"
#include "front/shared_routines.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

// ------------------------------------------------------------------- UV --

CQuarnControlUVDetector::CQuarnControlUVDetector(int kind, int number) : m_hUserInterfaceWindow(nullptr) {
  m_nDetectorKind = kind;
  m_nDetectorNumber = number;
  m_pBackend = CreateUVBackend();
}

CQuarnControlUVDetector::~CQuarnControlUVDetector() { m_pBackend.reset(); }

int CQuarnControlUVDetector::InitialiseComms() { return m_pBackend ? m_pBackend->InitialiseComms() : 0; }

int CQuarnControlUVDetector::Initialise() {
  if (m_pBackend) m_pBackend->Initialise();
  return 1;
}

int CQuarnControlUVDetector::ReadStatus(CInletSystemStatus& status) {
  return m_pBackend ? m_pBackend->ReadStatus(status) : 0;
}

int CQuarnControlUVDetector::SwitchLamp(Switch value) { return m_pBackend ? m_pBackend->SwitchLamp(value) : 1; }

int CQuarnControlUVDetector::LoadMethod(const CString& methodName) {
  if (!m_pBackend) return 0;
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  // The detector shares the autosampler's display title.
  Progress progress("AutoSampler              ");
  progress.SetProgress(50, "UV Detector");
  const bool ok = m_pBackend->DownloadMethod(method) != 0;
  progress.SetProgress(100, nullptr);
  Pause(1000, 1);
  return ok ? 1 : 0;
}

// The detector follows the run the pump and autosampler start.
int CQuarnControlUVDetector::StartMethod() { return 0; }
int CQuarnControlUVDetector::StartMethod(const CString&) { return 0; }

int CQuarnControlUVDetector::StopMethod() { return m_pBackend ? m_pBackend->StopMethod() : 0; }

int CQuarnControlUVDetector::CloseDownComms() { return m_pBackend ? 1 : 0; }

int CQuarnControlUVDetector::WriteExpRecord(CGenericExpRecord* record, const CString& methodName) {
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  method.Print(record, "UVDETECTOR");
  return 1;
}

int CQuarnControlUVDetector::LampOn() { return 0; }
int CQuarnControlUVDetector::MethodRunning() { return 0; }
int CQuarnControlUVDetector::PostRunning() { return 0; }
int CQuarnControlUVDetector::NotReady(CString&) { return 1; }
int CQuarnControlUVDetector::Error(CString&) { return 1; }

BEGIN_MESSAGE_MAP(CQuarnControlUVDetector, CUVDetector)
END_MESSAGE_MAP()

// ------------------------------------------------------------------ PDA --
// Accepted by the host, not driven.

CQuarnControlPDADetector::CQuarnControlPDADetector() : m_hUserInterfaceWindow(nullptr) {}
CQuarnControlPDADetector::~CQuarnControlPDADetector() = default;

int CQuarnControlPDADetector::InitialiseComms() { return 1; }
int CQuarnControlPDADetector::Initialise() { return 1; }
int CQuarnControlPDADetector::GenericOp(unsigned int, long) { return 1; }
int CQuarnControlPDADetector::ReadStatus(CInletSystemStatus&) { return 1; }
int CQuarnControlPDADetector::SwitchLamp(Switch) { return 1; }
int CQuarnControlPDADetector::LoadMethod(const CString&, CString) { return 1; }
int CQuarnControlPDADetector::LoadMethod(const CString&) { return 1; }
int CQuarnControlPDADetector::StartMethod() { return 1; }
int CQuarnControlPDADetector::StartMethod(const CString&) { return 1; }
int CQuarnControlPDADetector::StopMethod() { return 1; }
int CQuarnControlPDADetector::FinishMethod() { return 1; }
int CQuarnControlPDADetector::Balance() { return 0; }
int CQuarnControlPDADetector::CloseDownComms() { return 1; }
void CQuarnControlPDADetector::InitialiseRawDataManager(CInletRawDataManager*) {}
int CQuarnControlPDADetector::EndDataAcquisition() { return 1; }
int CQuarnControlPDADetector::InitialiseNewDataAcquisition(const CString&, const CString&) { return 1; }
int CQuarnControlPDADetector::PreStartDataAcquisition() { return 1; }
int CQuarnControlPDADetector::ReadData() { return 1; }
int CQuarnControlPDADetector::ResetDataAcquisition() { return 1; }
int CQuarnControlPDADetector::TerminateDataAcquisition() { return 1; }
int CQuarnControlPDADetector::ReadBufferReady() { return 0; }
int CQuarnControlPDADetector::WriteExpRecord(CGenericExpRecord*, const CString&, CString&, eRunType) { return 0; }
int CQuarnControlPDADetector::WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
int CQuarnControlPDADetector::LampOn() { return 0; }
int CQuarnControlPDADetector::MethodRunning() { return 0; }
int CQuarnControlPDADetector::PostRunning() { return 0; }
int CQuarnControlPDADetector::NotReady(CString&) { return 1; }
int CQuarnControlPDADetector::Error(CString&) { return 1; }

BEGIN_MESSAGE_MAP(CQuarnControlPDADetector, CPDADetector)
END_MESSAGE_MAP()

// ----------------------------------------------------------------- oven --
// Run as part of the pump method: its use and temperature come from the
// pump's initial conditions, its temperature from the pump's status.

CQuarnControlOven::CQuarnControlOven() = default;
CQuarnControlOven::~CQuarnControlOven() = default;

int CQuarnControlOven::InitialiseComms() { return 1; }
int CQuarnControlOven::Initialise() { return 1; }
int CQuarnControlOven::GenericOp(unsigned int, long) { return 1; }
int CQuarnControlOven::ReadStatus(CInletSystemStatus&) { return 1; }
int CQuarnControlOven::SwitchOven(Switch) { return 1; }
int CQuarnControlOven::LoadMethod(const CString&) { return 1; }
int CQuarnControlOven::StartMethod() { return 1; }
int CQuarnControlOven::StartMethod(const CString&) { return 1; }
int CQuarnControlOven::StopMethod() { return 1; }
int CQuarnControlOven::CloseDownComms() { return 1; }
int CQuarnControlOven::WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
int CQuarnControlOven::OvenOn() { return 0; }
int CQuarnControlOven::MethodRunning() { return 0; }
int CQuarnControlOven::PostRunning() { return 0; }
int CQuarnControlOven::NotReady(CString&) { return 1; }
int CQuarnControlOven::Error(CString&) { return 1; }

BEGIN_MESSAGE_MAP(CQuarnControlOven, COven)
END_MESSAGE_MAP()
