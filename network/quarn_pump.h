// CQuarnPump: the pump back-end that drives the pumps directly over the
// instrument network (CBasePump, front/backend_interfaces.h).
//
// It owns the process-wide driver session (network/vexlink_session.h):
// InitialiseComms opens it and the destructor closes it. The method
// downloads, run control and status operations work on the process-wide
// download records and the unit status snapshot; until they are filled in
// they answer with the values below and send nothing.
// Thread safety: host's thread only.
#pragma once

#include "front/backend_interfaces.h"

class CQuarnPump : public CBasePump {
 public:
  CQuarnPump();
  ~CQuarnPump() override;

  int InitialiseComms() override;
  void Initialise() override {}
  int DownloadInitialConditions(QuarnMethod& method) override;
  int DownloadTimetable(QuarnMethod& method) override;
  int DownloadEvents(QuarnMethod&) override { return 1; }
  int DownloadInitialEvents(QuarnMethod&) override { return 1; }
  int Run() override { return 1; }
  int MethodRunning() override;
  int StopMethod() override;
  int StartMethod() override;
  int SwitchPump(Switch value) override;
  int ReadStatus(CInletSystemStatus& status) override;
  void CloseDownComms() override {}
  void ClearMethod() override {}
};
