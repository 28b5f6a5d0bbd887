// The seven device classes through which the host drives every instrument.
//
// Contract (shared with the host, so names, signatures, virtual order and
// default answers are fixed):
//  - Every class derives from the window class; its virtual table holds
//    the window class's operations first, then the inlet operations below
//    in the order declared. Most declarations that share one body in
//    every class (e.g. NotReady / Error) sit together; where the host's
//    table puts them apart, so does the declaration order.
//  - "Abstract" operations are pure virtual; the others give the host's
//    default answer. Forwarding overloads call the shorter overload
//    through the virtual table, so a derived override runs; the extra
//    arguments are dropped.
//  - int results: non-zero is success / true, 0 failure / false.
// The host constructs a derived device, may set its interface window (and
// for detectors its number), calls the inlet operations on its own thread
// and destroys the device through the virtual destructor.
#pragma once

#include "contract/inlet_system_status.h"
#include "contract/quarn_export.h"
#include "platform/inlet/generic_exp_record.h"
#include "platform/mfc/afxwin.h"

// ---------------------------------------------------------------- pump --
class QUARN_EXPORT CPump : public CWnd {
 public:
  CPump();
  ~CPump() override;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  virtual int InitialiseComms() { return 1; }
  virtual int Initialise() { return 1; }
  virtual int GenericOp(unsigned int, long) { return 1; }
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual int SwitchPump(Switch value) = 0;
  // The pump's long form does not forward: it answers 1 and does nothing.
  virtual int LoadMethod(const CString&, CString) { return 1; }
  virtual int LoadMethod(const CString&) { return 1; }
  virtual int StartMethod() = 0;
  virtual int StartMethod(const CString& methodName) = 0;
  virtual int StopMethod() = 0;
  virtual int SendRemoteStart() { return 0; }
  virtual int CloseDownComms() { return 1; }
  virtual int GetMethodLength(const CString& methodName, float& length) = 0;
  // The pump's long form does not forward: it answers 0 and writes nothing.
  virtual int WriteExpRecord(CGenericExpRecord*, const CString&, CString, eRunType) { return 0; }
  virtual int WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
  virtual void InitialiseRawDataManager(CInletRawDataManager*) {}
  // The solvent monitor document for the host; always true.
  virtual bool FormatSolventMonitorUpdate(CInletSystemStatus& status, CString& document, CString name);
  virtual int PumpOn() = 0;
  virtual int MethodRunning() = 0;
  virtual int PostRunning() = 0;
  virtual int NotReady(CString& text) = 0;
  virtual int Error(CString& text) = 0;
  virtual int& PumpStopOnExit() { return m_nStopOnExit; }

  DECLARE_MESSAGE_MAP()

 protected:
  HWND m_hUserInterfaceWindow;
  int m_nStopOnExit;
};

// --------------------------------------------------------- autosampler --
class QUARN_EXPORT CAutoSampler : public CWnd {
 public:
  // A sample's start parameters as the host passes them.
  struct StartMethodParams {
    CString m_strVial;        // the vial, as text
    float m_fInjectionVolume;  // microlitres
  };

  CAutoSampler();
  ~CAutoSampler() override;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  virtual int InitialiseComms() { return 1; }
  virtual int Initialise() { return 1; }
  virtual int GenericOp(unsigned int, long) { return 1; }
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual int LoadMethod(const CString& methodName, CString) { return LoadMethod(methodName); }
  virtual int LoadMethod(const CString& methodName) = 0;
  virtual int StartMethod() = 0;
  virtual int StartMethod(const CString& methodName) = 0;
  virtual int StartMethod(const CString&, const CString&, float) { return 0; }
  virtual int StartMethod(const CString& methodName, const StartMethodParams& params) {
    return StartMethod(methodName, params.m_strVial, params.m_fInjectionVolume);
  }
  virtual int StopMethod() = 0;
  virtual int SwitchWash(Switch) { return 0; }
  virtual int ResetInjector() { return 0; }
  virtual int CloseDownComms() { return 1; }
  virtual int WriteExpRecord(CGenericExpRecord* record, const CString& methodName, CString&, eRunType) {
    return WriteExpRecord(record, methodName);
  }
  virtual int WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
  // Appends the sample-run injection block to the record.
  virtual void WriteInjectionVolume(CGenericExpRecord* record, float volume);
  // Inject / WaitingToInject and Injecting / MethodRunning share their
  // bodies but not their slots: the host finds each pair two slots apart.
  virtual int Inject() { return 1; }
  virtual void InitialiseRawDataManager(CInletRawDataManager*) {}
  virtual int Injecting() = 0;
  virtual int WaitingToInject() { return 1; }
  virtual int MethodRunning() = 0;
  virtual int PostRunning() = 0;
  virtual int NotReady(CString& text) = 0;
  virtual int Error(CString& text) = 0;
  virtual CString& RunMessage() { return m_strRunMessage; }

  DECLARE_MESSAGE_MAP()

 protected:
  HWND m_hUserInterfaceWindow;
  CString m_strRunMessage;
};

// ----------------------------------------------------------- detectors --
class QUARN_EXPORT CDetector : public CWnd {
 public:
  CDetector();
  ~CDetector() override;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }
  void SetDetectorNumber(int number) { m_nDetectorNumber = number; }

  virtual int InitialiseComms() = 0;
  virtual int Initialise() = 0;
  virtual int GenericOp(unsigned int, long) { return 1; }
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual int SwitchLamp(Switch value) = 0;
  virtual int LoadMethod(const CString& methodName, CString) { return LoadMethod(methodName); }
  virtual int LoadMethod(const CString& methodName) = 0;
  virtual int StartMethod() = 0;
  virtual int StartMethod(const CString& methodName) = 0;
  virtual int StopMethod() = 0;
  virtual int FinishMethod() { return StopMethod(); }
  virtual int Balance() { return 0; }
  virtual int CloseDownComms() = 0;
  virtual void InitialiseRawDataManager(CInletRawDataManager*) {}
  virtual int EndDataAcquisition() { return 1; }
  virtual int InitialiseNewDataAcquisition(const CString&, const CString&) { return 0; }
  virtual int PreStartDataAcquisition() { return 1; }
  virtual int ReadData() { return 1; }
  virtual int ResetDataAcquisition() { return 1; }
  virtual int TerminateDataAcquisition() { return 1; }
  virtual int ReadBufferReady() { return 0; }
  virtual int WriteExpRecord(CGenericExpRecord* record, const CString& methodName, CString&, eRunType) {
    return WriteExpRecord(record, methodName);
  }
  virtual int WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
  virtual int LampOn() = 0;
  virtual int MethodRunning() = 0;
  virtual int PostRunning() = 0;
  virtual int NotReady(CString& text) = 0;
  virtual int Error(CString& text) = 0;

  int GetDetectorKind() const { return m_nDetectorKind; }
  int GetDetectorNumber() const { return m_nDetectorNumber; }

  DECLARE_MESSAGE_MAP()

 protected:
  int m_nDetectorKind;
  int m_nDetectorNumber;
  HWND m_hUserInterfaceWindow;
};

class QUARN_EXPORT CUVDetector : public CDetector {
 public:
  CUVDetector();
  ~CUVDetector() override;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  int InitialiseComms() override { return 1; }
  int Initialise() override { return 1; }
  int CloseDownComms() override { return 1; }

  DECLARE_MESSAGE_MAP()

 protected:
  HWND m_hUserInterfaceWindow;
};

class QUARN_EXPORT CPDADetector : public CDetector {
 public:
  CPDADetector();
  ~CPDADetector() override;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  int InitialiseComms() override { return 1; }
  int Initialise() override { return 1; }
  int CloseDownComms() override { return 1; }
  int InitialiseNewDataAcquisition(const CString&, const CString&) override = 0;
  int ResetDataAcquisition() override = 0;
  int TerminateDataAcquisition() override = 0;

  DECLARE_MESSAGE_MAP()

 protected:
  HWND m_hUserInterfaceWindow;
};

// ---------------------------------------------------------------- oven --
class QUARN_EXPORT COven : public CWnd {
 public:
  COven();
  ~COven() override;

  virtual int InitialiseComms() { return 1; }
  virtual int Initialise() { return 1; }
  virtual int GenericOp(unsigned int, long) { return 1; }
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual int SwitchOven(Switch value) = 0;
  virtual int LoadMethod(const CString& methodName) = 0;
  virtual int StartMethod() = 0;
  virtual int StartMethod(const CString& methodName) = 0;
  virtual int StopMethod() = 0;
  virtual int CloseDownComms() { return 1; }
  virtual int WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
  virtual int OvenOn() = 0;
  virtual int MethodRunning() = 0;
  virtual int PostRunning() = 0;
  virtual int NotReady(CString& text) = 0;
  virtual int Error(CString& text) = 0;

  DECLARE_MESSAGE_MAP()
};

// ------------------------------------------------------- GC system -----
// Part of the host contract; no device of this plug-in derives from it.
class QUARN_EXPORT CGCSystem : public CWnd {
 public:
  CGCSystem();
  ~CGCSystem() override;

  void SetUserInterfaceWindow(HWND window) { m_hUserInterfaceWindow = window; }

  virtual int InitialiseComms() { return 1; }
  virtual int Initialise() { return 1; }
  virtual int GenericOp(unsigned int, long) { return 1; }
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual int LoadMethod(const CString& methodName) = 0;
  virtual int StartMethod() = 0;
  virtual int StartMethod(const CString& methodName) = 0;
  virtual int StopMethod() = 0;
  virtual int ReadyForInjection() = 0;
  virtual int CloseDownComms() { return 1; }
  virtual int GetMethodLength(const CString& methodName, float& length) = 0;
  virtual int WriteExpRecord(CGenericExpRecord*, const CString&) { return 0; }
  virtual int MethodRunning() = 0;
  virtual int PostRunning() = 0;
  virtual int NotReady(CString& text) = 0;
  virtual int Error(CString& text) = 0;
  virtual int CoolDown() = 0;

  DECLARE_MESSAGE_MAP()

 protected:
  HWND m_hUserInterfaceWindow;
};
