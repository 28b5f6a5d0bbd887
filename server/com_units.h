// The autosampler, UV detector and column oven behind the instrument
// server. Each adapter holds one interface of its unit, found by its first
// successful InitialiseComms and kept until it is destroyed.
//
// CComSamp sends the autosampler's initial conditions and turns the
//   sampler's state into not-ready and error texts and the injecting and
//   washing flags. Owned by CNetIISamp.
// CComUV sends wavelength, response and zero requests as method lines and
//   switches and reads the lamp. Owned by CNetIIUV.
// CComOven sends the oven temperature and reads it back. Owned by the pump
//   back-end (CNetIIPump) while the method uses the oven.
//
// Results: int, non-zero = success. A server error recorded by the event
// sink leaves as CCommunicationsException (code 0).
// Thread safety: host thread only; no lock.
#pragma once

#include "server/com_setup.h"

class CComSamp : public CComSetup {
 public:
  CComSamp();
  ~CComSamp() override;

  void Initialise() override {}
  int InitialiseComms() override;

  int SetInitialCons(double dVial, double dVolume, double dValue, double dTime, double dCount);
  void SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError);
  // From the last status poll; neither asks the server.
  int IsInjecting() const { return m_bInjecting; }
  int IsWashing() const { return m_bWashing; }

 private:
  void UpdateSampStatus(int& nNotReady, CString& strNotReady, int& nError, CString& strError);
  ITavixAutosampler2* CheckAndGetSamp();

  ITavixAutosampler2* m_pSampler = nullptr;
  int m_bInjecting = 0;
  int m_bWashing = 0;
};

class CComUV : public CComSetup {
 public:
  CComUV();
  ~CComUV() override;

  void Initialise() override {}
  int InitialiseComms() override;

  int SetInitialCons(float fWavelength, Response eResponse, int nZeroSetting);
  int SetMethodLine(double dTime, float fWavelength, Response eResponse, int nZero);
  int SwitchLamp(int nOn);
  int IsLampOn();
  void SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError);

 private:
  ITavix_DET_UV2* CheckAndGetUV();

  float m_fWavelength = 250.0f;
  Response m_eResponse = responseStandard;
  int m_nZeroSetting = 0;  // recorded, not sent
  ITavix_DET_UV2* m_pDetector = nullptr;
};

class CComOven : public CComSetup {
 public:
  CComOven();
  ~CComOven() override;

  void Initialise() override {}
  int InitialiseComms() override;

  int SetMethodLine(double dTime, double dTemperature);
  // Degrees C; 0.0 when the server cannot tell.
  double GetOvenTemp();
  void SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError);

 private:
  ITavixOven* m_pOven = nullptr;
};
