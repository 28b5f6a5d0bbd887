// CInletSystemStatus: the one record in which a device reports its state
// to the host.
//
// Contract (shared with the host, so layout and behaviour are fixed):
//  - Fields in the order below, every number 32 bits wide, four texts in
//    512-byte buffers inside the record: no pointers, no heap, a copy is a
//    plain copy of every byte.
//  - The default record is all zero, empty texts and 100 % solvent A.
//  - Text setters keep at most the first 511 bytes, always NUL-terminated.
//  - operator== compares field by field in a fixed order and stops at the
//    first difference; floats compare exactly; texts compare up to their
//    NULs.
//  - operator|= merges the flags of another reading (see the .cc).
// The host owns the record and hands it to a device's ReadStatus, which
// writes only the fields it knows.
// Thread safety: none; a record is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "contract/quarn_export.h"
#include "platform/mfc/afxwin.h"

class QUARN_EXPORT CInletSystemStatus : public CObject {
 public:
  static constexpr int kTextSize = 512;

  CInletSystemStatus();
  CInletSystemStatus(const CInletSystemStatus& other);
  CInletSystemStatus& operator=(const CInletSystemStatus& other);
  ~CInletSystemStatus() override;

  int& GetRunning() { return m_nRunning; }
  int& GetPostRunning() { return m_nPostRunning; }
  int& GetNotReady() { return m_nNotReady; }
  int& GetError() { return m_nError; }
  float& GetTime() { return m_fTime; }
  int& GetWashOn() { return m_nWashOn; }
  int& GetInjecting() { return m_nInjecting; }
  float& SampleTemperature() { return m_fSampleTemperature; }
  float& GetFlow() { return m_fFlow; }
  float& GetPercentA() { return m_fPercentA; }
  float& GetPercentB() { return m_fPercentB; }
  float& GetPercentC() { return m_fPercentC; }
  float& GetPercentD() { return m_fPercentD; }
  float& GetHighPressure() { return m_fHighPressure; }
  float& GetLowPressure() { return m_fLowPressure; }
  int& GetPumpOn() { return m_nPumpOn; }
  int& GetLamp() { return m_nLamp; }
  int& GetDadScan() { return m_nDadScan; }
  int& DADAcquiring() { return m_nDadAcquiring; }
  float& GetTemperatureLeft() { return m_fTemperatureLeft; }
  float& GetTemperatureRight() { return m_fTemperatureRight; }

  CString GetNotReadyInfo() const { return CString(m_szNotReadyInfo); }
  CString GetErrorInfo() const { return CString(m_szErrorInfo); }
  CString GetStatusInfo() const { return CString(m_szStatusInfo); }
  CString GetStopText() const { return CString(m_szStopText); }

  void SetNotReadyInfo(const CString& text) { StoreText(m_szNotReadyInfo, text); }
  void SetErrorInfo(const CString& text) { StoreText(m_szErrorInfo, text); }
  void SetStatusInfo(const CString& text) { StoreText(m_szStatusInfo, text); }
  void SetStopText(const CString& text) { StoreText(m_szStopText, text); }

  int operator==(const CInletSystemStatus& other) const;
  CInletSystemStatus& operator|=(const CInletSystemStatus& other);

 private:
  static void StoreText(char (&buffer)[kTextSize], const CString& text);

  // Declaration order is part of the host contract.
  std::int32_t m_nRunning;
  std::int32_t m_nPostRunning;
  std::int32_t m_nNotReady;
  std::int32_t m_nError;
  char m_szNotReadyInfo[kTextSize];
  char m_szErrorInfo[kTextSize];
  char m_szStatusInfo[kTextSize];
  char m_szStopText[kTextSize];
  float m_fTime;
  std::int32_t m_nWashOn;
  std::int32_t m_nInjecting;
  float m_fSampleTemperature;
  float m_fFlow;
  float m_fPercentA;
  float m_fPercentB;
  float m_fPercentC;
  float m_fPercentD;
  float m_fHighPressure;
  float m_fLowPressure;
  std::int32_t m_nPumpOn;
  std::int32_t m_nLamp;
  std::int32_t m_nDadScan;
  std::int32_t m_nDadAcquiring;
  float m_fTemperatureLeft;
  float m_fTemperatureRight;

  friend struct InletSystemStatusLayout;
};
