// The shared session with the instrument server and what every unit
// adapter inherits: finding its unit, method items and run control.
//
// CCommon holds, once per process, the server objects (root, session,
// units collection, network box, sequence, method) and the session's
// event sink. It is made on first use and destroyed at process exit; the
// server objects are released when the last unit goes (CComSetup) or on
// every failure to connect.
//
// CComSetup is the base of the unit adapters. Its statics count the live
// units of the process and hold the shared run flags: a run started
// through one unit is the run of all units.
//
// Failures while connecting or finding a unit, and a server error the
// event sink has recorded, are raised as CCommunicationsException (code 0)
// with the texts in the .cc; every other server failure is a 0 result.
// Waits go through Sleep (the one clock): 2 s before the first unit after
// all units were destroyed, up to 2 s of Open retries, up to 6 s for the
// network box and for each unit, 5 s after a stop.
// Thread safety: host thread only; no lock. Only the event sink's record
// is shared with the server's thread.
#pragma once

#include "contract/quarn_export.h"
#include "platform/inlet/inlet.h"
#include "server/event_sink.h"

class CComSetup;

class CCommon {
 public:
  static CCommon& GetInstance();
  virtual ~CCommon();
  CCommon(const CCommon&) = delete;
  CCommon& operator=(const CCommon&) = delete;

  // Connects (once); 1 on success. Throws CCommunicationsException.
  int OpenServer();
  // Releases every server object; unconnected afterwards.
  void CloseServer();
  // CloseServer, then throws CCommunicationsException(0, text).
  [[noreturn]] void FailAndThrow(const CString& text);

  // The held object with one added reference (the caller releases it), or
  // null.
  ITavixSession2* SessionPtr();
  ITavixMethod2* MethodPtr();
  ITavixSequence* SequencePtr();
  ITavixUnits* UnitsPtr();
  ITavixNetBox* NetBoxPtr();

  // A new empty method on the sequence, named again.
  void ResetMethod();

  int IsConnected() const { return m_bConnected; }

  // Destroys the instance (releasing its server objects) so that the next
  // GetInstance makes a fresh one; tests only.
  static void ResetForTesting();

 private:
  friend class CComSetup;
  CCommon();

  int OpenSession();
  int GetUnitsObject();
  int FindNetBox();
  int GetSequenceObject();
  int AddMethodObject();

  _bstr_t m_bstrMethodName;
  CEventSink m_EventSink;
  ITavixServer* m_pServer = nullptr;
  ITavixSession2* m_pSession = nullptr;
  ITavixMethod2* m_pMethod = nullptr;
  ITavixSequence* m_pSequence = nullptr;
  ITavixNetBox* m_pNetBox = nullptr;
  ITavixUnit2* m_pNetBoxUnit = nullptr;
  ITavixUnits* m_pUnits = nullptr;
  int m_bConnected = 0;
  CString m_strRepositoryKey;
};

class QUARN_EXPORT CComSetup {
 public:
  CComSetup(short nUnitType, short nUnitNumber);
  virtual ~CComSetup();
  CComSetup(const CComSetup&) = delete;
  CComSetup& operator=(const CComSetup&) = delete;

  virtual void Initialise() {}
  virtual int InitialiseComms();

  // Run control shared by every unit.
  void SetAcquistionLength(double dLength);
  int RunInitialConditions();
  int Run();
  int Stop();
  int IsMethodRunning();
  int HasStartedInitial();
  int HasStartedRun();
  int EventErrorFired();
  float ElapsedAnalysisTime();

  // The shared statics back to their state at process start; tests only.
  static void ResetForTesting();

 protected:
  int GetNewUnitPointers(const IID& iid, CString& strName, void** ppUnitInterface);
  // An adapter's discovery: connect, then, while the adapter holds no
  // interface of its unit, find the unit under `name` and take its
  // interface `iid` into `pInterface`.
  template <class Interface>
  int ConnectUnit(const IID& iid, const char* name, Interface*& pInterface) {
    if (!CComSetup::InitialiseComms()) return 0;
    if (pInterface || GetUnitInterface()) return 1;
    CString strName(name);
    return GetNewUnitPointers(iid, strName, reinterpret_cast<void**>(&pInterface));
  }
  int EstablishContact(ITavixUnit2* pUnit, CString& strName);
  ITavixUnit2* GetUnitInterface();

  int WriteNewMethodItem(double dTime, HplcMethodFunc eFunction, double p1, double p2, double p3, double p4,
                         double p5, double p6);
  double GetAcquisitionLength();
  int PureStop();
  int StopRun();
  int StopMethod();
  void CheckForEventError();
  void SystemNotReady(int& nError, CString& strError, int& nNotReady, CString& strNotReady);

  static const CString m_strNetworkNotUp;
  static const CString m_strErrorInInit;

  ITavixUnit2* m_pUnit = nullptr;
  short m_nUnitType;
  short m_nUnitNumber;

 private:
  int GetMethodItem(ITavixMethod2* pMethod, ITavixMethodItem2** ppItem, double dTime, double dFunction);
  int GetVexlinkBoxMethodItem(ITavixMethod2* pMethod, ITavixMethodItem2** ppItem, double dTime, double dFunction);
  int CommonRun();
  void NetBoxReady(int& nNotReady, CString& strMessage);
  void FreeAll();

  static int m_nRefCount;
  static int m_bFirstInit;
  static int m_bRanInitialConditions;
  static int m_bRunning;
  static int m_bOldRunning;
  static int m_nCheckStatus;
  static double m_dwAcqLength;
  static CComError m_cErrorTrans;
};
