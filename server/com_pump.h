// CComPump: the pump unit (or the set of up to three pumps that deliver one
// gradient) behind the instrument server.
//
// It turns initial conditions, gradient lines and the network box's event
// and valve lines into method items on the server's shared method, sets
// the pump configuration (how many pumps and solvent channels take part),
// starts the pump alone or the gradient, and reads flow, composition and
// pressure back for the status display. Pressures are bar on this class's
// interface and MPa on the server's; compositions are percent of the total
// flow, channel A first.
//
// Owned by the server pump back-end (CNetIIPump), its only user.
// Results: int, non-zero = success. A server error recorded by the event
// sink, and "Comms error" when pump 1 was never found, leave as
// CCommunicationsException (code 0).
// Waits: SetPumpControlMode up to 2 s of confirmation polls; finding pumps
// 2 and 3 up to 6 s each.
// Thread safety: host thread only; no lock. While a method is being written
// (m_bWritingMethod) UpdateFlows reports the flow only.
#pragma once

#include "server/com_setup.h"

class CComPump : public CComSetup {
 public:
  CComPump();
  ~CComPump() override;

  void Initialise() override {}
  int InitialiseComms() override;

  // Status check with the deferred switch-off of a pump stopped mid-run.
  void SystemOK(int& nNotReady, CString& strNotReady, int& nError, CString& strError);

  int SetInitialCons(double dFlow, double dRunLength, double dMaxPressure, double dMinPressure, double dPercentA,
                     double dPercentB, double dPercentC);
  // One gradient line at dTime minutes; -1.0 marks the initial conditions.
  int SetMethodLine(double dTime, double dFlow, double dPercentA, double dPercentB, double dPercentC,
                    double dMaxPressure);
  int SetVexlinkBoxEventMethodLine(double dTime, double dEvent1, double dEvent2, double dEvent3, double dEvent4);
  int SetVexlinkBoxValveMethodLine(double dTime, double dValve1, double dValve2, double dValve3);
  int SetPumpControlMode(COMControlMode eMode);

  int UpdateFlows(float& fFlow, float& fPercentA, float& fPercentB, float& fPercentC, float& fPercentD);
  int UpdatePressure(float& fPressure);
  int SwitchPump(int nOn);
  int RunGradient();
  void ClearMethod();
  void AllMethodStart();

 private:
  // Pump 1 and its unit found, and this adapter's discovery done.
  int CanWriteMethod();
  int CreatePump(ITavixPump2** ppPump, ITavixUnit2** ppUnit, int nNumber);
  int GetComposition(ITavixSolvents* pSolvents, int nIndex, float& fPercent);
  ITavixPump2* CheckAndGetPump1();

  ITavixPump2* m_pPump1 = nullptr;
  ITavixPump2* m_pPump2 = nullptr;
  ITavixPump2* m_pPump3 = nullptr;
  ITavixUnit2* m_pUnit2 = nullptr;
  ITavixUnit2* m_pUnit3 = nullptr;
  COMControlMode m_eControlMode = modeIsocratic;
  float m_fInitialFlow = 0.0f;
  int m_bCommsInitialised = 0;
  int m_bWritingMethod = 0;
  int m_bStopPending = 0;
};
