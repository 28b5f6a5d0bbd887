#include "network/quarn_pump.h"

#include "network/vexlink_session.h"

CQuarnPump::CQuarnPump() { m_nSwitchPending = 1; }

CQuarnPump::~CQuarnPump() { VexlinkSessionClose(); }

int CQuarnPump::InitialiseComms() { return VexlinkSessionOpen(); }

// Not yet built: the method downloads and run control. They send nothing.
int CQuarnPump::DownloadInitialConditions(QuarnMethod&) { return 1; }
int CQuarnPump::DownloadTimetable(QuarnMethod&) { return 1; }
int CQuarnPump::MethodRunning() { return 0; }
int CQuarnPump::StopMethod() { return 1; }
int CQuarnPump::StartMethod() { return 1; }
int CQuarnPump::SwitchPump(Switch) { return -1; }
int CQuarnPump::ReadStatus(CInletSystemStatus&) { return 0; }
