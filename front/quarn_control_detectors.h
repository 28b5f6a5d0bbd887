// The detector and oven device objects the host constructs.
//
// Contract:
//  - CQuarnControlUVDetector derives from CUVDetector and owns one UV
//    back-end (CBaseUV), built at construction by the family the transport
//    flag selects, or none; then every operation answers its fixed value
//    and calls nothing. LoadMethod downloads the method behind a progress
//    display (50 "UV Detector" before the download, 100 after, then a
//    one-second pause); its own StartMethod overloads do nothing and answer
//    0; of the run control only StopMethod reaches the back-end. Lamp,
//    not-ready and error conditions reach the host through the status
//    record. WriteExpRecord(record, name) prints the "UVDETECTOR" report
//    without needing the back-end.
//  - CQuarnControlPDADetector and CQuarnControlOven have no back-end: they
//    accept every call and do nothing (the oven is run as part of the pump
//    method). Their reports write nothing.
// Thread safety: host's thread only.
#pragma once

#include <memory>

#include "contract/inlet_devices.h"
#include "contract/quarn_export.h"

// The back-end interface, seen only by the library itself.
class CBaseUV;

class QUARN_EXPORT CQuarnControlUVDetector : public CUVDetector {
 public:
  // `kind` and `number` become the detector kind and number.
  CQuarnControlUVDetector(int kind, int number);
  ~CQuarnControlUVDetector() override;
  CQuarnControlUVDetector(const CQuarnControlUVDetector&) = delete;
  CQuarnControlUVDetector& operator=(const CQuarnControlUVDetector&) = delete;

  using CUVDetector::LoadMethod;
  using CUVDetector::StartMethod;
  using CUVDetector::WriteExpRecord;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  int InitialiseComms() override;
  int Initialise() override;
  int ReadStatus(CInletSystemStatus& status) override;
  int SwitchLamp(Switch value) override;
  int LoadMethod(const CString& methodName) override;
  int StartMethod() override;
  int StartMethod(const CString& methodName) override;
  int StopMethod() override;
  int CloseDownComms() override;
  int WriteExpRecord(CGenericExpRecord* record, const CString& methodName) override;
  int LampOn() override;
  int MethodRunning() override;
  int PostRunning() override;
  int NotReady(CString& text) override;
  int Error(CString& text) override;

  DECLARE_MESSAGE_MAP()

 private:
  std::unique_ptr<CBaseUV> m_pBackend;
  HWND m_hUserInterfaceWindow;
};

class QUARN_EXPORT CQuarnControlPDADetector : public CPDADetector {
 public:
  CQuarnControlPDADetector();
  ~CQuarnControlPDADetector() override;

  using CPDADetector::LoadMethod;
  using CPDADetector::StartMethod;
  using CPDADetector::WriteExpRecord;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  int InitialiseComms() override;
  int Initialise() override;
  int GenericOp(unsigned int, long) override;
  int ReadStatus(CInletSystemStatus& status) override;
  int SwitchLamp(Switch value) override;
  int LoadMethod(const CString& methodName, CString other) override;
  int LoadMethod(const CString& methodName) override;
  int StartMethod() override;
  int StartMethod(const CString& methodName) override;
  int StopMethod() override;
  int FinishMethod() override;
  int Balance() override;
  int CloseDownComms() override;
  void InitialiseRawDataManager(CInletRawDataManager* manager) override;
  int EndDataAcquisition() override;
  int InitialiseNewDataAcquisition(const CString& first, const CString& second) override;
  int PreStartDataAcquisition() override;
  int ReadData() override;
  int ResetDataAcquisition() override;
  int TerminateDataAcquisition() override;
  int ReadBufferReady() override;
  int WriteExpRecord(CGenericExpRecord* record, const CString& methodName, CString& text, eRunType type) override;
  int WriteExpRecord(CGenericExpRecord* record, const CString& methodName) override;
  int LampOn() override;
  int MethodRunning() override;
  int PostRunning() override;
  int NotReady(CString& text) override;
  int Error(CString& text) override;

  DECLARE_MESSAGE_MAP()

 private:
  HWND m_hUserInterfaceWindow;
};

class QUARN_EXPORT CQuarnControlOven : public COven {
 public:
  CQuarnControlOven();
  ~CQuarnControlOven() override;

  using COven::StartMethod;

  int InitialiseComms() override;
  int Initialise() override;
  int GenericOp(unsigned int, long) override;
  int ReadStatus(CInletSystemStatus& status) override;
  int SwitchOven(Switch value) override;
  int LoadMethod(const CString& methodName) override;
  int StartMethod() override;
  int StartMethod(const CString& methodName) override;
  int StopMethod() override;
  int CloseDownComms() override;
  int WriteExpRecord(CGenericExpRecord* record, const CString& methodName) override;
  int OvenOn() override;
  int MethodRunning() override;
  int PostRunning() override;
  int NotReady(CString& text) override;
  int Error(CString& text) override;

  DECLARE_MESSAGE_MAP()
};
