#include "front/quarn_control_autosampler.h"

#include <algorithm>
#include <cctype>
#include <climits>

#include "backend/backend_interfaces.h"
#include "front/backend_factory.h"
#include "front/shared_routines.h"
#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"

CQuarnControlAutoSampler::CQuarnControlAutoSampler() : m_nLastInjecting(0), m_pBackend(CreateSamplerBackend()) {
  m_strMethodName.Empty();
}

CQuarnControlAutoSampler::~CQuarnControlAutoSampler() {
  m_pBackend.reset();
  FlashStatusText(nullptr, nullptr, 0);
}

int CQuarnControlAutoSampler::InitialiseComms() { return m_pBackend ? m_pBackend->InitialiseComms() : 1; }

int CQuarnControlAutoSampler::ReadStatus(CInletSystemStatus& status) {
  if (!m_pBackend) return 0;
  const int result = m_pBackend->ReadStatus(status);
  const int injecting = m_pBackend->Injecting();
  // The flashing name belongs to the injection sequence: end it when the
  // sequence ends.
  if (injecting != m_nLastInjecting && injecting == 0) FlashStatusText(nullptr, nullptr, 0);
  m_nLastInjecting = injecting;
  return result;
}

int CQuarnControlAutoSampler::LoadMethod(const CString& methodName) {
  if (!m_pBackend) return 0;
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  Progress progress("AutoSampler              ");
  const bool ok = m_pBackend->DownloadMethod(method) != 0;
  progress.SetProgress(100, nullptr);
  Pause(1000, 1);
  return ok ? 1 : 0;
}

int CQuarnControlAutoSampler::StartMethod() {
  if (!m_pBackend) return 0;
  FlashStatusText("Running :- ", m_strMethodName, 1);
  return m_pBackend->StartMethod();
}

int CQuarnControlAutoSampler::StartMethod(const CString& methodName) {
  if (!m_pBackend) return 0;
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  m_strMethodName = methodName;
  return StartMethod();
}

int CQuarnControlAutoSampler::StartMethod(const CString& methodName, const CString& vial, float volume) {
  return StartSample(methodName, VialFromText(vial), volume);
}

int CQuarnControlAutoSampler::StartMethod(const CString& methodName, int vial, float volume) {
  // The same as the text form: a sample start injects from the vial and
  // with the volume it is given.
  return StartSample(methodName, vial, volume);
}

int CQuarnControlAutoSampler::StartSample(const CString& methodName, int vial, float volume) {
  if (!m_pBackend) return 0;
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  method.GetSamplerInitialCons().VialNumber() = vial;
  method.GetSamplerInitialCons().InjectionVolume() = volume;
  m_pBackend->DownloadMethod(method);  // a failed download does not stop the start
  m_strMethodName = methodName;
  return StartMethod();
}

int CQuarnControlAutoSampler::VialFromText(const char* text) {
  if (!text) return 0;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  // Held just past the int range instead of overflowing: negated, the
  // cap is INT_MIN; positive, it is cut to INT_MAX.
  constexpr long long kCap = static_cast<long long>(INT_MAX) + 1;
  long long value = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) value = std::min(value * 10 + (*p - '0'), kCap);
  if (negative) value = -value;
  return static_cast<int>(std::min<long long>(value, INT_MAX));
}

int CQuarnControlAutoSampler::StopMethod() { return m_pBackend ? m_pBackend->StopMethod() : 0; }

int CQuarnControlAutoSampler::ResetInjector() { return m_pBackend ? 1 : 0; }

int CQuarnControlAutoSampler::WriteExpRecord(CGenericExpRecord* record, const CString& methodName) {
  QuarnMethod method;
  if (!ReadMethodFile(method, methodName)) return 0;
  method.Print(record, "AUTOSAMPLER");
  return 1;
}

int CQuarnControlAutoSampler::Injecting() { return m_pBackend ? m_pBackend->Injecting() : 0; }

int CQuarnControlAutoSampler::MethodRunning() { return m_pBackend ? m_pBackend->Injecting() : 0; }

int CQuarnControlAutoSampler::PostRunning() { return 0; }

int CQuarnControlAutoSampler::NotReady(CString&) { return m_pBackend ? 1 : 0; }
int CQuarnControlAutoSampler::Error(CString&) { return m_pBackend ? 1 : 0; }

BEGIN_MESSAGE_MAP(CQuarnControlAutoSampler, CAutoSampler)
END_MESSAGE_MAP()
