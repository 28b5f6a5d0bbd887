// The server-mediated back-ends: the pump, autosampler and UV detector
// behind the instrument server (CBasePump, CBaseSamp, CBaseUV of
// backend/backend_interfaces.h). A front builds one of them when the
// transport flag is non-zero.
//
// Each embeds one unit adapter and translates the host's operations and
// the method into adapter calls. The pump back-end also registers the
// instrument server with the system when that has not been done, adds a
// column-oven adapter while the method uses the oven, and turns the
// method's initial conditions, gradient, timed events and initial event
// and valve states into method lines.
//
// Errors: CCommunicationsException from the adapters passes through to the
// front. Waits: registering the server blocks up to 10 s.
// Thread safety: host thread only; no lock.
#pragma once

#include <memory>

#include "backend/backend_interfaces.h"
#include "server/com_pump.h"
#include "server/com_units.h"

class CNetIIPump : public CBasePump {
 public:
  CNetIIPump();
  ~CNetIIPump() override;

  int InitialiseComms() override;
  void Initialise() override;
  int DownloadInitialConditions(QuarnMethod& method) override;
  int DownloadTimetable(QuarnMethod& method) override;
  int DownloadEvents(QuarnMethod& method) override;
  int DownloadInitialEvents(QuarnMethod& method) override;
  int Run() override;
  int MethodRunning() override;
  int StopMethod() override;
  int StartMethod() override;
  int SwitchPump(Switch value) override;
  int ReadStatus(CInletSystemStatus& status) override;
  void CloseDownComms() override {}
  void ClearMethod() override;

 private:
  int IsServerRegistered();
  int RegisterServer();
  int CreateOven();
  static int IsOutputEvent(int nEventType);
  static double ActionValue(int nActionCode);

  float m_fLastFlow = 0.0f;
  CComPump m_Pump;
  std::unique_ptr<CComOven> m_pOven;
};

class CNetIISamp : public CBaseSamp {
 public:
  int DownloadMethod(QuarnMethod& method) override;
  int ReadStatus(CInletSystemStatus& status) override;
  int Injecting() override;
  int StartMethod() override;
  int InitialiseComms() override;
  int StopMethod() override;

 private:
  CComSamp m_Sampler;
  float m_fSamplerValue = 0.0f;
};

class CNetIIUV : public CBaseUV {
 public:
  int DownloadMethod(QuarnMethod& method) override;
  int SwitchLamp(Switch value) override;
  int ReadStatus(CInletSystemStatus& status) override;
  void Initialise() override;
  int InitialiseComms() override;
  int StopMethod() override;

 private:
  CComUV m_Detector;
};
