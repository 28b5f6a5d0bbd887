#include "server/com_units.h"

#include <cmath>

#include "server/com_plumbing.h"

namespace {

template <class T>
void ReleaseAndClear(T*& pointer) {
  if (pointer) pointer->Release();
  pointer = nullptr;
}

}  // namespace

// ---- CComSamp ----

CComSamp::CComSamp() : CComSetup(unitTypeAutosampler, 1) {}

CComSamp::~CComSamp() { ReleaseAndClear(m_pSampler); }

int CComSamp::InitialiseComms() { return ConnectUnit(IID_ITavixAutosampler2, "Autosampler", m_pSampler); }

int CComSamp::SetInitialCons(double dVial, double dVolume, double dValue, double dTime, double dCount) {
  CCommon& common = CCommon::GetInstance();
  if (!common.IsConnected()) return 0;
  HRESULT hr = E_POINTER;
  {
    Held<ITavixSequence> sequence(common.SequencePtr());
    if (sequence) {
      hr = sequence->SetVial(static_cast<LONG>(dVial));
      if (SUCCEEDED(hr)) hr = sequence->SetInjectionVolume(dVolume);
      if (SUCCEEDED(hr)) hr = sequence->SetSamplerValue(dValue);
    }
  }
  if (FAILED(hr)) return 0;
  Held<ITavixMethod2> method(common.MethodPtr());
  if (!method) return 0;
  hr = method->SetSamplerTime(std::trunc(dTime));
  if (SUCCEEDED(hr)) hr = method->SetSamplerCount(static_cast<LONG>(dCount));
  return SUCCEEDED(hr) ? 1 : 0;
}

void CComSamp::SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError) {
  SystemNotReady(nError, strError, nNotReady, strNotReady);
  if (nNotReady == 1 || nError == 1) return;
  UpdateSampStatus(nNotReady, strNotReady, nError, strError);
}

void CComSamp::UpdateSampStatus(int& nNotReady, CString& strNotReady, int& nError, CString& strError) {
  ITavixAutosampler2* pSampler = CheckAndGetSamp();
  if (!pSampler) {
    // The unit answered but not as an autosampler: it cannot take a
    // sample, so the system is not ready; the flags keep their values.
    nNotReady = 1;
    strNotReady = m_strNetworkNotUp;
    return;
  }
  LONG lState = 0;
  if (FAILED(pSampler->GetSamplerState(&lState))) return;
  m_bInjecting = lState == samplerDrawing || lState == samplerInjecting || lState == samplerWashing;
  m_bWashing = lState == samplerWashing;
  if (lState == samplerFault) {
    nError = 1;
    strError = "Autosampler has gone into fault status.";
  } else if (lState == samplerLocked) {
    nNotReady = 1;
    strNotReady = "Autosampler is locked.";
  }
}

ITavixAutosampler2* CComSamp::CheckAndGetSamp() {
  CheckForEventError();
  return m_pSampler;
}

// ---- CComUV ----

CComUV::CComUV() : CComSetup(unitTypeUVDetector, 1) {}

CComUV::~CComUV() { ReleaseAndClear(m_pDetector); }

int CComUV::InitialiseComms() { return ConnectUnit(IID_ITavix_DET_UV2, "UV", m_pDetector); }

int CComUV::SetInitialCons(float fWavelength, Response eResponse, int nZeroSetting) {
  CCommon& common = CCommon::GetInstance();
  if (!common.IsConnected()) return 0;
  m_fWavelength = fWavelength;
  m_eResponse = eResponse;
  m_nZeroSetting = nZeroSetting;
  HRESULT hr = E_POINTER;
  {
    Held<ITavixMethod2> method(common.MethodPtr());
    if (method) hr = method->SetDetectorOption(0);
  }
  if (FAILED(hr)) return 0;
  // A zero at the start of the method would zero on the previous run's
  // baseline: the initial conditions never carry one.
  return SetMethodLine(-1.0, fWavelength, eResponse, 0);
}

int CComUV::SetMethodLine(double dTime, float fWavelength, Response eResponse, int nZero) {
  if (!WriteNewMethodItem(dTime, HplcFuncWavelength, static_cast<double>(fWavelength), 0, 0, 0, 0, 0)) return 0;
  if (!WriteNewMethodItem(dTime, HplcFuncResponse, static_cast<double>(eResponse), 0, 0, 0, 0, 0)) return 0;
  if (nZero == 1 && !WriteNewMethodItem(dTime, HplcFuncAutoZero, 0, 0, 0, 0, 0, 0)) return 0;
  return 1;
}

int CComUV::SwitchLamp(int nOn) {
  if (!m_pDetector) return 0;
  // The detector gets the last initial conditions with the lamp.
  ITavix_DET_UV2* pDetector = CheckAndGetUV();
  pDetector->SetWavelength(static_cast<double>(m_fWavelength));
  pDetector->SetResponse(m_eResponse);
  const HRESULT hr = pDetector->SetLampState(nOn ? lampOn : lampOff);
  ITavixUnit2* pUnit = GetUnitInterface();
  if (pUnit) pUnit->SendSettings();
  return SUCCEEDED(hr) ? 1 : 0;
}

int CComUV::IsLampOn() {
  if (!m_pDetector) return 0;
  LONG lState = 0;
  if (FAILED(CheckAndGetUV()->GetLampState(&lState))) return 0;
  return lState >= 1 && lState <= lampOn ? 1 : 0;
}

void CComUV::SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError) {
  SystemNotReady(nError, strError, nNotReady, strNotReady);
}

ITavix_DET_UV2* CComUV::CheckAndGetUV() {
  CheckForEventError();
  return m_pDetector;
}

// ---- CComOven ----

CComOven::CComOven() : CComSetup(unitTypeColumnOven, 1) {}

CComOven::~CComOven() { ReleaseAndClear(m_pOven); }

int CComOven::InitialiseComms() { return ConnectUnit(IID_ITavixOven, "Oven", m_pOven); }

int CComOven::SetMethodLine(double dTime, double dTemperature) {
  HRESULT hr = E_POINTER;
  {
    Held<ITavixMethod2> method(CCommon::GetInstance().MethodPtr());
    if (method) hr = method->SetOvenOption(0);
  }
  if (FAILED(hr)) return 0;
  return WriteNewMethodItem(dTime, HplcFuncOvenTemperature, dTemperature, 0, 0, 0, 0, 0) ? 1 : 0;
}

double CComOven::GetOvenTemp() {
  // Without the oven there is nothing to read: report 0.0, as for a read
  // the server cannot answer.
  double dCelsius = 0.0;
  if (m_pOven) m_pOven->GetTemperature(&dCelsius);
  return dCelsius;
}

void CComOven::SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError) {
  SystemNotReady(nError, strError, nNotReady, strNotReady);
}
