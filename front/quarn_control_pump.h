// The pump device object the host constructs and drives.
//
// Contract: derives from CPump and owns one pump back-end (CBasePump),
// built at construction by the family the transport flag selects, or none
// when that yields nothing; then every operation answers its fixed value
// and calls nothing. The front keeps no other state.
//  - LoadMethod(name) clears the back-end's method, reads the method file
//    and downloads it in four stages behind a progress display: initial
//    conditions, initial events, timetable, events. The display always
//    steps 17, 33, 66, 100 and the one-second pause always follows; the
//    first failing stage skips the rest. An unreadable file shows no
//    display and downloads nothing.
//  - WriteExpRecord(record, name) prints the method's "PUMP" report; it
//    needs no back-end.
//  - Back-end exceptions (CCommunicationsException) pass through; the
//    local method and the progress display are released on the way.
// Thread safety: host's thread only.
#pragma once

#include <memory>

#include "contract/inlet_devices.h"
#include "contract/quarn_export.h"

// The back-end interface, seen only by the library itself.
class CBasePump;

class QUARN_EXPORT CQuarnControlPump : public CPump {
 public:
  CQuarnControlPump();
  ~CQuarnControlPump() override;
  CQuarnControlPump(const CQuarnControlPump&) = delete;
  CQuarnControlPump& operator=(const CQuarnControlPump&) = delete;

  using CPump::LoadMethod;
  using CPump::WriteExpRecord;

  int InitialiseComms() override;
  int Initialise() override;
  int ReadStatus(CInletSystemStatus& status) override;
  int SwitchPump(Switch value) override;
  int LoadMethod(const CString& methodName) override;
  int StartMethod() override;
  int StartMethod(const CString& methodName) override;
  int StopMethod() override;
  int CloseDownComms() override;
  int GetMethodLength(const CString& methodName, float& length) override;
  int WriteExpRecord(CGenericExpRecord* record, const CString& methodName) override;
  int PumpOn() override;
  int MethodRunning() override;
  int PostRunning() override;
  int NotReady(CString& text) override;
  int Error(CString& text) override;

  DECLARE_MESSAGE_MAP()

 private:
  std::unique_ptr<CBasePump> m_pBackend;
};
