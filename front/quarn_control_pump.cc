#include "front/quarn_control_pump.h"

#include "backend/backend_interfaces.h"
#include "front/backend_factory.h"
#include "front/shared_routines.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

CQuarnControlPump::CQuarnControlPump() : m_pBackend(CreatePumpBackend()) {}

CQuarnControlPump::~CQuarnControlPump() { m_pBackend.reset(); }

int CQuarnControlPump::InitialiseComms() { return m_pBackend ? m_pBackend->InitialiseComms() : 0; }

int CQuarnControlPump::Initialise() {
  if (m_pBackend) m_pBackend->Initialise();
  return 1;
}

int CQuarnControlPump::ReadStatus(CInletSystemStatus& status) {
  return m_pBackend ? m_pBackend->ReadStatus(status) : 0;
}

int CQuarnControlPump::SwitchPump(Switch value) { return m_pBackend ? m_pBackend->SwitchPump(value) : 0; }

int CQuarnControlPump::LoadMethod(const CString& methodName) {
  if (!m_pBackend) return 0;
  // The instrument side forgets its old method whatever happens next.
  m_pBackend->ClearMethod();
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;

  Progress progress("DownLoading Initial Conditions");
  bool ok = m_pBackend->DownloadInitialConditions(method) != 0;
  progress.SetProgress(17, "DownLoading Initial Events");
  if (ok) ok = m_pBackend->DownloadInitialEvents(method) != 0;
  progress.SetProgress(33, "DownLoading Timetable");
  if (ok) ok = m_pBackend->DownloadTimetable(method) != 0;
  progress.SetProgress(66, "DownLoading Events");
  if (ok) ok = m_pBackend->DownloadEvents(method) != 0;
  progress.SetProgress(100, nullptr);
  Pause(1000, 1);
  return ok ? 1 : 0;
}

int CQuarnControlPump::StartMethod() {
  if (!m_pBackend) return 0;
  m_pBackend->StartMethod();
  return 1;
}

int CQuarnControlPump::StartMethod(const CString& methodName) {
  if (!m_pBackend) return 0;
  // The file is read to check that the method exists; the back-end runs
  // what was downloaded.
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  m_pBackend->StartMethod();
  return 1;
}

int CQuarnControlPump::StopMethod() {
  if (!m_pBackend) return 0;
  FlashStatusText(nullptr, nullptr, 0);
  return m_pBackend->StopMethod();
}

int CQuarnControlPump::CloseDownComms() {
  if (m_pBackend) m_pBackend->CloseDownComms();
  return 1;
}

int CQuarnControlPump::GetMethodLength(const CString& methodName, float& length) {
  if (!m_pBackend) return 0;
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  length = static_cast<float>(method.GetRunLength());
  return 1;
}

int CQuarnControlPump::WriteExpRecord(CGenericExpRecord* record, const CString& methodName) {
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  method.Print(record, "PUMP");
  return 1;
}

int CQuarnControlPump::PumpOn() { return 0; }

int CQuarnControlPump::MethodRunning() { return m_pBackend ? m_pBackend->MethodRunning() : 0; }

int CQuarnControlPump::PostRunning() { return 0; }

// Not-ready and error conditions reach the host through the status record.
int CQuarnControlPump::NotReady(CString&) { return 1; }
int CQuarnControlPump::Error(CString&) { return 1; }

BEGIN_MESSAGE_MAP(CQuarnControlPump, CPump)
END_MESSAGE_MAP()
