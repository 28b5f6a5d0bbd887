// The three back-end interfaces behind the front device objects.
//
// Contract: a front owns exactly one back-end (or none when its creation
// failed) and forwards the host's calls to it. Operations are declared in
// their fixed virtual order; the ones with a body here give the
// interface's own answer, every other one is abstract. int results:
// non-zero is success / true. A `QuarnMethod&` argument is valid only for
// the duration of the call; a back-end that needs part of it later copies
// it. Back-ends may raise CCommunicationsException; nothing here catches
// it.
// Thread safety: host's thread only.
#pragma once

#include "contract/inlet_system_status.h"
#include "platform/inlet/generic_exp_record.h"

class QuarnMethod;

class CBasePump {
 public:
  CBasePump() : m_nSwitchPending(1) {}
  CBasePump(const CBasePump&) = delete;
  CBasePump& operator=(const CBasePump&) = delete;
  virtual ~CBasePump() = default;

  virtual int InitialiseComms() = 0;
  virtual void Initialise() = 0;
  virtual int DownloadInitialConditions(QuarnMethod& method) = 0;
  virtual int DownloadTimetable(QuarnMethod& method) = 0;
  virtual int DownloadEvents(QuarnMethod& method) = 0;
  virtual int DownloadInitialEvents(QuarnMethod& method) = 0;
  virtual int Run() = 0;
  virtual int MethodRunning() = 0;
  virtual int StopMethod() = 0;
  virtual int StartMethod() = 0;
  virtual int SwitchPump(Switch value) = 0;
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual void CloseDownComms() = 0;
  virtual void ClearMethod() = 0;

 protected:
  // Set at construction; cleared by the first pump switch of the direct
  // pump back-end.
  int m_nSwitchPending;
};

class CBaseSamp {
 public:
  CBaseSamp() = default;
  CBaseSamp(const CBaseSamp&) = delete;
  CBaseSamp& operator=(const CBaseSamp&) = delete;
  virtual ~CBaseSamp() = default;

  virtual int DownloadMethod(QuarnMethod& method) = 0;
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual int Injecting() = 0;
  virtual int StartMethod() = 0;
  virtual int InitialiseComms() { return 1; }
  virtual int StopMethod() { return 1; }
};

class CBaseUV {
 public:
  CBaseUV() = default;
  CBaseUV(const CBaseUV&) = delete;
  CBaseUV& operator=(const CBaseUV&) = delete;
  virtual ~CBaseUV() = default;

  virtual int DownloadMethod(QuarnMethod& method) = 0;
  virtual int SwitchLamp(Switch value) = 0;
  virtual int ReadStatus(CInletSystemStatus& status) = 0;
  virtual void Initialise() = 0;
  virtual int InitialiseComms() = 0;
  virtual int StopMethod() { return 1; }
};
